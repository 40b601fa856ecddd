// The database header (page 0): format version, page size, the decoded
// obscured block and the settings it carries.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tessmark/jet_types.h"

namespace tessmark::jet {

struct DatabaseHeader {
  JetVersion version = JetVersion::kJet4;
  uint32_t page_size = 4096;
  uint16_t sort_order = 0;         // collation LCID (1033 = General)
  uint8_t sort_order_version = 0;  // Jet 4 only; 0 = General (legacy)
  uint16_t code_page = 0;          // default code page of the database
  uint32_t database_key = 0;       // page-encryption key; 0 = pages not encrypted
  double creation_date = 0;        // Jet 4 only: days since 1899-12-30
  bool has_password = false;
  // Page 0 with the obscured block decoded (page_size bytes).
  std::vector<uint8_t> decoded_page;

  bool jet3() const { return version == JetVersion::kJet3; }
  bool encrypted() const { return database_key != 0; }
};

// Offset and length of the obscured block of page 0 for a version.
constexpr uint32_t kObscuredOffset = 0x18;
uint32_t ObscuredLength(JetVersion version);

// Reads the version from the first bytes of a file (at least 0x18 bytes).
// Throws Error 3343 for anything but a Jet 3 or Jet 4 database.
JetVersion DetectVersion(std::span<const uint8_t> first_bytes);

// Decodes page 0 (exactly the page size for `version`).
DatabaseHeader ParseHeader(std::span<const uint8_t> page0);

// Settings of a new database's header page.
struct NewHeader {
  JetVersion version = JetVersion::kJet4;
  uint32_t database_key = 0;   // non-zero: the other pages are RC4-encoded
  double creation_date = 0;    // days since 1899-12-30
  std::u16string password;     // empty: none (Jet 3: at most 20 single-byte characters)
  std::string password_bytes;  // Jet 3: the password in the code page
};

// Page 0 of a new database (sort order General, code page 1252), obscured
// as it is stored.
std::vector<uint8_t> EncodeHeaderPage(const NewHeader& settings);

// XORs the obscured block of a raw page 0 with the fixed header mask; the
// same call encodes a decoded page again.
void ApplyHeaderMask(JetVersion version, std::span<uint8_t> page0);

}  // namespace tessmark::jet
