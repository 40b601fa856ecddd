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

#include "db/table_def.h"
#include "format/output_file.h"
#include "format/page_file.h"
#include "tessmark/compact.h"

namespace tessmark::jet {

// A table of the source catalog.
struct CatalogTable {
  std::string name;
  uint32_t id = 0;  // first TDEF page in the source
  // The Id its catalog row holds when that is not `id` (flags in the top
  // byte); the copy's row gets the plain page number. Zero: none.
  uint32_t stored_id = 0;
};

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

// Visits the rows of a table to be written, in the order they are written:
// `header` is the slot index entries point at, `data` where the bytes lay.
using RowVisitor = std::function<void(RowPointer header, RowPointer data, Bytes bytes)>;
// Hands the writer the rows of a table. Each `header` must come once, and
// each index's entries (from the IndexWalker) must name exactly these rows.
using RowSource = std::function<void(PageFile&, const TableDef&, const RowVisitor&)>;

// What a caller gives the writer in place of what it reads from the source.
struct WriteSources {
  RowSource rows;  // the tables' live rows when unset
  // Called with each table's definition, every page number and count in
  // it already made new, just before it is written.
  std::function<void(const TableDef&, std::vector<uint8_t>& definition)> definition;
};

// Writes the compacted form of `source` (whose tables are `tables`, from
// its catalog) into `out`, page 0 included. Does not commit `out`.
CompactResult WriteCompacted(PageFile& source, const std::vector<CatalogTable>& tables,
                             OutputFile& out, const CompactOptions& options,
                             const IndexWalker& walk_index, const WriteSources& sources = {});

}  // namespace tessmark::jet
