#include "format/data_page.h"

#include <optional>

namespace tessmark::jet {

uint32_t DataPage::ComputedFreeSpace(const Format& format) const {
  uint32_t lowest = format.page_size;
  for (const RowSlot& s : slots) lowest = std::min(lowest, s.offset);
  const uint32_t used = format.data_header_size() + 2 * static_cast<uint32_t>(slots.size());
  return lowest > used ? lowest - used : 0;
}

DataPage ParseDataPage(PageRef page, const Format& format, const Location& where) {
  DataPage d;
  ParseDataPage(std::move(page), format, where, d);
  return d;
}

void ParseDataPage(PageRef page, const Format& format, const Location& where, DataPage& d) {
  // Pages are parsed by the hundred thousand: the place is copied only
  // when it lacks the page.
  std::optional<Location> with_page;
  const Location& at = where.page ? where : with_page.emplace(where.WithPage(page->number));
  // Until the page is parsed whole, `d` holds none.
  d.page = nullptr;
  const Page* const p = page.get();
  ByteView v = p->View(at);
  if (v.U8(0) != kPageData) {
    ThrowDamaged(at, "page " + std::to_string(p->number) +
                         " should be a data page but has page type " + std::to_string(v.U8(0)));
  }
  d.free_space = v.U16(kPageFreeSpace);
  d.owner = v.U32(kPageOwner);
  d.stamp = format.data_stamp != Format::kAbsent ? v.U32(format.data_stamp) : 0;
  const uint32_t n = v.U16(format.data_row_count);
  const uint32_t table_end = format.data_first_slot + 2 * n;
  if (n > 256 || table_end > format.page_size) {
    ThrowDamaged(at, "the page claims " + std::to_string(n) + " rows, more than fit on a page");
  }
  d.slots.resize(n);
  uint32_t end = format.page_size;
  for (uint32_t r = 0; r < n; ++r) {
    RowSlot& s = d.slots[r];
    s.raw = v.U16(format.data_first_slot + 2 * r);
    s.offset = s.raw & kSlotOffsetMask;
    if (s.offset < table_end || s.offset > end) {
      ThrowDamaged(where.WithRow(p->number, r),
                   "the row starts at offset " + std::to_string(s.offset) +
                       ", outside the space between the slot table (" + std::to_string(table_end) +
                       ") and the previous row (" + std::to_string(end) + ")");
    }
    s.end = end;
    end = s.offset;
  }
  d.page = std::move(page);
}

RowRef ReadRow(PageFile& file, RowPointer pointer, const Location& where,
               const uint32_t* expected_owner) {
  const Location at = where.WithRow(pointer.page, pointer.row);
  PageRef p = file.Get(pointer.page, at);
  RowRef ref{ParseDataPage(p, Format::For(file.version()), at), pointer.row};
  CheckRowPlace(ref.page, pointer.row, at, expected_owner);
  return ref;
}

void CheckRowPlace(const DataPage& page, uint32_t row, const Location& at,
                   const uint32_t* expected_owner) {
  if (expected_owner != nullptr && page.owner != *expected_owner) {
    ThrowDamaged(at, "the row lies on a page owned by " + std::to_string(page.owner) +
                         " instead of " + std::to_string(*expected_owner));
  }
  if (row >= page.slots.size()) {
    ThrowDamaged(at, "the page has only " + std::to_string(page.slots.size()) + " rows");
  }
}

}  // namespace tessmark::jet
