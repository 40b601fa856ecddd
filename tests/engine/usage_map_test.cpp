// Usage maps in the reference form: a map row naming 0x05 bitmap pages.
#include "db/usage_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "check/checker.h"
#include "db/database.h"
#include "format/data_page.h"
#include "tests/support/corpus.h"

namespace tessmark::jet {
namespace {

using Image = std::vector<uint8_t>;

// Every row of every table, as text.
std::vector<std::string> Contents(Database& db) {
  std::vector<std::string> out;
  for (const CatalogObject* t : db.Tables()) {
    const TableDef& def = db.Table(*t);
    db.ForEachRow(def, [&](const TableRow& row) {
      std::string line = t->name;
      for (const Value& v : db.DecodeValues(def, row)) line += "|" + FormatValue(v);
      out.push_back(line);
    });
  }
  return out;
}

class ReferenceMap : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto path = testing::SharedDir() / "corpus/jet4/testV2000.mdb";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << testing::CorpusMissingMessage();
    image_ = testing::ReadWholeFile(path);
    original_ = Database::Open(path.string());
    const TableDef& def = original_->Table(*original_->FindTable("Table1"));
    map_row_ = def.owned_map;
    pages_ = ReadUsageMap(original_->file(), def.owned_map, Location{}).pages;
    ASSERT_FALSE(pages_.empty());
  }

  // Appends a 0x05 page holding the table's pages, marks it used in the
  // global map and turns the table's map row into a reference to it.
  void Promote() {
    const uint32_t ps = 4096;
    const auto bitmap_page = static_cast<uint32_t>(image_.size() / ps);
    Image page(ps, 0);
    page[0] = kPageUsageMap;
    page[1] = 1;
    for (uint32_t p : pages_)
      page[4 + p / 8] = static_cast<uint8_t>(page[4 + p / 8] | (1u << (p % 8)));
    image_.insert(image_.end(), page.begin(), page.end());

    const DataPage host =
        ParseDataPage(original_->file().Get(map_row_.page), kJet4Format, Location{});
    const RowSlot& slot = host.slots[map_row_.row];
    uint8_t* row = image_.data() + size_t{map_row_.page} * ps + slot.offset;
    std::memset(row, 0, slot.length());
    row[0] = 1;
    std::memcpy(row + 1, &bitmap_page, 4);

    const DataPage global = ParseDataPage(original_->file().Get(1), kJet4Format, Location{});
    uint8_t* bits = image_.data() + ps + global.slots[0].offset + 5;
    bits[bitmap_page / 8] =
        static_cast<uint8_t>(bits[bitmap_page / 8] & ~(1u << (bitmap_page % 8)));
    bitmap_page_ = bitmap_page;
  }

  Image image_;
  std::unique_ptr<Database> original_;
  RowPointer map_row_;
  std::vector<uint32_t> pages_;
  uint32_t bitmap_page_ = 0;
  testing::TempDir dir_;
};

TEST_F(ReferenceMap, ReadsTheSamePagesAndRowsAsTheInlineForm) {
  Promote();
  auto db = Database::Open(dir_.Write("ref.mdb", image_).string());
  const UsageMap map = ReadUsageMap(db->file(), map_row_, Location{});
  EXPECT_EQ(map.kind, UsageMapKind::kReference);
  EXPECT_EQ(map.pages, pages_);
  EXPECT_EQ(map.bitmap_pages, std::vector<uint32_t>{bitmap_page_});
  EXPECT_EQ(Contents(*db), Contents(*original_));
  const CheckReport report = CheckDatabase(*db);
  EXPECT_TRUE(report.sound()) << (report.findings.empty() ? "" : report.findings.front().Text());
}

TEST_F(ReferenceMap, BitmapPageSharedWithAnotherOwnerIsDamage) {
  Promote();
  // Let the bitmap page also stand in Table2's map: two owners.
  const TableDef& t2 = original_->Table(*original_->FindTable("Table2"));
  const DataPage host =
      ParseDataPage(original_->file().Get(t2.owned_map.page), kJet4Format, Location{});
  uint8_t* row =
      image_.data() + size_t{t2.owned_map.page} * 4096 + host.slots[t2.owned_map.row].offset;
  const uint32_t start = bitmap_page_ & ~7u;  // the row's 512 pages from here
  std::memcpy(row + 1, &start, 4);
  std::memset(row + 5, 0, 64);
  row[5] = static_cast<uint8_t>(1u << (bitmap_page_ % 8));
  auto db = Database::Open(dir_.Write("shared.mdb", image_).string());
  const CheckReport report = CheckDatabase(*db);
  EXPECT_FALSE(report.sound());
  EXPECT_TRUE(std::any_of(report.findings.begin(), report.findings.end(), [&](const Finding& f) {
    return f.message.find("used by both") != std::string::npos && f.where.page == bitmap_page_;
  })) << "the checker names the page with two owners";
  EXPECT_FALSE(report.data_intact());
}

TEST_F(ReferenceMap, MapsNoReaderCanReadAreDamage) {
  // A map of another kind: mdbtools falls back to scanning every page for
  // the table's owner field, Jackcess and mdb-reader give up, as we do.
  const DataPage host =
      ParseDataPage(original_->file().Get(map_row_.page), kJet4Format, Location{});
  const size_t map_row = size_t{map_row_.page} * 4096 + host.slots[map_row_.row].offset;
  struct Case {
    const char* what;
    std::function<void(Image&, uint32_t bitmap_page)> spoil;
  };
  const Case cases[] = {
      {"a slot naming a page of another type",
       [](Image& img, uint32_t bitmap_page) { img[size_t{bitmap_page} * 4096] = kPageData; }},
      {"a map of kind 2", [&](Image& img, uint32_t) { img[map_row] = 2; }},
  };
  const Image pristine = image_;
  for (const Case& c : cases) {
    image_ = pristine;
    Promote();
    c.spoil(image_, bitmap_page_);
    auto db = Database::Open(dir_.Write("spoilt.mdb", image_).string());
    try {
      ReadUsageMap(db->file(), map_row_, Location{});
      ADD_FAILURE() << c.what << ": no damage";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kDamaged) << c.what;
    }
    EXPECT_FALSE(CheckDatabase(*db).sound()) << c.what;
  }
}

TEST(GlobalMap, PageInUseMarkedFreeIsGlobalMapDamageOnly) {
  const auto path = testing::SharedDir() / "corpus/jet3/testV1997.mdb";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << testing::CorpusMissingMessage();
  Image img = testing::ReadWholeFile(path);
  std::unique_ptr<Database> original = Database::Open(path.string());
  const TableDef& def = original->Table(*original->FindTable("Table1"));
  const uint32_t page = def.pages.front();
  const DataPage global = ParseDataPage(original->file().Get(1), kJet3Format, Location{});
  uint8_t* bits = img.data() + 2048 + global.slots[0].offset + 5;  // start page 0
  bits[page / 8] = static_cast<uint8_t>(bits[page / 8] | (1u << (page % 8)));
  testing::TempDir dir;
  auto db = Database::Open(dir.Write("free.mdb", img).string());
  const CheckReport report = CheckDatabase(*db);
  EXPECT_FALSE(report.sound());
  EXPECT_TRUE(report.data_intact());
  ASSERT_FALSE(report.findings.empty());
  EXPECT_EQ(report.findings.front().area, FindingArea::kGlobalMap);
  EXPECT_EQ(report.findings.front().where.page, page);
}

}  // namespace
}  // namespace tessmark::jet
