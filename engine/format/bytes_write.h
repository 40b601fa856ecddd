// Little- and big-endian writes into byte buffers: in place, at an offset
// the caller has already made room for, or appended at the end. Reading is
// in bytes.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tessmark::jet {

inline void PutU16(std::span<uint8_t> buf, size_t at, uint16_t value) {
  buf[at] = static_cast<uint8_t>(value);
  buf[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline void PutU32(std::span<uint8_t> buf, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) buf[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void PutU64(std::span<uint8_t> buf, size_t at, uint64_t value) {
  for (size_t i = 0; i < 8; ++i) buf[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void PutU24BE(std::span<uint8_t> buf, size_t at, uint32_t value) {
  buf[at] = static_cast<uint8_t>(value >> 16);
  buf[at + 1] = static_cast<uint8_t>(value >> 8);
  buf[at + 2] = static_cast<uint8_t>(value);
}

inline void PutU32BE(std::span<uint8_t> buf, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) buf[at + i] = static_cast<uint8_t>(value >> (8 * (3 - i)));
}

inline void AppendU16(std::vector<uint8_t>& buf, uint16_t value) {
  buf.push_back(static_cast<uint8_t>(value));
  buf.push_back(static_cast<uint8_t>(value >> 8));
}

inline void AppendU32(std::vector<uint8_t>& buf, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) buf.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

}  // namespace tessmark::jet
