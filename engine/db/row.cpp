#include "db/row.h"

namespace tessmark::jet {

namespace {

// The column count, variable-column count and offsets of a row are one
// byte wide in Jet 3 and two in Jet 4.
uint16_t RowCount(const ByteView& v, uint32_t at, const Format& f) {
  return f.row_count_size == 1 ? v.U8(at) : v.U16(at);
}

// DecodeJet3VarOffsets into `offsets`, reusing its storage.
void DecodeJet3VarOffsetsInto(Bytes row, uint32_t mask_bytes, uint32_t nvar, const Location& where,
                              std::vector<uint32_t>& offsets) {
  ByteView v(row, where);
  const uint32_t len = static_cast<uint32_t>(row.size());
  // Layout from the end: null mask, nvar (1), jump table, offsets [0..nvar].
  uint32_t jumps = (len - 1) / 256;
  if (len < mask_bytes + 1 + jumps + nvar + 1 + 1) {
    ThrowDamaged(
        where, "the row is too short for its " + std::to_string(nvar) + " variable-column offsets");
  }
  const uint32_t nvar_pos = len - mask_bytes - 1;
  const uint32_t first_offset_pos = nvar_pos - jumps - 1;  // offset [0]
  // The jump table's length is derived from the row length, so its farthest
  // entry is a placeholder when the variable data ends before that many
  // 256-byte steps.
  if ((first_offset_pos - nvar) / 256 < jumps) --jumps;
  offsets.resize(nvar + 1);
  uint32_t used = 0;
  for (uint32_t i = 0; i <= nvar; ++i) {
    while (used < jumps && v.U8(nvar_pos - 1 - used) == i) ++used;
    offsets[i] = v.U8(first_offset_pos - i) + 256 * used;
  }
}

}  // namespace

std::vector<uint32_t> DecodeJet3VarOffsets(Bytes row, uint32_t mask_bytes, uint32_t nvar,
                                           const Location& where) {
  std::vector<uint32_t> offsets;
  DecodeJet3VarOffsetsInto(row, mask_bytes, nvar, where, offsets);
  return offsets;
}

DecodedRow DecodeRow(const TableDef& table, const Format& f, Bytes row, const Location& where) {
  DecodedRow out;
  DecodeRow(table, f, row, where, out);
  return out;
}

namespace {

// Whether some variable column of `table` is numbered below `num_cols`,
// the column count a row was written with.
bool RowHasVariableColumn(const TableDef& table, uint16_t num_cols) {
  for (const ColumnDef& c : table.columns) {
    if (!c.fixed() && c.number < num_cols) return true;
  }
  return false;
}

// Reads the variable trailer of a row whose null mask starts at `mask_pos`
// into `out` (nvar, the offsets, the end of the variable data); returns
// where the variable data starts, which is where the fixed area must end.
uint32_t DecodeVarTrailer(const Format& f, Bytes row, uint32_t mask_pos, const Location& where,
                          DecodedRow& out) {
  ByteView v(row, where);
  const uint32_t len = static_cast<uint32_t>(row.size());
  const uint32_t cs = f.row_count_size;
  const uint32_t mask_bytes = len - mask_pos;
  const uint32_t nvar_pos = mask_pos - cs;
  out.nvar = RowCount(v, nvar_pos, f);

  uint32_t trailer_start;  // lowest byte of the trailer
  if (f.jet3()) {
    DecodeJet3VarOffsetsInto(row, mask_bytes, out.nvar, where, out.var_offsets);
    trailer_start = nvar_pos - (len - 1) / 256 - (out.nvar + 1u);
  } else {
    const uint64_t need = static_cast<uint64_t>(cs) * (out.nvar + 1u);
    if (need > nvar_pos || nvar_pos - need < cs) {
      ThrowDamaged(where, "the row is too short for its " + std::to_string(out.nvar) +
                              " variable-column offsets");
    }
    out.var_offsets.resize(out.nvar + 1u);
    // The offsets lie below the count, inside the row (checked above), so
    // they are loaded without a check each, and their order is noted as
    // they come: the faults are told apart below.
    const uint8_t* const offsets_end = row.data() + nvar_pos;
    uint32_t previous = LoadU16(offsets_end - 2);
    out.var_offsets[0] = previous;
    bool sound = true;
    for (uint32_t i = 1; i <= out.nvar; ++i) {
      const uint32_t offset = LoadU16(offsets_end - 2 * (i + 1));
      out.var_offsets[i] = offset;
      sound &= previous <= offset && previous >= cs;
      previous = offset;
    }
    trailer_start = static_cast<uint32_t>(nvar_pos - need);
    out.var_end = previous;
    if (sound && out.var_end <= trailer_start)
      return out.nvar > 0 ? out.var_offsets[0] : out.var_end;
  }
  out.var_end = out.var_offsets[out.nvar];
  if (out.var_end > trailer_start) {
    ThrowDamaged(where, "the variable data ends at " + std::to_string(out.var_end) +
                            ", inside the row trailer at " + std::to_string(trailer_start));
  }
  for (uint32_t i = 0; i < out.nvar; ++i) {
    if (out.var_offsets[i] > out.var_offsets[i + 1] || out.var_offsets[i] < cs) {
      ThrowDamaged(where, "variable-column offset " + std::to_string(i) + " (" +
                              std::to_string(out.var_offsets[i]) + ") is out of order");
    }
  }
  return out.nvar > 0 ? out.var_offsets[0] : out.var_end;
}

// Decodes the row's layout, then the fields of the columns at the
// positions `each` hands to the function it is given.
template <typename EachColumn>
void DecodeColumns(const TableDef& table, const Format& f, Bytes row, const Location& where,
                   DecodedRow& out, const EachColumn& each) {
  ByteView v(row, where);
  const uint32_t len = static_cast<uint32_t>(row.size());
  const uint32_t cs = f.row_count_size;
  out.num_cols = RowCount(v, 0, f);
  // Every table has a column when its first row is written.
  if (out.num_cols == 0) ThrowDamaged(where, "the row records no columns");
  const uint32_t mask_bytes = (out.num_cols + 7u) / 8u;
  // A table without variable columns writes rows without a variable
  // trailer, and rows written before a table got its first variable column
  // keep lacking one. The trailer is read only when a variable column of
  // the table was there when the row was written; where it was not, every
  // variable column reads as NULL through the mask anyway.
  const bool trailer = table.var_columns > 0 && RowHasVariableColumn(table, out.num_cols);
  if (len < cs + mask_bytes + (trailer ? cs : 0u)) {
    ThrowDamaged(where, "the row of " + std::to_string(len) +
                            " bytes is too short for its column count and null mask");
  }
  const uint32_t mask_pos = len - mask_bytes;
  out.null_mask = mask_pos;
  uint32_t var_start;  // the end of the fixed area
  if (trailer) {
    var_start = DecodeVarTrailer(f, row, mask_pos, where, out);
  } else {
    out.nvar = 0;
    out.var_offsets.assign(1, mask_pos);
    out.var_end = mask_pos;
    var_start = mask_pos;
  }

  Bytes mask = row.subspan(mask_pos, mask_bytes);
  auto bit = [&](uint16_t number) {
    if (number >= out.num_cols) return false;
    return ((mask[number / 8] >> (number % 8)) & 1) != 0;
  };

  out.fields.assign(table.columns.size(), Field{});
  out.fixed_end = cs;
  each([&](size_t i) {
    const ColumnDef& c = table.columns[i];
    Field& fl = out.fields[i];
    if (c.boolean()) {
      fl.is_null = false;
      fl.bool_value = bit(c.number);
      return;
    }
    if (!bit(c.number)) return;
    if (c.fixed()) {
      fl.offset = cs + c.fixed_offset;
      fl.length = c.fixed_size();
      if (fl.offset + fl.length > var_start) {
        Location at = where;
        at.column = c.name;
        ThrowDamaged(at, "the fixed-length value lies past the fixed area of the row");
      }
      out.fixed_end = std::max(out.fixed_end, fl.offset + fl.length);
    } else {
      if (c.var_index >= out.nvar) return;
      fl.offset = out.var_offsets[c.var_index];
      fl.length = out.var_offsets[c.var_index + 1u] - fl.offset;
    }
    fl.is_null = false;
  });
}

}  // namespace

void DecodeRow(const TableDef& table, const Format& f, Bytes row, const Location& where,
               DecodedRow& out) {
  DecodeColumns(table, f, row, where, out, [&](const auto& field) {
    for (size_t i = 0; i < table.columns.size(); ++i) field(i);
  });
}

void DecodeRow(const TableDef& table, const Format& f, Bytes row, const Location& where,
               std::span<const size_t> columns, DecodedRow& out) {
  DecodeColumns(table, f, row, where, out, [&](const auto& field) {
    for (const size_t i : columns) field(i);
  });
}

}  // namespace tessmark::jet
