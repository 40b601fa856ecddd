#include "db/row.h"

#include <algorithm>

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

// The slot of column `i` of `t`.
RowLayout::Slot LayOut(const TableDef& t, const Format& f, size_t i) {
  const ColumnDef& c = t.columns[i];
  RowLayout::Slot s;
  s.position = static_cast<uint32_t>(i);
  s.number = c.number;
  // Var index and fixed offset are each used only where they apply: Jet 3
  // leaves garbage in the other.
  if (c.boolean()) {
    s.kind = RowLayout::Kind::kBoolean;
  } else if (c.fixed()) {
    s.kind = RowLayout::Kind::kFixed;
    s.offset = f.row_count_size + c.fixed_offset;
    s.size = c.fixed_size();
  } else {
    s.kind = RowLayout::Kind::kVariable;
    s.var_index = c.var_index;
  }
  return s;
}

// The lowest number of a variable column of `t`, or 0x10000.
uint32_t LowestVariableNumber(const TableDef& t) {
  uint32_t lowest = 0x10000;
  if (t.var_columns == 0) return lowest;
  for (const ColumnDef& c : t.columns) {
    if (!c.fixed()) lowest = std::min<uint32_t>(lowest, c.number);
  }
  return lowest;
}

}  // namespace

void RowLayout::Assign(const TableDef& t, const Format& f) {
  table = &t;
  format = &f;
  lowest_variable_number = LowestVariableNumber(t);
  slots.resize(t.columns.size());
  by_kind.clear();
  sized_variable.clear();
  for (size_t i = 0; i < t.columns.size(); ++i) {
    slots[i] = LayOut(t, f, i);
    if (slots[i].kind != Kind::kVariable) continue;
    const uint32_t size = FixedTypeSize(t.columns[i].type);
    if (size != 0) sized_variable.push_back({static_cast<uint32_t>(i), size});
  }
  for (const Kind kind : {Kind::kBoolean, Kind::kFixed, Kind::kVariable}) {
    if (kind == Kind::kFixed) fixed_from = by_kind.size();
    if (kind == Kind::kVariable) variable_from = by_kind.size();
    for (const Slot& s : slots) {
      if (s.kind == kind) by_kind.push_back(s);
    }
  }
}

void RowLayout::Assign(const TableDef& t, const Format& f, std::span<const size_t> columns) {
  table = &t;
  format = &f;
  lowest_variable_number = LowestVariableNumber(t);
  slots.resize(t.columns.size());
  by_kind.clear();
  fixed_from = variable_from = 0;
  sized_variable.clear();
  for (const size_t i : columns) slots[i] = LayOut(t, f, i);
}

namespace {

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

// The fields of a row, slot by slot, once the row's layout is read.
class FieldDecoder {
 public:
  FieldDecoder(const RowLayout& layout, Bytes row, const Location& where, DecodedRow& out,
               uint32_t var_start)
      : layout_(layout),
        where_(where),
        fields_(out.fields.data()),
        offsets_(out.var_offsets.data()),
        mask_(row.data() + out.null_mask),
        num_cols_(out.num_cols),
        nvar_(out.nvar),
        var_start_(var_start) {}

  void Boolean(const RowLayout::Slot& s) {
    fields_[s.position] = Field{false, Bit(s.number), 0, 0};
  }
  void Fixed(const RowLayout::Slot& s) {
    if (!Bit(s.number)) {
      fields_[s.position] = Field{};
      return;
    }
    if (s.offset + s.size > var_start_) {
      Location at = where_;
      at.column = layout_.table->columns[s.position].name;
      ThrowDamaged(at, "the fixed-length value lies past the fixed area of the row");
    }
    fixed_end = std::max(fixed_end, s.offset + s.size);
    fields_[s.position] = Field{false, false, s.offset, s.size};
  }
  void Variable(const RowLayout::Slot& s) {
    if (!Bit(s.number) || s.var_index >= nvar_) {
      fields_[s.position] = Field{};
      return;
    }
    const uint32_t* const offsets = offsets_ + s.var_index;
    fields_[s.position] = Field{false, false, offsets[0], offsets[1] - offsets[0]};
  }
  void Any(const RowLayout::Slot& s) {
    switch (s.kind) {
      case RowLayout::Kind::kBoolean:
        return Boolean(s);
      case RowLayout::Kind::kFixed:
        return Fixed(s);
      case RowLayout::Kind::kVariable:
        return Variable(s);
    }
  }

  uint32_t fixed_end = 0;

 private:
  // Columns numbered at or past the row's column count were added after
  // the row was written: their bits read as clear.
  bool Bit(uint16_t number) const {
    return number < num_cols_ && ((mask_[number / 8] >> (number % 8)) & 1) != 0;
  }

  const RowLayout& layout_;
  const Location& where_;
  Field* const fields_;             // DecodedRow::fields, sized for the table
  const uint32_t* const offsets_;   // DecodedRow::var_offsets
  const uint8_t* const mask_;       // the row's null mask
  const uint32_t num_cols_, nvar_;  // the row's counts
  const uint32_t var_start_;
};

// Decodes the row's layout, then hands `each` a decoder of its fields.
template <typename EachColumn>
void DecodeColumns(const RowLayout& layout, Bytes row, const Location& where, DecodedRow& out,
                   const EachColumn& each) {
  const Format& f = *layout.format;
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
  const bool trailer = layout.lowest_variable_number < out.num_cols;
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
  FieldDecoder fields(layout, row, where, out, var_start);
  fields.fixed_end = cs;
  each(fields);
  out.fixed_end = fields.fixed_end;
}

}  // namespace

void DecodeRow(const RowLayout& layout, Bytes row, const Location& where, DecodedRow& out) {
  // Every field is written.
  out.fields.resize(layout.slots.size());
  DecodeColumns(layout, row, where, out, [&](FieldDecoder& fields) {
    const RowLayout::Slot* const slots = layout.by_kind.data();
    const size_t end = layout.by_kind.size();
    for (size_t i = 0; i < layout.fixed_from; ++i) fields.Boolean(slots[i]);
    for (size_t i = layout.fixed_from; i < layout.variable_from; ++i) fields.Fixed(slots[i]);
    for (size_t i = layout.variable_from; i < end; ++i) fields.Variable(slots[i]);
  });
}

void DecodeRow(const RowLayout& layout, Bytes row, const Location& where,
               std::span<const size_t> columns, DecodedRow& out) {
  out.fields.assign(layout.slots.size(), Field{});
  DecodeColumns(layout, row, where, out, [&](FieldDecoder& fields) {
    for (const size_t i : columns) fields.Any(layout.slots[i]);
  });
}

void DecodeRow(const TableDef& table, const Format& f, Bytes row, const Location& where,
               DecodedRow& out) {
  // Callers of this form decode a row now and then; the layout's storage
  // is kept per thread all the same.
  thread_local RowLayout layout;
  layout.Assign(table, f);
  DecodeRow(layout, row, where, out);
}

void DecodeRow(const TableDef& table, const Format& f, Bytes row, const Location& where,
               std::span<const size_t> columns, DecodedRow& out) {
  thread_local RowLayout layout;
  layout.Assign(table, f, columns);
  DecodeRow(layout, row, where, columns, out);
}

}  // namespace tessmark::jet
