// Compaction of databases larger than any sample, made with the database
// builder: a table spanning more data pages than an inline usage map can
// describe, index trees three levels deep, chained long values, deleted and
// moved rows, orphaned long values and free pages; plain and encrypted,
// Jet 4 and Jet 3.
#include <gtest/gtest.h>

#include "build/database_builder.h"
#include "db/database.h"
#include "db/index_page.h"
#include "db/usage_map.h"
#include "format/page_image.h"
#include "tessmark/compact.h"
#include "tests/engine/compact_test_support.h"

namespace tessmark::jet {
namespace {

using namespace compact_test;

constexpr int kRows = 30000;

void BuildBig(const std::string& path, JetVersion version, uint32_t key) {
  BuildOptions o;
  o.version = version;
  o.database_key = key;
  DatabaseBuilder b(path, o);
  TableDecl big;
  big.name = "Big";
  big.columns = {{"Id", ColumnType::kLong, 0, true, true},
                 {"Name", ColumnType::kText, 40},
                 {"Amount", ColumnType::kDouble},
                 {"Note", ColumnType::kMemo},
                 {"Filler", ColumnType::kText, 200}};
  big.indexes = {{"PrimaryKey", {{"Id", true}}, true},
                 {"ByName", {{"Name", false}, {"Amount", true}}},
                 {"ByAmount", {{"Amount", true}}, false, false, true}};
  b.AddTable(big);
  TableDecl small;
  small.name = "Small";
  small.columns = {{"Code", ColumnType::kText, 10}, {"Big", ColumnType::kLong}};
  b.AddTable(small);
  b.BeginTable("Big");
  for (int i = 0; i < kRows; ++i) {
    RowFate fate = RowFate::kLive;
    if (i % 17 == 3) fate = RowFate::kDeleted;
    if (i % 29 == 5) fate = RowFate::kMoved;
    std::string note;
    if (i % 500 == 0)
      note.assign(static_cast<size_t>(9000 + i % 7), static_cast<char>('a' + i % 26));
    if (i % 7 == 0) note = "short note " + std::to_string(i);
    b.Insert({NullValue(), TextValue(std::to_string((i * 7919) % 4000) + " name number"),
              i % 11 == 0 ? NullValue() : DoubleValue(i * 0.25),
              note.empty() ? NullValue() : TextValue(note),
              TextValue(std::string(120, static_cast<char>('A' + i % 26)))},
             fate);
  }
  b.AddOrphanedLongValue("Note", TextValue(std::string(20000, 'z')));
  b.EndTable();
  b.BeginTable("Small");
  for (int i = 0; i < 50; ++i) b.Insert({TextValue("c" + std::to_string(i)), IntValue(i + 1)});
  b.EndTable();
  b.AddFreePages(40);
  b.Finish();
}

uint32_t Depth(Database& db, const TableDef& def, const RealIndexDef& ri) {
  uint32_t depth = 0;
  IndexWalkVisitor v;
  v.on_page = [&](const IndexPage&, uint32_t d) { depth = std::max(depth, d + 1); };
  WalkIndex(db.file(), ri, def.where(), v);
  return depth;
}

struct Case {
  JetVersion version;
  uint32_t key;
};

class CompactLargeTest : public ::testing::TestWithParam<Case> {};

TEST_P(CompactLargeTest, CompactsVerifiedSmallerAndStable) {
  ScratchDir dir;
  const std::string src = dir.File("big.mdb");
  BuildBig(src, GetParam().version, GetParam().key);
  const std::string copy = dir.File("copy.mdb");
  CompactStats stats;
  CompactOptions o;
  o.stats = &stats;
  // While the copy is written, the pages shown are the writer's: they only
  // grow, within the big table too, and end at their total.
  std::vector<CompactProgress> writing;
  o.progress = [&](const CompactProgress& p) {
    if (p.phase == Phase::kWrite && p.pages_total > 0) writing.push_back(p);
    if (p.phase == Phase::kCheck) {
      EXPECT_EQ(p.pages_total, 0u);
    }
  };
  ASSERT_NO_THROW(CompactDatabase(src, copy, o));
  EXPECT_LT(stats.pages_after, stats.pages_before);
  ASSERT_GT(writing.size(), 10u);
  for (size_t i = 1; i < writing.size(); ++i) {
    EXPECT_EQ(writing[i].pages_total, writing[0].pages_total);
    EXPECT_GE(writing[i].pages_done, writing[i - 1].pages_done);
  }
  EXPECT_EQ(writing.back().pages_done, writing.back().pages_total);
  EXPECT_EQ(writing.back().done, writing.back().total);
  EXPECT_LT(writing[writing.size() / 2].pages_done, writing.back().pages_total);

  {
    auto db = Database::Open(copy);
    const TableDef& big = db->Table(*db->FindTable("Big"));
    const UsageMap owned = ReadUsageMap(db->file(), big.owned_map, big.where());
    const uint32_t inline_span = (PageGeometry::For(GetParam().version).map_row_length() - 5) * 8;
    ASSERT_GT(owned.pages.size(), inline_span) << "the table should outgrow an inline map";
    EXPECT_EQ(owned.kind, UsageMapKind::kReference);
    EXPECT_EQ(owned.pages.back() - owned.pages.front() + 1, owned.pages.size());
    EXPECT_GE(Depth(*db, big, big.real_indexes[1]), 3u) << "expected a three-level index";
  }

  const std::string again = dir.File("again.mdb");
  ASSERT_NO_THROW(CompactDatabase(copy, again));
  EXPECT_TRUE(ReadAll(copy) == ReadAll(again));
}

INSTANTIATE_TEST_SUITE_P(Builds, CompactLargeTest,
                         ::testing::Values(Case{JetVersion::kJet4, 0}, Case{JetVersion::kJet3, 0},
                                           Case{JetVersion::kJet4, 0x1234ABCD}),
                         [](const auto& param_info) {
                           return std::string(param_info.param.version == JetVersion::kJet3
                                                  ? "Jet3"
                                                  : "Jet4") +
                                  (param_info.param.key ? "Encrypted" : "");
                         });

}  // namespace
}  // namespace tessmark::jet
