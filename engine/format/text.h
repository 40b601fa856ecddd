// Text as Jet stores it, converted to UTF-8: Jet 3 single-byte code pages,
// Jet 4 UCS-2 and its compressed form.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessmark::jet {

// Single-byte text in `code_page` (1252 and its ASCII subset are mapped
// exactly; other code pages are read as Latin-1).
std::string SingleByteToUtf8(std::span<const uint8_t> bytes, uint16_t code_page);

// UCS-2 / UTF-16 little-endian; a trailing odd byte and unpaired surrogates
// become U+FFFD.
std::string Utf16LeToUtf8(std::span<const uint8_t> bytes);

// Jet 4 text value: when it starts with FF FE it is in the compressed form,
// where a 0x00 byte switches between one-byte characters (high byte 0) and
// two-byte characters, starting with one-byte characters; otherwise UTF-16.
std::string Jet4TextToUtf8(std::span<const uint8_t> bytes);

// Code points of UTF-8 text. Malformed UTF-8 throws Error 3001.
std::u32string Utf8ToCodePoints(std::string_view text);

// Text as a Jet 4 column stores it: UTF-16 little-endian, or, when
// `compress` is set, the text has 3 to 1024 characters and every one is in
// U+0001..U+00FF, the compressed form (FF FE, then one byte per character).
// Texts of one or two characters (and the empty text) stay UTF-16, as the
// desktop product stores them: FF FE would make them no shorter.
// Characters beyond U+FFFF are refused with 3001 (Jet 4 text is UCS-2).
std::vector<uint8_t> Utf8ToJet4Text(std::string_view text, bool compress);

// Text as a Jet 3 column stores it, in windows-1252. Characters the code
// page cannot hold are refused with 3001.
std::vector<uint8_t> Utf8ToCodePage1252(std::string_view text);

// Appends the UTF-8 form of a code point.
void AppendUtf8(std::string& out, uint32_t code_point);

// Whether two object names are the same to Jet, which ignores the case of
// ASCII letters in table and column names.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace tessmark::jet
