// Sorts the entries of one index (key bytes followed by the row pointer)
// in bounded memory: entries collect in a buffer that is sorted and, when
// full, written out as a run to a scratch file; the runs are merged when
// the entries are read back in order.
//
// Scratch files are made through the Env, beside the file being written
// (the only folder the engine knows it may write to), and are named after
// it: "<file>.sort-scratch", "<file>.sort-scratch.1" and so on. They are
// removed once read back and whenever the sort fails; what a killed
// process leaves behind is removed by RemoveStaleSortScratch.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tessmark::jet {

class Env;

inline constexpr char kSortScratchSuffix[] = ".sort-scratch";

// Removes the scratch files that a sort writing beside `beside` left when
// its process was killed. Call it only while holding `beside` as a new
// file, so that no live sort can be using them. What cannot be removed
// stays, under its telling name.
void RemoveStaleSortScratch(Env& env, const std::string& beside);

class EntrySorter {
 public:
  // Keeps at most about `memory_limit` bytes of entries in memory; beyond
  // that, runs go to scratch files beside `beside`, made through `env`.
  EntrySorter(size_t memory_limit, Env& env, std::string beside);
  ~EntrySorter();
  EntrySorter(const EntrySorter&) = delete;
  EntrySorter& operator=(const EntrySorter&) = delete;

  void Add(std::span<const uint8_t> entry);
  uint64_t size() const { return count_; }
  // Bytes of all entries added so far.
  uint64_t bytes() const { return bytes_; }
  // Runs written to scratch files since the last Drain.
  size_t spilled_runs() const { return runs_.size(); }
  // Visits every entry in ascending byte order; the sorter is empty after
  // and can be used again.
  void Drain(const std::function<void(std::span<const uint8_t>)>& visit);

 private:
  void SortBuffer();
  void Spill();
  void Merge(const std::function<void(std::span<const uint8_t>)>& visit);
  // Removes every run's scratch file; never throws.
  void RemoveRuns() noexcept;

  size_t limit_;
  Env& env_;
  std::string beside_;
  std::vector<uint8_t> arena_;
  std::vector<std::pair<uint32_t, uint16_t>> items_;  // offset, length in arena_
  std::vector<std::string> runs_;                     // scratch files, complete or not
  uint64_t count_ = 0;
  uint64_t bytes_ = 0;
  bool sorted_ = true;  // entries so far arrived in ascending order
};

}  // namespace tessmark::jet
