// Offsets and sizes that differ between Jet 3 and Jet 4. Every structure
// parser takes them from here, so a layout fact is stated exactly once.
#pragma once

#include <cstdint>

#include "engine/header.h"

namespace tessmark::jet {

struct Format {
  JetVersion version;
  uint32_t page_size;

  // Data pages.
  uint32_t data_row_count;   // offset of the slot count
  uint32_t data_first_slot;  // offset of slot 0
  // Rows.
  uint32_t row_count_size;  // bytes of num_cols / nvar / var offsets
  // TDEF definition block.
  uint32_t tdef_row_count;
  uint32_t tdef_autonumber;
  uint32_t tdef_table_type;
  uint32_t tdef_max_cols;
  uint32_t tdef_var_cols;
  uint32_t tdef_num_cols;
  uint32_t tdef_num_idx;
  uint32_t tdef_num_real_idx;
  uint32_t tdef_owned_map;
  uint32_t tdef_free_map;
  uint32_t tdef_var_part;
  uint32_t real_idx_count_block;
  uint32_t column_block;
  uint32_t real_idx_block;
  uint32_t logical_idx_block;
  uint32_t name_length_size;
  // Usage maps.
  uint32_t inline_map_bytes;     // bitmap bytes of a normal inline map row
  uint32_t reference_map_slots;  // page slots of a reference map row
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
  // Bits of the page covered by a 0x05 usage-map page.
  uint32_t map_page_bits() const { return (page_size - 4) * 8; }

  static const Format& For(JetVersion version);
};

inline constexpr Format kJet3Format = {
    .version = JetVersion::kJet3,
    .page_size = 2048,
    .data_row_count = 0x08,
    .data_first_slot = 0x0A,
    .row_count_size = 1,
    .tdef_row_count = 0x0C,
    .tdef_autonumber = 0x10,
    .tdef_table_type = 0x14,
    .tdef_max_cols = 0x15,
    .tdef_var_cols = 0x17,
    .tdef_num_cols = 0x19,
    .tdef_num_idx = 0x1B,
    .tdef_num_real_idx = 0x1F,
    .tdef_owned_map = 0x23,
    .tdef_free_map = 0x27,
    .tdef_var_part = 0x2B,
    .real_idx_count_block = 8,
    .column_block = 18,
    .real_idx_block = 39,
    .logical_idx_block = 20,
    .name_length_size = 1,
    .inline_map_bytes = 128,
    .reference_map_slots = 33,
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
    .data_row_count = 0x0C,
    .data_first_slot = 0x0E,
    .row_count_size = 2,
    .tdef_row_count = 0x10,
    .tdef_autonumber = 0x14,
    .tdef_table_type = 0x28,
    .tdef_max_cols = 0x29,
    .tdef_var_cols = 0x2B,
    .tdef_num_cols = 0x2D,
    .tdef_num_idx = 0x2F,
    .tdef_num_real_idx = 0x33,
    .tdef_owned_map = 0x37,
    .tdef_free_map = 0x3B,
    .tdef_var_part = 0x3F,
    .real_idx_count_block = 12,
    .column_block = 25,
    .real_idx_block = 52,
    .logical_idx_block = 28,
    .name_length_size = 2,
    .inline_map_bytes = 64,
    .reference_map_slots = 17,
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

}  // namespace tessmark::jet
