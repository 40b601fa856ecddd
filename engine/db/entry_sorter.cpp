#include "db/entry_sorter.h"

#include <algorithm>
#include <cstring>
#include <queue>

#include "format/bytes.h"
#include "format/bytes_write.h"
#include "format/error.h"

namespace tessmark::jet {
namespace {

bool Less(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  return c != 0 ? c < 0 : a.size() < b.size();
}

// Buffered reader of one spilled run: [u16 length][bytes] records.
class RunReader {
 public:
  explicit RunReader(std::FILE* f) : file_(f) {
    std::rewind(file_);
    Next();
  }
  bool done() const { return done_; }
  std::span<const uint8_t> current() const { return current_; }
  void Next() {
    uint8_t len[2];
    if (!Read(len, 2)) {
      done_ = true;
      return;
    }
    current_.resize(LoadU16(len));
    if (!Read(current_.data(), current_.size()))
      throw Error(kIoError, "A scratch file of the index sort could not be read back.");
  }

 private:
  bool Read(uint8_t* out, size_t n) {
    while (n > 0) {
      if (pos_ == end_) {
        end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        pos_ = 0;
        if (end_ == 0) return false;
      }
      const size_t k = std::min(n, end_ - pos_);
      std::memcpy(out, buffer_.data() + pos_, k);
      pos_ += k;
      out += k;
      n -= k;
    }
    return true;
  }

  std::FILE* file_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(1 << 16);
  size_t pos_ = 0, end_ = 0;
  std::vector<uint8_t> current_;
  bool done_ = false;
};

}  // namespace

EntrySorter::EntrySorter(size_t memory_limit) : limit_(std::max<size_t>(memory_limit, 1 << 16)) {}

EntrySorter::~EntrySorter() {
  for (std::FILE* f : runs_) std::fclose(f);
}

void EntrySorter::Add(std::span<const uint8_t> entry) {
  if (arena_.size() + entry.size() + items_.size() * 8 > limit_) Spill();
  if (sorted_ && !items_.empty()) {
    const auto [off, len] = items_.back();
    if (!Less(std::span<const uint8_t>(arena_.data() + off, len), entry)) sorted_ = false;
  }
  items_.emplace_back(static_cast<uint32_t>(arena_.size()), static_cast<uint16_t>(entry.size()));
  arena_.insert(arena_.end(), entry.begin(), entry.end());
  ++count_;
  bytes_ += entry.size();
}

void EntrySorter::SortBuffer() {
  if (sorted_) return;
  const uint8_t* base = arena_.data();
  std::sort(items_.begin(), items_.end(), [base](const auto& a, const auto& b) {
    return Less(std::span<const uint8_t>(base + a.first, a.second),
                std::span<const uint8_t>(base + b.first, b.second));
  });
  sorted_ = true;
}

void EntrySorter::Spill() {
  if (items_.empty()) return;
  SortBuffer();
  std::FILE* f = std::tmpfile();
  if (f == nullptr) throw Error(kIoError, "No scratch file could be created for sorting an index.");
  runs_.push_back(f);
  std::vector<uint8_t> out;
  out.reserve(1 << 20);
  for (const auto& [off, len] : items_) {
    AppendU16(out, len);
    const uint8_t* from = arena_.data() + off;
    out.insert(out.end(), from, from + len);
    if (out.size() >= (1 << 20)) {
      if (std::fwrite(out.data(), 1, out.size(), f) != out.size())
        throw Error(kDiskFull, "The scratch file of an index sort could not be written.");
      out.clear();
    }
  }
  if (!out.empty() && std::fwrite(out.data(), 1, out.size(), f) != out.size())
    throw Error(kDiskFull, "The scratch file of an index sort could not be written.");
  std::fflush(f);
  arena_.clear();
  items_.clear();
  sorted_ = true;
}

void EntrySorter::Drain(const std::function<void(std::span<const uint8_t>)>& visit) {
  if (runs_.empty()) {
    SortBuffer();
    for (const auto& [off, len] : items_) visit(std::span<const uint8_t>(arena_.data() + off, len));
  } else {
    Spill();
    std::vector<std::unique_ptr<RunReader>> readers;
    for (std::FILE* f : runs_) readers.push_back(std::make_unique<RunReader>(f));
    auto greater = [&](size_t a, size_t b) {
      return Less(readers[b]->current(), readers[a]->current());
    };
    std::priority_queue<size_t, std::vector<size_t>, decltype(greater)> heap(greater);
    for (size_t i = 0; i < readers.size(); ++i)
      if (!readers[i]->done()) heap.push(i);
    while (!heap.empty()) {
      const size_t i = heap.top();
      heap.pop();
      visit(readers[i]->current());
      readers[i]->Next();
      if (!readers[i]->done()) heap.push(i);
    }
    for (std::FILE* f : runs_) std::fclose(f);
    runs_.clear();
  }
  // The buffers keep their storage (at most the memory budget) for the
  // next use of the sorter.
  arena_.clear();
  items_.clear();
  count_ = 0;
  bytes_ = 0;
  sorted_ = true;
}

}  // namespace tessmark::jet
