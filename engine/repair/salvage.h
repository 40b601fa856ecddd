// Salvage of a damaged database's rows: every row of a table that can be
// read, and an account of every row, long value and page that could not
// be. A table's rows are those on the data pages its usage map lists, with
// the moved rows they point to, each row once: what the product reads and
// what compaction copies. A row counts only when it decodes and keeps the
// rules the checker holds every row to.
//
// The product takes the pages of a table it empties or rewrites out of the
// table's usage map but leaves them owned by the table, old rows and all,
// until the database is compacted: a page that names the table as owner is
// not one of its pages for that. Only when the usage map cannot be read, or
// accounts for fewer rows than the table definition counts, are such pages
// searched, and every row found there is marked as found outside the
// table's pages.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/table_def.h"
#include "format/damage.h"
#include "format/page_file.h"
#include "tessmark/repair.h"

namespace tessmark::jet {

struct SalvagedRow {
  RowPointer header;  // the slot that names the row (for moved rows, the pointer)
  RowPointer data;    // where its bytes lay
  std::vector<uint8_t> bytes;
  bool outside = false;          // on a page the table's usage map does not list
  bool long_value_null = false;  // a memo/OLE value that did not read was made NULL
};

struct SalvagedTable {
  std::vector<SalvagedRow> rows;  // in page and slot order
  std::vector<RepairLoss> losses;
};

// The data pages of the file by owner (the TDEF page named in the page
// header), found by reading every page once; the pages that claim to be
// data pages but whose slot table cannot be read, whose owner is unknown;
// and the table-definition pages.
struct DataPageScan {
  std::map<uint32_t, std::vector<uint32_t>> by_owner;  // each list ascending
  std::vector<uint32_t> unreadable;
  std::vector<uint32_t> table_definitions;  // pages of the table-definition type
  std::set<uint32_t> free;                  // pages the global usage map marks free
};
DataPageScan FindDataPages(PageFile& file);

// The rows of `table`: on the pages its usage map lists and the moved rows
// they point to. Where the map cannot be read, or (`count_holds`: the
// definition's row count is kept up to date, as it is for user tables) its
// pages hold fewer rows than the definition counts, also the rows on the
// data pages the table owns that the map does not list and the global map
// does not mark free; when one of the table's indexes that names every row
// reads in full, only the pages it names rows on. Those rows are marked
// `outside`. Rows whose long values cannot be read are kept with those
// values NULL; pages its usage map lists that are not readable data pages
// are losses of the table. Throws only what the file's reads throw.
SalvagedTable SalvageRows(PageFile& file, const TableDef& table, const DataPageScan& pages,
                          bool count_holds = false);

}  // namespace tessmark::jet
