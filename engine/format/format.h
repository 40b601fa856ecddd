// The layout of the file's structures: offsets and sizes by format version
// (Format, one instance for Jet 3 and one for Jet 4) and the few that both
// versions share. Every parser, writer and patcher takes them from here, so
// a layout fact is stated exactly once.
#pragma once

#include <cstdint>

#include "format/bytes_write.h"
#include "format/header.h"

namespace tessmark::jet {

// Offsets every page of a type shares in both versions.
inline constexpr uint32_t kPageFreeSpace = 0x02;  // data, index and Jet 4 TDEF pages
inline constexpr uint32_t kPageOwner = 0x04;      // data and index pages: the table's TDEF page
inline constexpr uint32_t kTdefMark = 0x02;  // Jet 3 TDEF pages: "VC" where Jet 4 keeps free space
inline constexpr uint32_t kTdefNextPage = 0x04;  // TDEF pages: next page of the chain, 0 at the end
inline constexpr uint32_t kTdefPageHeader = 8;   // bytes of a continuation page not in the stream
inline constexpr uint32_t kTdefLength = 0x08;    // in the stream: its length, terminator included
inline constexpr uint32_t kMapPageBitmap = 4;    // 0x05 pages: where the bitmap starts
// Owner field of long-value pages: the ASCII bytes "LVAL".
inline constexpr uint32_t kLongValueOwner = 0x4C41564C;

// Long-value fields in a row: a 32-bit length whose two top bits give the
// form (inline, in one row, or a chain of rows), then the pointer to the
// first row and, in Jet 4, a stamp.
inline constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;
inline constexpr uint32_t kLongValueInline = 0x80000000;
inline constexpr uint32_t kLongValueSingleRow = 0x40000000;
inline constexpr uint32_t kLongValuePointer = 4;
inline constexpr uint32_t kLongValueStamp = 8;
inline constexpr uint32_t kLongValueFieldSize = 12;

// Usage-map rows: a kind byte, then an inline map's first page and bitmap,
// or a reference map's bitmap page numbers.
enum MapRowKind : uint8_t {
  kMapInline = 0x00,
  kMapReference = 0x01,
};
inline constexpr uint32_t kMapRowStartPage = 1;
inline constexpr uint32_t kMapRowBitmap = 5;
inline constexpr uint32_t kMapRowPages = 1;

// Real-index blocks list ten column slots of a column number (0xFFFF for
// none) and an order byte.
inline constexpr uint32_t kIndexColumnSlots = 10;
inline constexpr uint32_t kIndexColumnSlotSize = 3;
inline constexpr uint16_t kNoIndexColumn = 0xFFFF;

// Long-value map entries of a definition: a column number and two map
// pointers; a column number of 0xFFFF ends the list.
inline constexpr uint32_t kLvMapColumn = 0;
inline constexpr uint32_t kLvMapOwned = 2;
inline constexpr uint32_t kLvMapFree = 6;
inline constexpr uint32_t kLvMapEntry = 10;
inline constexpr uint16_t kLvMapEnd = 0xFFFF;

// The layout of one format version: every offset and size of a structure
// that differs between Jet 3 and Jet 4, named once. Parsers, writers and
// patchers all take their offsets from here. A field a version lacks holds
// kAbsent. Block offsets (col_, ri_, li_) count from the start of a block.
struct Format {
  static constexpr uint32_t kAbsent = 0xFFFFFFFF;

  JetVersion version;
  uint32_t page_size;

  // Data pages.
  uint32_t data_stamp;       // Jet 4: a stamp on long-value pages
  uint32_t data_row_count;   // offset of the slot count
  uint32_t data_first_slot;  // offset of slot 0
  // Rows.
  uint32_t row_count_size;     // bytes of num_cols / nvar / var offsets
  uint32_t max_row_size;       // longest row a table may store
  uint32_t text_unit_bytes;    // bytes per character of the length of a Text column
  uint32_t max_binary_length;  // longest Binary column
  // TDEF definition block.
  uint32_t tdef_constant;  // Jet 4: always 1625
  uint32_t tdef_row_count;
  uint32_t tdef_autonumber;
  uint32_t tdef_autonumber_mark;  // Jet 4: always 0x01
  uint32_t tdef_table_type;
  uint32_t tdef_max_cols;
  uint32_t tdef_var_cols;
  uint32_t tdef_num_cols;
  uint32_t tdef_num_idx;
  uint32_t tdef_num_real_idx;
  uint32_t tdef_owned_map;
  uint32_t tdef_free_map;
  uint32_t tdef_var_part;
  uint32_t name_length_size;  // bytes of the length before a name
  // Real-index count blocks.
  uint32_t real_idx_count_block;
  uint32_t ric_entries;      // entry count statistic
  uint32_t ric_unique_keys;  // distinct key statistic
  // Column blocks.
  uint32_t column_block;
  uint32_t col_type;
  uint32_t col_constant;  // Jet 4: always 1625
  uint32_t col_number;
  uint32_t col_var_index;
  uint32_t col_collation;
  uint32_t col_code_page;  // Jet 3
  uint32_t col_precision;  // Numeric, over the collation (Jet 4) or code page (Jet 3)
  uint32_t col_scale;
  uint32_t col_flags;
  uint32_t col_ext_flags;  // Jet 4
  uint32_t col_fixed_offset;
  uint32_t col_length;
  // Real-index blocks.
  uint32_t real_idx_block;
  uint32_t ri_constant;  // Jet 4: always 1923
  uint32_t ri_columns;   // the column slots
  uint32_t ri_usage_map;
  uint32_t ri_root;
  uint32_t ri_flags;
  // Logical-index blocks.
  uint32_t logical_idx_block;
  uint32_t li_constant;  // Jet 4: always 1625
  uint32_t li_number;
  uint32_t li_real_index;
  uint32_t li_fk_role;
  uint32_t li_fk_index;
  uint32_t li_fk_table;
  uint32_t li_update_action;
  uint32_t li_delete_action;
  uint32_t li_index_type;
  // Usage maps.
  uint32_t inline_map_bytes;  // bitmap bytes of a normal inline map row
  // Index pages.
  uint32_t idx_prev;
  uint32_t idx_next;
  uint32_t idx_tail;
  uint32_t idx_prefix;
  uint32_t idx_prefix_size;
  uint32_t idx_node_marker;
  uint32_t idx_bitmap;
  uint32_t idx_bitmap_bytes;
  uint32_t idx_first_entry;
  uint32_t idx_entry_area;
  // Long values.
  uint32_t lv_chain_row;  // bytes of a full chain row (pointer + data)

  bool jet3() const { return version == JetVersion::kJet3; }
  uint32_t data_header_size() const { return data_first_slot; }
  // Bytes of a data page left for rows and their slots.
  uint32_t data_capacity() const { return page_size - data_first_slot; }
  // Length of a normal usage-map row, inline or reference.
  uint32_t map_row_length() const { return kMapRowBitmap + inline_map_bytes; }
  // Bits of the page covered by a 0x05 usage-map page.
  uint32_t map_page_bits() const { return (page_size - kMapPageBitmap) * 8; }

  static const Format& For(JetVersion version);
};

inline constexpr Format kJet3Format = {
    .version = JetVersion::kJet3,
    .page_size = 2048,
    .data_stamp = Format::kAbsent,
    .data_row_count = 0x08,
    .data_first_slot = 0x0A,
    .row_count_size = 1,
    .max_row_size = 2012,
    .text_unit_bytes = 1,
    .max_binary_length = 255,
    .tdef_constant = Format::kAbsent,
    .tdef_row_count = 0x0C,
    .tdef_autonumber = 0x10,
    .tdef_autonumber_mark = Format::kAbsent,
    .tdef_table_type = 0x14,
    .tdef_max_cols = 0x15,
    .tdef_var_cols = 0x17,
    .tdef_num_cols = 0x19,
    .tdef_num_idx = 0x1B,
    .tdef_num_real_idx = 0x1F,
    .tdef_owned_map = 0x23,
    .tdef_free_map = 0x27,
    .tdef_var_part = 0x2B,
    .name_length_size = 1,
    .real_idx_count_block = 8,
    .ric_entries = 0,
    .ric_unique_keys = 4,
    .column_block = 18,
    .col_type = 0,
    .col_constant = Format::kAbsent,
    .col_number = 1,
    .col_var_index = 3,
    .col_collation = 9,
    .col_code_page = 11,
    .col_precision = 11,
    .col_scale = 12,
    .col_flags = 13,
    .col_ext_flags = Format::kAbsent,
    .col_fixed_offset = 14,
    .col_length = 16,
    .real_idx_block = 39,
    .ri_constant = Format::kAbsent,
    .ri_columns = 0,
    .ri_usage_map = 30,
    .ri_root = 34,
    .ri_flags = 38,
    .logical_idx_block = 20,
    .li_constant = Format::kAbsent,
    .li_number = 0,
    .li_real_index = 4,
    .li_fk_role = 8,
    .li_fk_index = 9,
    .li_fk_table = 13,
    .li_update_action = 17,
    .li_delete_action = 18,
    .li_index_type = 19,
    .inline_map_bytes = 128,
    .idx_prev = 0x08,
    .idx_next = 0x0C,
    .idx_tail = 0x10,
    .idx_prefix = 0x14,
    .idx_prefix_size = 1,
    .idx_node_marker = 0x15,
    .idx_bitmap = 0x16,
    .idx_bitmap_bytes = 226,
    .idx_first_entry = 0xF8,
    .idx_entry_area = 1800,
    .lv_chain_row = 2036,
};

inline constexpr Format kJet4Format = {
    .version = JetVersion::kJet4,
    .page_size = 4096,
    .data_stamp = 0x08,
    .data_row_count = 0x0C,
    .data_first_slot = 0x0E,
    .row_count_size = 2,
    .max_row_size = 4060,
    .text_unit_bytes = 2,
    .max_binary_length = 510,
    .tdef_constant = 0x0C,
    .tdef_row_count = 0x10,
    .tdef_autonumber = 0x14,
    .tdef_autonumber_mark = 0x18,
    .tdef_table_type = 0x28,
    .tdef_max_cols = 0x29,
    .tdef_var_cols = 0x2B,
    .tdef_num_cols = 0x2D,
    .tdef_num_idx = 0x2F,
    .tdef_num_real_idx = 0x33,
    .tdef_owned_map = 0x37,
    .tdef_free_map = 0x3B,
    .tdef_var_part = 0x3F,
    .name_length_size = 2,
    .real_idx_count_block = 12,
    .ric_entries = 0,
    .ric_unique_keys = 4,
    .column_block = 25,
    .col_type = 0,
    .col_constant = 1,
    .col_number = 5,
    .col_var_index = 7,
    .col_collation = 11,
    .col_code_page = Format::kAbsent,
    .col_precision = 11,
    .col_scale = 12,
    .col_flags = 15,
    .col_ext_flags = 16,
    .col_fixed_offset = 21,
    .col_length = 23,
    .real_idx_block = 52,
    .ri_constant = 0,
    .ri_columns = 4,
    .ri_usage_map = 34,
    .ri_root = 38,
    .ri_flags = 46,
    .logical_idx_block = 28,
    .li_constant = 0,
    .li_number = 4,
    .li_real_index = 8,
    .li_fk_role = 12,
    .li_fk_index = 13,
    .li_fk_table = 17,
    .li_update_action = 21,
    .li_delete_action = 22,
    .li_index_type = 23,
    .inline_map_bytes = 64,
    .idx_prev = 0x0C,
    .idx_next = 0x10,
    .idx_tail = 0x14,
    .idx_prefix = 0x18,
    .idx_prefix_size = 2,
    .idx_node_marker = 0x1A,
    .idx_bitmap = 0x1B,
    .idx_bitmap_bytes = 453,
    .idx_first_entry = 0x1E0,
    .idx_entry_area = 3616,
    .lv_chain_row = 4076,
};

inline const Format& Format::For(JetVersion version) {
  return version == JetVersion::kJet3 ? kJet3Format : kJet4Format;
}

// Page type bytes.
enum PageType : uint8_t {
  kPageHeader = 0x00,
  kPageData = 0x01,
  kPageTableDef = 0x02,
  kPageIndexNode = 0x03,
  kPageIndexLeaf = 0x04,
  kPageUsageMap = 0x05,
};

// A (page, row) reference as rows, TDEFs and long values store it:
// row in the low byte, page in the upper 24 bits of a little-endian u32.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;

  static RowPointer FromStored(uint32_t v) {
    return RowPointer{v >> 8, static_cast<uint8_t>(v & 0xFF)};
  }
  uint32_t Stored() const { return (page << 8) | row; }
  bool null() const { return page == 0 && row == 0; }
  friend bool operator==(const RowPointer&, const RowPointer&) = default;
  friend auto operator<=>(const RowPointer&, const RowPointer&) = default;
};

// Index entries end in the row they name, big-endian so that entries of
// one key sort by row: the page in three bytes, then the row number.
inline constexpr uint32_t kRowPointerSize = 4;

// Writes `row` as an index entry ends in it, at `at` of `entry`.
inline void PutIndexRowPointer(std::span<uint8_t> entry, size_t at, RowPointer row) {
  PutU24BE(entry, at, row.page);
  entry[at + 3] = row.row;
}

}  // namespace tessmark::jet
