#include "format/index_key.h"

#include <array>
#include <bit>
#include <cstring>

#include "format/bytes.h"
#include "tessmark/error.h"

namespace tessmark::jet::index_key {
namespace {

uint8_t PresentFlag(bool descending) { return descending ? kPresentDescending : kPresentAscending; }

// Appends the big-endian bytes of `bits` (the low `size` bytes), with the
// top bit flipped, complemented as a whole for descending order.
void AppendSignFlipped(Key& key, uint64_t bits, int size, bool descending) {
  key.push_back(PresentFlag(descending));
  bits ^= uint64_t{1} << (size * 8 - 1);
  if (descending) bits = ~bits;
  for (int i = size - 1; i >= 0; --i) key.push_back(static_cast<uint8_t>(bits >> (i * 8)));
}

// IEEE values: positive ones get the sign bit flipped, negative ones are
// complemented whole, so that byte order equals numeric order.
void AppendFloatBits(Key& key, uint64_t bits, int size, bool descending) {
  const uint64_t sign = uint64_t{1} << (size * 8 - 1);
  const uint64_t mask = size == 8 ? ~uint64_t{0} : (uint64_t{1} << (size * 8)) - 1;
  bits = (bits & sign) ? (~bits & mask) : (bits ^ sign);
  if (descending) bits = ~bits & mask;
  key.push_back(PresentFlag(descending));
  for (int i = size - 1; i >= 0; --i) key.push_back(static_cast<uint8_t>(bits >> (i * 8)));
}

// Binary segmentation shared by GUIDs and binary columns: 8-byte segments,
// each followed by 0x09 when more follow; the last one zero-padded and
// followed by its real length. Descending complements the data bytes and the
// last length byte but not the continuation markers.
void AppendSegmented(Key& key, std::span<const uint8_t> data, bool descending) {
  key.push_back(PresentFlag(descending));
  const uint8_t inv = descending ? 0xFF : 0x00;
  size_t pos = 0;
  while (true) {
    const size_t left = data.size() - pos;
    if (left > 8) {
      for (size_t i = 0; i < 8; ++i) key.push_back(data[pos + i] ^ inv);
      key.push_back(0x09);
      pos += 8;
      continue;
    }
    for (size_t i = 0; i < 8; ++i) key.push_back((i < left ? data[pos + i] : uint8_t{0}) ^ inv);
    key.push_back(static_cast<uint8_t>(left) ^ inv);
    break;
  }
}

// Inline codes of the characters whose keys are established, by ASCII
// code; 0 marks a character not covered. Letters are case-folded. Every
// code below was read off real index keys of the sample databases (keys
// without an extra section, so the character adds exactly one byte).
using CharCodes = std::array<uint8_t, 128>;

constexpr void FillLetters(CharCodes& t, const char* letters, const uint8_t* codes) {
  for (size_t i = 0; letters[i] != 0; ++i) {
    const auto upper = static_cast<size_t>(letters[i]);
    t[upper] = codes[i];
    t[upper + ('a' - 'A')] = codes[i];
  }
}

// Jet 4 "General (legacy)": digits 0x36..0x48 in steps of two, letters from
// 0x4A ('A') to 0x78 ('Z') with uneven gaps, space 0x07. Punctuation stays
// uncovered: no sample key shows its codes.
constexpr CharCodes MakeGeneralLegacy() {
  CharCodes t{};
  for (size_t d = 0; d < 10; ++d) t['0' + d] = static_cast<uint8_t>(0x36 + 2 * d);
  const uint8_t codes[] = {0x4A, 0x4C, 0x4D, 0x4F, 0x51, 0x53, 0x55, 0x57, 0x59,
                           0x5B, 0x5C, 0x5E, 0x60, 0x62, 0x64, 0x66, 0x68, 0x69,
                           0x6B, 0x6D, 0x6F, 0x71, 0x73, 0x75, 0x76, 0x78};
  FillLetters(t, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", codes);
  t[' '] = 0x07;
  return t;
}

// Jet 3 "General 97": digits 0x56..0x5F, letters 0x60 ('A') .. 0x7E ('Z'),
// space 0x11 and the ordinary punctuation 0x12..0x31 in ASCII order. The
// hyphen is left out: keys holding one did not show a single code.
constexpr CharCodes MakeGeneral97() {
  CharCodes t{};
  for (size_t d = 0; d < 10; ++d) t['0' + d] = static_cast<uint8_t>(0x56 + d);
  const uint8_t codes[] = {0x60, 0x61, 0x62, 0x64, 0x66, 0x67, 0x68, 0x69, 0x6A,
                           0x6B, 0x6C, 0x6D, 0x6F, 0x70, 0x72, 0x73, 0x74, 0x75,
                           0x76, 0x77, 0x78, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E};
  FillLetters(t, "ABCDEFGHIJKLMNOPQRSTUVWXYZ", codes);
  t[' '] = 0x11;
  const char punctuation[] = "!\"#$%&'()*+,";
  for (size_t i = 0; punctuation[i] != 0; ++i)
    t[static_cast<size_t>(punctuation[i])] = static_cast<uint8_t>(0x12 + i);
  const char more[] = "./:;<=>?@[\\]^_`{|}~";
  for (size_t i = 0; more[i] != 0; ++i)
    t[static_cast<size_t>(more[i])] = static_cast<uint8_t>(0x1F + i);
  return t;
}

constexpr CharCodes kGeneralLegacy = MakeGeneralLegacy();
constexpr CharCodes kGeneral97 = MakeGeneral97();

uint8_t CodeOf(char c, const CharCodes& table) {
  const auto u = static_cast<unsigned char>(c);
  return u < table.size() ? table[u] : 0;
}

}  // namespace

void AppendNull(Key& key, bool descending) {
  key.push_back(descending ? kNullDescending : kNullAscending);
}

void AppendByte(Key& key, uint8_t value, bool descending) {
  key.push_back(PresentFlag(descending));
  key.push_back(descending ? static_cast<uint8_t>(~value) : value);
}

void AppendInteger(Key& key, int16_t value, bool descending) {
  AppendSignFlipped(key, static_cast<uint16_t>(value), 2, descending);
}

void AppendLong(Key& key, int32_t value, bool descending) {
  AppendSignFlipped(key, static_cast<uint32_t>(value), 4, descending);
}

void AppendCurrency(Key& key, int64_t value, bool descending) {
  AppendSignFlipped(key, static_cast<uint64_t>(value), 8, descending);
}

void AppendSingle(Key& key, float value, bool descending) {
  AppendFloatBits(key, std::bit_cast<uint32_t>(value), 4, descending);
}

void AppendDouble(Key& key, double value, bool descending) {
  AppendFloatBits(key, std::bit_cast<uint64_t>(value), 8, descending);
}

void AppendBoolean(Key& key, bool value, bool descending) {
  key.push_back(PresentFlag(descending));
  const uint8_t asc = value ? 0x00 : 0xFF;
  key.push_back(descending ? static_cast<uint8_t>(~asc) : asc);
}

void AppendGuid(Key& key, std::span<const uint8_t, 16> stored, bool descending) {
  std::array<uint8_t, 16> canonical{};
  const size_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (size_t i = 0; i < 16; ++i) canonical[i] = stored[order[i]];
  AppendSegmented(key, canonical, descending);
}

void AppendBinary(Key& key, std::span<const uint8_t> value, bool descending) {
  AppendSegmented(key, value, descending);
}

void AppendNumeric(Key& key, bool negative, std::span<const uint8_t, 16> magnitude_be,
                   bool descending) {
  key.push_back(PresentFlag(descending));
  // The magnitude is complemented for negative values ascending and for
  // non-negative ones descending; the sign byte is 0xFF / 0x00 either way,
  // so negatives sort first in both directions (the product's own quirk).
  key.push_back(negative ? 0x00 : 0xFF);
  const bool invert = negative != descending;
  for (uint8_t b : magnitude_be) key.push_back(invert ? static_cast<uint8_t>(~b) : b);
}

bool AppendSimpleText(Key& key, std::string_view ascii, TextCollation collation, bool descending) {
  while (!ascii.empty() && ascii.back() == ' ') ascii.remove_suffix(1);
  if (ascii.size() > 255) ascii = ascii.substr(0, 255);
  const CharCodes& table = collation == TextCollation::kGeneralLegacy ? kGeneralLegacy : kGeneral97;
  Key body;
  for (char c : ascii) {
    const uint8_t code = CodeOf(c, table);
    if (code == 0) return false;
    body.push_back(code);
  }
  if (collation == TextCollation::kGeneralLegacy) {
    // Inline codes, end of text, then an empty extra section.
    body.push_back(0x01);
    body.push_back(0x00);
    if (descending) {
      for (auto& b : body) b = static_cast<uint8_t>(~b);
      body.push_back(0x00);
    }
  } else {
    body.push_back(0x00);
    if (descending)
      for (auto& b : body) b = static_cast<uint8_t>(~b);
  }
  key.push_back(PresentFlag(descending));
  key.insert(key.end(), body.begin(), body.end());
  return true;
}

std::optional<int32_t> ReadLong(std::span<const uint8_t> key, size_t offset, bool descending) {
  if (offset >= key.size()) throw Error(kDamaged, "An index key ends before its Long column.");
  const uint8_t flag = key[offset];
  if (flag == (descending ? kNullDescending : kNullAscending)) return std::nullopt;
  if (flag != PresentFlag(descending) || offset + 5 > key.size())
    throw Error(kDamaged, "An index key holds a malformed Long column.");
  uint32_t bits = LoadU32BE(key.data() + offset + 1);
  if (descending) bits = ~bits;
  bits ^= 0x80000000u;
  return static_cast<int32_t>(bits);
}

}  // namespace tessmark::jet::index_key
