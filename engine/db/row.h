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

// How the rows of one table are decoded, worked out once from its
// definition and the file's format and kept for all of the table's rows:
// per column (parallel to TableDef::columns) where its value is found, so
// that decoding a row is one pass over a flat array. It refers to the
// definition, which must outlive it.
struct RowLayout {
  enum class Kind : uint8_t {
    kBoolean,   // the null-mask bit is the value
    kFixed,     // bytes at a set place in the fixed area
    kVariable,  // bytes between two variable-column offsets
  };
  struct Slot {
    Kind kind = Kind::kBoolean;
    uint32_t position = 0;   // in TableDef::columns
    uint16_t number = 0;     // the column's null-mask bit
    uint16_t var_index = 0;  // kVariable: its entry in the offsets
    uint32_t offset = 0;     // kFixed: where the value starts in the row
    uint32_t size = 0;       // kFixed: its length
  };
  // A column stored among the variable data although its type has one size.
  struct SizedColumn {
    uint32_t position;  // in TableDef::columns
    uint32_t size;      // what the type stores
  };

  RowLayout() = default;
  RowLayout(const TableDef& t, const Format& f) { Assign(t, f); }
  // Lays out `t`, reusing the storage of the layout before.
  void Assign(const TableDef& t, const Format& f);
  // Lays out only the columns at the positions `columns`, for decoding
  // those alone: the other slots are left as they were, `by_kind` and
  // `sized_variable` empty.
  void Assign(const TableDef& t, const Format& f, std::span<const size_t> columns);

  const TableDef* table = nullptr;
  const Format* format = nullptr;
  // A row has a variable trailer when its column count passes this
  // number: the lowest of a variable column (0x10000 when there is none).
  uint32_t lowest_variable_number = 0x10000;
  std::vector<Slot> slots;  // parallel to TableDef::columns
  // The same slots, the booleans, then the fixed, then the variable
  // columns, each kind in column order: a whole row is decoded kind by kind.
  std::vector<Slot> by_kind;
  size_t fixed_from = 0, variable_from = 0;  // where those kinds start in `by_kind`
  std::vector<SizedColumn> sized_variable;   // in column order
};

// Decodes `row` with a table's layout, as DecodeRow below does.
void DecodeRow(const RowLayout& layout, Bytes row, const Location& where, DecodedRow& out);
// The same for the columns at the positions `columns` alone, as below.
void DecodeRow(const RowLayout& layout, Bytes row, const Location& where,
               std::span<const size_t> columns, DecodedRow& out);

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
