// tessmark-cli check: proves a database sound or names what is wrong.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>

#include "cli/command.h"
#include "cli/progress_line.h"
#include "tessmark/check.h"
#include "tessmark/database.h"

namespace tessmark::cli::check {

const char kDetails[] =
    "Checks every structure of the database: page ownership, usage maps, free\n"
    "space, table definitions, rows, long values, indexes and the catalog.\n"
    "Prints one line per finding (errors: the file is damaged; warnings:\n"
    "states the desktop product itself leaves, such as leaked pages), then a\n"
    "summary.\n\n"
    "Exit status: 0 sound, 1 damaged, 2 the file cannot be opened.";

struct Arguments {
  std::string path;
  bool quiet = false;
};

int Run(const Arguments& args) {
  std::unique_ptr<jet::OpenedDatabase> db;
  try {
    db = jet::OpenedDatabase::Open(args.path);
  } catch (const jet::Error& e) {
    ReportError(e);
    // A database whose catalog cannot be read opened as a file but is damaged.
    return e.number() == jet::kDamaged ? kExitDamaged : kExitCannotOpen;
  }
  std::error_code size_error;
  const uintmax_t size = std::filesystem::file_size(args.path, size_error);
  ProgressLine line(std::cerr,
                    WantsProgress(args.quiet, StderrIsTerminal(), size_error ? 0 : size));
  const jet::CheckReport report = jet::CheckDatabase(
      *db, [&line](uint64_t done, uint64_t total) { line.Show("checking", done, total); });
  line.Clear();
  if (!args.quiet) {
    for (const jet::Finding& f : report.findings) std::cout << f.Text() << "\n";
    const uint64_t kept = report.findings.size();
    if (report.errors + report.warnings > kept) {
      std::cout << "(" << report.errors + report.warnings - kept << " more findings not shown)\n";
    }
  }
  std::cout << args.path << ": " << (report.sound() ? "sound" : "DAMAGED") << ", " << report.errors
            << " errors, " << report.warnings << " warnings (" << report.stats.tables << " tables, "
            << report.stats.rows << " rows, " << report.stats.indexes << " indexes, "
            << report.stats.pages << " pages)\n";
  return report.sound() ? kExitOk : kExitDamaged;
}

std::function<int()> Define(CLI::App& app) {
  auto args = std::make_shared<Arguments>();
  app.add_option("FILE", args->path, "the database")->required();
  app.add_flag("-q,--quiet", args->quiet, "print the summary only");
  return [args] { return Run(*args); };
}

const CommandRegistration kRegistration{
    {"check", "check a database and report damage", kDetails, Define}};

}  // namespace tessmark::cli::check
