#include "db/usage_map.h"

#include "format/data_page.h"

namespace tessmark::jet {

namespace {

void CollectBits(Bytes bitmap, uint64_t first, uint32_t page_count, UsageMap& map) {
  for (size_t i = 0; i < bitmap.size(); ++i) {
    uint8_t byte = bitmap[i];
    while (byte != 0) {
      const int bit = __builtin_ctz(byte);
      byte = static_cast<uint8_t>(byte & (byte - 1));
      const uint64_t page = first + i * 8 + static_cast<uint64_t>(bit);
      if (page >= page_count) {
        ++map.beyond_file;
        continue;
      }
      map.pages.push_back(static_cast<uint32_t>(page));
    }
  }
}

}  // namespace

UsageMap ReadUsageMap(PageFile& file, RowPointer pointer, const Location& where) {
  const Format& f = Format::For(file.version());
  RowRef ref = ReadRow(file, pointer, where);
  const Location at = where.WithRow(pointer.page, pointer.row);
  if (ref.slot().deleted()) ThrowDamaged(at, "the usage map row is deleted");
  ByteView row(ref.bytes(), at);
  UsageMap map;
  map.row = pointer;
  const uint8_t kind = row.U8(0);
  if (kind == kMapInline) {
    map.kind = UsageMapKind::kInline;
    map.start_page = row.U32(kMapRowStartPage);
    map.bitmap_bytes = static_cast<uint32_t>(row.size() - kMapRowBitmap);
    map.range_first = map.start_page;
    map.range_span = static_cast<uint64_t>(map.bitmap_bytes) * 8;
    CollectBits(row.Sub(kMapRowBitmap, map.bitmap_bytes), map.start_page, file.page_count(), map);
  } else if (kind == kMapReference) {
    map.kind = UsageMapKind::kReference;
    const uint32_t bits = f.map_page_bits();
    const size_t slots = (row.size() - kMapRowPages) / 4;
    map.range_first = 0;
    map.range_span = static_cast<uint64_t>(slots) * bits;
    for (size_t k = 0; k < slots; ++k) {
      const uint32_t map_page = row.U32(kMapRowPages + 4 * k);
      if (map_page == 0) continue;
      PageRef p = file.Get(map_page, at);
      if (p->type() != kPageUsageMap) {
        ThrowDamaged(at, "page " + std::to_string(map_page) +
                             " should be a usage map page but has page type " +
                             std::to_string(p->type()));
      }
      map.bitmap_pages.push_back(map_page);
      CollectBits(Bytes(p->data).subspan(kMapPageBitmap), static_cast<uint64_t>(k) * bits,
                  file.page_count(), map);
    }
  } else {
    ThrowDamaged(at, "the usage map row has the unknown kind " + std::to_string(kind));
  }
  return map;
}

}  // namespace tessmark::jet
