// Decoding a table row into its fields: the fixed area, the variable-length
// data with its offset table (Jet 3 with the jump table), the null mask and
// the booleans that live in it. Rows of a table whose definition counts no
// variable columns, and rows written before the table got its first
// variable column, have no offset table at all: the fixed area runs up to
// the null mask, and bytes between the last fixed value and the mask (the
// padding of a row rewritten shorter) are not looked at. Produces, per
// column of the table, where the column's bytes lie in the row; value.h
// turns them into typed values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "db/table_def.h"
#include "format/bytes.h"
#include "format/format.h"

namespace tessmark::jet {

struct Field {
  bool is_null = true;      // false: a value is present (booleans: never null)
  bool bool_value = false;  // booleans: the null-mask bit
  uint32_t offset = 0;      // where the column's bytes start in the row
  uint32_t length = 0;
};

struct DecodedRow {
  uint16_t num_cols = 0;              // column count the row was written with
  uint16_t nvar = 0;                  // var-offset entries in the row (0 when not read)
  uint32_t fixed_end = 0;             // end of the fixed values present
  uint32_t var_end = 0;               // end of the variable data (eod; without a trailer
                                      // the start of the null mask)
  uint32_t null_mask = 0;             // where the null mask starts (it ends the row)
  std::vector<uint32_t> var_offsets;  // nvar + 1 entries, the last being var_end
  std::vector<Field> fields;          // parallel to TableDef::columns

  Bytes FieldBytes(Bytes row, size_t column_pos) const {
    const Field& fl = fields[column_pos];
    return row.subspan(fl.offset, fl.length);
  }
};

// Decodes `row` for `table`. Anything inconsistent (trailer past the row,
// offsets out of order or past the data, fixed columns past the row) throws
// 3049 at `where`.
DecodedRow DecodeRow(const TableDef& table, const Format& format, Bytes row, const Location& where);
// The same into `out`, reusing its storage (for loops over many rows).
void DecodeRow(const TableDef& table, const Format& format, Bytes row, const Location& where,
               DecodedRow& out);
// The same for the columns at the positions `columns` (in TableDef::columns)
// alone: the other fields stay null and `fixed_end` counts only the
// columns decoded. The row's layout is checked as a whole all the same.
void DecodeRow(const TableDef& table, const Format& format, Bytes row, const Location& where,
               std::span<const size_t> columns, DecodedRow& out);

// The variable-offset list of a Jet 3 row: `nvar` + 1 offsets (the last is
// the end of variable data) restored from their low bytes and the jump
// table. Exposed for tests of the codec.
std::vector<uint32_t> DecodeJet3VarOffsets(Bytes row, uint32_t null_mask_bytes, uint32_t nvar,
                                           const Location& where);

}  // namespace tessmark::jet
