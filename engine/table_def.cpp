#include "engine/table_def.h"

#include <algorithm>
#include <unordered_set>

#include "engine/text.h"

namespace tessmark::jet {

const char* ColumnTypeName(uint8_t type) {
  switch (static_cast<ColumnType>(type)) {
    case ColumnType::kBoolean:
      return "Boolean";
    case ColumnType::kByte:
      return "Byte";
    case ColumnType::kInteger:
      return "Integer";
    case ColumnType::kLong:
      return "Long";
    case ColumnType::kCurrency:
      return "Currency";
    case ColumnType::kSingle:
      return "Single";
    case ColumnType::kDouble:
      return "Double";
    case ColumnType::kDateTime:
      return "DateTime";
    case ColumnType::kBinary:
      return "Binary";
    case ColumnType::kText:
      return "Text";
    case ColumnType::kOle:
      return "OLE";
    case ColumnType::kMemo:
      return "Memo";
    case ColumnType::kGuid:
      return "GUID";
    case ColumnType::kNumeric:
      return "Numeric";
    case ColumnType::kFixedBinary:
      return "FixedBinary";
  }
  return "Unknown";
}

bool KnownColumnType(uint8_t type) {
  const auto t = static_cast<ColumnType>(type);
  return (t >= ColumnType::kBoolean && t <= ColumnType::kMemo) || t == ColumnType::kGuid ||
         t == ColumnType::kNumeric || t == ColumnType::kFixedBinary;
}

const ColumnDef* TableDef::FindColumn(const std::string& column_name) const {
  for (const ColumnDef& c : columns) {
    if (c.name == column_name) return &c;
  }
  return nullptr;
}

const ColumnDef* TableDef::ColumnByNumber(uint16_t number) const {
  for (const ColumnDef& c : columns) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

std::vector<const ColumnDef*> TableDef::ColumnsByNumber() const {
  std::vector<const ColumnDef*> out;
  for (const ColumnDef& c : columns) out.push_back(&c);
  std::stable_sort(out.begin(), out.end(),
                   [](const ColumnDef* a, const ColumnDef* b) { return a->number < b->number; });
  return out;
}

std::vector<const LogicalIndexDef*> TableDef::LogicalIndexesOf(uint32_t real_index) const {
  std::vector<const LogicalIndexDef*> out;
  for (const LogicalIndexDef& l : logical_indexes) {
    if (l.real_index == real_index) out.push_back(&l);
  }
  return out;
}

Location TableDef::where() const {
  Location l;
  // Built apart and moved in: GCC 12 for 32-bit targets warns wrongly
  // (-Wrestrict) about assigning a literal into the member here.
  std::string label = name.empty() ? std::string(1, '#') + std::to_string(page) : name;
  l.table = std::move(label);
  l.page = page;
  return l;
}

namespace {

// No definition of 255 columns and their indexes comes near this.
constexpr size_t kMaxTableDefBytes = 1u << 20;

// Reads names and blocks from the logical stream, remembering how far it got.
class StreamReader {
 public:
  StreamReader(const TableDef& def, const Format& format, const Location& where)
      : view_(def.stream, where), format_(format) {}

  const ByteView& view() const { return view_; }

  std::string Name(uint32_t& pos) const {
    uint32_t len;
    if (format_.jet3()) {
      len = view_.U8(pos);
      pos += 1;
      const std::string s = SingleByteToUtf8(view_.Sub(pos, len), 1252);
      pos += len;
      return s;
    }
    len = view_.U16(pos);
    pos += 2;
    const std::string s = Utf16LeToUtf8(view_.Sub(pos, len));
    pos += len;
    return s;
  }

 private:
  ByteView view_;
  const Format& format_;
};

}  // namespace

TableDef ReadTableDef(PageFile& file, uint32_t page, const std::string& name) {
  const Format& f = Format::For(file.version());
  TableDef def;
  def.name = name;
  def.page = page;
  Location where = def.where();

  // Gather the chain: the first page whole, continuation pages without
  // their 8-byte header.
  std::unordered_set<uint32_t> seen;
  uint32_t current = page;
  while (true) {
    Location at = where.WithPage(current);
    if (!seen.insert(current).second) {
      ThrowDamaged(at, "the table definition chain returns to page " + std::to_string(current));
    }
    PageRef p = file.Get(current, at);
    if (p->type() != kPageTableDef) {
      ThrowDamaged(at, "page " + std::to_string(current) +
                           " should hold a table definition but has page type " +
                           std::to_string(p->type()));
    }
    ByteView v = p->View(at);
    def.pages.push_back(current);
    if (!f.jet3()) def.page_free_fields.push_back(v.U16(kPageFreeSpace));
    if (def.pages.size() == 1) {
      def.stream.insert(def.stream.end(), p->data.begin(), p->data.end());
    } else {
      def.stream.insert(def.stream.end(), p->data.begin() + kTdefPageHeader, p->data.end());
    }
    const uint32_t next = v.U32(kTdefNextPage);
    if (next == 0) break;
    const uint32_t declared = LoadU32(def.stream.data() + kTdefLength);
    if (def.stream.size() >= declared || def.stream.size() >= kMaxTableDefBytes) {
      ThrowDamaged(at, "the table definition chain continues past the definition's length of " +
                           std::to_string(declared) + " bytes");
    }
    current = next;
  }

  StreamReader r(def, f, where);
  const ByteView& s = r.view();
  def.declared_length = s.U32(kTdefLength);
  def.row_count = s.U32(f.tdef_row_count);
  def.last_autonumber = s.U32(f.tdef_autonumber);
  def.table_type = s.U8(f.tdef_table_type);
  def.max_columns = s.U16(f.tdef_max_cols);
  def.var_columns = s.U16(f.tdef_var_cols);
  const uint16_t num_cols = s.U16(f.tdef_num_cols);
  const uint32_t num_idx = s.U32(f.tdef_num_idx);
  const uint32_t num_real = s.U32(f.tdef_num_real_idx);
  def.owned_map = RowPointer::FromStored(s.U32(f.tdef_owned_map));
  def.free_map = RowPointer::FromStored(s.U32(f.tdef_free_map));

  // Counts are bounded by the bytes their blocks need; this keeps a damaged
  // count from asking for huge allocations.
  const size_t room = def.stream.size();
  if (num_real > room / f.real_idx_count_block || num_idx > room / f.logical_idx_block ||
      num_cols > room / f.column_block) {
    ThrowDamaged(where, "the table definition declares more columns or indexes than it holds");
  }

  uint32_t pos = f.tdef_var_part;
  def.real_indexes.resize(num_real);
  for (uint32_t i = 0; i < num_real; ++i) {
    RealIndexDef& ri = def.real_indexes[i];
    ri.number = i;
    ri.count_block_offset = pos;
    ri.stat_entries = s.U32(pos + f.ric_entries);
    ri.stat_unique = s.U32(pos + f.ric_unique_keys);
    pos += f.real_idx_count_block;
  }

  def.columns.resize(num_cols);
  for (ColumnDef& c : def.columns) {
    c.block_offset = pos;
    c.type = s.U8(pos + f.col_type);
    c.number = s.U16(pos + f.col_number);
    c.var_index = s.U16(pos + f.col_var_index);
    c.collation = s.U16(pos + f.col_collation);
    if (f.jet3()) {
      c.code_page = s.U16(pos + f.col_code_page);
    } else {
      // Where text keeps its collation; read for every column.
      c.precision = s.U8(pos + f.col_precision);
      c.scale = s.U8(pos + f.col_scale);
    }
    c.flags = s.U8(pos + f.col_flags);
    if (!f.jet3()) c.ext_flags = s.U8(pos + f.col_ext_flags);
    c.fixed_offset = s.U16(pos + f.col_fixed_offset);
    c.length = s.U16(pos + f.col_length);
    // Jet 3 keeps them over the code page, of Numeric columns only.
    if (f.jet3() && c.column_type() == ColumnType::kNumeric) {
      c.precision = s.U8(pos + f.col_precision);
      c.scale = s.U8(pos + f.col_scale);
    }
    pos += f.column_block;
  }
  for (ColumnDef& c : def.columns) c.name = r.Name(pos);

  for (RealIndexDef& ri : def.real_indexes) {
    ri.block_offset = pos;
    for (uint32_t k = 0; k < kIndexColumnSlots; ++k) {
      const uint32_t slot = pos + f.ri_columns + kIndexColumnSlotSize * k;
      const uint16_t number = s.U16(slot);
      if (number == kNoIndexColumn) continue;
      ri.columns.push_back(IndexColumn{number, s.U8(slot + 2) != 0});
    }
    ri.usage_map = RowPointer::FromStored(s.U32(pos + f.ri_usage_map));
    ri.root_page = s.U32(pos + f.ri_root);
    ri.flags = s.U8(pos + f.ri_flags);
    pos += f.real_idx_block;
  }

  def.logical_indexes.resize(num_idx);
  for (LogicalIndexDef& li : def.logical_indexes) {
    li.block_offset = pos;
    li.number = s.U32(pos + f.li_number);
    li.real_index = s.U32(pos + f.li_real_index);
    li.fk_role = s.U8(pos + f.li_fk_role);
    li.fk_index = static_cast<int32_t>(s.U32(pos + f.li_fk_index));
    li.fk_table_page = s.U32(pos + f.li_fk_table);
    li.update_action = s.U8(pos + f.li_update_action);
    li.delete_action = s.U8(pos + f.li_delete_action);
    li.index_type = s.U8(pos + f.li_index_type);
    pos += f.logical_idx_block;
  }
  for (LogicalIndexDef& li : def.logical_indexes) li.name = r.Name(pos);

  while (true) {
    const uint16_t column = s.U16(pos + kLvMapColumn);
    if (column == kLvMapEnd) {
      pos += 2;
      break;
    }
    LongValueMapDef m;
    m.offset = pos;
    m.column_number = column;
    m.owned_map = RowPointer::FromStored(s.U32(pos + kLvMapOwned));
    m.free_map = RowPointer::FromStored(s.U32(pos + kLvMapFree));
    def.long_value_maps.push_back(m);
    pos += kLvMapEntry;
  }
  def.parsed_length = pos;
  return def;
}

}  // namespace tessmark::jet
