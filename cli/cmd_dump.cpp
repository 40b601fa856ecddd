// tessmark-cli dump: every column of every row of the chosen tables.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command.h"
#include "cli/json_text.h"
#include "tessmark/database.h"

namespace tessmark::cli::dump {

using jet::FieldText;
using jet::ValueKind;

const char kDetails[] =
    "Writes the rows of the named tables (all user tables when none is named;\n"
    "with --system the system tables too) to standard output, every column\n"
    "decoded. CSV has a header row of column names; text, dates, GUIDs,\n"
    "decimals and binary data (hex) are quoted, NULL is an empty field. With\n"
    "several tables each CSV block starts with a line '# TABLE'. JSON is an\n"
    "array of {\"table\", \"columns\", \"rows\"} objects; numbers are written as\n"
    "in CSV.\n\n"
    "Exit status: 0 done, 1 the database is damaged, 2 it cannot be opened.";

struct Arguments {
  std::string path;
  std::vector<std::string> tables;
  std::string format = "csv";
  bool system = false;
  std::optional<std::string> password;
};

bool Quoted(const FieldText& v) {
  switch (v.kind) {
    case ValueKind::kText:
    case ValueKind::kDateTime:
    case ValueKind::kGuid:
    case ValueKind::kNumeric:
    case ValueKind::kBinary:
    case ValueKind::kCurrency:
      return true;
    default:
      return false;
  }
}

std::string CsvField(const FieldText& v) {
  if (v.is_null()) return "";
  const std::string& text = v.text;
  if (!Quoted(v)) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// One value as JSON. Numbers keep the engine's formatting, the same as in
// CSV (a Single shows the digits a Single holds); text goes through the
// JSON library.
std::string JsonValue(const FieldText& v) {
  if (v.is_null()) return "null";
  const std::string& text = v.text;
  switch (v.kind) {
    case ValueKind::kBoolean:
    case ValueKind::kInteger:
      return text;
    case ValueKind::kSingle:
    case ValueKind::kDouble:
      if (text.find_first_of("ni") != std::string::npos) return JsonText(text);  // nan, inf
      return text;
    default:
      return JsonText(text);
  }
}

int Run(const Arguments& args) {
  std::unique_ptr<jet::OpenedDatabase> db;
  try {
    db = jet::OpenedDatabase::Open(args.path);
    db->RequirePassword(args.password);
  } catch (const jet::Error& e) {
    ReportError(e);
    return e.number() == jet::kDamaged ? kExitDamaged : kExitCannotOpen;
  }

  std::vector<jet::TableEntry> tables;
  if (args.tables.empty()) {
    tables = db->Tables(args.system);
  } else {
    for (const std::string& n : args.tables) {
      const std::optional<jet::TableEntry> t = db->FindTable(n);
      if (!t) {
        std::cerr << "tessmark-cli: dump: the database has no table '" << n << "'\n";
        return kExitDamaged;
      }
      tables.push_back(*t);
    }
  }

  const bool csv = args.format == "csv";
  std::ostream& out = std::cout;
  if (!csv) out << "[";
  bool first_table = true;
  // Rows are written as they are read: a table may be larger than memory.
  for (const jet::TableEntry& table : tables) {
    const std::vector<std::string> columns = db->Columns(table);
    if (csv) {
      if (tables.size() > 1) out << (first_table ? "" : "\n") << "# " << table.name << "\n";
      for (size_t i = 0; i < columns.size(); ++i) out << (i ? "," : "") << columns[i];
      out << "\n";
    } else {
      out << (first_table ? "" : ",") << "\n{\"table\": " << JsonText(table.name)
          << ", \"columns\": [";
      for (size_t i = 0; i < columns.size(); ++i) out << (i ? ", " : "") << JsonText(columns[i]);
      out << "], \"rows\": [";
    }
    bool first_row = true;
    db->ForEachRow(table, [&](const std::vector<FieldText>& fields) {
      if (csv) {
        for (size_t i = 0; i < fields.size(); ++i) out << (i ? "," : "") << CsvField(fields[i]);
        out << "\n";
      } else {
        out << (first_row ? "\n  [" : ",\n  [");
        for (size_t i = 0; i < fields.size(); ++i) out << (i ? ", " : "") << JsonValue(fields[i]);
        out << "]";
      }
      first_row = false;
    });
    if (!csv) out << "]}";
    first_table = false;
  }
  if (!csv) out << "\n]\n";
  out.flush();
  return kExitOk;
}

std::function<int()> Define(CLI::App& app) {
  auto args = std::make_shared<Arguments>();
  app.add_option("FILE", args->path, "the database")->required();
  app.add_option("TABLE", args->tables, "the tables to write (names in any case)")
      ->option_text("...");
  app.add_option("--format", args->format, "csv (the default) or json")
      ->option_text("FORMAT")
      ->check(CLI::IsMember({"csv", "json"}));
  app.add_flag("--system", args->system, "with no TABLE named, the system tables too");
  app.add_option("--password", args->password, "the database's password")->option_text("PASSWORD");
  return [args] { return Run(*args); };
}

const CommandRegistration kRegistration{
    {"dump", "write the rows of tables as CSV or JSON", kDetails, Define}};

}  // namespace tessmark::cli::dump
