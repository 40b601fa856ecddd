// Shared by the builder tests: a table with a column of every type, rows
// that exercise NULLs and every long-value form, and the comparison of a
// built file with what was inserted, through our reader and through the
// independent readers (mdb-export, mdb-reader).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "build/database_builder.h"
#include "check/checker.h"
#include "db/database.h"
#include "db/value.h"
#include "tessmark/generate.h"
#include "tests/support/readers.h"

namespace tessmark::jet::builder_test {

// The four generated catalogs a suite runs over: server and client, Jet 4
// and Jet 3.
struct CatalogCase {
  CatalogKind kind;
  JetVersion version;
};

inline const CatalogCase kEveryCatalog[] = {
    {CatalogKind::kServer, JetVersion::kJet4},
    {CatalogKind::kServer, JetVersion::kJet3},
    {CatalogKind::kClient, JetVersion::kJet4},
    {CatalogKind::kClient, JetVersion::kJet3},
};

inline std::string CatalogCaseName(const ::testing::TestParamInfo<CatalogCase>& p) {
  return std::string(p.param.kind == CatalogKind::kServer ? "Server" : "Client") +
         (p.param.version == JetVersion::kJet3 ? "Jet3" : "Jet4");
}

inline ColumnDecl Col(const char* name, ColumnType type, uint16_t length = 0) {
  ColumnDecl c;
  c.name = name;
  c.type = type;
  c.length = length;
  return c;
}

// Every type a table can declare; "ID" is an AutoNumber primary key.
inline TableDecl AllTypesTable() {
  using T = ColumnType;
  TableDecl t;
  t.name = "AllTypes";
  ColumnDecl id = Col("ID", T::kLong);
  id.autonumber = true;
  ColumnDecl num = Col("Amount", T::kNumeric);
  num.precision = 18;
  num.scale = 2;
  t.columns = {id,
               Col("Done", T::kBoolean),
               Col("Small", T::kByte),
               Col("Count", T::kInteger),
               Col("Price", T::kCurrency),
               Col("Ratio", T::kSingle),
               Col("Weight", T::kDouble),
               Col("Stamp", T::kDateTime),
               Col("Blob", T::kBinary, 40),
               Col("Label", T::kText, 200),
               Col("Notes", T::kMemo),
               Col("Picture", T::kOle),
               Col("Token", T::kGuid),
               num};
  IndexDecl pk;
  pk.name = "PrimaryKey";
  pk.primary = true;
  pk.columns = {{"ID", true}};
  IndexDecl label;
  label.name = "Label";
  label.columns = {{"Label", true}};
  IndexDecl compound;
  compound.name = "StampWeight";
  compound.columns = {{"Stamp", false}, {"Weight", true}, {"Done", true}};
  IndexDecl token;
  token.name = "Token";
  token.unique = true;
  token.ignore_nulls = true;
  token.columns = {{"Token", false}};
  IndexDecl numbers;
  numbers.name = "Numbers";
  numbers.columns = {
      {"Small", true}, {"Count", false}, {"Price", true}, {"Ratio", true}, {"Amount", true}};
  t.indexes = {pk, label, compound, token, numbers};
  return t;
}

// Row `i` of AllTypes (ID left to the AutoNumber). Every 9th row is all
// NULL; memo and OLE values cycle through inline, single-row and chained;
// Jet 4 memos are partly Latin-1 (compressed form) and partly not.
inline std::vector<Value> AllTypesRow(int i, bool jet3) {
  std::array<uint8_t, 16> guid{};
  for (size_t k = 0; k < 16; ++k) guid[k] = static_cast<uint8_t>(k * 17 + 3);
  guid[0] = static_cast<uint8_t>(i);
  guid[1] = static_cast<uint8_t>(i >> 8);
  // A long key text makes the Label index several levels deep.
  std::string label = "Entry " + std::to_string(i % 997) + " of the sample table with a long label";
  label += std::string(static_cast<size_t>(100 + i % 20), 'x');
  const size_t memo_len = i % 4 == 0   ? 20
                          : i % 4 == 1 ? 300
                          : i % 4 == 2 ? (i % 40 == 2 ? 9000 : 60)
                                       : 0;
  std::string memo;
  for (size_t k = 0; memo.size() < memo_len; ++k)
    memo += jet3 ? "Ligne été " : i % 8 == 1 ? "Straße über " : "Zeile über ✓ ";
  memo.resize(memo_len);
  while (!memo.empty() && (static_cast<unsigned char>(memo.back()) & 0xC0) == 0x80) memo.pop_back();
  if (!memo.empty() && (static_cast<unsigned char>(memo.back()) & 0xC0) == 0xC0) memo.pop_back();
  std::vector<uint8_t> picture(static_cast<size_t>(i % 50 == 1 ? 5000 : (i * 131) % 300));
  for (size_t k = 0; k < picture.size(); ++k)
    picture[k] = static_cast<uint8_t>(k * 7 + static_cast<size_t>(i));
  std::vector<Value> v = {
      NullValue(),
      BoolValue(i % 3 == 0),
      IntValue(i % 256),
      IntValue(i * 7 - 20000),
      CurrencyValue(static_cast<int64_t>(i) * 123456 - 5000000),
      SingleValue(static_cast<float>(i) * 0.25f - 3.5f),
      DoubleValue(i / 7.0 - 100),
      DateValue(36000 + i * 1.5 + (i % 86400) / 86400.0),
      BinaryValue({0xDE, 0xAD, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)}),
      TextValue(label),
      memo_len == 0 ? NullValue() : TextValue(memo),
      picture.empty() ? NullValue() : BinaryValue(picture),
      GuidValue(guid),
      NumericValue(std::to_string(i * 3 - 500) + "." + std::to_string(10 + i % 90))};
  if (i % 9 == 4)
    for (size_t k = 1; k < v.size(); ++k)
      if (k != 1) v[k] = NullValue();
  return v;
}

// The values of every row of `table` by the value of its first column.
inline std::map<int64_t, std::vector<Value>> ReadRows(Database& db, const std::string& table) {
  std::map<int64_t, std::vector<Value>> out;
  const CatalogObject* object = db.FindTable(table);
  if (object == nullptr) return out;
  const TableDef& def = db.Table(*object);
  db.ForEachRow(def, [&](const TableRow& row) {
    std::vector<Value> values = db.DecodeValues(def, row);
    // Back into declaration (column number) order.
    std::vector<Value> ordered(values.size());
    for (size_t i = 0; i < def.columns.size(); ++i) ordered[def.columns[i].number] = values[i];
    out[ordered[0].integer] = ordered;
  });
  return out;
}

// The checker's findings, except the warning about long values no row
// refers to: aging leaves those on purpose, as the desktop product does.
inline void ExpectCleanApartFromOrphans(const CheckReport& report) {
  EXPECT_EQ(report.errors, 0u);
  for (const Finding& f : report.findings) {
    const bool orphans = f.severity == Severity::kWarning &&
                         f.message.find("not referred to by any row") != std::string::npos;
    if (!orphans) ADD_FAILURE() << f.Text();
  }
}

inline std::string Normal(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
  return s;
}

// Empty when a reader's field agrees with the value inserted.
inline std::string Differs(const Value& mine, const std::string& theirs, bool mdb_export) {
  const std::string text = FormatValue(mine);
  const std::string diff =
      "inserted '" + text.substr(0, 60) + "', read '" + theirs.substr(0, 60) + "'";
  if (mine.is_null()) return theirs.empty() ? "" : diff;
  switch (mine.kind) {
    case Value::Kind::kBoolean:
      return (mine.boolean ? (theirs == "1" || theirs == "true")
                           : (theirs == "0" || theirs == "false"))
                 ? ""
                 : diff;
    case Value::Kind::kInteger:
    case Value::Kind::kCurrency:
    case Value::Kind::kSingle:
    case Value::Kind::kDouble:
    case Value::Kind::kNumeric: {
      std::string t = theirs;
      t.erase(std::remove(t.begin(), t.end(), '$'), t.end());
      char* end = nullptr;
      const double b = std::strtod(t.c_str(), &end);
      const double a = std::strtod(text.c_str(), nullptr);
      if (end == nullptr || *end != 0) return diff;
      return std::fabs(a - b) <= 1e-9 + 1e-6 * std::fabs(a) ? "" : diff;
    }
    case Value::Kind::kDateTime: {
      int y, mo, d, h, mi, s, y2, mo2, d2, h2, mi2, s2;
      if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6 ||
          std::sscanf(theirs.c_str(), "%d-%d-%d %d:%d:%d", &y2, &mo2, &d2, &h2, &mi2, &s2) != 6)
        return diff;
      const long a = ((d * 24L + h) * 60 + mi) * 60 + s, b = ((d2 * 24L + h2) * 60 + mi2) * 60 + s2;
      return y == y2 && mo == mo2 && std::labs(a - b) <= 1 ? "" : diff;
    }
    case Value::Kind::kText:
      return Normal(mine.text) == Normal(theirs) ? "" : diff;
    case Value::Kind::kGuid: {
      // mdb-export -b hex writes a GUID as the hex of its text.
      std::string t = theirs;
      if (t.size() >= 72 && t.size() % 2 == 0 &&
          t.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        std::string decoded;
        for (size_t k = 0; k < t.size(); k += 2)
          decoded += static_cast<char>(std::stoi(t.substr(k, 2), nullptr, 16));
        t = decoded;
      }
      auto hex = [](std::string s) {
        std::string out;
        for (char ch : s)
          if (std::isxdigit(static_cast<unsigned char>(ch)))
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return out;
      };
      // (mdb-export leaves the last group's dash out of that text.)
      return hex(text) == hex(t) ? "" : diff;
    }
    case Value::Kind::kBinary: {
      std::string t = theirs;
      for (char& ch : t) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      // mdb-export shortens long binary values.
      if (mdb_export) return text.rfind(t, 0) == 0 ? "" : diff;
      return text == t ? "" : diff;
    }
    case Value::Kind::kNull:
      break;
  }
  return "";
}

// Compares a reader's CSV of `table` with the rows inserted (keyed by the
// first column). Skips quietly (returns false) when the reader is missing.
inline bool ExpectReaderAgrees(const testing::ReaderRun& run,
                               const std::map<int64_t, std::vector<Value>>& expected,
                               const std::vector<size_t>& skip_columns, bool mdb_export) {
  if (!run.available) return false;
  EXPECT_EQ(run.exit_code, 0) << run.errors;
  const testing::CsvTable csv = testing::ParseCsv(run.output);
  EXPECT_EQ(csv.rows.size(), expected.size());
  size_t reported = 0;
  for (const testing::CsvRow& row : csv.rows) {
    if (row.empty()) continue;
    const auto it = expected.find(std::strtoll(row[0].c_str(), nullptr, 10));
    if (it == expected.end()) {
      ADD_FAILURE() << "the reader shows a row that was not inserted: " << row[0];
      continue;
    }
    for (size_t c = 0; c < it->second.size() && c < row.size(); ++c) {
      if (std::find(skip_columns.begin(), skip_columns.end(), c) != skip_columns.end()) continue;
      const std::string d = Differs(it->second[c], row[c], mdb_export);
      if (!d.empty() && reported++ < 10)
        ADD_FAILURE() << "row " << row[0] << " column " << csv.columns[c] << ": " << d;
    }
  }
  return true;
}

}  // namespace tessmark::jet::builder_test
