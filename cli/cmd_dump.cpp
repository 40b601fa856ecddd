// tessmark-cli dump: every column of every row of the chosen tables.
#include <iostream>
#include <string>
#include <vector>

#include "cli/command.h"
#include "engine/database.h"

namespace tessmark::cli {
namespace {

using jet::Value;

const char kUsage[] =
    "Usage: tessmark-cli dump FILE [TABLE...] [--format csv|json] [--system]\n"
    "                         [--password PASSWORD]\n\n"
    "Writes the rows of the named tables (all user tables when none is named;\n"
    "with --system the system tables too) to standard output, every column\n"
    "decoded. CSV has a header row of column names; text, dates, GUIDs,\n"
    "decimals and binary data (hex) are quoted, NULL is an empty field. With\n"
    "several tables each CSV block starts with a line '# TABLE'. JSON is an\n"
    "array of {\"table\", \"columns\", \"rows\"} objects.\n\n"
    "Exit status: 0 done, 1 the database is damaged, 2 it cannot be opened.\n";

bool Quoted(const Value& v) {
  switch (v.kind) {
    case Value::Kind::kText:
    case Value::Kind::kDateTime:
    case Value::Kind::kGuid:
    case Value::Kind::kNumeric:
    case Value::Kind::kBinary:
    case Value::Kind::kCurrency:
      return true;
    default:
      return false;
  }
}

std::string CsvField(const Value& v) {
  if (v.is_null()) return "";
  const std::string text = jet::FormatValue(v);
  if (!Quoted(v)) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          static const char hex[] = "0123456789abcdef";
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 15];
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string JsonValue(const Value& v) {
  if (v.is_null()) return "null";
  const std::string text = jet::FormatValue(v);
  switch (v.kind) {
    case Value::Kind::kBoolean:
    case Value::Kind::kInteger:
      return text;
    case Value::Kind::kSingle:
    case Value::Kind::kDouble:
      if (text.find_first_of("ni") != std::string::npos) return JsonString(text);  // nan, inf
      return text;
    default:
      return JsonString(text);
  }
}

int Run(const std::vector<std::string>& args) {
  std::string path;
  std::vector<std::string> names;
  std::string format = "csv";
  bool system = false;
  std::optional<std::string> password;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--format" || a == "--password") {
      if (i + 1 >= args.size()) return UsageError(a + " needs a value");
      (a == "--format" ? format : password.emplace()) = args[++i];
    } else if (a.rfind("--format=", 0) == 0) {
      format = a.substr(9);
    } else if (a == "--system") {
      system = true;
    } else if (a.rfind("--", 0) == 0) {
      return UsageError("dump: unknown option '" + a + "'");
    } else if (path.empty()) {
      path = a;
    } else {
      names.push_back(a);
    }
  }
  if (path.empty()) return UsageError("dump: no database file given");
  if (format != "csv" && format != "json")
    return UsageError("dump: unknown format '" + format + "'");

  std::unique_ptr<jet::Database> db;
  try {
    db = jet::Database::Open(path);
    db->RequirePassword(password);
  } catch (const jet::Error& e) {
    ReportError(e);
    return e.number() == jet::kDamaged ? kExitDamaged : kExitCannotOpen;
  }

  std::vector<const jet::CatalogObject*> tables;
  if (names.empty()) {
    tables = db->Tables(system);
  } else {
    for (const std::string& n : names) {
      const jet::CatalogObject* t = db->FindTable(n);
      if (t == nullptr) {
        std::cerr << "tessmark-cli: dump: the database has no table '" << n << "'\n";
        return kExitDamaged;
      }
      tables.push_back(t);
    }
  }

  std::ostream& out = std::cout;
  if (format == "json") out << "[";
  bool first_table = true;
  for (const jet::CatalogObject* object : tables) {
    const jet::TableDef& def = db->Table(*object);
    const std::vector<const jet::ColumnDef*> order = def.ColumnsByNumber();
    std::vector<size_t> positions;
    for (const jet::ColumnDef* c : order) {
      positions.push_back(static_cast<size_t>(c - def.columns.data()));
    }
    if (format == "csv") {
      if (tables.size() > 1) out << (first_table ? "" : "\n") << "# " << object->name << "\n";
      for (size_t i = 0; i < order.size(); ++i) out << (i ? "," : "") << order[i]->name;
      out << "\n";
    } else {
      out << (first_table ? "" : ",") << "\n{\"table\": " << JsonString(object->name)
          << ", \"columns\": [";
      for (size_t i = 0; i < order.size(); ++i)
        out << (i ? ", " : "") << JsonString(order[i]->name);
      out << "], \"rows\": [";
    }
    bool first_row = true;
    db->ForEachRow(def, [&](const jet::TableRow& row) {
      const std::vector<Value> values = db->DecodeValues(def, row);
      if (format == "csv") {
        for (size_t i = 0; i < positions.size(); ++i) {
          out << (i ? "," : "") << CsvField(values[positions[i]]);
        }
        out << "\n";
      } else {
        out << (first_row ? "\n  [" : ",\n  [");
        for (size_t i = 0; i < positions.size(); ++i) {
          out << (i ? ", " : "") << JsonValue(values[positions[i]]);
        }
        out << "]";
      }
      first_row = false;
    });
    if (format == "json") out << "]}";
    first_table = false;
  }
  if (format == "json") out << "\n]\n";
  out.flush();
  return kExitOk;
}

CommandRegistration registration{{"dump", "write the rows of tables as CSV or JSON", kUsage, Run}};

}  // namespace
}  // namespace tessmark::cli
