// Data pages (type 0x01): the page header, the row-offset slots with their
// flags, and where each row's bytes lie. Table rows, long-value rows and
// usage-map rows all live on data pages.
#pragma once

#include <cstdint>
#include <vector>

#include "format/format.h"
#include "format/page_file.h"

namespace tessmark::jet {

enum RowSlotFlags : uint16_t {
  kSlotOffsetMask = 0x1FFF,
  kSlotMoved = 0x4000,    // alone: the row's data moved; bytes 0..3 point at it
  kSlotDeleted = 0x8000,  // with 0x4000: deleted; alone: target of a moved row
};

struct RowSlot {
  uint16_t raw = 0;
  uint32_t offset = 0;  // start of the row in the page
  uint32_t end = 0;     // one past its last byte

  uint16_t flags() const { return raw & 0xE000; }
  uint32_t length() const { return end - offset; }
  bool deleted() const { return (raw & 0xC000) == 0xC000; }
  bool moved_pointer() const { return (raw & 0xC000) == kSlotMoved; }
  bool moved_target() const { return (raw & 0xC000) == kSlotDeleted; }
  bool plain() const { return (raw & 0xC000) == 0; }
};

struct DataPage {
  PageRef page;
  uint16_t free_space = 0;  // as stored
  uint32_t owner = 0;       // TDEF page, kLongValueOwner, 0 for usage-map hosts
  uint32_t stamp = 0;       // Jet 4: bytes 8..11
  std::vector<RowSlot> slots;

  uint32_t number() const { return page->number; }
  bool long_values() const { return owner == kLongValueOwner; }
  // Bytes of row `r` (must be < slots.size()).
  Bytes RowBytes(uint32_t r) const {
    return Bytes(page->data).subspan(slots[r].offset, slots[r].length());
  }
  // The free space the slots leave, by the formula Access writes.
  uint32_t ComputedFreeSpace(const Format& format) const;
};

// Parses a data page. Throws 3049 at `where` when the page is not a data
// page, the slot table runs past the page or a slot's offset lies outside
// the page or before the slot table, or offsets are out of order.
DataPage ParseDataPage(PageRef page, const Format& format, const Location& where);
// The same into `into`, whose slot storage is reused.
void ParseDataPage(PageRef page, const Format& format, const Location& where, DataPage& into);

// Reads a row by pointer: parses its page and checks the row number. The
// page must be a data page with the expected owner (any owner when
// `expected_owner` is null).
struct RowRef {
  DataPage page;
  uint32_t row = 0;
  const RowSlot& slot() const { return page.slots[row]; }
  Bytes bytes() const { return page.RowBytes(row); }
};
RowRef ReadRow(PageFile& file, RowPointer pointer, const Location& where,
               const uint32_t* expected_owner = nullptr);
// What ReadRow checks of a parsed page: it is owned by `*expected_owner`
// (when given) and has a row `row`. Throws 3049 at `at`.
void CheckRowPlace(const DataPage& page, uint32_t row, const Location& at,
                   const uint32_t* expected_owner);

}  // namespace tessmark::jet
