#include "compact/compact_phases.h"

#include <chrono>
#include <utility>

namespace tessmark::jet {

const char* PhaseName(Phase phase) {
  static constexpr std::array<const char*, kPhaseCount> kNames = {"checking", "writing", "flushing",
                                                                  "verifying", "committing"};
  return kNames[static_cast<size_t>(phase)];
}

PhaseRunner::PhaseRunner(std::function<void(const CompactProgress&)> progress)
    : progress_(std::move(progress)) {
  threads_.reserve(kPhaseCount);
}

PhaseRunner::~PhaseRunner() { Join(); }

void PhaseRunner::Start(Phase phase, uint32_t total, std::function<void()> body) {
  try {
    Report(CompactProgress{phase, 0, total, 0, 0});
    threads_.emplace_back([this, phase, body = std::move(body)] { Timed(phase, body); });
  } catch (...) {
    // The phase never began.
    failures_[static_cast<size_t>(phase)] = std::current_exception();
  }
}

void PhaseRunner::Run(Phase phase, uint32_t total, const std::function<void()>& body) {
  Timed(phase, [&] {
    Report(CompactProgress{phase, 0, total, 0, 0});
    body();
  });
}

void PhaseRunner::Join() {
  for (std::thread& t : threads_) t.join();
  threads_.clear();
}

std::optional<PhaseFailure> PhaseRunner::Failure() const {
  for (size_t i = 0; i < kPhaseCount; ++i) {
    if (failures_[i]) return PhaseFailure{static_cast<Phase>(i), failures_[i]};
  }
  return std::nullopt;
}

std::vector<PhaseTime> PhaseRunner::Times() const {
  std::vector<PhaseTime> times;
  for (size_t i = 0; i < kPhaseCount; ++i) {
    if (seconds_[i]) times.push_back(PhaseTime{PhaseName(static_cast<Phase>(i)), *seconds_[i]});
  }
  return times;
}

std::function<void(const CompactProgress&)> PhaseRunner::Reporter() {
  if (!progress_) return {};
  return [this](const CompactProgress& p) { Report(p); };
}

void PhaseRunner::Report(const CompactProgress& progress) {
  if (!progress_) return;
  const std::lock_guard<std::mutex> hold(progress_lock_);
  progress_(progress);
}

void PhaseRunner::Timed(Phase phase, const std::function<void()>& body) {
  const auto i = static_cast<size_t>(phase);
  const auto start = std::chrono::steady_clock::now();
  try {
    body();
  } catch (...) {
    failures_[i] = std::current_exception();
  }
  seconds_[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void RunBoth(const std::function<void()>& here, const std::function<void()>& there) {
  std::exception_ptr there_failed;
  std::thread other([&] {
    try {
      there();
    } catch (...) {
      there_failed = std::current_exception();
    }
  });
  std::exception_ptr here_failed;
  try {
    here();
  } catch (...) {
    here_failed = std::current_exception();
  }
  other.join();
  if (here_failed) std::rethrow_exception(here_failed);
  if (there_failed) std::rethrow_exception(there_failed);
}

}  // namespace tessmark::jet
