// The shape of a compacted copy, table by table: data pages contiguous and
// free of moved or deleted rows, rows in primary-key order, every index
// with as many entries as before and true statistics, long values in their
// normal form, definitions as long as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "db/database.h"
#include "db/index_page.h"
#include "db/long_value.h"
#include "db/row.h"
#include "db/usage_map.h"
#include "format/data_page.h"
#include "tessmark/compact.h"
#include "tests/engine/compact_test_support.h"

namespace tessmark::jet {
namespace {

using namespace compact_test;

struct IndexFacts {
  uint64_t entries = 0;
  uint64_t distinct = 0;
  std::vector<RowPointer> rows;  // in index order
  bool has_nodes = false;
};

IndexFacts ReadIndex(Database& db, const TableDef& def, const RealIndexDef& ri) {
  IndexFacts facts;
  std::vector<uint8_t> prev;
  IndexWalkVisitor v;
  v.on_page = [&](const IndexPage& p, uint32_t) { facts.has_nodes |= !p.leaf; };
  v.on_leaf_entry = [&](const IndexEntry& e) {
    if (facts.entries == 0 || !std::ranges::equal(e.key, prev)) ++facts.distinct;
    prev.assign(e.key.begin(), e.key.end());
    ++facts.entries;
    facts.rows.push_back(e.row);
  };
  WalkIndex(db.file(), ri, def.where(), v);
  return facts;
}

struct SlotCensus {
  uint64_t moved = 0, deleted = 0;
};

SlotCensus CountSlots(Database& db, const TableDef& def, std::vector<uint32_t>* pages) {
  SlotCensus c;
  const UsageMap owned = ReadUsageMap(db.file(), def.owned_map, def.where());
  for (uint32_t p : owned.pages) {
    if (pages != nullptr) pages->push_back(p);
    const DataPage dp = ParseDataPage(db.file().Get(p), db.format(), def.where().WithPage(p));
    for (const RowSlot& s : dp.slots) {
      if (s.moved_pointer() || s.moved_target()) ++c.moved;
      if (s.deleted()) ++c.deleted;
    }
  }
  return c;
}

class CompactStructureTest : public ::testing::TestWithParam<fs::path> {};

TEST_P(CompactStructureTest, CopyIsDenseOrderedAndComplete) {
  TESSMARK_REQUIRE_CORPUS();
  ScratchDir dir;
  const std::string copy_path = dir.File("copy.mdb");
  const std::string source = PrivateCopy(dir, GetParam());
  ASSERT_NO_THROW(CompactDatabase(source, copy_path));
  auto src = Database::Open(source);
  auto copy = Database::Open(copy_path);
  const Format& f = copy->format();
  for (const CatalogObject* t : src->Tables()) {
    SCOPED_TRACE("table " + t->name);
    const TableDef& a = src->Table(*t);
    const CatalogObject* u = copy->FindTable(t->name);
    ASSERT_NE(u, nullptr);
    const TableDef& b = copy->Table(*u);

    EXPECT_EQ(a.pages.size(), b.pages.size()) << "definition pages";
    std::vector<uint32_t> pages;
    const SlotCensus census = CountSlots(*copy, b, &pages);
    EXPECT_EQ(census.moved, 0u) << "moved rows survived";
    EXPECT_EQ(census.deleted, 0u) << "deleted rows survived";
    if (!pages.empty()) {
      EXPECT_EQ(pages.back() - pages.front() + 1, pages.size()) << "gaps";
    }

    uint64_t rows = 0;
    RowPointer last{0, 0};
    bool physical_order = true;
    copy->ForEachRow(b, [&](const TableRow& r) {
      ++rows;
      if (rows > 1 && !(last < r.header)) physical_order = false;
      last = r.header;
      const DecodedRow d = DecodeRow(b, f, r.bytes, b.where());
      for (size_t c = 0; c < b.columns.size(); ++c) {
        if (!b.columns[c].long_value() || d.fields[c].is_null) continue;
        const LongValueField lv =
            ParseLongValueField(r.bytes.subspan(d.fields[c].offset, d.fields[c].length), b.where());
        if (lv.form == LongValueForm::kInline) continue;
        EXPECT_EQ(lv.form == LongValueForm::kChain, lv.length > f.lv_chain_row)
            << "long value of " << lv.length << " bytes not in its normal form";
        EXPECT_EQ(lv.stamp, 0u);
      }
    });
    EXPECT_TRUE(physical_order);
    EXPECT_EQ(b.row_count, rows);

    for (size_t i = 0; i < a.real_indexes.size(); ++i) {
      const IndexFacts x = ReadIndex(*src, a, a.real_indexes[i]);
      const IndexFacts y = ReadIndex(*copy, b, b.real_indexes[i]);
      EXPECT_EQ(x.entries, y.entries) << "index " << i;
      EXPECT_EQ(b.real_indexes[i].stat_entries, y.entries);
      EXPECT_EQ(b.real_indexes[i].stat_unique, y.distinct);
    }
    for (const LogicalIndexDef& li : b.logical_indexes) {
      if (!li.primary_key()) continue;
      const IndexFacts pk = ReadIndex(*copy, b, b.real_indexes[li.real_index]);
      EXPECT_TRUE(std::is_sorted(pk.rows.begin(), pk.rows.end())) << "rows not in key order";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Corpus, CompactStructureTest, ::testing::ValuesIn(testing::CorpusFiles()),
                         [](const auto& param_info) {
                           return testing::CorpusTestName(param_info.param);
                         });

// The corpus holds the cases the structure test is meant to catch; make
// sure they are there, so the test above cannot pass for want of them.
TEST(CompactStructureCorpusTest, SamplesHoldTheHardCases) {
  TESSMARK_REQUIRE_CORPUS();
  uint64_t moved = 0, deleted = 0, multi_page_tdefs = 0, no_pk = 0, nodes = 0, desc = 0,
           compound = 0, ignore_nulls = 0, fks = 0, deleted_columns = 0, jet3 = 0;
  for (const fs::path& file : testing::CorpusFiles()) {
    auto db = Database::Open(file.string());
    jet3 += db->header().jet3();
    for (const CatalogObject* t : db->Tables()) {
      const TableDef& d = db->Table(*t);
      const SlotCensus c = CountSlots(*db, d, nullptr);
      moved += c.moved;
      deleted += c.deleted;
      multi_page_tdefs += d.pages.size() > 1;
      bool pk = false;
      for (const LogicalIndexDef& li : d.logical_indexes) {
        pk |= li.primary_key();
        fks += li.foreign_key();
      }
      no_pk += !pk;
      deleted_columns += d.max_columns > d.columns.size();
      for (const RealIndexDef& ri : d.real_indexes) {
        compound += ri.columns.size() > 1;
        ignore_nulls += ri.ignore_nulls();
        for (const IndexColumn& ic : ri.columns) desc += !ic.ascending;
        nodes += ReadIndex(*db, d, ri).has_nodes;
      }
    }
  }
  EXPECT_GT(moved, 0u);
  EXPECT_GT(deleted, 0u);
  EXPECT_GT(multi_page_tdefs, 0u);
  EXPECT_GT(no_pk, 0u);
  EXPECT_GT(nodes, 0u);
  EXPECT_GT(desc, 0u);
  EXPECT_GT(compound, 0u);
  EXPECT_GT(ignore_nulls, 0u);
  EXPECT_GT(fks, 0u);
  EXPECT_GT(deleted_columns, 0u);
  EXPECT_GT(jet3, 0u);
}

}  // namespace
}  // namespace tessmark::jet
