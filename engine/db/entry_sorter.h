// Sorts the entries of one index (key bytes followed by the row pointer)
// in bounded memory: entries collect in a buffer that is sorted and, when
// full, written out as a run to a scratch file; the runs are merged when
// the entries are read back in order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace tessmark::jet {

class EntrySorter {
 public:
  explicit EntrySorter(size_t memory_limit);
  ~EntrySorter();
  EntrySorter(const EntrySorter&) = delete;
  EntrySorter& operator=(const EntrySorter&) = delete;

  void Add(std::span<const uint8_t> entry);
  uint64_t size() const { return count_; }
  // Bytes of all entries added so far.
  uint64_t bytes() const { return bytes_; }
  // Visits every entry in ascending byte order; the sorter is empty after
  // and can be used again.
  void Drain(const std::function<void(std::span<const uint8_t>)>& visit);

 private:
  void SortBuffer();
  void Spill();

  size_t limit_;
  std::vector<uint8_t> arena_;
  std::vector<std::pair<uint32_t, uint16_t>> items_;  // offset, length in arena_
  std::vector<std::FILE*> runs_;
  uint64_t count_ = 0;
  uint64_t bytes_ = 0;
  bool sorted_ = true;  // entries so far arrived in ascending order
};

}  // namespace tessmark::jet
