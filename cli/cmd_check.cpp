// tessmark-cli check: proves a database sound or names what is wrong.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "engine/checker.h"
#include "engine/database.h"

namespace tessmark::cli {
namespace {

const char kUsage[] =
    "Usage: tessmark-cli check FILE [--quiet]\n\n"
    "Checks every structure of the database: page ownership, usage maps, free\n"
    "space, table definitions, rows, long values, indexes and the catalog.\n"
    "Prints one line per finding (errors: the file is damaged; warnings:\n"
    "states the desktop product itself leaves, such as leaked pages), then a\n"
    "summary. --quiet prints the summary only.\n\n"
    "Exit status: 0 sound, 1 damaged, 2 the file cannot be opened.\n";

int Run(const std::vector<std::string>& args) {
  std::string path;
  bool quiet = false;
  for (const std::string& a : args) {
    if (a == "--quiet" || a == "-q") {
      quiet = true;
    } else if (a.rfind("--", 0) == 0) {
      return UsageError("check: unknown option '" + a + "'");
    } else if (path.empty()) {
      path = a;
    } else {
      return UsageError("check: only one database file can be checked at a time");
    }
  }
  if (path.empty()) return UsageError("check: no database file given");

  std::unique_ptr<jet::Database> db;
  try {
    db = jet::Database::Open(path);
  } catch (const jet::Error& e) {
    ReportError(e);
    // A database whose catalog cannot be read opened as a file but is damaged.
    return e.number() == jet::kDamaged ? kExitDamaged : kExitCannotOpen;
  }
  const jet::CheckReport report = jet::CheckDatabase(*db);
  if (!quiet) {
    for (const jet::Finding& f : report.findings) std::cout << f.Text() << "\n";
    const uint64_t kept = report.findings.size();
    if (report.errors + report.warnings > kept) {
      std::cout << "(" << report.errors + report.warnings - kept << " more findings not shown)\n";
    }
  }
  std::cout << path << ": " << (report.sound() ? "sound" : "DAMAGED") << ", " << report.errors
            << " errors, " << report.warnings << " warnings (" << report.stats.tables << " tables, "
            << report.stats.rows << " rows, " << report.stats.indexes << " indexes, "
            << report.stats.pages << " pages)\n";
  return report.sound() ? kExitOk : kExitDamaged;
}

CommandRegistration registration{{"check", "check a database and report damage", kUsage, Run}};

}  // namespace
}  // namespace tessmark::cli
