// Table definitions (TDEF chains): columns, real and logical indexes, usage
// map pointers and long-value column maps. The parsed definition keeps the
// logical byte stream and the offset of every block in it, so a writer can
// copy the definition and patch page numbers in place.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/format.h"
#include "format/page_file.h"

namespace tessmark::jet {

// The catalog (MSysObjects) always starts on this page; its name is only
// what its own catalog row says.
constexpr uint32_t kCatalogPage = 2;

enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kCurrency = 0x05,
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kGuid = 0x0F,
  kNumeric = 0x10,
  kFixedBinary = 0x11,
};

// Name of a column type for messages and dumps ("Long", "Text", ...).
const char* ColumnTypeName(uint8_t type);
// Storage size of a fixed-length column of `type`, or 0 when the length
// comes from the column definition. (Inline: it is asked for every field
// of every row.)
inline uint32_t FixedTypeSize(uint8_t type) {
  switch (static_cast<ColumnType>(type)) {
    case ColumnType::kByte:
      return 1;
    case ColumnType::kInteger:
      return 2;
    case ColumnType::kLong:
    case ColumnType::kSingle:
      return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      return 8;
    case ColumnType::kGuid:
      return 16;
    case ColumnType::kNumeric:
      return 17;
    default:  // Boolean (the null mask), variable and unknown types
      return 0;
  }
}
bool KnownColumnType(uint8_t type);

enum ColumnFlags : uint8_t {
  kColumnFixed = 0x01,
  kColumnNullable = 0x02,
  kColumnAutoNumber = 0x04,
  kColumnAutoGuid = 0x40,
  kColumnHyperlink = 0x80,
};

// Jet 4 extended column flags.
enum ColumnExtFlags : uint8_t {
  kColumnCompressedUnicode = 0x01,
};

struct ColumnDef {
  uint8_t type = 0;        // ColumnType value as stored
  uint16_t number = 0;     // null-mask bit; gaps after deletions
  uint16_t var_index = 0;  // position in the var-offset list (variable columns)
  uint8_t flags = 0;
  uint8_t ext_flags = 0;  // Jet 4: ColumnExtFlags
  uint16_t fixed_offset = 0;
  uint16_t length = 0;        // declared maximum length in bytes
  uint16_t collation = 0;     // text: LCID
  uint16_t code_page = 0;     // Jet 3 text: code page
  uint8_t precision = 0;      // Numeric
  uint8_t scale = 0;          // Numeric
  std::string name;           // UTF-8
  uint32_t block_offset = 0;  // offset of the column block in the TDEF stream

  ColumnType column_type() const { return static_cast<ColumnType>(type); }
  bool fixed() const { return (flags & kColumnFixed) != 0; }
  bool autonumber() const { return (flags & kColumnAutoNumber) != 0; }
  bool long_value() const {
    return column_type() == ColumnType::kOle || column_type() == ColumnType::kMemo;
  }
  bool boolean() const { return column_type() == ColumnType::kBoolean; }
  bool compressed_unicode() const { return (ext_flags & kColumnCompressedUnicode) != 0; }
  // Bytes a fixed column takes in the fixed area.
  uint32_t fixed_size() const {
    if (boolean()) return 0;
    const uint32_t size = FixedTypeSize(type);
    return size != 0 ? size : length;
  }
};

struct IndexColumn {
  uint16_t column_number = 0;
  bool ascending = true;
};

enum RealIndexFlags : uint8_t {
  kIndexUnique = 0x01,
  kIndexIgnoreNulls = 0x02,
  kIndexRequired = 0x08,
  kIndexJet4Mark = 0x80,  // set on every index Jet 4 writes
};

// A physical index: one B-tree of index pages.
struct RealIndexDef {
  uint32_t number = 0;
  std::vector<IndexColumn> columns;
  RowPointer usage_map;
  uint32_t root_page = 0;
  uint8_t flags = 0;
  uint32_t stat_entries = 0;  // count block bytes 0..3 (statistic)
  uint32_t stat_unique = 0;   // count block bytes 4..7 (distinct keys statistic)
  uint32_t count_block_offset = 0;
  uint32_t block_offset = 0;

  bool unique() const { return (flags & kIndexUnique) != 0; }
  bool ignore_nulls() const { return (flags & kIndexIgnoreNulls) != 0; }
};

// What a logical index is, beyond its columns.
enum : uint8_t {
  kIndexTypeNormal = 0,
  kIndexTypePrimaryKey = 1,
  kIndexTypeForeignKey = 2,  // an index of a relationship, on either side
};

// A named index as the user sees it; backed by a real index.
struct LogicalIndexDef {
  uint32_t number = 0;
  uint32_t real_index = 0;
  uint8_t fk_role = 0;         // 1 referenced side, 2 referencing side, 0 none
  int32_t fk_index = -1;       // logical index number in the other table
  uint32_t fk_table_page = 0;  // TDEF page of the other table, 0 if none
  uint8_t update_action = 0;
  uint8_t delete_action = 0;
  uint8_t index_type = 0;  // 0 normal, 1 primary key, 2 foreign-key reference
  std::string name;
  uint32_t block_offset = 0;

  bool primary_key() const { return index_type == kIndexTypePrimaryKey; }
  bool foreign_key() const { return fk_table_page != 0; }
};

// Usage maps of one memo/OLE column's long-value pages.
struct LongValueMapDef {
  uint16_t column_number = 0;
  RowPointer owned_map;
  RowPointer free_map;
  uint32_t offset = 0;  // offset of the entry in the TDEF stream
};

struct TableDef {
  std::string name;                        // from the catalog, when known
  uint32_t page = 0;                       // first TDEF page (= the table's Id)
  std::vector<uint32_t> pages;             // the TDEF chain, first page first
  std::vector<uint8_t> stream;             // logical definition (first page header included)
  uint32_t declared_length = 0;            // tdef_len field
  uint32_t parsed_length = 0;              // bytes the parser consumed, up to the FF FF terminator
  std::vector<uint16_t> page_free_fields;  // Jet 4: free-space field of each TDEF page

  uint32_t row_count = 0;
  uint32_t last_autonumber = 0;
  uint8_t table_type = 0;  // 'N' user, 'S' system
  uint16_t max_columns = 0;
  uint16_t var_columns = 0;
  RowPointer owned_map;
  RowPointer free_map;
  std::vector<ColumnDef> columns;  // in TDEF order
  std::vector<RealIndexDef> real_indexes;
  std::vector<LogicalIndexDef> logical_indexes;
  std::vector<LongValueMapDef> long_value_maps;

  const ColumnDef* FindColumn(const std::string& column_name) const;
  const ColumnDef* ColumnByNumber(uint16_t number) const;
  // Columns ordered by column number (the order a dump shows them in).
  std::vector<const ColumnDef*> ColumnsByNumber() const;
  // The name of the first logical index over `index`, or "#N" when none is.
  std::string IndexName(const RealIndexDef& index) const;
  Location where() const;
};

// Reads the TDEF chain starting at `page`. Damage (wrong page type, a cycle
// or a chain longer than the file, a definition that runs past its bytes)
// throws 3049 naming the page.
TableDef ReadTableDef(PageFile& file, uint32_t page, const std::string& name = {});

}  // namespace tessmark::jet
