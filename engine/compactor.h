// The writing half of compaction: reads every table reachable from the
// catalog of an open source database and writes a fresh, densely packed
// database into an OutputFile. compact.cpp wraps it with the checks, the
// locking and the verification.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/compact.h"
#include "engine/output_file.h"
#include "engine/page_file.h"
#include "engine/table_def.h"

namespace tessmark::jet {

// A table of the source catalog.
struct CatalogTable {
  std::string name;
  uint32_t id = 0;  // first TDEF page in the source
};

// Columns that hold object Ids, whose table Ids (TDEF page numbers) change
// with compaction: (table name, column name), names compared
// case-insensitively. A value naming a table gets the table's new Id; any
// other value keeps naming what it named, or nothing.
bool HoldsTableIds(const std::string& table, const std::string& column);

struct CompactResult {
  std::map<uint32_t, uint32_t> table_ids;  // source Id -> destination Id
  uint32_t pages = 0;
  uint64_t rows = 0;
  uint32_t tables = 0;
};

// Visits the leaf entries of a real index in order: key bytes (without the
// row pointer) and the row pointer they name.
using IndexEntryVisitor = std::function<void(Bytes key, RowPointer row)>;
using IndexWalker =
    std::function<void(PageFile&, const TableDef&, const RealIndexDef&, const IndexEntryVisitor&)>;

// Writes the compacted form of `source` (whose tables are `tables`, from
// its catalog) into `out`, page 0 included. Does not commit `out`.
CompactResult WriteCompacted(PageFile& source, const std::vector<CatalogTable>& tables,
                             OutputFile& out, const CompactOptions& options,
                             const IndexWalker& walk_index);

}  // namespace tessmark::jet
