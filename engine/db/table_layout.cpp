#include "db/table_layout.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>

#include "format/bytes_write.h"
#include "format/index_key.h"
#include "format/text.h"
#include "tessmark/error.h"

namespace tessmark::jet {
namespace {

[[noreturn]] void Bad(const std::string& what) { throw Error(kInvalidArgument, what); }

constexpr uint32_t kJet4Constant = 1625;
constexpr uint32_t kJet4IndexConstant = 1923;
constexpr uint16_t kGeneralLcid = 1033;

std::vector<uint8_t> NameBytes(const std::string& name, bool jet3) {
  std::vector<uint8_t> text = jet3 ? Utf8ToCodePage1252(name) : Utf8ToJet4Text(name, false);
  std::vector<uint8_t> out;
  if (jet3) {
    if (text.size() > 255) Bad("The name \"" + name + "\" is too long.");
    out.push_back(static_cast<uint8_t>(text.size()));
  } else {
    AppendU16(out, static_cast<uint16_t>(text.size()));
  }
  out.insert(out.end(), text.begin(), text.end());
  return out;
}

// Text as a column of the layout stores it: Jet 3 in its code page, Jet 4
// in UTF-16, compressed where the column allows it.
std::vector<uint8_t> TextBytes(const TableLayout& l, const ColumnLayout& c,
                               const std::string& text) {
  if (l.version == JetVersion::kJet3) return Utf8ToCodePage1252(text);
  return Utf8ToJet4Text(text, (c.ext_flags & kColumnCompressedUnicode) != 0);
}

std::string Describe(const TableLayout& l, size_t column) {
  return "column \"" + l.columns[column].decl.name + "\" of table \"" + l.name + "\"";
}

}  // namespace

size_t TableLayout::ColumnPosition(const std::string& column) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (SameNameIgnoringCase(columns[i].decl.name, column)) return i;
  Bad("Table \"" + name + "\" has no column \"" + column + "\".");
}

uint32_t TableLayout::RealIndexFor(const std::vector<std::pair<size_t, bool>>& cols) {
  for (size_t i = 0; i < real_indexes.size(); ++i)
    if (real_indexes[i].columns == cols) return static_cast<uint32_t>(i);
  real_indexes.push_back({cols, 0});
  return static_cast<uint32_t>(real_indexes.size() - 1);
}

namespace {

// One column of table `decl`, checked against the columns `l` holds so far.
ColumnLayout LayOutColumn(const TableDecl& decl, const ColumnDecl& c, const TableLayout& l,
                          const Format& f) {
  for (const ColumnLayout& other : l.columns)
    if (SameNameIgnoringCase(other.decl.name, c.name))
      Bad("Table \"" + decl.name + "\" declares column \"" + c.name + "\" twice.");
  if (c.name.empty() || c.name.size() > 64)
    Bad("Column names of table \"" + decl.name + "\" must have 1 to 64 characters.");
  ColumnLayout col;
  col.decl = c;
  col.number = static_cast<uint16_t>(l.columns.size());
  const uint8_t type = static_cast<uint8_t>(c.type);
  if (!KnownColumnType(type) || c.type == ColumnType::kFixedBinary)
    Bad("The type of column \"" + c.name + "\" cannot be created.");
  if (c.autonumber && c.type != ColumnType::kLong)
    Bad("AutoNumber column \"" + c.name + "\" must be of type Long.");
  if (c.autonumber && l.autonumber) Bad("Table \"" + decl.name + "\" has two AutoNumber columns.");
  col.fixed_size = FixedTypeSize(type);
  col.fixed = col.fixed_size > 0 || c.type == ColumnType::kBoolean;
  if (c.variable_length) {
    if (col.fixed_size == 0 || c.autonumber)
      Bad("Column \"" + c.name +
          "\" cannot be stored with a variable length: only numbers, dates and GUIDs that are "
          "not AutoNumber can.");
    col.fixed = false;
  }
  switch (c.type) {
    case ColumnType::kText: {
      const uint16_t chars = c.length == 0 ? 255 : c.length;
      if (chars > 255) Bad("Text column \"" + c.name + "\" can hold at most 255 characters.");
      col.length_bytes = static_cast<uint16_t>(f.text_unit_bytes * chars);
      break;
    }
    case ColumnType::kBinary: {
      const uint16_t bytes = c.length == 0 ? 255 : c.length;
      if (bytes > f.max_binary_length)
        Bad("Binary column \"" + c.name + "\" is longer than the format allows.");
      col.length_bytes = bytes;
      break;
    }
    case ColumnType::kBoolean:
      col.length_bytes = 1;
      break;
    case ColumnType::kMemo:
    case ColumnType::kOle:
      col.length_bytes = 0;
      break;
    default:
      col.length_bytes = static_cast<uint16_t>(col.fixed_size);
  }
  if (c.type == ColumnType::kNumeric &&
      (c.precision == 0 || c.precision > 28 || c.scale > c.precision))
    Bad("Numeric column \"" + c.name + "\" needs a precision of 1 to 28 and a scale up to it.");
  col.flags = static_cast<uint8_t>(kColumnNullable | (col.fixed ? kColumnFixed : 0) |
                                   (c.autonumber ? kColumnAutoNumber : 0) | c.system_flags);
  if (!f.jet3() && c.compressed && (c.type == ColumnType::kText || c.type == ColumnType::kMemo))
    col.ext_flags = kColumnCompressedUnicode;
  return col;
}

// Fixed columns in column order; booleans live in the null mask.
void PlaceColumns(const TableDecl& decl, const Format& f, TableLayout& l) {
  for (ColumnLayout& col : l.columns) {
    if (col.fixed) {
      col.fixed_offset =
          static_cast<uint16_t>(col.decl.type == ColumnType::kBoolean ? 0 : l.fixed_area);
      l.fixed_area += col.fixed_size;
    } else {
      col.var_index = l.var_count++;
    }
  }
  if (l.fixed_area + 64 > f.max_row_size)
    Bad("The fixed-length columns of table \"" + decl.name + "\" do not fit a row.");
}

// Indexes: one real index per distinct column list, numbered in the order
// of declaration.
void LayOutIndexes(const TableDecl& decl, TableLayout& l) {
  if (std::count_if(decl.indexes.begin(), decl.indexes.end(),
                    [](const IndexDecl& ix) { return ix.primary; }) > 1)
    Bad("Table \"" + decl.name + "\" declares two primary keys.");
  for (const IndexDecl& index : decl.indexes) {
    const IndexDecl* ix = &index;
    for (const LogicalIndexLayout& other : l.logical_indexes)
      if (SameNameIgnoringCase(other.name, ix->name))
        Bad("Table \"" + decl.name + "\" declares index \"" + ix->name + "\" twice.");
    if (ix->columns.empty() || ix->columns.size() > 10)
      Bad("Index \"" + ix->name + "\" must have 1 to 10 columns.");
    std::vector<std::pair<size_t, bool>> cols;
    for (const IndexColumnDecl& ic : ix->columns) {
      const size_t pos = l.ColumnPosition(ic.column);
      if (l.columns[pos].long_value())
        Bad("Memo and OLE columns cannot be indexed (index \"" + ix->name + "\").");
      cols.emplace_back(pos, ic.ascending);
    }
    const uint32_t real = l.RealIndexFor(cols);
    uint8_t flags = 0;
    if (ix->primary || ix->unique) flags |= kIndexUnique;
    if (ix->ignore_nulls) flags |= kIndexIgnoreNulls;
    if (ix->required) flags |= kIndexRequired;
    l.real_indexes[real].flags |= flags;
    LogicalIndexLayout li;
    li.name = ix->name;
    li.number = static_cast<uint32_t>(l.logical_indexes.size());
    li.real = real;
    li.type = ix->primary ? kIndexTypePrimaryKey : kIndexTypeNormal;
    l.logical_indexes.push_back(li);
  }
}

// The columns' blocks, then their names.
void AppendColumns(const TableLayout& l, const Format& f, std::vector<uint8_t>& s) {
  const bool j3 = f.jet3();
  for (const ColumnLayout& c : l.columns) {
    const size_t at = s.size();
    s.resize(at + f.column_block, 0);
    const bool text = c.decl.type == ColumnType::kText || c.decl.type == ColumnType::kMemo;
    s[at + f.col_type] = static_cast<uint8_t>(c.decl.type);
    if (!j3) PutU32(s, at + f.col_constant, kJet4Constant);
    PutU16(s, at + f.col_number, c.number);
    PutU16(s, at + f.col_var_index, c.var_index);
    if (c.decl.type == ColumnType::kNumeric) {
      s[at + f.col_precision] = c.decl.precision;
      s[at + f.col_scale] = c.decl.scale;
    } else if (j3) {
      // Jet 3 gives every other column the general collation and code page.
      PutU16(s, at + f.col_collation, kGeneralLcid);
      PutU16(s, at + f.col_code_page, 1252);
    } else if (text) {
      PutU16(s, at + f.col_collation, kGeneralLcid);
    }
    s[at + f.col_flags] = c.flags;
    if (!j3) s[at + f.col_ext_flags] = c.ext_flags;
    PutU16(s, at + f.col_fixed_offset, c.fixed_offset);
    PutU16(s, at + f.col_length, c.length_bytes);
  }
  for (const ColumnLayout& c : l.columns) {
    const auto name = NameBytes(c.decl.name, j3);
    s.insert(s.end(), name.begin(), name.end());
  }
}

void AppendRealIndexes(const TableLayout& l, const TableDefNumbers& n, const Format& f,
                       std::vector<uint8_t>& s) {
  const bool j3 = f.jet3();
  for (size_t i = 0; i < l.real_indexes.size(); ++i) {
    const RealIndexLayout& ri = l.real_indexes[i];
    const TableDefNumbers::Index& x = n.indexes.at(i);
    const size_t at = s.size();
    s.resize(at + f.real_idx_block, 0);
    if (!j3) PutU32(s, at + f.ri_constant, kJet4IndexConstant);
    for (size_t k = 0; k < kIndexColumnSlots; ++k) {
      const size_t slot = at + f.ri_columns + kIndexColumnSlotSize * k;
      if (k < ri.columns.size()) {
        PutU16(s, slot, l.columns[ri.columns[k].first].number);
        s[slot + 2] = ri.columns[k].second ? 0x01 : 0x00;
      } else {
        PutU16(s, slot, kNoIndexColumn);
      }
    }
    PutU32(s, at + f.ri_usage_map, x.map.Stored());
    PutU32(s, at + f.ri_root, x.root);
    s[at + f.ri_flags] = static_cast<uint8_t>(ri.flags | (j3 ? 0 : kIndexJet4Mark));
  }
}

void AppendLogicalIndexes(const TableLayout& l, const TableDefNumbers& n, const Format& f,
                          std::vector<uint8_t>& s) {
  const bool j3 = f.jet3();
  // Logical index blocks and names go in case-insensitive name order.
  std::vector<const LogicalIndexLayout*> logical;
  for (const LogicalIndexLayout& li : l.logical_indexes) logical.push_back(&li);
  auto lower = [](std::string v) {
    for (char& ch : v) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return v;
  };
  std::stable_sort(logical.begin(), logical.end(),
                   [&](const auto* a, const auto* b) { return lower(a->name) < lower(b->name); });
  for (const LogicalIndexLayout* li : logical) {
    const size_t at = s.size();
    s.resize(at + f.logical_idx_block, 0);
    if (!j3) PutU32(s, at + f.li_constant, kJet4Constant);
    PutU32(s, at + f.li_number, li->number);
    PutU32(s, at + f.li_real_index, li->real);
    s[at + f.li_fk_role] = li->fk_role;
    PutU32(s, at + f.li_fk_index, static_cast<uint32_t>(li->fk_index));
    PutU32(s, at + f.li_fk_table, n.fk_table_pages.empty() ? 0 : n.fk_table_pages.at(li->number));
    s[at + f.li_update_action] = li->update_action;
    s[at + f.li_delete_action] = li->delete_action;
    s[at + f.li_index_type] = li->type;
  }
  for (const LogicalIndexLayout* li : logical) {
    const auto name = NameBytes(li->name, j3);
    s.insert(s.end(), name.begin(), name.end());
  }
}

// The long-value maps of the memo and OLE columns, ended by the end mark.
void AppendLongValueMaps(const TableLayout& l, const TableDefNumbers& n, std::vector<uint8_t>& s) {
  size_t lv = 0;
  for (const ColumnLayout& c : l.columns) {
    if (!c.long_value()) continue;
    const TableDefNumbers::LongValueMaps& m = n.long_values.at(lv++);
    const size_t at = s.size();
    s.resize(at + kLvMapEntry, 0);
    PutU16(s, at + kLvMapColumn, c.number);
    PutU32(s, at + kLvMapOwned, m.owned.Stored());
    PutU32(s, at + kLvMapFree, m.free.Stored());
  }
  AppendU16(s, kLvMapEnd);
}

}  // namespace

TableLayout LayOutTable(const TableDecl& decl, JetVersion version) {
  const Format& f = Format::For(version);
  TableLayout l;
  l.version = version;
  l.name = decl.name;
  l.system = decl.system;
  if (decl.name.empty() || decl.name.size() > 64) Bad("A table name must have 1 to 64 characters.");
  if (decl.columns.empty() || decl.columns.size() > 255)
    Bad("Table \"" + decl.name + "\" must have 1 to 255 columns.");
  for (const ColumnDecl& c : decl.columns) {
    const ColumnLayout col = LayOutColumn(decl, c, l, f);
    if (c.autonumber) l.autonumber = l.columns.size();
    l.columns.push_back(col);
  }
  PlaceColumns(decl, f, l);
  LayOutIndexes(decl, l);
  return l;
}

std::vector<uint8_t> EncodeTableDef(const TableLayout& l, const TableDefNumbers& n) {
  const Format& f = Format::For(l.version);
  const bool j3 = f.jet3();
  std::vector<uint8_t> s(f.tdef_var_part, 0);
  s[0] = kPageTableDef;
  s[1] = 0x01;
  if (!j3) {
    PutU32(s, f.tdef_constant, kJet4Constant);
    s[f.tdef_autonumber_mark] = 0x01;
  }
  PutU32(s, f.tdef_row_count, n.row_count);
  PutU32(s, f.tdef_autonumber, n.last_autonumber);
  s[f.tdef_table_type] = l.system ? 'S' : 'N';
  const auto ncols = static_cast<uint16_t>(l.columns.size());
  PutU16(s, f.tdef_max_cols, ncols);
  PutU16(s, f.tdef_var_cols, l.var_count);
  PutU16(s, f.tdef_num_cols, ncols);
  PutU32(s, f.tdef_num_idx, static_cast<uint32_t>(l.logical_indexes.size()));
  PutU32(s, f.tdef_num_real_idx, static_cast<uint32_t>(l.real_indexes.size()));
  PutU32(s, f.tdef_owned_map, n.owned_map.Stored());
  PutU32(s, f.tdef_free_map, n.free_map.Stored());

  for (size_t i = 0; i < l.real_indexes.size(); ++i) {
    const TableDefNumbers::Index& x = n.indexes.at(i);
    const size_t at = s.size();
    s.resize(at + f.real_idx_count_block, 0);
    PutU32(s, at + f.ric_entries, x.entries);
    PutU32(s, at + f.ric_unique_keys, x.unique_keys);
  }
  AppendColumns(l, f, s);
  AppendRealIndexes(l, n, f, s);
  AppendLogicalIndexes(l, n, f, s);
  AppendLongValueMaps(l, n, s);
  PutU32(s, kTdefLength, static_cast<uint32_t>(s.size()));
  return s;
}

std::array<uint8_t, 17> EncodeNumeric(const std::string& text, uint8_t scale) {
  std::string t = text;
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.erase(0, 1);
  }
  std::string whole = t, frac;
  if (const size_t dot = t.find('.'); dot != std::string::npos) {
    whole = t.substr(0, dot);
    frac = t.substr(dot + 1);
  }
  auto digits_only = [](const std::string& v) {
    return std::all_of(v.begin(), v.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
  };
  if ((whole.empty() && frac.empty()) || !digits_only(whole) || !digits_only(frac))
    Bad("\"" + text + "\" is not a decimal number.");
  while (!frac.empty() && frac.size() > scale && frac.back() == '0') frac.pop_back();
  if (frac.size() > scale) Bad("\"" + text + "\" has more decimals than the column's scale.");
  frac.append(scale - frac.size(), '0');
  const std::string all = whole + frac;
  // Magnitude as four 32-bit words, most significant first.
  uint32_t words[4] = {0, 0, 0, 0};
  for (char ch : all) {
    uint64_t carry = static_cast<uint64_t>(ch - '0');
    for (int i = 3; i >= 0; --i) {
      const uint64_t cur = uint64_t{words[i]} * 10 + carry;
      words[i] = static_cast<uint32_t>(cur);
      carry = cur >> 32;
    }
    if (carry != 0) Bad("\"" + text + "\" is too large for a decimal column.");
  }
  std::array<uint8_t, 17> out{};
  const bool zero = (words[0] | words[1] | words[2] | words[3]) == 0;
  out[0] = negative && !zero ? 0x80 : 0x00;
  for (int i = 0; i < 4; ++i) PutU32(out, 1 + 4 * static_cast<size_t>(i), words[i]);
  return out;
}

std::vector<uint8_t> LongValueBytes(const TableLayout& l, size_t column, const Value& v) {
  const ColumnLayout& c = l.columns[column];
  if (c.decl.type == ColumnType::kOle) {
    if (v.kind != Value::Kind::kBinary) Bad(Describe(l, column) + " takes binary data.");
    return v.bytes;
  }
  if (v.kind != Value::Kind::kText) Bad(Describe(l, column) + " takes text.");
  return TextBytes(l, c, v.text);
}

namespace {

// Appends the variable data of a row (values in slot order) and its
// trailer up to the null mask: the end of the data, the offsets in reverse,
// in Jet 3 the jump table, and the offset count.
void AppendVariablePart(const TableLayout& l, const std::vector<std::vector<uint8_t>>& var,
                        size_t mask_bytes, std::vector<uint8_t>& row) {
  const bool j3 = l.version == JetVersion::kJet3;
  std::vector<uint32_t> offsets;
  for (uint16_t k = 0; k < l.var_count; ++k) {
    offsets.push_back(static_cast<uint32_t>(row.size()));
    row.insert(row.end(), var[k].begin(), var[k].end());
  }
  const auto eod = static_cast<uint32_t>(row.size());
  offsets.push_back(eod);
  const uint32_t nvar = l.var_count;
  if (!j3) {
    for (size_t k = offsets.size(); k-- > 0;) AppendU16(row, static_cast<uint16_t>(offsets[k]));
    AppendU16(row, static_cast<uint16_t>(nvar));
  } else {
    // Jump table: its length follows from the row length, and entry k
    // names the first offset at or past 256 * (k + 1).
    uint32_t jumps = 0;
    for (;;) {
      const uint32_t len = eod + 1 + nvar + jumps + 1 + static_cast<uint32_t>(mask_bytes);
      const uint32_t want = (len - 1) / 256;
      if (want == jumps) break;
      jumps = want;
    }
    const uint32_t real = eod / 256;
    if (real + 1 < jumps || real > jumps)
      Bad("A row of table \"" + l.name + "\" has too many variable columns for its length.");
    for (size_t k = offsets.size(); k-- > 0;)
      row.push_back(static_cast<uint8_t>(offsets[k] & 0xFF));
    std::vector<uint8_t> table(jumps, 0xFF);
    for (uint32_t k = 0; k < real; ++k) {
      uint32_t idx = 0;
      while (offsets[idx] < 256 * (k + 1)) ++idx;
      table[k] = static_cast<uint8_t>(idx);
    }
    for (uint32_t k = jumps; k-- > 0;) row.push_back(table[k]);
    row.push_back(static_cast<uint8_t>(nvar));
  }
}

// Builds one row: the column count and the fixed area, the null mask and
// the values of variable columns aside, then the variable part with its
// trailer, and the mask last.
class RowEncoder {
 public:
  RowEncoder(const TableLayout& l, const std::vector<std::vector<uint8_t>>& long_fields)
      : l_(l), f_(Format::For(l.version)), long_fields_(long_fields) {}

  std::vector<uint8_t> Encode(const std::vector<Value>& values) {
    const size_t ncols = l_.columns.size();
    if (values.size() != ncols)
      Bad("A row of table \"" + l_.name + "\" has the wrong number of values.");
    StartRow();
    for (size_t i = 0; i < ncols; ++i) PutColumn(i, values[i]);
    // A table without variable columns stores neither variable data nor a
    // trailer: the null mask follows the fixed area.
    if (l_.var_count > 0) AppendVariablePart(l_, var_, mask_.size(), row_);
    row_.insert(row_.end(), mask_.begin(), mask_.end());
    if (row_.size() > f_.max_row_size)
      Bad("A row of table \"" + l_.name + "\" is longer than a data page can hold (" +
          std::to_string(row_.size()) + " bytes).");
    return std::move(row_);
  }

 private:
  using K = Value::Kind;

  // The column count, then the fixed area, zeroed.
  void StartRow() {
    const size_t ncols = l_.columns.size();
    row_.assign(f_.row_count_size + l_.fixed_area, 0);
    if (f_.row_count_size == 1) {
      row_[0] = static_cast<uint8_t>(ncols);
    } else {
      PutU16(row_, 0, static_cast<uint16_t>(ncols));
    }
    mask_.assign((ncols + 7) / 8, 0);
    var_.assign(l_.var_count, {});
  }

  void PutColumn(size_t i, const Value& v) {
    const ColumnLayout& c = l_.columns[i];
    if (c.decl.type == ColumnType::kBoolean) {
      if (v.kind != K::kBoolean && !v.is_null()) Wrong(i, "takes Yes/No values");
      if (v.boolean) SetBit(c.number);
      return;
    }
    if (v.is_null()) {
      if (c.decl.required) Wrong(i, "requires a value");
      return;
    }
    SetBit(c.number);
    switch (c.decl.type) {
      case ColumnType::kText:
        PutText(i, v);
        return;
      case ColumnType::kBinary:
        Need(i, v, K::kBinary, "takes binary data");
        if (v.bytes.size() > c.length_bytes) Wrong(i, "cannot hold that many bytes");
        var_[c.var_index] = v.bytes;
        return;
      case ColumnType::kMemo:
      case ColumnType::kOle:
        var_[c.var_index] = long_fields_.at(i);
        return;
      default:
        break;
    }
    // Numbers, dates and GUIDs go into the fixed area, or into bytes of
    // their own in the variable part.
    std::vector<uint8_t> variable(c.fixed ? 0 : FixedTypeSize(static_cast<uint8_t>(c.decl.type)));
    uint8_t* at = c.fixed ? row_.data() + f_.row_count_size + c.fixed_offset : variable.data();
    PutFixedSize(i, v, at);
    if (!variable.empty()) var_[c.var_index] = std::move(variable);
  }

  void PutText(size_t i, const Value& v) {
    const ColumnLayout& c = l_.columns[i];
    Need(i, v, K::kText, "takes text");
    std::vector<uint8_t> b = TextBytes(l_, c, v.text);
    // The text is valid UTF-8 by now: count the bytes that start a character.
    const auto chars = static_cast<size_t>(std::count_if(v.text.begin(), v.text.end(), [](char ch) {
      return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    }));
    if (chars > c.length_bytes / f_.text_unit_bytes) Wrong(i, "cannot hold a text that long");
    var_[c.var_index] = std::move(b);
  }

  void PutFixedSize(size_t i, const Value& v, uint8_t* at) const {
    const ColumnLayout& c = l_.columns[i];
    switch (c.decl.type) {
      case ColumnType::kByte:
        Need(i, v, K::kInteger, "takes whole numbers");
        if (v.integer < 0 || v.integer > 255) Wrong(i, "takes numbers from 0 to 255");
        *at = static_cast<uint8_t>(v.integer);
        break;
      case ColumnType::kInteger:
        Need(i, v, K::kInteger, "takes whole numbers");
        if (v.integer < -32768 || v.integer > 32767) Wrong(i, "takes numbers from -32768 to 32767");
        PutU16(std::span<uint8_t>(at, 2), 0, static_cast<uint16_t>(v.integer));
        break;
      case ColumnType::kLong:
        Need(i, v, K::kInteger, "takes whole numbers");
        if (v.integer < INT32_MIN || v.integer > INT32_MAX) Wrong(i, "takes 32-bit numbers");
        PutU32(std::span<uint8_t>(at, 4), 0, static_cast<uint32_t>(v.integer));
        break;
      case ColumnType::kCurrency:
        Need(i, v, K::kCurrency, "takes currency amounts");
        PutU64(std::span<uint8_t>(at, 8), 0, static_cast<uint64_t>(v.integer));
        break;
      case ColumnType::kSingle:
        Need(i, v, K::kSingle, "takes Single numbers");
        PutU32(std::span<uint8_t>(at, 4), 0, std::bit_cast<uint32_t>(static_cast<float>(v.real)));
        break;
      case ColumnType::kDouble:
      case ColumnType::kDateTime:
        if (v.kind != K::kDouble && v.kind != K::kDateTime) Wrong(i, "takes a number or a date");
        PutU64(std::span<uint8_t>(at, 8), 0, std::bit_cast<uint64_t>(v.real));
        break;
      case ColumnType::kGuid:
        Need(i, v, K::kGuid, "takes GUIDs");
        if (v.bytes.size() != 16) Wrong(i, "takes 16-byte GUIDs");
        std::memcpy(at, v.bytes.data(), 16);
        break;
      case ColumnType::kNumeric: {
        Need(i, v, K::kNumeric, "takes decimal numbers");
        const auto stored = EncodeNumeric(v.text, c.decl.scale);
        std::memcpy(at, stored.data(), stored.size());
        break;
      }
      default:
        Wrong(i, "has a type rows cannot hold");
    }
  }

  void SetBit(uint16_t number) {
    mask_[number / 8] = static_cast<uint8_t>(mask_[number / 8] | (1u << (number % 8)));
  }
  [[noreturn]] void Wrong(size_t i, const char* what) const {
    Bad(Describe(l_, i) + " " + what + ".");
  }
  void Need(size_t i, const Value& v, K kind, const char* what) const {
    if (v.kind != kind) Wrong(i, what);
  }

  const TableLayout& l_;
  const Format& f_;
  const std::vector<std::vector<uint8_t>>& long_fields_;
  std::vector<uint8_t> row_;
  std::vector<uint8_t> mask_;
  std::vector<std::vector<uint8_t>> var_;  // values of the variable columns, by slot
};

}  // namespace

std::vector<uint8_t> EncodeRow(const TableLayout& l, const std::vector<Value>& values,
                               const std::vector<std::vector<uint8_t>>& long_fields) {
  return RowEncoder(l, long_fields).Encode(values);
}

void AppendKeySegment(const TableLayout& l, size_t column, const Value& v, bool ascending,
                      std::vector<uint8_t>& key) {
  namespace ik = index_key;
  const ColumnLayout& c = l.columns[column];
  const bool desc = !ascending;
  if (c.decl.type == ColumnType::kBoolean) {
    ik::AppendBoolean(key, v.boolean, desc);
    return;
  }
  if (v.is_null()) {
    ik::AppendNull(key, desc);
    return;
  }
  switch (c.decl.type) {
    case ColumnType::kByte:
      ik::AppendByte(key, static_cast<uint8_t>(v.integer), desc);
      break;
    case ColumnType::kInteger:
      ik::AppendInteger(key, static_cast<int16_t>(v.integer), desc);
      break;
    case ColumnType::kLong:
      ik::AppendLong(key, static_cast<int32_t>(v.integer), desc);
      break;
    case ColumnType::kCurrency:
      ik::AppendCurrency(key, v.integer, desc);
      break;
    case ColumnType::kSingle:
      ik::AppendSingle(key, static_cast<float>(v.real), desc);
      break;
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      ik::AppendDouble(key, v.real, desc);
      break;
    case ColumnType::kGuid:
      ik::AppendGuid(key, std::span<const uint8_t, 16>(v.bytes.data(), 16), desc);
      break;
    case ColumnType::kBinary:
      ik::AppendBinary(key, v.bytes, desc);
      break;
    case ColumnType::kNumeric: {
      const auto stored = EncodeNumeric(v.text, c.decl.scale);
      std::array<uint8_t, 16> be{};
      for (size_t w = 0; w < 4; ++w) {
        const uint32_t word = LoadU32(stored.data() + 1 + 4 * w);
        PutU32BE(be, 4 * w, word);
      }
      ik::AppendNumeric(key, (stored[0] & 0x80) != 0, be, desc);
      break;
    }
    case ColumnType::kText: {
      const auto coll = l.version == JetVersion::kJet3 ? ik::TextCollation::kGeneral97
                                                       : ik::TextCollation::kGeneralLegacy;
      if (!ik::AppendSimpleText(key, v.text, coll, desc))
        Bad("The text \"" + v.text + "\" of indexed " + Describe(l, column) +
            " holds characters whose index codes are not known; only letters, digits and "
            "spaces" +
            std::string(l.version == JetVersion::kJet3 ? " and ordinary punctuation" : "") +
            " can be indexed.");
      break;
    }
    default:
      Bad(Describe(l, column) + " cannot be indexed.");
  }
}

}  // namespace tessmark::jet
