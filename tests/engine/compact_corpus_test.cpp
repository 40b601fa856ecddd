// Every sample database compacts; the copy is sound, never larger, stable
// under a second compaction, and two independent readers see the same
// tables and rows in it as in the original (table Ids mapped).
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>

#include "engine/compact.h"
#include "engine/database.h"
#include "engine/error.h"
#include "tests/engine/compact_test_support.h"

namespace tessmark::jet {
namespace {

using namespace compact_test;

// Columns that hold table Ids, which compaction renumbers.
bool IdColumn(const std::string& table, const std::string& column) {
  static const std::set<std::pair<std::string, std::string>> kIds = {
      {"MSysObjects", "Id"},
      {"MSysACEs", "ObjectId"},
      {"MSysNavPaneObjectIDs", "Id"},
      {"MSysNavPaneGroupToObjects", "ObjectID"}};
  return kIds.count({table, column}) > 0;
}

std::string Name(const fs::path& p) { return p.stem().string(); }

class CompactCorpusTest : public ::testing::TestWithParam<fs::path> {
 protected:
  void SetUp() override {
    TESSMARK_REQUIRE_CORPUS();
    source_ = GetParam().string();
    copy_ = scratch_.File("copy.mdb");
    CompactOptions o;
    o.stats = &stats_;
    ASSERT_NO_THROW(CompactDatabase(source_, copy_, o)) << source_;
  }

  // Source table Id -> Id in the copy, by table name.
  std::map<std::string, std::string> IdMap() {
    auto a = Database::Open(source_);
    auto b = Database::Open(copy_);
    std::map<std::string, std::string> ids;
    for (const CatalogObject* t : a->Tables()) {
      const CatalogObject* u = b->FindTable(t->name);
      EXPECT_NE(u, nullptr) << t->name;
      if (u != nullptr) ids[std::to_string(t->id)] = std::to_string(u->id);
    }
    return ids;
  }

  std::vector<std::string> TableNames() {
    std::vector<std::string> names;
    auto a = Database::Open(source_);
    for (const CatalogObject* t : a->Tables()) names.push_back(t->name);
    return names;
  }

  // Rows of `table` as a reader prints them, Id columns mapped when `ids`
  // is given, sorted (compaction may reorder rows).
  static std::vector<std::string> Rows(const std::string& csv, const std::string& table,
                                       const std::map<std::string, std::string>* ids) {
    auto rows = ParseCsv(csv);
    std::vector<std::string> out;
    if (rows.empty()) return out;
    const auto header = rows.front();
    for (size_t r = 1; r < rows.size(); ++r) {
      std::string line;
      for (size_t c = 0; c < rows[r].size(); ++c) {
        std::string v = rows[r][c];
        if (ids != nullptr && c < header.size() && IdColumn(table, header[c])) {
          auto it = ids->find(v);
          if (it != ids->end()) v = it->second;
        }
        line += v;
        line += '\x1f';
      }
      out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  void CompareWithReader(const std::string& command_for_source,
                         const std::string& command_for_copy, const std::string& table,
                         const std::map<std::string, std::string>& ids) {
    int s1 = 0, s2 = 0;
    const std::string a = compact_test::Run(command_for_source, s1);
    const std::string b = compact_test::Run(command_for_copy, s2);
    if (s1 != 0) {
      // The reader cannot read this table of the original either (mdb-reader
      // knows no fixed-binary columns); there is nothing to compare.
      std::cerr << "note: the reader cannot read table " << table << " of the original\n";
      return;
    }
    ASSERT_EQ(s2, 0) << command_for_copy;
    const auto x = Rows(a, table, &ids);
    const auto y = Rows(b, table, nullptr);
    EXPECT_EQ(x.size(), y.size()) << "table " << table;
    EXPECT_TRUE(x == y) << "table " << table << " reads differently after compaction";
    // The header lines (column names) must agree too.
    EXPECT_EQ(a.substr(0, a.find('\n')), b.substr(0, b.find('\n'))) << table;
  }

  ScratchDir scratch_;
  std::string source_, copy_;
  CompactStats stats_;
};

TEST_P(CompactCorpusTest, CopyIsNeverLargerAndStableWhenCompactedAgain) {
  const auto before = fs::file_size(source_);
  const auto after = fs::file_size(copy_);
  EXPECT_LE(after, before);
  EXPECT_EQ(stats_.bytes_after, after);
  EXPECT_EQ(stats_.bytes_before, before);

  const std::string again = scratch_.File("again.mdb");
  ASSERT_NO_THROW(CompactDatabase(copy_, again));
  EXPECT_TRUE(ReadAll(copy_) == ReadAll(again)) << "a second compaction changed the file";
}

TEST_P(CompactCorpusTest, MdbToolsReadsTheSameContent) {
  if (!HaveCommand("mdb-export")) GTEST_SKIP() << "mdb-export (mdbtools) is not installed";
  const auto ids = IdMap();
  for (const std::string& t : TableNames()) {
    CompareWithReader("mdb-export -b hex " + Quote(source_) + " " + Quote(t) + " 2>/dev/null",
                      "mdb-export -b hex " + Quote(copy_) + " " + Quote(t) + " 2>/dev/null", t, ids);
  }
}

TEST_P(CompactCorpusTest, MdbReaderReadsTheSameContent) {
  const fs::path script = fs::path(TESSMARK_READERS_DIR) / "dump-table.js";
  if (!fs::exists(fs::path(TESSMARK_READERS_DIR) / "node_modules" / "mdb-reader") ||
      !fs::exists(script) || !HaveCommand("node"))
    GTEST_SKIP() << "mdb-reader is not installed (run npm ci in tools/readers)";
  const auto ids = IdMap();
  for (const std::string& t : TableNames()) {
    const std::string base = "node " + Quote(script.string()) + " ";
    CompareWithReader(base + Quote(source_) + " " + Quote(t), base + Quote(copy_) + " " + Quote(t),
                      t, ids);
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CompactCorpusTest, ::testing::ValuesIn(CorpusFiles()),
                         [](const auto& param_info) { return Name(param_info.param); });

// The two 3 MB files carry about 690 pages nothing refers to.
TEST(CompactCorpusSizeTest, LeakedPagesAreReclaimed) {
  TESSMARK_REQUIRE_CORPUS();
  for (const char* f : {"jet4/testV2000.mdb", "jet4/testRefGlobalV2000.mdb"}) {
    ScratchDir dir;
    CompactStats stats;
    CompactOptions o;
    o.stats = &stats;
    ASSERT_NO_THROW(CompactDatabase(CorpusFile(f), dir.File("c.mdb"), o));
    EXPECT_EQ(stats.pages_before, 743u);
    EXPECT_LT(stats.pages_after + 690, stats.pages_before) << f;
  }
}

}  // namespace
}  // namespace tessmark::jet
