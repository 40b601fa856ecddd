// tessmark-cli info: what a database holds, at a glance.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

#include "cli/command.h"
#include "tessmark/check.h"
#include "tessmark/database.h"

namespace tessmark::cli::info {

const char kDetails[] =
    "Shows the format version, page size and count, sort order, code page,\n"
    "whether the database has a password or encrypted pages, the tables with\n"
    "their row counts, and the free and leaked pages.\n\n"
    "Exit status: 0 done, 1 the database is damaged, 2 it cannot be opened.";

int Run(const std::string& path) {
  std::unique_ptr<jet::OpenedDatabase> db = jet::OpenedDatabase::Open(path);
  const jet::DatabaseSummary h = db->Summary();
  std::cout << "file:        " << path << "\n"
            << "version:     "
            << (h.version == jet::JetVersion::kJet3 ? "Jet 3 (Access 97)"
                                                    : "Jet 4 (Access 2000-2003)")
            << "\n"
            << "page size:   " << h.page_size << "\n"
            << "pages:       " << h.pages << "\n"
            << "sort order:  " << h.sort_order << "\n"
            << "code page:   " << h.code_page << "\n"
            << "password:    " << (h.has_password ? "yes" : "no") << "\n"
            << "encrypted:   " << (h.encrypted ? "yes" : "no") << "\n";
  if (!h.creation_date.empty()) std::cout << "created:     " << h.creation_date << "\n";

  const jet::CheckReport report = jet::CheckDatabase(*db);
  std::cout << "tables:\n";
  for (const jet::TableEntry& t : db->Tables()) {
    uint64_t rows = 0;
    std::string note;
    try {
      rows = db->CountRows(t);
    } catch (const jet::Error& e) {
      note = "  (unreadable: error " + std::to_string(e.number()) + ")";
    }
    std::cout << "  " << t.name << (t.system ? " [system]" : "") << ": " << rows << " rows" << note
              << "\n";
  }
  std::cout << "rows:        " << report.stats.rows << "\n"
            << "free pages:  " << report.stats.free_pages << "\n"
            << "leaked:      " << report.stats.leaked_pages << "\n"
            << "state:       "
            << (report.sound() ? "sound" : "damaged (run 'tessmark-cli check' for details)")
            << "\n";
  return kExitOk;
}

std::function<int()> Define(CLI::App& app) {
  auto path = std::make_shared<std::string>();
  app.add_option("FILE", *path, "the database")->required();
  return [path] { return Run(*path); };
}

const CommandRegistration kRegistration{
    {"info", "show the version, size and tables of a database", kDetails, Define}};

}  // namespace tessmark::cli::info
