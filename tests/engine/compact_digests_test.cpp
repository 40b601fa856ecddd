// The row digests the verification takes while a structure check reads the
// rows, or by reading the rows itself, must cover each live row of each
// table exactly once (moved rows at their target, never twice, deleted rows
// never), or the comparison of a compacted copy with its source would prove
// nothing about the rows missed.
#include <gtest/gtest.h>

#include "check/checker.h"
#include "compact/compact_verify.h"
#include "db/database.h"
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

}  // namespace
}  // namespace tessmark::jet
