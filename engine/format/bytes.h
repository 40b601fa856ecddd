// Reading bytes: bounds-checked little-endian access to byte ranges of a
// page, row or definition, where every read that would leave the range
// reports the structure as damaged with the location it was reading; and
// unchecked loads for buffers already measured. Writing is in
// bytes_write.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "format/damage.h"

namespace tessmark::jet {

using Bytes = std::span<const uint8_t>;

class ByteView {
 public:
  ByteView(Bytes data, const Location& where) : data_(data), where_(&where) {}

  size_t size() const { return data_.size(); }
  Bytes bytes() const { return data_; }
  const Location& where() const { return *where_; }

  uint8_t U8(size_t off) const {
    Need(off, 1);
    return data_[off];
  }
  uint16_t U16(size_t off) const {
    Need(off, 2);
    return static_cast<uint16_t>(data_[off] | (data_[off + 1] << 8));
  }
  uint32_t U32(size_t off) const {
    Need(off, 4);
    return static_cast<uint32_t>(data_[off]) | (static_cast<uint32_t>(data_[off + 1]) << 8) |
           (static_cast<uint32_t>(data_[off + 2]) << 16) |
           (static_cast<uint32_t>(data_[off + 3]) << 24);
  }
  Bytes Sub(size_t off, size_t len) const {
    Need(off, len);
    return data_.subspan(off, len);
  }
  ByteView View(size_t off, size_t len) const { return ByteView(Sub(off, len), *where_); }

 private:
  void Need(size_t off, size_t len) const {
    if (off > data_.size() || len > data_.size() - off) {
      ThrowDamaged(*where_, "a field at offset " + std::to_string(off) + " (" +
                                std::to_string(len) + " bytes) lies outside the " +
                                std::to_string(data_.size()) + "-byte structure");
    }
  }

  Bytes data_;
  const Location* where_;
};

// Unchecked helpers for buffers whose size the caller has already verified.
inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t LoadU24BE(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
inline uint32_t LoadU32BE(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

}  // namespace tessmark::jet
