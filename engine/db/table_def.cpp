#include "db/table_def.h"

#include <algorithm>
#include <unordered_set>

#include "format/text.h"

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

std::string TableDef::IndexName(const RealIndexDef& index) const {
  for (const LogicalIndexDef& l : logical_indexes)
    if (l.real_index == index.number) return l.name;
  return "#" + std::to_string(index.number);
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

// Gathers the chain into the definition's logical stream: the first page
// whole, continuation pages without their header.
void ReadChain(PageFile& file, const Format& f, TableDef& def, const Location& where) {
  std::unordered_set<uint32_t> seen;
  uint32_t current = def.page;
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
    const size_t skip = def.pages.size() == 1 ? 0 : kTdefPageHeader;
    def.stream.insert(def.stream.end(), p->data.begin() + static_cast<std::ptrdiff_t>(skip),
                      p->data.end());
    const uint32_t next = v.U32(kTdefNextPage);
    if (next == 0) return;
    const uint32_t declared = LoadU32(def.stream.data() + kTdefLength);
    if (def.stream.size() >= declared || def.stream.size() >= kMaxTableDefBytes) {
      ThrowDamaged(at, "the table definition chain continues past the definition's length of " +
                           std::to_string(declared) + " bytes");
    }
    current = next;
  }
}

// Reads the parts of the stream in order, each step from where the last
// one ended.
class TableDefParser {
 public:
  TableDefParser(TableDef& def, const Format& f, const Location& where)
      : def_(def), f_(f), where_(where), s_(def.stream, where) {}

  void Parse() {
    ReadDefinitionBlock();
    pos_ = f_.tdef_var_part;
    ReadBlocks(def_.real_indexes, f_.real_idx_count_block, &TableDefParser::ReadRealIndexCount);
    ReadBlocks(def_.columns, f_.column_block, &TableDefParser::ReadColumn);
    for (ColumnDef& c : def_.columns) c.name = Name();
    ReadBlocks(def_.real_indexes, f_.real_idx_block, &TableDefParser::ReadRealIndex);
    ReadBlocks(def_.logical_indexes, f_.logical_idx_block, &TableDefParser::ReadLogicalIndex);
    for (LogicalIndexDef& li : def_.logical_indexes) li.name = Name();
    ReadLongValueMaps();
    def_.parsed_length = pos_;
  }

 private:
  // The fixed definition block: counts, statistics and the table's maps.
  void ReadDefinitionBlock() {
    def_.declared_length = s_.U32(kTdefLength);
    def_.row_count = s_.U32(f_.tdef_row_count);
    def_.last_autonumber = s_.U32(f_.tdef_autonumber);
    def_.table_type = s_.U8(f_.tdef_table_type);
    def_.max_columns = s_.U16(f_.tdef_max_cols);
    def_.var_columns = s_.U16(f_.tdef_var_cols);
    const uint16_t num_cols = s_.U16(f_.tdef_num_cols);
    const uint32_t num_idx = s_.U32(f_.tdef_num_idx);
    const uint32_t num_real = s_.U32(f_.tdef_num_real_idx);
    def_.owned_map = RowPointer::FromStored(s_.U32(f_.tdef_owned_map));
    def_.free_map = RowPointer::FromStored(s_.U32(f_.tdef_free_map));
    // Counts are bounded by the bytes their blocks need; this keeps a
    // damaged count from asking for huge allocations.
    const size_t room = def_.stream.size();
    if (num_real > room / f_.real_idx_count_block || num_idx > room / f_.logical_idx_block ||
        num_cols > room / f_.column_block) {
      ThrowDamaged(where_, "the table definition declares more columns or indexes than it holds");
    }
    def_.real_indexes.resize(num_real);
    for (uint32_t i = 0; i < num_real; ++i) def_.real_indexes[i].number = i;
    def_.columns.resize(num_cols);
    def_.logical_indexes.resize(num_idx);
  }

  // Reads consecutive blocks of `size` bytes, one per item.
  template <typename Item>
  void ReadBlocks(std::vector<Item>& items, uint32_t size, void (TableDefParser::*read)(Item&)) {
    for (Item& item : items) {
      (this->*read)(item);
      pos_ += size;
    }
  }

  void ReadRealIndexCount(RealIndexDef& ri) {
    ri.count_block_offset = pos_;
    ri.stat_entries = U32(f_.ric_entries);
    ri.stat_unique = U32(f_.ric_unique_keys);
  }

  void ReadColumn(ColumnDef& c) {
    c.block_offset = pos_;
    c.type = U8(f_.col_type);
    c.number = U16(f_.col_number);
    c.var_index = U16(f_.col_var_index);
    c.collation = U16(f_.col_collation);
    if (f_.jet3()) {
      c.code_page = U16(f_.col_code_page);
    } else {
      // Where text keeps its collation; read for every column.
      c.precision = U8(f_.col_precision);
      c.scale = U8(f_.col_scale);
    }
    c.flags = U8(f_.col_flags);
    if (!f_.jet3()) c.ext_flags = U8(f_.col_ext_flags);
    c.fixed_offset = U16(f_.col_fixed_offset);
    c.length = U16(f_.col_length);
    // Jet 3 keeps them over the code page, of Numeric columns only.
    if (f_.jet3() && c.column_type() == ColumnType::kNumeric) {
      c.precision = U8(f_.col_precision);
      c.scale = U8(f_.col_scale);
    }
  }

  // A name: its length in bytes, then Jet 3 code-page or Jet 4 UTF-16 text.
  std::string Name() {
    const uint32_t len = f_.name_length_size == 1 ? s_.U8(pos_) : s_.U16(pos_);
    pos_ += f_.name_length_size;
    const Bytes text = s_.Sub(pos_, len);
    pos_ += len;
    return f_.jet3() ? SingleByteToUtf8(text, 1252) : Utf16LeToUtf8(text);
  }

  void ReadRealIndex(RealIndexDef& ri) {
    ri.block_offset = pos_;
    for (uint32_t k = 0; k < kIndexColumnSlots; ++k) {
      const uint32_t slot = pos_ + f_.ri_columns + kIndexColumnSlotSize * k;
      const uint16_t number = s_.U16(slot);
      if (number == kNoIndexColumn) continue;
      ri.columns.push_back(IndexColumn{number, s_.U8(slot + 2) != 0});
    }
    ri.usage_map = RowPointer::FromStored(U32(f_.ri_usage_map));
    ri.root_page = U32(f_.ri_root);
    ri.flags = U8(f_.ri_flags);
  }

  void ReadLogicalIndex(LogicalIndexDef& li) {
    li.block_offset = pos_;
    li.number = U32(f_.li_number);
    li.real_index = U32(f_.li_real_index);
    li.fk_role = U8(f_.li_fk_role);
    li.fk_index = static_cast<int32_t>(U32(f_.li_fk_index));
    li.fk_table_page = U32(f_.li_fk_table);
    li.update_action = U8(f_.li_update_action);
    li.delete_action = U8(f_.li_delete_action);
    li.index_type = U8(f_.li_index_type);
  }

  // The maps of each memo/OLE column, up to and including the end mark.
  void ReadLongValueMaps() {
    while (true) {
      const uint16_t column = U16(kLvMapColumn);
      if (column == kLvMapEnd) {
        pos_ += 2;
        return;
      }
      LongValueMapDef m;
      m.offset = pos_;
      m.column_number = column;
      m.owned_map = RowPointer::FromStored(U32(kLvMapOwned));
      m.free_map = RowPointer::FromStored(U32(kLvMapFree));
      def_.long_value_maps.push_back(m);
      pos_ += kLvMapEntry;
    }
  }

  // Fields of the block that starts at the current position.
  uint8_t U8(uint32_t field) const { return s_.U8(pos_ + field); }
  uint16_t U16(uint32_t field) const { return s_.U16(pos_ + field); }
  uint32_t U32(uint32_t field) const { return s_.U32(pos_ + field); }

  TableDef& def_;
  const Format& f_;
  const Location& where_;
  ByteView s_;
  uint32_t pos_ = 0;
};

}  // namespace

TableDef ReadTableDef(PageFile& file, uint32_t page, const std::string& name) {
  const Format& f = Format::For(file.version());
  TableDef def;
  def.name = name;
  def.page = page;
  const Location where = def.where();
  ReadChain(file, f, def, where);
  TableDefParser(def, f, where).Parse();
  return def;
}

}  // namespace tessmark::jet
