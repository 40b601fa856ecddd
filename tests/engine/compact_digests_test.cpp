// The row digests the verification takes while a structure check reads the
// rows, or by reading the rows itself, must cover each live row of each
// table exactly once (moved rows at their target, never twice, deleted rows
// never), or the comparison of a compacted copy with its source would prove
// nothing about the rows missed.
#include <gtest/gtest.h>

#include <optional>

#include "check/checker.h"
#include "compact/compact_verify.h"
#include "db/database.h"
#include "db/long_value.h"
#include "format/data_page.h"
#include "tests/support/corpus.h"

namespace tessmark::jet {
namespace {

using testing::CorpusFiles;

TEST(CheckDigests, EveryLiveRowOfEverySampleIsDigestedOnce) {
  const auto files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << testing::CorpusMissingMessage();
  int tables_with_rows = 0;
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    std::unique_ptr<Database> db = Database::Open(file.string());
    TableDigests digests(*db, true);
    CheckOptions options;
    options.on_row = digests.RowHook();
    const CheckReport report = CheckDatabase(*db, options);
    if (!report.sound()) continue;  // the damaged sample: nothing is promised
    // The digests a reader of its own takes (the copy's, in a compaction)
    // must come out the same.
    TableDigests read_alone(*db, true);
    read_alone.AddEveryRow();
    for (const CatalogObject* object : db->Tables()) {
      const TableDef& def = db->Table(*object);
      const uint64_t rows = db->ForEachRow(def, [](const TableRow&) {});
      const RowDigests* got = digests.Find(def.page);
      EXPECT_EQ(got ? got->count : 0, rows) << object->name;
      const RowDigests* alone = read_alone.Find(def.page);
      ASSERT_EQ(alone != nullptr, got != nullptr) << object->name;
      if (got != nullptr) {
        EXPECT_TRUE(*alone == *got) << object->name;
      }
      tables_with_rows += rows > 0;
    }
  }
  EXPECT_GT(tables_with_rows, 100);
}

TEST(CheckDigests, TablesHoldingIdsAreLeftForLaterWhenAsked) {
  const auto files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << testing::CorpusMissingMessage();
  std::unique_ptr<Database> db = Database::Open(files.front().string());
  TableDigests digests(*db, false);
  CheckOptions options;
  options.on_row = digests.RowHook();
  ASSERT_TRUE(CheckDatabase(*db, options).sound());
  const CatalogObject* catalog = db->FindTable("MSysObjects");
  ASSERT_NE(catalog, nullptr);
  // The catalog's Id column names tables, whose Ids a compaction changes.
  EXPECT_EQ(digests.Find(db->Table(*catalog).page), nullptr);
}

// A row's digest reads its long values kept outside the row in full: a
// value changed where it lies must change its table's digest, though the
// row's own bytes stay as they were.
TEST(CheckDigests, ChangedLongValueChangesTheDigest) {
  const auto files = CorpusFiles();
  if (files.empty()) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  for (const auto& file : files) {
    std::unique_ptr<Database> db = Database::Open(file.string());
    // The file offset of the last byte of an out-of-line long value's
    // first row, and its table's definition page.
    std::optional<std::pair<uint64_t, uint32_t>> target;
    for (const CatalogObject* object : db->Tables()) {
      const TableDef& def = db->Table(*object);
      db->ForEachRow(def, [&](const TableRow& row) {
        const DecodedRow d = DecodeRow(def, db->format(), row.bytes, def.where());
        for (size_t c = 0; c < def.columns.size() && !target; ++c) {
          if (!def.columns[c].long_value() || d.fields[c].is_null || d.fields[c].length < 12)
            continue;
          const LongValueField lv = ParseLongValueField(d.FieldBytes(row.bytes, c), def.where());
          if (lv.form == LongValueForm::kInline || lv.length == 0) continue;
          const RowRef at = ReadRow(db->file(), lv.first, def.where());
          target.emplace(uint64_t{lv.first.page} * db->format().page_size + at.slot().end - 1,
                         def.page);
        }
      });
      if (target) break;
    }
    if (!target) continue;
    SCOPED_TRACE(file.filename().string());
    std::vector<uint8_t> bytes = testing::ReadWholeFile(file);
    bytes[target->first] ^= 0x01;
    std::unique_ptr<Database> changed = Database::Open(dir.Write("changed.mdb", bytes).string());
    TableDigests before(*db, true), after(*changed, true);
    before.AddEveryRow();
    after.AddEveryRow();
    ASSERT_NE(before.Find(target->second), nullptr);
    ASSERT_NE(after.Find(target->second), nullptr);
    EXPECT_EQ(before.Find(target->second)->count, after.Find(target->second)->count);
    EXPECT_FALSE(*before.Find(target->second) == *after.Find(target->second));
    return;
  }
  FAIL() << "no sample holds a long value outside its row";
}

}  // namespace
}  // namespace tessmark::jet
