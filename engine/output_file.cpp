#include "engine/output_file.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engine/bytes_write.h"
#include "engine/error.h"
#include "engine/rc4.h"

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
  // Pages that follow each other collect in a buffer that goes out with one
  // call; a page elsewhere first sends what has collected.
  const uint32_t buffered = static_cast<uint32_t>(pending_.size() / page_size_);
  const bool inside = page >= pending_first_ && page < pending_first_ + buffered;
  if (!inside && (page != pending_first_ + buffered || buffered == kWriteBatchPages)) {
    Flush();
    pending_first_ = page;
  }
  const size_t at = size_t{page - pending_first_} * page_size_;
  if (at == pending_.size()) {
    pending_.insert(pending_.end(), image.begin(), image.end());
  } else {
    std::copy(image.begin(), image.end(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  if (page != 0 && key_ != 0) {
    const uint32_t k = key_ ^ page;
    std::array<uint8_t, 4> key{};
    PutU32(key, 0, k);
    Rc4Apply(key, std::span<uint8_t>(pending_).subspan(at, page_size_));
  }
}

void OutputFile::Flush() {
  if (pending_.empty()) return;
  file_->WriteAt(uint64_t{pending_first_} * page_size_, pending_.data(), pending_.size());
  pending_.clear();
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
