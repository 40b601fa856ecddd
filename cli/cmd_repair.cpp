// tessmark-cli repair: salvages what can be read of a damaged database into
// a new file, and reports every loss with its place.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "cli/command.h"
#include "cli/json_text.h"
#include "format/env.h"
#include "repair/repair.h"

namespace tessmark::cli::repair {

const char kDetails[] =
    "Writes every table whose definition can be read into DESTINATION (which\n"
    "must not exist), with every row that decodes and keeps the row rules,\n"
    "wherever it lies in SOURCE; long values that cannot be read become NULL;\n"
    "indexes are built anew from the rows, and a row repeating an earlier\n"
    "row's key in a unique index is left out. The result is checked before it\n"
    "is renamed into place. SOURCE is never written. Each loss is listed with\n"
    "its table, page and row.\n\n"
    "Exit status: 0 repaired, nothing lost; 1 repaired, something lost (see\n"
    "the report); 2 nothing written: a usage error, a refused source or\n"
    "destination, or nothing could be recovered.";

constexpr int kExitLost = 1;
constexpr int kExitNothing = 2;

struct Arguments {
  std::string source;
  std::string destination;
  std::optional<std::string> password;
  bool json = false;
};

Json LossJson(const jet::RepairLoss& loss) {
  Json j = {{"kind", jet::LossKindName(loss.kind)}};
  const jet::Location& at = loss.where;
  j["table"] = at.table.empty() ? Json() : Json(at.table);
  j["page"] = at.page ? Json(*at.page) : Json();
  j["row"] = at.row ? Json(*at.row) : Json();
  if (!at.column.empty()) j["column"] = at.column;
  if (!at.index.empty()) j["index"] = at.index;
  j["what"] = loss.what;
  return j;
}

void PrintJson(const Arguments& args, const jet::RepairReport& report) {
  Json tables = Json::array();
  for (const jet::RepairedTable& t : report.tables) {
    tables.push_back({{"name", t.name},
                      {"definition_lost", t.definition_lost},
                      {"catalog_row_lost", t.catalog_row_lost},
                      {"rows_recovered", t.rows_recovered},
                      {"rows_lost", t.rows_lost},
                      {"long_values_lost", t.long_values_lost},
                      {"indexes_rebuilt", t.indexes_rebuilt}});
  }
  Json losses = Json::array();
  for (const jet::RepairLoss& l : report.losses) losses.push_back(LossJson(l));
  const Json out = {{"source", args.source},
                    {"destination", args.destination},
                    {"nothing_lost", report.nothing_lost()},
                    {"rows_recovered", report.rows_recovered},
                    {"pages_before", report.pages_before},
                    {"pages_after", report.pages_after},
                    {"tables", tables},
                    {"losses", losses}};
  std::cout << JsonText(out) << "\n";
}

void PrintText(const Arguments& args, const jet::RepairReport& report) {
  std::cout << "Repaired " << args.source << " into " << args.destination << "\n";
  std::cout << "  rows recovered: " << report.rows_recovered << "\n";
  std::cout << "  losses:         " << report.losses.size() << "\n\n";
  std::cout << "table: rows recovered, rows lost, long values lost, indexes rebuilt\n";
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
    std::cout << t.rows_recovered << ", " << t.rows_lost << ", " << t.long_values_lost << ", "
              << t.indexes_rebuilt << "\n";
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
    return kExitNothing;
  }
  if (args.json) {
    PrintJson(args, report);
  } else {
    PrintText(args, report);
  }
  return report.nothing_lost() ? kExitOk : kExitLost;
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
