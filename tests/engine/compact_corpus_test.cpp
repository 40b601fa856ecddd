// Every sample database compacts; the copy is sound, never larger, stable
// under a second compaction, the same as a repair writes, and two
// independent readers see the same tables and rows in it as in the
// original (table Ids mapped).
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "check/checker.h"
#include "db/database.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"
#include "tessmark/repair.h"
#include "tests/engine/compact_test_support.h"

namespace tessmark::jet {
namespace {

using namespace compact_test;

// Columns that hold object Ids, whose table Ids compaction renumbers.
bool IdColumn(const std::string& table, const std::string& column) {
  static const std::set<std::pair<std::string, std::string>> kIds = {
      {"MSysObjects", "Id"},
      {"MSysACEs", "ObjectId"},
      {"MSysNavPaneObjectIDs", "Id"},
      {"MSysNavPaneGroupToObjects", "ObjectID"},
      {"MSysNavPaneGroups", "ObjectID"},
      {"MSysNavPaneGroupCategories", "SelectedObjectID"}};
  return kIds.count({table, column}) > 0;
}

class CompactCorpusTest : public ::testing::TestWithParam<fs::path> {
 protected:
  void SetUp() override {
    TESSMARK_REQUIRE_CORPUS();
    source_ = PrivateCopy(scratch_, GetParam());
    copy_ = scratch_.File("copy.mdb");
    CompactOptions o;
    o.stats = &stats_;
    ASSERT_NO_THROW(CompactDatabase(source_, copy_, o)) << source_;
  }

  // How the object Ids of `file` read: a table's as the table's name, any
  // other object's as itself. A value that names nothing reads as such, so
  // a stale value must name nothing in the copy either.
  static std::map<std::string, std::string> IdNames(const std::string& file) {
    auto db = Database::Open(file);
    std::map<std::string, std::string> names;
    for (const CatalogObject& o : db->objects())
      names[std::to_string(o.id)] = o.table() ? "table " + o.name : std::to_string(o.id);
    return names;
  }

  std::vector<std::string> TableNames() {
    std::vector<std::string> names;
    auto a = Database::Open(source_);
    for (const CatalogObject* t : a->Tables()) names.push_back(t->name);
    return names;
  }

  // Rows of a table as a reader prints them, Id columns read through
  // `names`, sorted (compaction may reorder rows).
  static std::vector<std::string> Rows(const testing::CsvTable& csv, const std::string& table,
                                       const std::map<std::string, std::string>& names) {
    std::vector<std::string> out;
    for (size_t r = 0; r < csv.rows.size(); ++r) {
      std::string line;
      for (size_t c = 0; c < csv.rows[r].size(); ++c) {
        std::string v = csv.rows[r][c];
        if (c < csv.columns.size() && IdColumn(table, csv.columns[c]) && !csv.nulls[r][c]) {
          auto it = names.find(v);
          v = it != names.end() ? it->second : "<names nothing>";
        }
        line += csv.nulls[r][c] ? "<null>" : v;
        line += '\x1f';
      }
      out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  using Reader = testing::ReaderRun (*)(const std::string&, const std::string&);

  // Reads every table of the original and of the copy with `read`.
  void CompareWithReader(Reader read) {
    const auto source_names = IdNames(source_);
    const auto copy_names = IdNames(copy_);
    for (const std::string& table : TableNames()) {
      const testing::ReaderRun a = read(source_, table);
      if (!a.available) GTEST_SKIP() << a.missing;
      if (a.exit_code != 0) {
        // The reader cannot read this table of the original either (mdb-reader
        // knows no fixed-binary columns); there is nothing to compare.
        continue;
      }
      const testing::ReaderRun b = read(copy_, table);
      ASSERT_EQ(b.exit_code, 0) << "table " << table << ": " << b.errors;
      const testing::CsvTable x = testing::ParseCsv(a.output);
      const testing::CsvTable y = testing::ParseCsv(b.output);
      EXPECT_EQ(x.columns, y.columns) << "table " << table;
      const auto rx = Rows(x, table, source_names);
      const auto ry = Rows(y, table, copy_names);
      EXPECT_EQ(rx.size(), ry.size()) << "table " << table;
      EXPECT_TRUE(rx == ry) << "table " << table << " reads differently after compaction";
    }
  }

  ScratchDir scratch_;
  std::string source_, copy_;
  CompactStats stats_;
};

TEST_P(CompactCorpusTest, CopyIsNeverLargerAndStableWhenCompactedAgain) {
  const auto before = fs::file_size(source_);
  const auto after = fs::file_size(copy_);
  EXPECT_LE(after, before);
  {
    // Free or leaked pages in the original must make the copy smaller.
    auto db = Database::Open(source_);
    const CheckReport report = CheckDatabase(*db);
    if (report.stats.free_pages + report.stats.leaked_pages > 0) {
      EXPECT_LT(after, before) << report.stats.free_pages << " free, " << report.stats.leaked_pages
                               << " leaked pages";
    }
  }
  EXPECT_EQ(stats_.bytes_after, after);
  EXPECT_EQ(stats_.bytes_before, before);
  std::vector<std::string> timed;
  for (const PhaseTime& t : stats_.phases) timed.push_back(t.phase);
  EXPECT_EQ(timed, (std::vector<std::string>{"checking", "writing", "flushing", "verifying",
                                             "committing"}));

  const std::string again = scratch_.File("again.mdb");
  ASSERT_NO_THROW(CompactDatabase(copy_, again));
  EXPECT_TRUE(ReadAll(copy_) == ReadAll(again)) << "a second compaction changed the file";

  // A sound file repairs to the very file compaction writes: no stale row
  // of a page given back comes back, and every index key is rebuilt as
  // it was.
  const std::string repaired = scratch_.File("repaired.mdb");
  RepairReport report;
  ASSERT_NO_THROW(report = RepairDatabase(source_, repaired));
  EXPECT_TRUE(report.all_unchanged());
  EXPECT_TRUE(ReadAll(copy_) == ReadAll(repaired)) << "the repair wrote another file";
}

TEST_P(CompactCorpusTest, MdbToolsReadsTheSameContent) { CompareWithReader(testing::RunMdbExport); }

TEST_P(CompactCorpusTest, MdbReaderReadsTheSameContent) {
  CompareWithReader(testing::RunMdbReader);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CompactCorpusTest, ::testing::ValuesIn(testing::CorpusFiles()),
                         [](const auto& param_info) {
                           return testing::CorpusTestName(param_info.param);
                         });

// The two 3 MB files carry about 690 pages nothing refers to.
TEST(CompactCorpusSizeTest, LeakedPagesAreReclaimed) {
  TESSMARK_REQUIRE_CORPUS();
  for (const char* f : {"jet4/testV2000.mdb", "jet4/testRefGlobalV2000.mdb"}) {
    ScratchDir dir;
    CompactStats stats;
    CompactOptions o;
    o.stats = &stats;
    ASSERT_NO_THROW(CompactDatabase(PrivateCopy(dir, CorpusFile(f)), dir.File("c.mdb"), o));
    EXPECT_EQ(stats.pages_before, 743u);
    EXPECT_LT(stats.pages_after + 690, stats.pages_before) << f;
  }
}

}  // namespace
}  // namespace tessmark::jet
