#include "format/header.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "format/bytes.h"
#include "format/bytes_write.h"
#include "format/format.h"
#include "format/rc4.h"
#include "tessmark/error.h"

namespace tessmark::jet {

namespace {

constexpr uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr char kJetSignature[] = "Standard Jet DB";

// Offsets on page 0 (after unmasking).
constexpr size_t kSignature = 0x04;
constexpr size_t kFormatVersion = 0x14;  // 0 Jet 3, 1 Jet 4
constexpr size_t kJet3SortOrder = 0x3A;
constexpr size_t kCodePage = 0x3C;
constexpr size_t kDatabaseKey = 0x3E;
constexpr size_t kPassword = 0x42;  // Jet 3: 20 bytes; Jet 4: 40, masked by the creation date
constexpr size_t kJet4SortOrder = 0x6E;
constexpr size_t kJet4SortOrderVersion = 0x71;
constexpr size_t kJet4CreationDate = 0x72;

[[noreturn]] void Unrecognized(const std::string& why) {
  throw Error(kUnrecognizedFormat,
              "The file is not a database in a recognized format (" + why + ").");
}

}  // namespace

uint32_t ObscuredLength(JetVersion version) { return version == JetVersion::kJet3 ? 126 : 128; }

JetVersion DetectVersion(std::span<const uint8_t> first) {
  if (first.size() < kObscuredOffset) Unrecognized("the file is too short for a database header");
  if (first[0] != 0) Unrecognized("page 0 is not a database header");
  if (std::memcmp(first.data() + kSignature, kJetSignature, sizeof(kJetSignature)) != 0) {
    Unrecognized("the header does not carry the Jet signature");
  }
  const uint32_t version = LoadU32(first.data() + kFormatVersion);
  if (version == 0) return JetVersion::kJet3;
  if (version == 1) return JetVersion::kJet4;
  Unrecognized("format version " + std::to_string(version) + " is neither Jet 3 nor Jet 4");
}

void ApplyHeaderMask(JetVersion version, std::span<uint8_t> page0) {
  const uint32_t len = ObscuredLength(version);
  if (page0.size() < kObscuredOffset + len) return;
  Rc4Apply(kHeaderMaskKey, page0.subspan(kObscuredOffset, len));
}

DatabaseHeader ParseHeader(std::span<const uint8_t> page0) {
  DatabaseHeader h;
  h.version = DetectVersion(page0);
  h.page_size = Format::For(h.version).page_size;
  if (page0.size() < h.page_size) Unrecognized("the file is shorter than one page");
  h.decoded_page.assign(page0.begin(), page0.begin() + static_cast<std::ptrdiff_t>(h.page_size));
  ApplyHeaderMask(h.version, h.decoded_page);
  const uint8_t* d = h.decoded_page.data();
  h.code_page = LoadU16(d + kCodePage);
  h.database_key = LoadU32(d + kDatabaseKey);
  if (h.jet3()) {
    h.sort_order = LoadU16(d + kJet3SortOrder);
    h.has_password =
        std::any_of(d + kPassword, d + kPassword + 20, [](uint8_t b) { return b != 0; });
  } else {
    h.sort_order = LoadU16(d + kJet4SortOrder);
    h.sort_order_version = d[kJet4SortOrderVersion];
    std::memcpy(&h.creation_date, d + kJet4CreationDate, sizeof(double));
    // The password area is masked with the creation date, truncated and
    // repeated; anything but the bare mask is a password.
    const double day = std::floor(h.creation_date);
    uint32_t mask = 0;
    if (day >= -2147483648.0 && day < 2147483648.0) {
      mask = static_cast<uint32_t>(static_cast<int32_t>(day));
    }
    for (uint32_t i = 0; i < 40; ++i) {
      const uint8_t m = static_cast<uint8_t>(mask >> (8 * (i % 4)));
      if ((d[kPassword + i] ^ m) != 0) h.has_password = true;
    }
  }
  return h;
}

std::vector<uint8_t> EncodeHeaderPage(const NewHeader& n) {
  const bool j3 = n.version == JetVersion::kJet3;
  const uint32_t ps = Format::For(n.version).page_size;
  std::vector<uint8_t> p(ps, 0);
  p[1] = 0x01;
  std::memcpy(p.data() + kSignature, kJetSignature, sizeof(kJetSignature));
  PutU32(p, kFormatVersion, j3 ? 0 : 1);
  // The constant opening of the obscured block.
  for (uint32_t i = 0; i < 6; ++i) PutU32(p, kObscuredOffset + 4 * i, i == 0 ? 0x100u : i);
  p[0x1C] = 0x01;
  p[0x1D] = 0x01;
  PutU16(p, kCodePage, 1252);
  PutU32(p, kDatabaseKey, n.database_key);
  if (j3) {
    PutU16(p, 0x38, 1);
    PutU16(p, kJet3SortOrder, 1033);  // General
    if (n.password_bytes.size() > 20)
      throw Error(kInvalidArgument, "A Jet 3 password has at most 20 characters.");
    std::memcpy(p.data() + kPassword, n.password_bytes.data(), n.password_bytes.size());
  } else {
    PutU16(p, kJet4SortOrder, 1033);  // General, legacy sort-order version 0
    std::memcpy(p.data() + kJet4CreationDate, &n.creation_date, sizeof(double));
    if (n.password.size() > 20)
      throw Error(kInvalidArgument, "A Jet 4 password has at most 20 characters.");
    const double day = std::floor(n.creation_date);
    const auto mask = static_cast<uint32_t>(static_cast<int32_t>(day));
    for (uint32_t i = 0; i < 40; ++i) {
      uint8_t b = 0;
      if (i / 2 < n.password.size()) b = static_cast<uint8_t>(n.password[i / 2] >> (8 * (i % 2)));
      p[kPassword + i] = static_cast<uint8_t>(b ^ static_cast<uint8_t>(mask >> (8 * (i % 4))));
    }
    PutU32(p, 0x98, 1620);
    std::memcpy(p.data() + 0x9C, "4.0", 4);
  }
  for (uint32_t at = ps - 512; at < ps; at += 2) PutU16(p, at, 0x0100);
  ApplyHeaderMask(n.version, p);
  return p;
}

}  // namespace tessmark::jet
