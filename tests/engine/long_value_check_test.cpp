// The checker's long-value rules on a real catalog changed by hand: a
// long-value row belongs to one value, and rows no value refers to are
// reported as leaked space.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/checker.h"
#include "engine/data_page.h"
#include "engine/database.h"
#include "engine/long_value.h"
#include "engine/row.h"
#include "tests/support/corpus.h"

namespace tessmark::jet {
namespace {

using Image = std::vector<uint8_t>;

// Where a row's long-value field lies in the file.
struct FieldSpot {
  size_t field_offset = 0;  // file offset of the 12-byte field
  size_t mask_byte = 0;     // file offset of the null-mask byte of the column
  uint8_t mask_bit = 0;
};

class LongValueCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = testing::SharedDir() / "corpus/jet4/testV2000.mdb";
    if (!std::filesystem::exists(path_)) GTEST_SKIP() << testing::CorpusMissingMessage();
    image_ = testing::ReadWholeFile(path_);
    db_ = Database::Open(path_.string());
    const TableDef& def = db_->catalog_table();
    const ColumnDef* column = def.FindColumn("LvProp");
    ASSERT_NE(column, nullptr);
    const size_t pos = static_cast<size_t>(column - def.columns.data());
    db_->ForEachRow(def, [&](const TableRow& row) {
      const DecodedRow d = DecodeRow(def, kJet4Format, row.bytes, Location{});
      const Field& f = d.fields[pos];
      if (f.is_null || f.length != kLongValueFieldSize) return;  // inline values are longer
      const size_t row_start = size_t{row.data.page} * 4096 + row.page->slots[row.data.row].offset;
      FieldSpot spot;
      spot.field_offset = row_start + f.offset;
      spot.mask_byte = row_start + row.bytes.size() - (d.num_cols + 7u) / 8u + column->number / 8;
      spot.mask_bit = static_cast<uint8_t>(1u << (column->number % 8));
      spots_.push_back(spot);
    });
    ASSERT_GE(spots_.size(), 2u) << "the catalog holds long values stored outside their rows";
  }

  CheckReport CheckImage(const std::string& name) {
    auto db = Database::Open(dir_.Write(name, image_).string());
    return CheckDatabase(*db);
  }

  std::filesystem::path path_;
  Image image_;
  std::unique_ptr<Database> db_;
  std::vector<FieldSpot> spots_;
  testing::TempDir dir_;
};

bool Has(const CheckReport& r, Severity s, const std::string& text) {
  return std::any_of(r.findings.begin(), r.findings.end(), [&](const Finding& f) {
    return f.severity == s && f.message.find(text) != std::string::npos;
  });
}

TEST_F(LongValueCheck, TwoValuesSharingOneRowAreDamage) {
  std::memcpy(image_.data() + spots_[1].field_offset, image_.data() + spots_[0].field_offset,
              kLongValueFieldSize);
  const CheckReport report = CheckImage("shared.mdb");
  EXPECT_TRUE(Has(report, Severity::kError, "two long values share a long-value row"));
  EXPECT_TRUE(Has(report, Severity::kWarning, "not referred to by any row"))
      << "the row the second value lost is now unused";
}

TEST_F(LongValueCheck, RowsNoValueRefersToAreLeakedSpace) {
  image_[spots_[0].mask_byte] =
      static_cast<uint8_t>(image_[spots_[0].mask_byte] & ~spots_[0].mask_bit);
  const CheckReport report = CheckImage("unused.mdb");
  EXPECT_TRUE(report.sound()) << (report.findings.empty() ? "" : report.findings[0].Text());
  EXPECT_TRUE(Has(report, Severity::kWarning, "1 long-value rows are not referred to by any row"));
}

}  // namespace
}  // namespace tessmark::jet
