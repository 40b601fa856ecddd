// The layout of a table the builder creates: its columns and indexes as the
// caller declares them, turned into column numbers, variable-column slots,
// fixed offsets, real and logical indexes; and the two byte forms that
// follow from a layout: the table-definition stream and the row image.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "db/table_def.h"
#include "db/value.h"
#include "format/format.h"
#include "format/header.h"

namespace tessmark::jet {

struct ColumnDecl {
  std::string name;
  ColumnType type = ColumnType::kLong;
  uint16_t length = 0;       // Text: characters; Binary: bytes (default 255 / 50)
  bool required = false;     // NULL refused
  bool autonumber = false;   // Long only: values handed out by the table
  uint8_t precision = 18;    // Numeric
  uint8_t scale = 0;         // Numeric
  uint8_t system_flags = 0;  // extra flag bits of system columns (0x10, 0x20)
  bool compressed = true;    // Jet 4 Text/Memo: compressed Unicode allowed
  // Numbers, dates and GUIDs: stored in the variable part of the row, as
  // the desktop product stores the columns of some of its system tables.
  bool variable_length = false;
};

struct IndexColumnDecl {
  std::string column;
  bool ascending = true;
};

struct IndexDecl {
  std::string name;
  std::vector<IndexColumnDecl> columns;
  bool primary = false;  // implies unique; its columns may not be NULL
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
};

struct TableDecl {
  std::string name;
  std::vector<ColumnDecl> columns;
  std::vector<IndexDecl> indexes;
  bool system = false;  // table type 'S'
};

struct ColumnLayout {
  ColumnDecl decl;
  uint16_t number = 0;
  uint16_t var_index = 0;
  uint16_t fixed_offset = 0;
  uint16_t length_bytes = 0;  // length field of the column block
  uint8_t flags = 0;
  uint8_t ext_flags = 0;
  bool fixed = false;
  uint32_t fixed_size = 0;  // bytes the type takes in the fixed area (0 for booleans)

  bool long_value() const {
    return decl.type == ColumnType::kMemo || decl.type == ColumnType::kOle;
  }
};

struct RealIndexLayout {
  std::vector<std::pair<size_t, bool>> columns;  // column position, ascending
  uint8_t flags = 0;                             // RealIndexFlags
};

struct LogicalIndexLayout {
  std::string name;
  uint32_t number = 0;
  uint32_t real = 0;
  uint8_t type = kIndexTypeNormal;  // kIndexType...
  uint8_t fk_role = 0;
  int32_t fk_index = -1;
  size_t fk_table = SIZE_MAX;  // position of the other table in the builder, resolved late
  uint8_t update_action = 4;
  uint8_t delete_action = 4;
};

struct TableLayout {
  JetVersion version = JetVersion::kJet4;
  std::string name;
  bool system = false;
  std::vector<ColumnLayout> columns;  // in column-number order
  uint16_t var_count = 0;
  uint32_t fixed_area = 0;
  std::vector<RealIndexLayout> real_indexes;
  std::vector<LogicalIndexLayout> logical_indexes;
  std::optional<size_t> autonumber;  // position of the AutoNumber column

  // Position of a column by name (ASCII case-insensitive); throws 3001.
  size_t ColumnPosition(const std::string& column) const;
  // Real index over exactly these columns (same order and direction), or
  // a new non-unique one.
  uint32_t RealIndexFor(const std::vector<std::pair<size_t, bool>>& columns);
};

// Checks a declaration and lays it out. Bad declarations (unknown or
// duplicate names, unsupported types, too many index columns, AutoNumber on
// anything but Long, memo/OLE in an index) throw 3001 and name the culprit.
TableLayout LayOutTable(const TableDecl& decl, JetVersion version);

// Page numbers and statistics the definition stream carries.
struct TableDefNumbers {
  uint32_t row_count = 0;
  uint32_t last_autonumber = 0;
  RowPointer owned_map, free_map;
  struct Index {
    RowPointer map;
    uint32_t root = 0;
    uint32_t entries = 0;
    uint32_t unique_keys = 0;
  };
  std::vector<Index> indexes;  // per real index
  struct LongValueMaps {
    RowPointer owned, free;
  };
  std::vector<LongValueMaps> long_values;  // per memo/OLE column, column order
  std::vector<uint32_t> fk_table_pages;    // per logical index (0 when none)
};

// The logical TDEF stream (first page header included; free space and the
// continuation link are filled in when the stream is split into pages).
std::vector<uint8_t> EncodeTableDef(const TableLayout& layout, const TableDefNumbers& numbers);

// A row as the table stores it (values in column order), long values
// excepted: the caller passes their 12-byte fields (plus inline data) in
// `long_fields`, by column position. A table without variable columns gets
// rows without a variable trailer. Values of the wrong kind or out of
// range throw 3001.
std::vector<uint8_t> EncodeRow(const TableLayout& layout, const std::vector<Value>& values,
                               const std::vector<std::vector<uint8_t>>& long_fields);

// Text and binary bytes of a long value as stored (memo: the column's text
// encoding; OLE: the bytes).
std::vector<uint8_t> LongValueBytes(const TableLayout& layout, size_t column, const Value& value);

// Numeric value text ("-12.345") as the 17 stored bytes for `scale`, and
// the sign plus 16-byte big-endian magnitude the key encoder takes. Throws
// 3001 for text that is not a number or needs more digits than 28.
std::array<uint8_t, 17> EncodeNumeric(const std::string& text, uint8_t scale);

// Appends the key segment of `value` for column `column` of `layout`.
// Text the collation tables do not cover throws 3001.
void AppendKeySegment(const TableLayout& layout, size_t column, const Value& value, bool ascending,
                      std::vector<uint8_t>& key);

}  // namespace tessmark::jet
