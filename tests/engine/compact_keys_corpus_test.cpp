// Key encoders against the keys the desktop product wrote: every entry of
// every sample index whose columns can be encoded (numbers, dates,
// booleans, GUIDs, NULLs, text of letters, digits and spaces) is rebuilt
// from the row it points at and must equal the stored key byte for byte.
#include <gtest/gtest.h>

#include <algorithm>

#include "db/database.h"
#include "db/index_page.h"
#include "db/row.h"
#include "db/table_rows.h"
#include "db/value.h"
#include "format/data_page.h"
#include "format/index_key.h"
#include "tests/engine/compact_test_support.h"

namespace tessmark::jet {
namespace {

using namespace compact_test;
namespace ik = index_key;

// Appends the key segment of one column; false when it cannot be encoded.
bool AppendSegment(ik::Key& key, const ColumnDef& col, const Value& v, bool desc, bool jet3) {
  if (v.is_null() && !col.boolean()) {
    ik::AppendNull(key, desc);
    return true;
  }
  switch (col.column_type()) {
    case ColumnType::kBoolean:
      ik::AppendBoolean(key, v.boolean, desc);
      return true;
    case ColumnType::kByte:
      ik::AppendByte(key, static_cast<uint8_t>(v.integer), desc);
      return true;
    case ColumnType::kInteger:
      ik::AppendInteger(key, static_cast<int16_t>(v.integer), desc);
      return true;
    case ColumnType::kLong:
      ik::AppendLong(key, static_cast<int32_t>(v.integer), desc);
      return true;
    case ColumnType::kCurrency:
      ik::AppendCurrency(key, v.integer, desc);
      return true;
    case ColumnType::kSingle:
      ik::AppendSingle(key, static_cast<float>(v.real), desc);
      return true;
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      ik::AppendDouble(key, v.real, desc);
      return true;
    case ColumnType::kGuid:
      if (v.bytes.size() != 16) return false;
      ik::AppendGuid(key, std::span<const uint8_t, 16>(v.bytes.data(), 16), desc);
      return true;
    case ColumnType::kText:
      return ik::AppendSimpleText(
          key, v.text, jet3 ? ik::TextCollation::kGeneral97 : ik::TextCollation::kGeneralLegacy,
          desc);
    default:
      return false;
  }
}

TEST(IndexKeyCorpusTest, EncodersReproduceTheStoredKeys) {
  TESSMARK_REQUIRE_CORPUS();
  uint64_t compared = 0, text_keys = 0, descending = 0, nulls = 0, skipped = 0, mismatches = 0;
  for (const fs::path& file : testing::CorpusFiles()) {
    auto db = Database::Open(file.string());
    const bool jet3 = db->header().jet3();
    for (const CatalogObject* t : db->Tables()) {
      const TableDef& def = db->Table(*t);
      for (const RealIndexDef& ri : def.real_indexes) {
        IndexWalkVisitor v;
        v.on_leaf_entry = [&](const IndexEntry& e) {
          const Location at = def.where();
          RowRef ref = ReadRow(db->file(), e.row, at, &def.page);
          if (ref.slot().moved_pointer()) ref = FollowMovedRow(db->file(), def, ref, at);
          const DecodedRow row = DecodeRow(def, db->format(), ref.bytes(), at);
          ik::Key key;
          bool has_text = false, has_desc = false, has_null = false;
          for (const IndexColumn& ic : ri.columns) {
            size_t pos = 0;
            while (def.columns[pos].number != ic.column_number) ++pos;
            const ColumnDef& col = def.columns[pos];
            const Value value =
                DecodeValue(col, db->format(), row.fields[pos], ref.bytes(), db->long_values(), at);
            if (!AppendSegment(key, col, value, !ic.ascending, jet3)) {
              ++skipped;
              return;
            }
            has_text |= col.column_type() == ColumnType::kText;
            has_desc |= !ic.ascending;
            has_null |= value.is_null();
          }
          ++compared;
          text_keys += has_text;
          descending += has_desc;
          nulls += has_null;
          if (!std::ranges::equal(key, e.key)) {
            ++mismatches;
            ADD_FAILURE() << file.filename() << " table " << t->name << " index " << ri.number
                          << ": key differs";
          }
        };
        WalkIndex(db->file(), ri, def.where(), v);
      }
    }
  }
  EXPECT_EQ(mismatches, 0u);
  // The samples hold thousands of such keys; make sure they were reached.
  EXPECT_GT(compared, 5000u) << skipped << " skipped";
  EXPECT_GT(text_keys, 1000u);
  EXPECT_GT(descending, 100u);
  EXPECT_GT(nulls, 10u);
}

}  // namespace
}  // namespace tessmark::jet
