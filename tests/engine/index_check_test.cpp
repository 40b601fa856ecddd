// The checker's index rules on real indexes changed by hand: unique and
// ascending keys, the rows an ignore-NULLs index may leave out, and index definitions that
// name a column or a physical index the table does not have.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "build/database_builder.h"
#include "check/checker.h"
#include "db/database.h"
#include "db/index_page.h"
#include "db/row.h"
#include "format/data_page.h"
#include "tests/support/corpus.h"

namespace tessmark::jet {
namespace {

using Image = std::vector<uint8_t>;

bool HasFinding(const CheckReport& report, const std::string& text) {
  return std::any_of(report.findings.begin(), report.findings.end(), [&](const Finding& f) {
    return f.severity == Severity::kError && f.message.find(text) != std::string::npos;
  });
}

// Indexes checked two at a time, on two threads, find what one at a time
// finds, in the same order (no page here is claimed twice).
void ExpectSameFindingsInParallel(Database& db, const CheckReport& one_at_a_time) {
  CheckOptions parallel;
  parallel.parallel_indexes = true;
  const CheckReport two_at_a_time = CheckDatabase(db, parallel);
  std::vector<std::string> a, b;
  for (const Finding& f : one_at_a_time.findings) a.push_back(f.Text());
  for (const Finding& f : two_at_a_time.findings) b.push_back(f.Text());
  EXPECT_EQ(a, b);
  EXPECT_EQ(one_at_a_time.errors, two_at_a_time.errors);
  EXPECT_EQ(one_at_a_time.warnings, two_at_a_time.warnings);
  EXPECT_EQ(one_at_a_time.stats.indexes, two_at_a_time.stats.indexes);
  EXPECT_EQ(one_at_a_time.stats.index_entries, two_at_a_time.stats.index_entries);
}

TEST(IndexCheck, RepeatedOrDescendingKeys) {
  const auto path = testing::SharedDir() / "corpus/jet3/testV1997.mdb";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << testing::CorpusMissingMessage();
  const Image pristine = testing::ReadWholeFile(path);
  auto db = Database::Open(path.string());
  const TableDef& catalog = db->catalog_table();
  const RealIndexDef* id_index = nullptr;
  for (const RealIndexDef& ri : catalog.real_indexes) {
    if (ri.unique() && ri.columns.size() == 1) id_index = &ri;
  }
  ASSERT_NE(id_index, nullptr);
  const IndexPage leaf =
      ParseIndexPage(db->file().Get(id_index->root_page), kJet3Format, Location{});
  ASSERT_TRUE(leaf.leaf);
  ASSERT_EQ(leaf.prefix_length, 0u);
  ASSERT_GE(leaf.entries.size(), 2u);
  // Entries are key (5 bytes) + row pointer (4).
  const size_t entry0 = size_t{id_index->root_page} * 2048 + kJet3Format.idx_first_entry;
  const size_t entry1 = entry0 + 9;
  const auto& key0 = leaf.entries[0].key;
  const auto& key1 = leaf.entries[1].key;
  struct Case {
    const char* what;
    bool swap;  // else entry 1 repeats the key of entry 0
    const char* finding;
  };
  const Case cases[] = {
      // Jet lets a unique index repeat a key only where a column is NULL.
      {"repeated key", false, "repeats the key of the entry before it in a unique index"},
      // Jackcess refuses a page whose entries do not ascend.
      {"keys in descending order", true, "index entry 1 is not greater than the entry before it"},
  };
  for (const Case& c : cases) {
    Image img = pristine;
    std::memcpy(img.data() + entry1, key0.data(), key0.size());
    if (c.swap) std::memcpy(img.data() + entry0, key1.data(), key1.size());
    testing::TempDir dir;
    auto damaged = Database::Open(dir.Write("keys.mdb", img).string());
    const CheckReport report = CheckDatabase(*damaged);
    EXPECT_TRUE(HasFinding(report, c.finding)) << c.what;
    ExpectSameFindingsInParallel(*damaged, report);
  }
}

TEST(IndexCheck, IgnoreNullsIndexMayOnlyLeaveOutRowsWithoutValues) {
  const auto path = testing::SharedDir() / "corpus/jet4/testIndexPropertiesV2000.mdb";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << testing::CorpusMissingMessage();
  auto db = Database::Open(path.string());
  EXPECT_TRUE(CheckDatabase(*db).sound()) << "the sample leaves rows out of ignore-NULLs indexes";

  // Give one of the left-out rows a value in the indexed column.
  const TableDef& def = db->Table(*db->FindTable("TableIgnoreNulls1"));
  const RealIndexDef* index = nullptr;
  for (const RealIndexDef& ri : def.real_indexes) {
    if (ri.ignore_nulls()) index = &ri;
  }
  ASSERT_NE(index, nullptr);
  std::vector<RowPointer> indexed;
  WalkIndex(db->file(), *index, Location{},
            IndexWalkVisitor{nullptr, [&](const IndexEntry& e) { indexed.push_back(e.row); }});
  std::optional<TableRow> left_out;
  std::vector<uint8_t> bytes;
  db->ForEachRow(def, [&](const TableRow& row) {
    if (!left_out && std::find(indexed.begin(), indexed.end(), row.header) == indexed.end()) {
      left_out = row;
      bytes.assign(row.bytes.begin(), row.bytes.end());
    }
  });
  ASSERT_TRUE(left_out.has_value());
  const DecodedRow d = DecodeRow(def, db->format(), bytes, Location{});
  const ColumnDef* column = def.ColumnByNumber(index->columns.front().column_number);
  ASSERT_NE(column, nullptr);
  const DataPage page = ParseDataPage(db->file().Get(left_out->data.page), kJet4Format, Location{});
  const uint32_t row_end = page.slots[left_out->data.row].end;
  const uint32_t mask_bytes = (d.num_cols + 7u) / 8u;
  ASSERT_LT(column->number, d.num_cols);
  Image img = testing::ReadWholeFile(path);
  uint8_t& mask =
      img[size_t{left_out->data.page} * 4096 + row_end - mask_bytes + column->number / 8];
  mask = static_cast<uint8_t>(mask | (1u << (column->number % 8)));
  testing::TempDir dir;
  auto damaged = Database::Open(dir.Write("ignore.mdb", img).string());
  const CheckReport report = CheckDatabase(*damaged);
  EXPECT_TRUE(HasFinding(report, "missing from the index although column " + column->name))
      << (report.findings.empty() ? "no findings" : report.findings.front().Text());
  ExpectSameFindingsInParallel(*damaged, report);
}

TEST(IndexCheck, DefinitionsNamingWhatTheTableLacks) {
  // Jackcess cannot open such a table and mdbtools drops the column from
  // the key; the index can be neither checked nor rebuilt, so it is damage.
  for (const JetVersion version : {JetVersion::kJet3, JetVersion::kJet4}) {
    testing::TempDir dir;
    const std::string path = (dir.path() / "people.mdb").string();
    {
      BuildOptions options;
      options.version = version;
      DatabaseBuilder b(path, options);
      TableDecl t;
      t.name = "People";
      ColumnDecl id;
      id.name = "ID";
      ColumnDecl name;
      name.name = "Name";
      name.type = ColumnType::kText;
      name.length = 40;
      t.columns = {id, name};
      IndexDecl pk;
      pk.name = "PrimaryKey";
      pk.primary = true;
      pk.columns = {{"ID", true}};
      t.indexes = {pk};
      b.AddTable(t);
      b.BeginTable("People");
      for (int i = 1; i <= 5; ++i)
        b.Insert({IntValue(i), TextValue("Person " + std::to_string(i))});
      b.EndTable();
      b.Finish();
    }
    const Image pristine = testing::ReadWholeFile(path);
    auto db = Database::Open(path);
    ASSERT_TRUE(CheckDatabase(*db).sound());
    const TableDef& def = db->Table(*db->FindTable("People"));
    ASSERT_EQ(def.pages.size(), 1u);
    const bool jet4 = version == JetVersion::kJet4;
    const size_t tdef = size_t{def.page} * db->format().page_size;
    struct Case {
      const char* what;
      size_t at;  // file offset of the 16-bit field changed to 77
      std::string finding;
    };
    const Case cases[] = {
        {"an index column", tdef + def.real_indexes.at(0).block_offset + (jet4 ? 4 : 0),
         "the index names column number 77, which the table does not have"},
        {"a physical index", tdef + def.logical_indexes.at(0).block_offset + (jet4 ? 4 : 0) + 4,
         "the index refers to physical index 77, which the table does not have"},
    };
    for (const Case& c : cases) {
      Image img = pristine;
      img[c.at] = 77;
      img[c.at + 1] = 0;
      auto damaged = Database::Open(dir.Write("spoilt.mdb", img).string());
      EXPECT_TRUE(HasFinding(CheckDatabase(*damaged), c.finding))
          << c.what << (jet4 ? " (Jet 4)" : " (Jet 3)");
    }
  }
}

}  // namespace
}  // namespace tessmark::jet
