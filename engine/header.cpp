#include "engine/header.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "engine/bytes.h"
#include "engine/error.h"
#include "engine/rc4.h"

namespace tessmark::jet {

namespace {

constexpr uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr char kJetSignature[] = "Standard Jet DB";

[[noreturn]] void Unrecognized(const std::string& why) {
  throw Error(kUnrecognizedFormat,
              "The file is not a database in a recognized format (" + why + ").");
}

}  // namespace

uint32_t ObscuredLength(JetVersion version) { return version == JetVersion::kJet3 ? 126 : 128; }

JetVersion DetectVersion(std::span<const uint8_t> first) {
  if (first.size() < kObscuredOffset) Unrecognized("the file is too short for a database header");
  if (first[0] != 0) Unrecognized("page 0 is not a database header");
  if (std::memcmp(first.data() + 4, kJetSignature, sizeof(kJetSignature)) != 0) {
    Unrecognized("the header does not carry the Jet signature");
  }
  const uint32_t version = LoadU32(first.data() + 0x14);
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
  h.page_size = h.jet3() ? 2048 : 4096;
  if (page0.size() < h.page_size) Unrecognized("the file is shorter than one page");
  h.decoded_page.assign(page0.begin(), page0.begin() + static_cast<std::ptrdiff_t>(h.page_size));
  ApplyHeaderMask(h.version, h.decoded_page);
  const uint8_t* d = h.decoded_page.data();
  h.code_page = LoadU16(d + 0x3C);
  h.database_key = LoadU32(d + 0x3E);
  if (h.jet3()) {
    h.sort_order = LoadU16(d + 0x3A);
    h.has_password = std::any_of(d + 0x42, d + 0x42 + 20, [](uint8_t b) { return b != 0; });
  } else {
    h.sort_order = LoadU16(d + 0x6E);
    h.sort_order_version = d[0x71];
    std::memcpy(&h.creation_date, d + 0x72, sizeof(double));
    // The password area is masked with the creation date, truncated and
    // repeated; anything but the bare mask is a password.
    const double day = std::floor(h.creation_date);
    uint32_t mask = 0;
    if (day >= -2147483648.0 && day < 2147483648.0) {
      mask = static_cast<uint32_t>(static_cast<int32_t>(day));
    }
    for (uint32_t i = 0; i < 40; ++i) {
      const uint8_t m = static_cast<uint8_t>(mask >> (8 * (i % 4)));
      if ((d[0x42 + i] ^ m) != 0) h.has_password = true;
    }
  }
  return h;
}

}  // namespace tessmark::jet
