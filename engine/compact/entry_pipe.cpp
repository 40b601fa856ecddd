#include "compact/entry_pipe.h"

#include <utility>

namespace tessmark::jet {

void EntryPipe::Send() {
  std::unique_lock<std::mutex> hold(lock_);
  producer_waits_ = true;
  changed_.wait(hold, [this] { return full_.size() < kBlocksInFlight || stopped_; });
  producer_waits_ = false;
  if (stopped_) throw Stopped{};
  full_.push_back(std::move(filling_));
  if (spare_.empty()) {
    filling_ = Block{};
  } else {
    filling_ = std::move(spare_.back());
    spare_.pop_back();
  }
  const bool wake = consumer_waits_;
  hold.unlock();
  if (wake) changed_.notify_all();
}

void EntryPipe::Close(std::exception_ptr failure) {
  if (!filling_.items.empty()) {
    try {
      Send();
    } catch (const Stopped&) {
      // Nobody takes them any more.
    }
  }
  {
    const std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    failure_ = std::move(failure);
  }
  changed_.notify_all();
}

bool EntryPipe::Receive(Block& block) {
  std::unique_lock<std::mutex> hold(lock_);
  if (!block.items.empty()) {
    block.items.clear();
    block.keys.clear();
    spare_.push_back(std::move(block));
  }
  consumer_waits_ = true;
  changed_.wait(hold, [this] { return !full_.empty() || closed_; });
  consumer_waits_ = false;
  if (full_.empty()) {
    if (failure_) std::rethrow_exception(failure_);
    return false;
  }
  block = std::move(full_.front());
  full_.pop_front();
  const bool wake = producer_waits_;
  hold.unlock();
  if (wake) changed_.notify_all();
  return true;
}

void EntryPipe::Stop() {
  {
    const std::lock_guard<std::mutex> hold(lock_);
    stopped_ = true;
  }
  changed_.notify_all();
}

}  // namespace tessmark::jet
