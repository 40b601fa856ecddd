// Every sample database opens, checks clean, and dumps to the same values
// the independent readers (mdb-export, mdb-reader) return.
#include "tests/support/corpus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

#include "check/checker.h"
#include "db/database.h"
#include "db/index_page.h"
#include "db/row.h"
#include "repair/row_keys.h"
#include "tests/support/readers.h"

namespace tessmark::jet {
namespace {

using testing::CorpusFiles;
using testing::CsvTable;

std::vector<std::filesystem::path> CorpusOrPlaceholder() {
  std::vector<std::filesystem::path> files = CorpusFiles();
  if (files.empty()) files.emplace_back();  // one test that reports the skip
  return files;
}

class CorpusTest : public ::testing::TestWithParam<std::filesystem::path> {
 protected:
  void SetUp() override {
    if (GetParam().empty()) GTEST_SKIP() << testing::CorpusMissingMessage();
  }
  std::string file() const { return GetParam().string(); }
  bool IsRefGlobalFixture() const { return GetParam().stem() == "testRefGlobalV2000"; }
};

// ---- check ------------------------------------------------------------------

TEST_P(CorpusTest, ChecksCleanWithOnlyTheWarningsAccessLeaves) {
  auto db = Database::Open(file());
  const CheckReport report = CheckDatabase(*db);
  if (IsRefGlobalFixture()) {
    // A library test fixture: testV2000 with the global map's kind byte
    // changed to "reference", so its bitmap bytes read as page numbers far
    // past the end of the file. The checker must call that damage.
    EXPECT_FALSE(report.sound());
    const bool named =
        std::any_of(report.findings.begin(), report.findings.end(), [](const Finding& f) {
          return f.severity == Severity::kError &&
                 f.message.find("beyond the end of the file") != std::string::npos;
        });
    EXPECT_TRUE(named) << "the checker should name the global map's page numbers past the end";
    EXPECT_TRUE(report.data_intact()) << "only the global map is affected";
    return;
  }
  for (const Finding& f : report.findings) {
    EXPECT_EQ(f.severity, Severity::kWarning) << f.Text();
    const bool stale_system_count = f.where.table.rfind("MSys", 0) == 0 &&
                                    f.message.find("rows but the table has") != std::string::npos;
    const bool leaked = f.message.find("nothing refers to them") != std::string::npos;
    // The product brings an index's count of distinct keys up to date
    // lazily, as it does row counts (12 of the samples).
    const bool stale_distinct = f.message.find("distinct keys but holds") != std::string::npos;
    EXPECT_TRUE(stale_system_count || leaked || stale_distinct)
        << "unexpected warning: " << f.Text();
  }
  EXPECT_GT(report.stats.tables, 3u);
  EXPECT_EQ(report.stats.pages, db->page_count());
}

TEST_P(CorpusTest, CatalogListsTheSameTablesAsMdbTools) {
  auto listed = testing::ListTablesWithMdbTools(file());
  if (!listed) GTEST_SKIP() << "mdb-tables (mdbtools) is not installed; cross-check skipped";
  auto db = Database::Open(file());
  std::set<std::string> mine;
  for (const CatalogObject* t : db->Tables()) mine.insert(t->name);
  EXPECT_EQ(mine, std::set<std::string>(listed->begin(), listed->end()));
}

// ---- dump vs the independent readers ------------------------------------------

enum class Reader { kMdbExport, kMdbReader };

// Text as both sides can agree on: mdb-reader turns NUL into a space, both
// readers turn the bytes 0x80..0x9F that code page 1252 leaves undefined into
// U+00A0 or U+FFFD (we keep them as U+0080..U+009F, as Windows does);
// trailing blanks are not significant.
std::string NormalText(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) <= 0xA0) {
      out += '?';
      ++i;
    } else if (s.compare(i, 3, "\xEF\xBF\xBD") == 0) {  // U+FFFD from mdb-export
      out += '?';
      i += 2;
    } else {
      out += c == 0 ? ' ' : s[i];
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

bool ParseNumber(std::string s, double& out) {
  s.erase(std::remove(s.begin(), s.end(), '$'), s.end());
  if (s.empty()) return false;
  char* end = nullptr;
  out = std::strtod(s.c_str(), &end);
  return end != nullptr && *end == '\0';
}

bool ParseDateTime(const std::string& s, int64_t& seconds) {
  int y, mo, d, h, mi, se;
  if (std::sscanf(s.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &se) != 6) return false;
  // Days from civil (proleptic Gregorian).
  y -= mo <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  seconds = (era * 146097 + doe - 719468) * 86400 + h * 3600 + mi * 60 + se;
  return true;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string NormalGuid(std::string s) {
  // mdb-export writes Jet 3 GUID columns as the hex of their text, and
  // leaves the last dash out of that text.
  if (s.size() >= 72 && s.size() % 2 == 0 &&
      s.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
    std::string text;
    for (size_t i = 0; i < s.size(); i += 2) {
      text += static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16));
    }
    s = text;
  }
  s.erase(std::remove(s.begin(), s.end(), '{'), s.end());
  s.erase(std::remove(s.begin(), s.end(), '}'), s.end());
  s.erase(std::remove(s.begin(), s.end(), '-'), s.end());
  return Upper(s);
}

// Empty when the values agree, else a description of the difference.
std::string Compare(const Value& mine, const std::string& theirs, bool their_null, Reader reader) {
  const std::string my_text = FormatValue(mine);
  auto differ = [&] {
    return "ours '" + my_text.substr(0, 80) + "', theirs '" + theirs.substr(0, 80) + "'";
  };
  if (mine.is_null()) return theirs.empty() ? "" : differ();
  switch (mine.kind) {
    case Value::Kind::kBoolean: {
      const bool t = theirs == "1" || theirs == "true" || theirs == "TRUE";
      const bool f = theirs == "0" || theirs == "false" || theirs == "FALSE";
      return (mine.boolean ? t : f) ? "" : differ();
    }
    case Value::Kind::kInteger:
    case Value::Kind::kCurrency:
    case Value::Kind::kSingle:
    case Value::Kind::kDouble:
    case Value::Kind::kNumeric: {
      double a, b;
      if (!ParseNumber(my_text, a) || !ParseNumber(theirs, b)) return differ();
      return std::fabs(a - b) <= 1e-9 + 1e-6 * std::fabs(a) ? "" : differ();
    }
    case Value::Kind::kDateTime: {
      // mdb-reader counts days before 1899-12-30 as plain negative numbers,
      // while Jet stores the time of day as a positive fraction there.
      if (mine.real < 0 && reader == Reader::kMdbReader) return "";
      // mdb-export cannot show dates before 1900 and prints day 0 of 1900.
      if (mine.real < 2 && reader == Reader::kMdbExport && theirs == "1900-01-00 00:00:00") {
        return "";
      }
      int64_t a, b;
      if (!ParseDateTime(my_text, a) || !ParseDateTime(theirs, b)) return differ();
      // mdb-reader truncates to the second, we round.
      return std::llabs(a - b) <= 1 ? "" : differ();
    }
    case Value::Kind::kText:
      if (their_null && mine.text.empty()) return "";
      return NormalText(mine.text) == NormalText(theirs) ? "" : differ();
    case Value::Kind::kGuid:
      return NormalGuid(my_text) == NormalGuid(theirs) ? "" : differ();
    case Value::Kind::kBinary: {
      const std::string t = Upper(theirs);
      // mdb-export shortens long binary values (and leaves some out).
      if (reader == Reader::kMdbExport) return my_text.rfind(t, 0) == 0 ? "" : differ();
      return my_text == t ? "" : differ();
    }
    case Value::Kind::kNull:
      break;
  }
  return "";
}

// A sort key from the columns both sides render exactly: integers,
// booleans and text; NULL is an empty part.
enum class KeyKind { kNone, kInteger, kBoolean, kText };

KeyKind KeyKindOf(const ColumnDef& c) {
  switch (c.type) {
    case 0x02:
    case 0x03:
    case 0x04:
      return KeyKind::kInteger;
    case 0x01:
      return KeyKind::kBoolean;
    case 0x0A:
    case 0x0C:
      return KeyKind::kText;
    default:
      return KeyKind::kNone;
  }
}

std::string RowKeyMine(const std::vector<KeyKind>& kinds, const std::vector<Value>& values) {
  std::string key;
  for (size_t i = 0; i < kinds.size(); ++i) {
    const Value& v = values[i];
    if (!v.is_null()) {
      if (kinds[i] == KeyKind::kInteger) key += std::to_string(v.integer);
      if (kinds[i] == KeyKind::kBoolean) key += v.boolean ? "1" : "0";
      if (kinds[i] == KeyKind::kText) key += NormalText(v.text);
    }
    key += '\x1f';
  }
  return key;
}

std::string RowKeyTheirs(const std::vector<KeyKind>& kinds,
                         const std::vector<std::string>& fields) {
  std::string key;
  for (size_t i = 0; i < kinds.size(); ++i) {
    const std::string& t = fields[i];
    double d;
    if (kinds[i] == KeyKind::kInteger && ParseNumber(t, d)) key += std::to_string(std::llround(d));
    if (kinds[i] == KeyKind::kBoolean) key += (t == "1" || t == "true" || t == "TRUE") ? "1" : "0";
    if (kinds[i] == KeyKind::kText) key += NormalText(t);
    key += '\x1f';
  }
  return key;
}

struct OurTable {
  std::vector<std::string> columns;
  std::vector<std::vector<Value>> rows;
};

OurTable DumpTable(Database& db, const CatalogObject& object) {
  OurTable out;
  const TableDef& def = db.Table(object);
  for (const ColumnDef& c : def.columns) out.columns.push_back(c.name);
  db.ForEachRow(def, [&](const TableRow& row) { out.rows.push_back(db.DecodeValues(def, row)); });
  return out;
}

bool HasColumnType(const TableDef& def, uint8_t type) {
  return std::any_of(def.columns.begin(), def.columns.end(),
                     [&](const ColumnDef& c) { return c.type == type; });
}

void CompareWithReader(const std::string& file, Reader reader) {
  auto db = Database::Open(file);
  int compared = 0;
  for (const CatalogObject* object : db->Tables()) {
    SCOPED_TRACE("table " + object->name);
    const testing::ReaderRun run = reader == Reader::kMdbExport
                                       ? testing::RunMdbExport(file, object->name)
                                       : testing::RunMdbReader(file, object->name);
    if (!run.available) GTEST_SKIP() << run.missing << "; cross-check skipped";
    if (run.exit_code != 0) {
      // mdb-reader does not know the fixed-binary column type 0x11.
      if (reader == Reader::kMdbReader && HasColumnType(db->Table(*object), 0x11)) continue;
      ADD_FAILURE() << "the reader failed: " << run.errors.substr(0, 300);
      continue;
    }
    const CsvTable theirs = testing::ParseCsv(run.output);
    const OurTable mine = DumpTable(*db, *object);
    ASSERT_EQ(std::set<std::string>(mine.columns.begin(), mine.columns.end()),
              std::set<std::string>(theirs.columns.begin(), theirs.columns.end()));
    ASSERT_EQ(mine.rows.size(), theirs.rows.size());
    if (mine.rows.empty()) continue;

    std::vector<KeyKind> kinds;
    for (const ColumnDef& c : db->Table(*object).columns) kinds.push_back(KeyKindOf(c));
    // Their fields in our column order.
    std::map<std::string, size_t> their_pos;
    for (size_t i = 0; i < theirs.columns.size(); ++i) their_pos[theirs.columns[i]] = i;
    std::vector<std::pair<std::string, size_t>> ours_sorted, theirs_sorted;
    std::vector<std::vector<std::string>> their_fields(theirs.rows.size());
    std::vector<std::vector<bool>> their_nulls(theirs.rows.size());
    for (size_t r = 0; r < theirs.rows.size(); ++r) {
      ASSERT_EQ(theirs.rows[r].size(), theirs.columns.size()) << "malformed reader output";
      for (const std::string& c : mine.columns) {
        their_fields[r].push_back(theirs.rows[r][their_pos[c]]);
        their_nulls[r].push_back(theirs.nulls[r][their_pos[c]]);
      }
      theirs_sorted.emplace_back(RowKeyTheirs(kinds, their_fields[r]), r);
    }
    for (size_t r = 0; r < mine.rows.size(); ++r)
      ours_sorted.emplace_back(RowKeyMine(kinds, mine.rows[r]), r);
    std::sort(ours_sorted.begin(), ours_sorted.end());
    std::sort(theirs_sorted.begin(), theirs_sorted.end());
    for (size_t k = 0; k < ours_sorted.size(); ++k) {
      const auto& ours_row = mine.rows[ours_sorted[k].second];
      const size_t tr = theirs_sorted[k].second;
      for (size_t c = 0; c < mine.columns.size(); ++c) {
        const std::string diff =
            Compare(ours_row[c], their_fields[tr][c], their_nulls[tr][c], reader);
        EXPECT_EQ(diff, "") << "column " << mine.columns[c];
      }
    }
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

TEST_P(CorpusTest, DumpEqualsMdbExport) { CompareWithReader(file(), Reader::kMdbExport); }

TEST_P(CorpusTest, DumpEqualsMdbReader) { CompareWithReader(file(), Reader::kMdbReader); }

// ---- keys made from rows ------------------------------------------------------

// The keys a repair makes from a row's values are the keys the desktop
// product wrote for that row: every row of every index of the sample files
// (written by the product or by libraries that follow it) has an entry
// whose bytes are the key made from the row, unless the row has a text the
// collation tables do not cover or the index leaves the row out.
TEST_P(CorpusTest, KeysMadeFromRowsEqualTheIndexEntries) {
  if (IsRefGlobalFixture()) GTEST_SKIP() << "its global map is damaged on purpose";
  auto db = Database::Open(file());
  size_t compared = 0, unkeyed = 0;
  for (const CatalogObject* object : db->Tables()) {
    const TableDef& def = db->Table(*object);
    for (const RealIndexDef& index : def.real_indexes) {
      std::map<uint32_t, std::vector<uint8_t>> entries;  // row pointer -> key
      IndexWalkVisitor visitor;
      visitor.on_leaf_entry = [&](const IndexEntry& e) {
        entries[e.row.Stored()].assign(e.key.begin(), e.key.end());
      };
      WalkIndex(db->file(), index, def.where(), visitor);
      db->ForEachRow(def, [&](const TableRow& row) {
        const Location at = def.where().WithRow(row.data.page, row.data.row);
        const DecodedRow decoded = DecodeRow(def, db->format(), row.bytes, at);
        const std::optional<RowKey> key =
            KeyOfRow(def, db->format(), index, row.bytes, decoded, db->long_values(), at);
        if (!key) {
          ++unkeyed;
          return;
        }
        // An index that ignores nulls has no entry for a row whose every
        // indexed value is null.
        if (index.ignore_nulls() && key->null_columns == index.columns.size()) return;
        const auto entry = entries.find(row.header.Stored());
        ASSERT_NE(entry, entries.end()) << object->name << ": no entry for a row";
        EXPECT_EQ(key->key, entry->second) << object->name << ", index " << index.number << ", row "
                                           << row.header.page << ":" << int{row.header.row};
        ++compared;
      });
    }
  }
  EXPECT_GT(compared, 0u);
  EXPECT_LT(unkeyed, compared);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, ::testing::ValuesIn(CorpusOrPlaceholder()),
                         [](const ::testing::TestParamInfo<std::filesystem::path>& param) {
                           return testing::CorpusTestName(param.param);
                         });

}  // namespace
}  // namespace tessmark::jet
