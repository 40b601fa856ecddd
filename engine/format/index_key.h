// Encoding of index key values (one column segment at a time).
//
// An index entry's key is the concatenation, over the index's columns, of a
// flag byte followed by the column's encoded value. Descending columns store
// the complement of the ascending bytes (with the segment-marker exception
// of binary and GUID values). Text keys depend on the collation; only the
// characters whose codes are established are encoded here, and everything
// else must be carried verbatim from existing index entries.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessmark::jet::index_key {

using Key = std::vector<uint8_t>;

// Flag bytes that open each column segment.
inline constexpr uint8_t kPresentAscending = 0x7F;
inline constexpr uint8_t kPresentDescending = 0x80;
inline constexpr uint8_t kNullAscending = 0x00;
inline constexpr uint8_t kNullDescending = 0xFF;

void AppendNull(Key& key, bool descending);
void AppendByte(Key& key, uint8_t value, bool descending);
void AppendInteger(Key& key, int16_t value, bool descending);
void AppendLong(Key& key, int32_t value, bool descending);
// Currency as stored: the amount times 10 000.
void AppendCurrency(Key& key, int64_t value, bool descending);
void AppendSingle(Key& key, float value, bool descending);
// Double and Date/Time (days since 1899-12-30) share one encoding.
void AppendDouble(Key& key, double value, bool descending);
// Booleans are never NULL in an index.
void AppendBoolean(Key& key, bool value, bool descending);
// `stored` = the 16 bytes as they lie in the row (first three groups
// little-endian).
void AppendGuid(Key& key, std::span<const uint8_t, 16> stored, bool descending);
void AppendBinary(Key& key, std::span<const uint8_t> value, bool descending);
// Numeric (decimal): sign plus 16-byte magnitude, most significant first.
void AppendNumeric(Key& key, bool negative, std::span<const uint8_t, 16> magnitude_be,
                   bool descending);

// Collations whose character codes are known for letters, digits and space.
enum class TextCollation { kGeneralLegacy /* Jet 4 */, kGeneral97 /* Jet 3 */ };
// Encodes a text value made only of the characters whose codes are
// established (letters, digits and space; Jet 3 also ordinary punctuation)
// after trailing spaces are dropped. Returns false and leaves `key` unchanged when
// the value holds any other character.
bool AppendSimpleText(Key& key, std::string_view ascii, TextCollation collation, bool descending);

// Reads back a Long segment (flag byte + 4 bytes) at `key[offset]`.
// Returns nullopt for a NULL segment. Throws Error 3049 on a short key.
std::optional<int32_t> ReadLong(std::span<const uint8_t> key, size_t offset, bool descending);

}  // namespace tessmark::jet::index_key
