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
  uint32_t data_row_count;      // offset of the slot count
  uint32_t data_first_slot;     // offset of slot 0
  // Rows.
  uint32_t row_count_size;      // bytes of num_cols / nvar / var offsets
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
  uint32_t inline_map_bytes;      // bitmap bytes of a normal inline map row
  uint32_t reference_map_slots;   // page slots of a reference map row
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
    JetVersion::kJet3, 2048,
    0x08, 0x0A,
    1,
    0x0C, 0x10, 0x14, 0x15, 0x17, 0x19, 0x1B, 0x1F, 0x23, 0x27, 0x2B,
    8, 18, 39, 20, 1,
    128, 33,
    0x08, 0x0C, 0x10, 0x14, 1, 0x15, 0x16, 226, 0xF8, 1800,
    2036,
};

inline constexpr Format kJet4Format = {
    JetVersion::kJet4, 4096,
    0x0C, 0x0E,
    2,
    0x10, 0x14, 0x28, 0x29, 0x2B, 0x2D, 0x2F, 0x33, 0x37, 0x3B, 0x3F,
    12, 25, 52, 28, 2,
    64, 17,
    0x0C, 0x10, 0x14, 0x18, 2, 0x1A, 0x1B, 453, 0x1E0, 3616,
    4076,
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
