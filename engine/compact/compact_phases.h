// The phases of a compaction and the runner that carries them out: it
// owns the threads phases run on, times each phase, reports its progress,
// and keeps what stopped each one, so the caller decides how to end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "tessmark/compact.h"

namespace tessmark::jet {

inline constexpr size_t kPhaseCount = 5;  // of Phase

struct PhaseFailure {
  Phase phase;
  std::exception_ptr error;
};

class PhaseRunner {
 public:
  // `progress` (may be empty) hears of every phase as it begins, and of
  // whatever the phases report; never from two threads at once.
  explicit PhaseRunner(std::function<void(const CompactProgress&)> progress);
  ~PhaseRunner();
  PhaseRunner(const PhaseRunner&) = delete;
  PhaseRunner& operator=(const PhaseRunner&) = delete;

  // Starts `body` as `phase` on a thread of its own; `total` is the amount
  // of work its progress counts. A phase runs once.
  void Start(Phase phase, uint32_t total, std::function<void()> body);
  // Runs `body` as `phase` on this thread.
  void Run(Phase phase, uint32_t total, const std::function<void()>& body);
  // Waits for every phase started on a thread.
  void Join();

  // After Join: the failure of the earliest phase that failed.
  std::optional<PhaseFailure> Failure() const;
  // After Join: how long each phase that ran took, in phase order.
  std::vector<PhaseTime> Times() const;

  // A progress function for a phase to report through; empty when nobody
  // listens.
  std::function<void(const CompactProgress&)> Reporter();

 private:
  void Report(const CompactProgress& progress);
  void Timed(Phase phase, const std::function<void()>& body);

  std::function<void(const CompactProgress&)> progress_;
  std::mutex progress_lock_;
  std::vector<std::thread> threads_;
  // Each slot is written only by the thread its phase runs on.
  std::array<std::exception_ptr, kPhaseCount> failures_;
  std::array<std::optional<double>, kPhaseCount> seconds_;
};

// Runs `here` on this thread while `there` runs on another; once both are
// done, rethrows the error of `here`, else that of `there`.
void RunBoth(const std::function<void()>& here, const std::function<void()>& there);

}  // namespace tessmark::jet
