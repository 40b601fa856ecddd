#include "format/output_file.h"

#include <algorithm>
#include <array>
#include <vector>

#include "format/bytes_write.h"
#include "format/rc4.h"
#include "tessmark/error.h"

namespace tessmark::jet {

void WriteGate::Hold() {
  const std::lock_guard<std::mutex> hold(lock_);
  if (state_ == State::kOpen) state_ = State::kHeld;
}

void WriteGate::Open() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    state_ = State::kOpen;
  }
  changed_.notify_all();
}

void WriteGate::Close() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    state_ = State::kClosed;
  }
  changed_.notify_all();
}

void WriteGate::Pass() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return state_ != State::kHeld; });
  if (state_ == State::kClosed)
    throw Error(kIoError, "The compacted copy was abandoned while it was written.");
}

OutputFile::OutputFile(Env* env, std::string path, const DatabaseHeader& header)
    : env_(env != nullptr ? env : DefaultEnv()),
      path_(std::move(path)),
      page_size_(header.page_size),
      key_(header.database_key) {
  file_ = env_->CreateNew(path_);
}

OutputFile::~OutputFile() {
  if (!committed_) Discard();
}

void OutputFile::Write(uint32_t page, std::span<const uint8_t> image) {
  if (image.size() != page_size_ || page >= next_page_)
    throw InternalError("a page image of the wrong size or number was written");
  if (gate_ != nullptr) gate_->Pass();
  const auto pages_in = [this](const Run& r) {
    return static_cast<uint32_t>(r.bytes.size() / page_size_);
  };
  // The run that holds the page, else one it continues (unless full), else
  // an empty run or the one used least recently, written out first.
  Run* run = nullptr;
  for (Run& r : runs_) {
    if (!r.bytes.empty() && page >= r.first && page < r.first + pages_in(r)) run = &r;
  }
  if (run == nullptr) {
    for (Run& r : runs_) {
      if (!r.bytes.empty() && page == r.first + pages_in(r) && pages_in(r) < kWriteBatchPages)
        run = &r;
    }
  }
  if (run == nullptr) {
    run = &runs_[0];
    for (Run& r : runs_) {
      if (r.bytes.empty() || (!run->bytes.empty() && r.last_use < run->last_use)) run = &r;
    }
    FlushRun(*run);
    run->first = page;
  }
  run->last_use = ++writes_;
  const size_t at = size_t{page - run->first} * page_size_;
  if (at == run->bytes.size()) {
    run->bytes.insert(run->bytes.end(), image.begin(), image.end());
  } else {
    std::copy(image.begin(), image.end(), run->bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  if (page != 0 && key_ != 0) {
    const uint32_t k = key_ ^ page;
    std::array<uint8_t, 4> key{};
    PutU32(key, 0, k);
    Rc4Apply(key, std::span<uint8_t>(run->bytes).subspan(at, page_size_));
  }
  if (pages_in(*run) == kWriteBatchPages) FlushRun(*run);
}

void OutputFile::FlushRun(Run& r) {
  if (r.bytes.empty()) return;
  file_->WriteAt(uint64_t{r.first} * page_size_, r.bytes.data(), r.bytes.size());
  r.bytes.clear();
}

void OutputFile::Flush() {
  // In file order.
  std::array<Run*, kRuns> order{};
  for (size_t i = 0; i < kRuns; ++i) order[i] = &runs_[i];
  std::sort(order.begin(), order.end(),
            [](const Run* a, const Run* b) { return a->first < b->first; });
  for (Run* r : order) FlushRun(*r);
}

void OutputFile::Commit() {
  Flush();
  file_->Sync();
  file_->Close();
  file_.reset();
  committed_ = true;
}

void OutputFile::Discard() noexcept {
  try {
    if (file_) file_->Close();
  } catch (...) {
  }
  file_.reset();
  try {
    env_->Remove(path_);
  } catch (...) {
  }
}

}  // namespace tessmark::jet
