// The checker's long-value rules on a real catalog changed by hand: a
// long-value row belongs to one value, and rows no value refers to are
// reported as leaked space. And on builder-made memos of the three forms,
// the fields the other readers would read in different ways: a declared
// length that disagrees with the data is damage, whichever form it has.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "build/database_builder.h"
#include "check/checker.h"
#include "db/database.h"
#include "db/long_value.h"
#include "db/row.h"
#include "db/value.h"
#include "format/data_page.h"
#include "tessmark/compact.h"
#include "tests/engine/builder_test_support.h"
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

// Memos of each form in a builder-made file, and where their fields lie.
class LongValueForms : public ::testing::TestWithParam<JetVersion> {
 protected:
  void SetUp() override {
    const std::string path = (dir_.path() / "notes.mdb").string();
    {
      BuildOptions options;
      options.version = GetParam();
      DatabaseBuilder b(path, options);
      TableDecl t;
      t.name = "Notes";
      ColumnDecl n;
      n.name = "N";
      ColumnDecl note;
      note.name = "Note";
      note.type = ColumnType::kMemo;
      t.columns = {n, note};
      b.AddTable(t);
      b.BeginTable("Notes");
      for (size_t length : {20u, 300u, 9000u})
        b.Insert({IntValue(static_cast<int64_t>(length)), TextValue(std::string(length, 'n'))});
      b.EndTable();
      b.Finish();
    }
    image_ = testing::ReadWholeFile(path);
    db_ = Database::Open(path);
    const TableDef& def = db_->Table(*db_->FindTable("Notes"));
    const size_t pos = static_cast<size_t>(def.FindColumn("Note") - def.columns.data());
    const uint32_t page_size = db_->format().page_size;
    db_->ForEachRow(def, [&](const TableRow& row) {
      const DecodedRow d = DecodeRow(def, db_->format(), row.bytes, Location{});
      const LongValueField lv = ParseLongValueField(d.FieldBytes(row.bytes, pos), Location{});
      const size_t at = size_t{row.data.page} * page_size + row.page->slots[row.data.row].offset +
                        d.fields[pos].offset;
      fields_[lv.form] = at;
      data_page_ = row.data.page;
    });
    ASSERT_EQ(fields_.size(), 3u) << "one memo of each form";
  }

  uint8_t* FieldAt(LongValueForm form) { return image_.data() + fields_.at(form); }

  testing::TempDir dir_;
  std::vector<uint8_t> image_;
  std::unique_ptr<Database> db_;
  std::map<LongValueForm, size_t> fields_;  // file offset of each form's field
  uint32_t data_page_ = 0;
};

TEST_P(LongValueForms, LengthsThatDisagreeWithTheDataAreDamage) {
  EXPECT_TRUE(CheckDatabase(*db_).sound());
  // Where the declared length and the data disagree, the readers part ways
  // (mdbtools takes the data, Jackcess and mdb-reader the length, and they
  // cut a chain at different rows), so no reading is guessed.
  struct Case {
    const char* what;
    LongValueForm form;
    int delta;          // added to the declared length
    uint8_t set_flags;  // ORed into the flags byte
    const char* finding;
  };
  const Case cases[] = {
      {"inline data longer than declared", LongValueForm::kInline, -1, 0,
       "the inline long value declares"},
      {"single row longer than declared", LongValueForm::kSingleRow, -1, 0, "but its row holds"},
      {"single row shorter than declared", LongValueForm::kSingleRow, +1, 0, "but its row holds"},
      {"chain holding more than declared", LongValueForm::kChain, -1, 0,
       "holds more than the declared"},
      {"chain holding less than declared", LongValueForm::kChain, +1, 0, "instead of the declared"},
      {"both form bits set", LongValueForm::kSingleRow, 0, 0xC0, "unknown form 0xC0"},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> original = image_;
    uint8_t* f = FieldAt(c.form);
    const uint32_t length =
        static_cast<uint32_t>(f[0] | (f[1] << 8) | (f[2] << 16)) + static_cast<uint32_t>(c.delta);
    f[0] = static_cast<uint8_t>(length);
    f[1] = static_cast<uint8_t>(length >> 8);
    f[2] = static_cast<uint8_t>(length >> 16);
    f[3] = static_cast<uint8_t>(f[3] | c.set_flags);
    auto db = Database::Open(dir_.Write("case.mdb", image_).string());
    const CheckReport report = CheckDatabase(*db);
    EXPECT_TRUE(Has(report, Severity::kError, c.finding))
        << c.what << ": " << (report.findings.empty() ? "no finding" : report.findings[0].Text());
    image_ = original;
  }
}

TEST_P(LongValueForms, ValueRowsLieOnLongValuePagesOnly) {
  // Point the single-row memo at row 0 of the table's own data page.
  uint8_t* f = FieldAt(LongValueForm::kSingleRow);
  f[4] = 0;
  f[5] = static_cast<uint8_t>(data_page_);
  f[6] = static_cast<uint8_t>(data_page_ >> 8);
  f[7] = static_cast<uint8_t>(data_page_ >> 16);
  auto db = Database::Open(dir_.Write("elsewhere.mdb", image_).string());
  EXPECT_TRUE(Has(CheckDatabase(*db), Severity::kError, "the row lies on a page owned by"));
}

TEST_P(LongValueForms, EmptyFieldIsAnEmptyValueNotNull) {
  // A memo whose variable data is empty (no 12-byte field) reads as an
  // empty text, as mdbtools has it (Jackcess says NULL): the null mask
  // says the value is there.
  const TableDef& def = db_->Table(*db_->FindTable("Notes"));
  Field empty;
  empty.is_null = false;
  const Value memo = DecodeValue(*def.FindColumn("Note"), db_->format(), empty, Bytes{},
                                 db_->long_values(), Location{});
  EXPECT_EQ(memo.kind, Value::Kind::kText);
  EXPECT_EQ(memo.text, "");
}

// The definition of `def` as the desktop product leaves it when `column` is
// deleted: its block and name gone and the column count one less, while
// the maximum column count, the variable slots, the rows and the column's
// long-value map entry stay.
std::vector<uint8_t> WithoutColumn(const TableDef& def, const Format& f, const ColumnDef& column) {
  EXPECT_EQ(def.pages.size(), 1u);
  std::vector<uint8_t> s(def.stream.begin(), def.stream.begin() + def.declared_length);
  const size_t block = column.block_offset;
  size_t name = def.columns.back().block_offset + f.column_block, name_size = 0;
  for (const ColumnDef& c : def.columns) {
    const size_t size =
        f.jet3() ? 1u + s[name] : 2u + static_cast<size_t>(s[name] | s[name + 1] << 8);
    if (&c == &column) {
      name_size = size;
      break;
    }
    name += size;
  }
  s.erase(s.begin() + static_cast<std::ptrdiff_t>(name),
          s.begin() + static_cast<std::ptrdiff_t>(name + name_size));
  s.erase(s.begin() + static_cast<std::ptrdiff_t>(block),
          s.begin() + static_cast<std::ptrdiff_t>(block + f.column_block));
  const uint32_t removed = static_cast<uint32_t>(def.declared_length - s.size());
  const uint32_t length = static_cast<uint32_t>(s.size());
  std::memcpy(s.data() + 8, &length, 4);
  --s[f.tdef_num_cols];
  if (!f.jet3()) {
    const uint16_t free = static_cast<uint16_t>(static_cast<uint32_t>(s[2] | s[3] << 8) + removed);
    s[2] = static_cast<uint8_t>(free);
    s[3] = static_cast<uint8_t>(free >> 8);
  }
  s.resize(f.page_size, 0);
  return s;
}

TEST_P(LongValueForms, MapOfADeletedColumnIsLeakedSpaceNotDamage) {
  const TableDef& def = db_->Table(*db_->FindTable("Notes"));
  const Format& f = db_->format();
  const std::vector<uint8_t> tdef = WithoutColumn(def, f, *def.FindColumn("Note"));
  std::copy(tdef.begin(), tdef.end(), image_.begin() + size_t{def.page} * f.page_size);
  const std::string path = dir_.Write("deleted.mdb", image_).string();
  {
    auto db = Database::Open(path);
    const CheckReport report = CheckDatabase(*db);
    EXPECT_EQ(report.errors, 0u) << report.findings.at(0).Text();
    EXPECT_TRUE(Has(report, Severity::kWarning, "rows are not referred to by any row"));
  }
  const std::string copy = (dir_.path() / "deleted-copy.mdb").string();
  ASSERT_NO_THROW(CompactDatabase(path, copy));
  {
    auto db = Database::Open(copy);
    const CheckReport report = CheckDatabase(*db);
    for (const Finding& finding : report.findings) ADD_FAILURE() << finding.Text();
    const auto rows = builder_test::ReadRows(*db, "Notes");
    EXPECT_EQ(rows.size(), 3u);
    for (int64_t n : {20, 300, 9000}) EXPECT_EQ(rows.count(n), 1u) << n;
  }
  // The entry naming a column that is there and holds no long values is
  // damage.
  const uint16_t n = def.FindColumn("N")->number;
  const size_t entry =
      def.long_value_maps.at(0).offset - (def.declared_length - LoadU32(tdef.data() + 8));
  image_[size_t{def.page} * f.page_size + entry] = static_cast<uint8_t>(n);
  image_[size_t{def.page} * f.page_size + entry + 1] = static_cast<uint8_t>(n >> 8);
  auto db = Database::Open(dir_.Write("not-a-memo.mdb", image_).string());
  EXPECT_TRUE(Has(CheckDatabase(*db), Severity::kError, "is not a memo or OLE column"));
}

INSTANTIATE_TEST_SUITE_P(Versions, LongValueForms,
                         ::testing::Values(JetVersion::kJet3, JetVersion::kJet4),
                         [](const ::testing::TestParamInfo<JetVersion>& p) {
                           return p.param == JetVersion::kJet3 ? "Jet3" : "Jet4";
                         });

}  // namespace
}  // namespace tessmark::jet
