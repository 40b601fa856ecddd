#include "format/text.h"

#include <algorithm>
#include <cctype>

#include "format/bytes.h"
#include "tessmark/error.h"

namespace tessmark::jet {

namespace {

// Code points of bytes 0x80..0x9F in windows-1252 (0 = unassigned).
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
    return;
  }
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string SingleByteToUtf8(std::span<const uint8_t> bytes, uint16_t code_page) {
  std::string out;
  out.reserve(bytes.size());
  for (uint8_t b : bytes) {
    uint32_t cp = b;
    if (code_page == 1252 && b >= 0x80 && b < 0xA0 && kCp1252High[b - 0x80] != 0) {
      cp = kCp1252High[b - 0x80];
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::string Utf16LeToUtf8(std::span<const uint8_t> bytes) {
  std::string out;
  out.reserve(bytes.size() / 2);
  size_t i = 0;
  while (i + 1 < bytes.size()) {
    uint32_t unit = LoadU16(bytes.data() + i);
    i += 2;
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < bytes.size()) {
      const uint32_t low = LoadU16(bytes.data() + i);
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    AppendUtf8(out, unit);
  }
  if (i < bytes.size()) AppendUtf8(out, 0xFFFD);
  return out;
}

std::string Jet4TextToUtf8(std::span<const uint8_t> bytes) {
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) return Utf16LeToUtf8(bytes);
  std::string out;
  out.reserve(bytes.size());
  bool one_byte = true;
  size_t i = 2;
  uint32_t pending_high = 0;  // a high surrogate waiting for its partner
  auto emit = [&](uint32_t unit) {
    if (pending_high != 0) {
      if (unit >= 0xDC00 && unit < 0xE000) {
        AppendUtf8(out, 0x10000 + ((pending_high - 0xD800) << 10) + (unit - 0xDC00));
        pending_high = 0;
        return;
      }
      AppendUtf8(out, 0xFFFD);
      pending_high = 0;
    }
    if (unit >= 0xD800 && unit < 0xDC00) {
      pending_high = unit;
      return;
    }
    AppendUtf8(out, unit);
  };
  while (i < bytes.size()) {
    if (bytes[i] == 0) {
      one_byte = !one_byte;
      ++i;
    } else if (one_byte) {
      emit(bytes[i]);
      ++i;
    } else if (i + 1 < bytes.size()) {
      emit(LoadU16(bytes.data() + i));
      i += 2;
    } else {
      emit(0xFFFD);
      ++i;
    }
  }
  if (pending_high != 0) AppendUtf8(out, 0xFFFD);
  return out;
}

}  // namespace tessmark::jet

namespace tessmark::jet {

namespace {

// Decodes the character at text[i] and moves i past it; false for
// malformed UTF-8 (overlong forms, surrogates and values past U+10FFFF too).
bool NextCodePoint(std::string_view text, size_t& i, uint32_t& cp) {
  const auto b = static_cast<uint8_t>(text[i]);
  size_t extra = 0;
  if (b < 0x80) {
    cp = b;
  } else if ((b & 0xE0) == 0xC0) {
    cp = b & 0x1Fu;
    extra = 1;
  } else if ((b & 0xF0) == 0xE0) {
    cp = b & 0x0Fu;
    extra = 2;
  } else if ((b & 0xF8) == 0xF0) {
    cp = b & 0x07u;
    extra = 3;
  } else {
    return false;
  }
  if (i + extra >= text.size()) return false;
  for (size_t k = 1; k <= extra; ++k) {
    const auto c = static_cast<uint8_t>(text[i + k]);
    if ((c & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (c & 0x3Fu);
  }
  if ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000) ||
      cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return false;
  i += extra + 1;
  return true;
}

[[noreturn]] void NotUtf8(std::string_view text) {
  throw Error(kInvalidArgument, "The text \"" + std::string(text) + "\" is not valid UTF-8.");
}

// Texts of one or two characters gain nothing from the two-byte FF FE
// mark, and the desktop product stores them as UTF-16. Memos longer than
// 1 024 characters stay UTF-16 too, the limit other writers keep.
constexpr size_t kMinCompressedChars = 3;
constexpr size_t kMaxCompressedChars = 1024;

bool CompressibleLength(size_t chars) {
  return chars >= kMinCompressedChars && chars <= kMaxCompressedChars;
}

}  // namespace

std::u32string Utf8ToCodePoints(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  size_t i = 0;
  uint32_t cp = 0;
  while (i < text.size()) {
    if (!NextCodePoint(text, i, cp)) NotUtf8(text);
    out.push_back(static_cast<char32_t>(cp));
  }
  return out;
}

std::vector<uint8_t> Utf8ToJet4Text(std::string_view text, bool compress) {
  // Plain ASCII without NUL, the common case, needs no decoding.
  const bool ascii = std::all_of(text.begin(), text.end(), [](char ch) {
    return ch != 0 && static_cast<unsigned char>(ch) < 0x80;
  });
  if (ascii) {
    std::vector<uint8_t> out;
    if (compress && CompressibleLength(text.size())) {
      out.reserve(text.size() + 2);
      out.push_back(0xFF);
      out.push_back(0xFE);
      out.insert(out.end(), text.begin(), text.end());
    } else {
      out.resize(text.size() * 2);
      for (size_t i = 0; i < text.size(); ++i) out[2 * i] = static_cast<uint8_t>(text[i]);
    }
    return out;
  }
  // One pass to validate and see whether the compressed form applies, one
  // to write.
  bool one_byte = compress;
  size_t count = 0;
  uint32_t cp = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    if (!NextCodePoint(text, i, cp)) NotUtf8(text);
    if (cp == 0 || cp > 0xFF) one_byte = false;
    if (cp > 0xFFFF)
      throw Error(kInvalidArgument, "The text \"" + std::string(text) +
                                        "\" holds a character beyond U+FFFF, which Jet 4 "
                                        "text cannot store.");
  }
  one_byte = one_byte && CompressibleLength(count);
  std::vector<uint8_t> out;
  out.reserve(one_byte ? count + 2 : 2 * count);
  if (one_byte) {
    out.push_back(0xFF);
    out.push_back(0xFE);
  }
  for (size_t i = 0; i < text.size();) {
    NextCodePoint(text, i, cp);
    out.push_back(static_cast<uint8_t>(cp & 0xFF));
    if (!one_byte) out.push_back(static_cast<uint8_t>((cp >> 8) & 0xFF));
  }
  return out;
}

std::vector<uint8_t> Utf8ToCodePage1252(std::string_view text) {
  const std::u32string cps = Utf8ToCodePoints(text);
  std::vector<uint8_t> out;
  out.reserve(cps.size());
  for (char32_t c : cps) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<uint8_t>(c));
      continue;
    }
    int found = -1;
    for (int k = 0; k < 32; ++k)
      if (kCp1252High[k] != 0 && kCp1252High[k] == c) found = k;
    if (found < 0)
      throw Error(kInvalidArgument, "The text \"" + std::string(text) +
                                        "\" holds a character that code page 1252 cannot "
                                        "store.");
    out.push_back(static_cast<uint8_t>(0x80 + found));
  }
  return out;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace tessmark::jet
