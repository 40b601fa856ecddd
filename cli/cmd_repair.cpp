// tessmark-cli repair: salvages what can be read of a damaged database into
// a new file, and reports every loss with its place.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/command.h"
#include "cli/json_text.h"
#include "tessmark/repair.h"

namespace tessmark::cli::repair {

const char kDetails[] =
    "Writes every table whose definition can be read into DESTINATION (which\n"
    "must not exist), with every row that decodes and keeps the row rules on\n"
    "the pages the table's usage map lists in SOURCE. Only where that map\n"
    "cannot be read or falls short of the table's row count are the other\n"
    "pages the table owns searched; rows found there are kept and listed as\n"
    "found outside the table's pages (they may be rows deleted long ago).\n"
    "Long values that cannot be read become NULL; indexes are built anew\n"
    "from the rows, and a row repeating an earlier row's key in a unique\n"
    "index is left out. The result is checked before it is renamed into\n"
    "place. SOURCE is never written. The report counts the rows recovered\n"
    "unchanged, changed (a long value made NULL), found outside the table's\n"
    "pages and lost, and lists each loss and each row found outside with its\n"
    "table, page and row.\n\n"
    "Exit status: 0 repaired, every row back unchanged; 1 repaired, but\n"
    "something was lost, changed or found outside its table's pages (see the\n"
    "report); 2 nothing written: a usage error, a refused source or\n"
    "destination, or nothing could be recovered.";

struct Arguments {
  std::string source;
  std::string destination;
  std::optional<std::string> password;
  bool json = false;
};

// The place of a loss or a row, added to `j`.
void AddPlace(Json& j, const jet::Location& at) {
  j["table"] = at.table.empty() ? Json() : Json(at.table);
  j["page"] = at.page ? Json(*at.page) : Json();
  j["row"] = at.row ? Json(*at.row) : Json();
  if (!at.column.empty()) j["column"] = at.column;
  if (!at.index.empty()) j["index"] = at.index;
}

Json LossJson(const jet::RepairLoss& loss) {
  Json j = {{"kind", jet::LossKindName(loss.kind)}};
  AddPlace(j, loss.where);
  j["what"] = loss.what;
  return j;
}

// The only change a repair makes to a row it keeps.
constexpr const char* kChange = "long value made NULL";

void PrintJson(const Arguments& args, const jet::RepairReport& report) {
  Json tables = Json::array();
  for (const jet::RepairedTable& t : report.tables) {
    tables.push_back({{"name", t.name},
                      {"definition_lost", t.definition_lost},
                      {"catalog_row_lost", t.catalog_row_lost},
                      {"rows_recovered", t.rows_recovered},
                      {"rows_unchanged", t.rows_unchanged},
                      {"rows_changed", t.rows_changed},
                      {"rows_found_outside", t.rows_found_outside},
                      {"rows_lost", t.rows_lost},
                      {"long_values_lost", t.long_values_lost},
                      {"indexes_rebuilt", t.indexes_rebuilt}});
  }
  Json losses = Json::array();
  for (const jet::RepairLoss& l : report.losses) losses.push_back(LossJson(l));
  Json outside = Json::array();
  for (const jet::Location& at : report.found_outside) {
    Json j = Json::object();
    AddPlace(j, at);
    outside.push_back(j);
  }
  const Json out = {{"source", args.source},
                    {"destination", args.destination},
                    {"nothing_lost", report.nothing_lost()},
                    {"all_unchanged", report.all_unchanged()},
                    {"rows_recovered", report.rows_recovered},
                    {"rows_unchanged", report.rows_unchanged},
                    {"rows_changed", {{kChange, report.rows_changed}}},
                    {"rows_found_outside", report.rows_found_outside},
                    {"rows_lost", report.rows_lost},
                    {"pages_before", report.pages_before},
                    {"pages_after", report.pages_after},
                    {"tables", tables},
                    {"losses", losses},
                    {"found_outside", outside}};
  std::cout << JsonText(out) << "\n";
}

void PrintText(const Arguments& args, const jet::RepairReport& report) {
  std::cout << "Repaired " << args.source << " into " << args.destination << "\n";
  std::cout << "  rows recovered unchanged:       " << report.rows_unchanged << "\n";
  std::cout << "  rows recovered changed:         " << report.rows_changed << " (" << kChange
            << ")\n";
  std::cout << "  rows found outside their pages: " << report.rows_found_outside << "\n";
  std::cout << "  rows lost:                      " << report.rows_lost << "\n";
  std::cout << "  losses:                         " << report.losses.size() << "\n\n";
  std::cout << "table: rows unchanged, changed, found outside, lost; long values lost, indexes "
               "rebuilt\n";
  for (const jet::RepairedTable& t : report.tables) {
    std::cout << "  " << t.name << ": ";
    if (t.definition_lost) {
      std::cout << "lost (its definition cannot be read)\n";
      continue;
    }
    if (t.catalog_row_lost) {
      std::cout << "lost (its catalog row is lost)\n";
      continue;
    }
    std::cout << t.rows_unchanged << ", " << t.rows_changed << ", " << t.rows_found_outside << ", "
              << t.rows_lost << "; " << t.long_values_lost << ", " << t.indexes_rebuilt << "\n";
  }
  if (!report.found_outside.empty()) {
    std::cout << "\nFound outside the table's pages (kept; each may be a row deleted long ago):\n";
    for (const jet::Location& at : report.found_outside) std::cout << "  " << at.ToString() << "\n";
  }
  if (report.losses.empty()) {
    std::cout << "\nNothing was lost.\n";
    return;
  }
  std::cout << "\nLost:\n";
  for (const jet::RepairLoss& l : report.losses) {
    std::cout << "  " << jet::LossKindName(l.kind) << ": " << l.what;
    const std::string where = l.where.ToString();
    if (!where.empty()) std::cout << " (" << where << ")";
    std::cout << "\n";
  }
}

int Run(const Arguments& args) {
  jet::RepairReport report;
  try {
    jet::RepairOptions options;
    options.password = args.password;
    report = jet::RepairDatabase(args.source, args.destination, options);
  } catch (const jet::Error& e) {
    ReportError(e);
    return kExitNothingWritten;
  }
  if (args.json) {
    PrintJson(args, report);
  } else {
    PrintText(args, report);
  }
  return report.all_unchanged() ? kExitOk : kExitLost;
}

std::function<int()> Define(CLI::App& app) {
  auto args = std::make_shared<Arguments>();
  app.add_option("SOURCE", args->source, "the damaged database (only read)")->required();
  app.add_option("DESTINATION", args->destination, "the new database to write (must not exist)")
      ->required();
  app.add_option("--password", args->password,
                 "the database's password (the new database keeps it); without it a database "
                 "protected by a password is refused with 3031");
  app.add_flag("--json", args->json, "print the report as one JSON object");
  return [args] { return Run(*args); };
}

const CommandRegistration kRegistration{
    {"repair", "salvage what can be read of a damaged database into a new file, listing losses",
     kDetails, Define}};

}  // namespace tessmark::cli::repair
