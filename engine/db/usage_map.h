// Usage maps: rows on data pages that describe a set of pages, either
// inline (start page + bitmap) or by reference (slots naming 0x05 bitmap
// pages). Page 1 row 0 is the global map, where a set bit means "free".
#pragma once

#include <cstdint>
#include <vector>

#include "format/format.h"
#include "format/page_file.h"

namespace tessmark::jet {

enum class UsageMapKind : uint8_t { kInline = 0, kReference = 1 };

struct UsageMap {
  RowPointer row;  // where the map row lies
  UsageMapKind kind = UsageMapKind::kInline;
  uint32_t start_page = 0;             // inline maps
  uint32_t bitmap_bytes = 0;           // inline maps: row length - 5
  std::vector<uint32_t> bitmap_pages;  // reference maps: the 0x05 pages, in slot order
  // Pages inside the file whose bit is set, ascending.
  std::vector<uint32_t> pages;
  // Set bits for pages past the end of the file (the global map sets the
  // bit of every page beyond it); counted, not listed, so a damaged map
  // cannot make the list larger than the file.
  uint64_t beyond_file = 0;
  // The range of page numbers the map can describe: [first, first + span).
  uint64_t range_first = 0;
  uint64_t range_span = 0;

  bool Covers(uint32_t page) const {
    return page >= range_first && page - range_first < range_span;
  }
};

// Reads the map row `pointer`. Throws 3049 at `where` when the row cannot
// be a map (unknown kind, too short) or names a 0x05 page that is not one.
UsageMap ReadUsageMap(PageFile& file, RowPointer pointer, const Location& where);

// The global usage map (page 1, row 0).
inline UsageMap ReadGlobalUsageMap(PageFile& file) {
  return ReadUsageMap(file, RowPointer{1, 0}, Location::Page(1));
}

}  // namespace tessmark::jet
