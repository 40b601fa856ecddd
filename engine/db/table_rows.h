// The live rows of a table: every slot of the table's data pages (from its
// owned-pages usage map) that holds a row, with moved rows read at their
// target. Deleted slots and the targets themselves are not rows of their own.
#pragma once

#include <cstdint>
#include <functional>

#include "db/row.h"
#include "db/table_def.h"
#include "format/data_page.h"
#include "format/page_file.h"

namespace tessmark::jet {

struct TableRow {
  RowPointer header;               // the slot indexes point at (the pointer slot for moved rows)
  RowPointer data;                 // where the bytes are (equal to header unless moved)
  Bytes bytes;                     // the row's bytes (valid during the callback)
  const DataPage* page = nullptr;  // the page holding `bytes`
};

// Calls `visit` for every live row of `table`, in the order of its data
// pages and slots. Returns the number of rows visited. Throws 3049 when a
// page of the table's map is not a data page of the table, or a moved-row
// pointer does not lead to a moved-row target of the same table.
uint64_t ForEachTableRow(PageFile& file, const TableDef& table,
                         const std::function<void(const TableRow&)>& visit);

// Follows a moved-row pointer starting at `pointer_slot` to the row that
// holds the data. Throws 3049 on a cycle, a deleted target or a target of
// another table.
RowRef FollowMovedRow(PageFile& file, const TableDef& table, const RowRef& pointer_slot,
                      const Location& where);

}  // namespace tessmark::jet
