#include "db/entry_sorter.h"

#include <algorithm>
#include <cstring>
#include <queue>
#include <string>

#include "format/bytes.h"
#include "format/bytes_write.h"
#include "format/env.h"
#include "tessmark/error.h"

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
  explicit RunReader(std::unique_ptr<RandomAccessFile> file) : file_(std::move(file)) { Next(); }
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
      throw Error(kIoError, "A scratch file of the index sort ended before its last entry.");
  }

 private:
  bool Read(uint8_t* out, size_t n) {
    while (n > 0) {
      if (pos_ == end_) {
        end_ = file_->Read(offset_, buffer_.size(), buffer_.data());
        offset_ += end_;
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

  std::unique_ptr<RandomAccessFile> file_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(1 << 16);
  uint64_t offset_ = 0;
  size_t pos_ = 0, end_ = 0;
  std::vector<uint8_t> current_;
  bool done_ = false;
};

// The error of a scratch file operation, saying what the file was for;
// the number stays the system's.
[[noreturn]] void ThrowScratchError(const Error& e) {
  throw Error(
      e.number(),
      "The index sort could not use its scratch file beside the new database: " + e.description());
}

}  // namespace

void RemoveStaleSortScratch(Env& env, const std::string& beside) {
  RemoveTemporaries(env, beside, kSortScratchSuffix);
}

EntrySorter::EntrySorter(size_t memory_limit, Env& env, std::string beside)
    : limit_(std::max<size_t>(memory_limit, 1 << 16)), env_(env), beside_(std::move(beside)) {}

EntrySorter::~EntrySorter() { RemoveRuns(); }

void EntrySorter::RemoveRuns() noexcept {
  for (const std::string& run : runs_) {
    try {
      env_.Remove(run);
    } catch (...) {
    }
  }
  runs_.clear();
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
  // The first free name; another sorter of this process may take a name
  // between the look and the creation, so a name found taken is skipped.
  std::unique_ptr<WritableFile> file;
  for (int n = 0; file == nullptr; ++n) {
    if (n == kTemporaryNames)
      throw Error(kDatabaseExists,
                  "No free name is left for a scratch file of the index sort "
                  "beside '" +
                      beside_ + "'.");
    const std::string name = TemporaryName(beside_, kSortScratchSuffix, n);
    if (env_.FileExists(name)) continue;
    try {
      file = env_.CreateNew(name);
    } catch (const Error& e) {
      if (e.number() == kDatabaseExists) continue;
      ThrowScratchError(e);
    }
    runs_.push_back(name);
  }
  try {
    std::vector<uint8_t> out;
    out.reserve(1 << 20);
    for (const auto& [off, len] : items_) {
      AppendU16(out, len);
      const uint8_t* from = arena_.data() + off;
      out.insert(out.end(), from, from + len);
      if (out.size() >= (1 << 20)) {
        file->Append(out.data(), out.size());
        out.clear();
      }
    }
    if (!out.empty()) file->Append(out.data(), out.size());
    file->Close();
  } catch (const Error& e) {
    file.reset();  // closed before the destructor removes it
    ThrowScratchError(e);
  }
  arena_.clear();
  items_.clear();
  sorted_ = true;
}

void EntrySorter::Merge(const std::function<void(std::span<const uint8_t>)>& visit) {
  std::vector<std::unique_ptr<RunReader>> readers;
  try {
    for (const std::string& run : runs_)
      readers.push_back(std::make_unique<RunReader>(env_.OpenForRead(run, LockMode::kExclusive)));
  } catch (const Error& e) {
    ThrowScratchError(e);
  }
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
    try {
      readers[i]->Next();
    } catch (const Error& e) {
      ThrowScratchError(e);
    }
    if (!readers[i]->done()) heap.push(i);
  }
}

void EntrySorter::Drain(const std::function<void(std::span<const uint8_t>)>& visit) {
  if (runs_.empty()) {
    SortBuffer();
    for (const auto& [off, len] : items_) visit(std::span<const uint8_t>(arena_.data() + off, len));
  } else {
    // The scratch files go whether the merge ends or fails; the readers
    // (Merge's own) are closed by then.
    try {
      Spill();
      Merge(visit);
    } catch (...) {
      RemoveRuns();
      throw;
    }
    RemoveRuns();
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
