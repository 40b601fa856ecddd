// Generated backup catalogs: sound, deterministic for a seed, aged as asked,
// and compacted by CompactDatabase into a sound file with the same content,
// so that the compaction suite has realistic inputs without the samples.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "check/checker.h"
#include "db/database.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"
#include "tessmark/generate.h"
#include "tests/engine/builder_test_support.h"
#include "tests/support/corpus.h"
#include "tests/support/readers.h"

namespace tessmark::jet {
namespace {

using Case = builder_test::CatalogCase;

// Every user table's rows as sorted text lines.
std::map<std::string, std::vector<std::string>> Content(const std::string& path) {
  auto db = Database::Open(path);
  std::map<std::string, std::vector<std::string>> out;
  for (const CatalogObject* o : db->Tables(false)) {
    const TableDef& def = db->Table(*o);
    std::vector<std::string>& lines = out[o->name];
    db->ForEachRow(def, [&](const TableRow& row) {
      std::string line;
      for (const Value& v : db->DecodeValues(def, row)) line += FormatValue(v) + "\x1f";
      lines.push_back(line);
    });
    std::sort(lines.begin(), lines.end());
  }
  return out;
}

// Where the space of a file lies: the free bytes its data pages record,
// and blank pages (free ones) before its last data page.
struct Space {
  uint32_t data_pages = 0;
  uint64_t free_bytes = 0;
  uint32_t blank_pages_inside = 0;
  double FreePerDataPage() const { return data_pages == 0 ? 0 : double(free_bytes) / data_pages; }
};
Space SpaceOf(const std::string& path, JetVersion version) {
  const std::vector<uint8_t> file = testing::ReadWholeFile(path);
  const size_t size = version == JetVersion::kJet3 ? 2048 : 4096;
  Space s;
  uint32_t blank_run = 0;
  for (size_t at = size; at + size <= file.size(); at += size) {
    const auto page = file.begin() + static_cast<std::ptrdiff_t>(at);
    if (std::all_of(page, page + static_cast<std::ptrdiff_t>(size),
                    [](uint8_t b) { return b == 0; })) {
      ++blank_run;
    } else if (page[0] == 0x01) {
      ++s.data_pages;
      s.free_bytes += uint32_t{page[2]} | uint32_t{page[3]} << 8;
      s.blank_pages_inside += blank_run;
      blank_run = 0;
    }
  }
  return s;
}

// The tables of fixed-length columns only (the link tables).
std::vector<std::string> FixedOnlyTables(const std::string& path) {
  auto db = Database::Open(path);
  std::vector<std::string> out;
  for (const CatalogObject* o : db->Tables(false))
    if (db->Table(*o).var_columns == 0) out.push_back(o->name);
  return out;
}

// Both readers see the rows of `table` as we do. The table's first two
// columns are its key (integers), by which the rows are paired up.
void ExpectReadersSeeTheRows(const std::string& path, const std::string& table) {
  SCOPED_TRACE(path + ": " + table);
  auto db = Database::Open(path);
  const TableDef& def = db->Table(*db->FindTable(table));
  using Key = std::pair<int64_t, int64_t>;
  std::map<Key, std::vector<Value>> ours;
  db->ForEachRow(def, [&](const TableRow& row) {
    std::vector<Value> values = db->DecodeValues(def, row);
    std::vector<Value> ordered(values.size());
    for (size_t i = 0; i < def.columns.size(); ++i) ordered[def.columns[i].number] = values[i];
    ours[{ordered[0].integer, ordered[1].integer}] = ordered;
  });
  ASSERT_FALSE(ours.empty());
  for (bool mdb_export : {true, false}) {
    const testing::ReaderRun run =
        mdb_export ? testing::RunMdbExport(path, table) : testing::RunMdbReader(path, table);
    if (!run.available) continue;
    ASSERT_EQ(run.exit_code, 0) << run.errors;
    const testing::CsvTable csv = testing::ParseCsv(run.output);
    EXPECT_EQ(csv.rows.size(), ours.size()) << (mdb_export ? "mdb-export" : "mdb-reader");
    for (const testing::CsvRow& row : csv.rows) {
      ASSERT_GE(row.size(), 2u);
      const auto it = ours.find(
          {std::strtoll(row[0].c_str(), nullptr, 10), std::strtoll(row[1].c_str(), nullptr, 10)});
      ASSERT_NE(it, ours.end()) << "a row we do not have: " << row[0] << "," << row[1];
      for (size_t c = 0; c < row.size() && c < it->second.size(); ++c)
        EXPECT_EQ(builder_test::Differs(it->second[c], row[c], mdb_export), "")
            << (mdb_export ? "mdb-export" : "mdb-reader") << ", column " << c;
    }
  }
}

// Each reader reads every user table of the compacted copy as it reads the
// original: the same rows, in any order.
void ExpectReadersSeeTheSameContent(const std::string& original, const std::string& copy) {
  auto db = Database::Open(original);
  for (const CatalogObject* o : db->Tables(false)) {
    for (bool mdb_export : {true, false}) {
      auto lines = [&](const std::string& path) {
        const testing::ReaderRun run = mdb_export ? testing::RunMdbExport(path, o->name)
                                                  : testing::RunMdbReader(path, o->name);
        EXPECT_EQ(run.exit_code, 0) << run.errors;
        std::vector<std::string> out;
        if (!run.available) return out;
        for (const testing::CsvRow& row : testing::ParseCsv(run.output).rows) {
          std::string line;
          for (const std::string& field : row) line += field + "\x1f";
          out.push_back(line);
        }
        std::sort(out.begin(), out.end());
        return out;
      };
      EXPECT_EQ(lines(copy), lines(original))
          << o->name << " read by " << (mdb_export ? "mdb-export" : "mdb-reader");
    }
  }
}

class GeneratedCatalog : public ::testing::TestWithParam<Case> {
 protected:
  CatalogOptions Options() const {
    CatalogOptions o;
    o.kind = GetParam().kind;
    o.version = GetParam().version;
    o.rows = 900;
    o.deleted = 0.4;
    o.moved = 0.05;
    o.seed = 3;
    return o;
  }
  testing::TempDir dir_;
};

TEST_P(GeneratedCatalog, IsSoundAgedAndDeterministic) {
  const std::string a = (dir_.path() / "a.mdb").string();
  const std::string b = (dir_.path() / "b.mdb").string();
  const std::string c = (dir_.path() / "c.mdb").string();
  const CatalogResult r = GenerateCatalog(a, Options());
  EXPECT_EQ(r.bulk_rows, 900u);
  EXPECT_GT(r.stats.deleted_rows, 250u);
  EXPECT_GT(r.stats.moved_rows, 10u);
  EXPECT_GT(r.stats.free_pages, 0u);
  EXPECT_LT(r.stats.bytes, 1u << 20) << "test catalogs must stay small";

  auto db = Database::Open(a);
  const CheckReport report = CheckDatabase(*db);
  builder_test::ExpectCleanApartFromOrphans(report);
  EXPECT_EQ(report.stats.rows, r.stats.live_rows);
  EXPECT_EQ(report.stats.free_pages, r.stats.free_pages);
  // Stale rows lie on pages of their own that nothing refers to any more.
  CatalogOptions stale = Options();
  stale.stale = 0.1;
  const std::string s = (dir_.path() / "stale.mdb").string();
  const CatalogResult rs = GenerateCatalog(s, stale);
  EXPECT_GT(rs.stats.stale_rows, 0u);
  const CheckReport stale_report = CheckDatabase(*Database::Open(s));
  EXPECT_TRUE(stale_report.sound());
  EXPECT_EQ(stale_report.stats.rows, rs.stats.live_rows);
  EXPECT_EQ(stale_report.stats.leaked_pages, rs.stats.stale_pages);

  GenerateCatalog(b, Options());
  EXPECT_EQ(testing::ReadWholeFile(a), testing::ReadWholeFile(b)) << "same seed, same file";
  CatalogOptions other = Options();
  other.seed = 4;
  GenerateCatalog(c, other);
  EXPECT_NE(testing::ReadWholeFile(a), testing::ReadWholeFile(c));

  try {
    GenerateCatalog(a, Options());
    ADD_FAILURE() << "an existing catalog was overwritten";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kDatabaseExists);
  }
  EXPECT_EQ(testing::ReadWholeFile(a), testing::ReadWholeFile(b));
}

TEST_P(GeneratedCatalog, CompactsIntoASoundFileWithTheSameContent) {
  const std::string src = (dir_.path() / "aged.mdb").string();
  const std::string dst = (dir_.path() / "compact.mdb").string();
  const CatalogResult r = GenerateCatalog(src, Options());
  // Aged as the product ages a catalog: the deleted rows' bytes are free
  // space on their pages, and runs of them left free pages inside the file.
  const Space before = SpaceOf(src, GetParam().version);
  const double page = GetParam().version == JetVersion::kJet3 ? 2048 : 4096;
  EXPECT_GT(before.FreePerDataPage(), page / 5);
  EXPECT_GT(before.blank_pages_inside, 0u);
  CompactStats stats;
  CompactOptions options;
  options.stats = &stats;
  CompactDatabase(src, dst, options);
  // Compaction gives that space back.
  const Space after = SpaceOf(dst, GetParam().version);
  const double free_before = double(before.free_bytes) + before.blank_pages_inside * page;
  const double reclaimed = (double(stats.pages_before) - stats.pages_after) * page;
  EXPECT_LT(double(after.free_bytes), double(before.free_bytes) / 2);
  EXPECT_EQ(after.blank_pages_inside, 0u);
  EXPECT_GT(reclaimed, free_before * 0.6) << "the deleted rows' space is given back";
  auto db = Database::Open(dst);
  const CheckReport report = CheckDatabase(*db);
  for (const Finding& f : report.findings) ADD_FAILURE() << f.Text();
  EXPECT_EQ(report.stats.free_pages, 0u);
  EXPECT_EQ(Content(dst), Content(src));
  EXPECT_EQ(stats.rows, r.stats.live_rows);
  // The link table has no variable column: its rows carry no trailer,
  // before and after, and read the same in both readers.
  const std::vector<std::string> link_tables = FixedOnlyTables(src);
  ASSERT_EQ(link_tables.size(), 1u);
  EXPECT_EQ(FixedOnlyTables(dst), link_tables);
  ExpectReadersSeeTheRows(src, link_tables.front());
  ExpectReadersSeeTheRows(dst, link_tables.front());
  ExpectReadersSeeTheSameContent(src, dst);
}

TEST_P(GeneratedCatalog, EncryptedCatalogCompactsAndPasswordIsRefused) {
  CatalogOptions o = Options();
  o.rows = 300;
  o.encrypt = true;
  const std::string enc = (dir_.path() / "enc.mdb").string();
  GenerateCatalog(enc, o);
  {
    auto db = Database::Open(enc);
    EXPECT_TRUE(db->header().encrypted());
    EXPECT_TRUE(CheckDatabase(*db).sound());
  }
  const std::string out = (dir_.path() / "enc-compact.mdb").string();
  CompactDatabase(enc, out);
  EXPECT_EQ(Content(out), Content(enc));

  o.encrypt = false;
  o.password = "Admin1";
  const std::string locked = (dir_.path() / "locked.mdb").string();
  GenerateCatalog(locked, o);
  const auto before = testing::ReadWholeFile(locked);
  try {
    CompactDatabase(locked, (dir_.path() / "never.mdb").string());
    ADD_FAILURE() << "a password-protected catalog was compacted";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kPasswordRequired);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "never.mdb"));
  EXPECT_EQ(testing::ReadWholeFile(locked), before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, GeneratedCatalog, ::testing::ValuesIn(builder_test::kEveryCatalog),
                         builder_test::CatalogCaseName);

TEST(GeneratedCatalogOptions, BadSharesAreRefusedBeforeAnyFileExists) {
  testing::TempDir dir;
  const std::string path = (dir.path() / "x.mdb").string();
  CatalogOptions o;
  o.deleted = 0.99;
  EXPECT_THROW(GenerateCatalog(path, o), Error);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_FALSE(std::filesystem::exists(path + ".partial"));
}

}  // namespace
}  // namespace tessmark::jet
