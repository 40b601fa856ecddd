#include "db/table_rows.h"

#include "db/usage_map.h"

namespace tessmark::jet {

namespace {
// Access writes a single hop; a few more are tolerated, beyond that it is a cycle.
constexpr int kMaxMovedHops = 8;
}  // namespace

RowRef FollowMovedRow(PageFile& file, const TableDef& table, const RowRef& pointer_slot,
                      const Location& where) {
  RowRef current = pointer_slot;
  for (int hop = 0; hop < kMaxMovedHops; ++hop) {
    const Location at = where.WithRow(current.page.number(), current.row);
    ByteView b(current.bytes(), at);
    const RowPointer target = RowPointer::FromStored(b.U32(0));
    RowRef next = ReadRow(file, target, where, &table.page);
    const Location tat = where.WithRow(target.page, target.row);
    if (next.slot().moved_target()) return next;
    if (!next.slot().moved_pointer()) {
      ThrowDamaged(tat, "a moved-row pointer leads to a row that is not a moved-row target");
    }
    current = std::move(next);
  }
  ThrowDamaged(where.WithRow(pointer_slot.page.number(), pointer_slot.row),
               "the moved-row pointers form a cycle");
}

uint64_t ForEachTableRow(PageFile& file, const TableDef& table,
                         const std::function<void(const TableRow&)>& visit) {
  const Format& f = Format::For(file.version());
  const Location where = table.where();
  const UsageMap map = ReadUsageMap(file, table.owned_map, where);
  if (map.beyond_file > 0) {
    ThrowDamaged(where.WithRow(table.owned_map.page, table.owned_map.row),
                 "the table's usage map lists " + std::to_string(map.beyond_file) +
                     " pages beyond the end of the file");
  }
  uint64_t count = 0;
  for (uint32_t number : map.pages) {
    const Location at = where.WithPage(number);
    PageRef p = file.Get(number, at);
    DataPage page = ParseDataPage(p, f, at);
    if (page.owner != table.page) {
      ThrowDamaged(at, "the table's usage map lists page " + std::to_string(number) +
                           ", which belongs to " + std::to_string(page.owner));
    }
    for (uint32_t r = 0; r < page.slots.size(); ++r) {
      const RowSlot& slot = page.slots[r];
      if (slot.deleted() || slot.moved_target()) continue;
      TableRow row;
      row.header = RowPointer{number, static_cast<uint8_t>(r)};
      if (slot.plain()) {
        row.data = row.header;
        row.bytes = page.RowBytes(r);
        row.page = &page;
        visit(row);
      } else {
        RowRef source{page, r};
        RowRef target = FollowMovedRow(file, table, source, where);
        row.data = RowPointer{target.page.number(), static_cast<uint8_t>(target.row)};
        row.bytes = target.bytes();
        row.page = &target.page;
        visit(row);
      }
      ++count;
    }
  }
  return count;
}

}  // namespace tessmark::jet
