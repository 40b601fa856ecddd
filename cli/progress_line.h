// The one-line progress indicator of the long-running commands (compact,
// check) on standard error: the phase, the percent of pages done and the
// time elapsed, rewritten in place with '\r' and cleared at the end. Shown
// only when standard error is a terminal and the file is larger than 64 MB,
// never with --quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace tessmark::cli {

inline constexpr uint64_t kProgressFromBytes = 64ull << 20;

inline bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(2) != 0;
#else
  return isatty(2) != 0;
#endif
}

inline bool WantsProgress(bool quiet, bool stderr_is_terminal, uint64_t file_bytes) {
  return !quiet && stderr_is_terminal && file_bytes > kProgressFromBytes;
}

// "checking: 42% of pages, 1:07 elapsed". Without a page count (total 0)
// the percent is left out.
inline std::string ProgressText(std::string_view phase, uint64_t done, uint64_t total,
                                double elapsed_seconds) {
  std::string text(phase);
  text += ":";
  if (total > 0) {
    const uint64_t percent = (done >= total ? total : done) * 100 / total;
    text += " " + std::to_string(percent) + "% of pages,";
  }
  const auto seconds = static_cast<uint64_t>(elapsed_seconds < 0 ? 0 : elapsed_seconds);
  const uint64_t s = seconds % 60;
  text +=
      " " + std::to_string(seconds / 60) + (s < 10 ? ":0" : ":") + std::to_string(s) + " elapsed";
  return text;
}

class ProgressLine {
 public:
  ProgressLine(std::ostream& out, bool enabled)
      : out_(out), enabled_(enabled), start_(std::chrono::steady_clock::now()) {}
  ~ProgressLine() { Clear(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // Rewrites the line when what it says has changed.
  void Show(std::string_view phase, uint64_t done, uint64_t total) {
    if (!enabled_) return;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const std::string text = ProgressText(phase, done, total, elapsed);
    if (text == shown_) return;
    // Spaces cover what is left of a longer line before.
    const size_t pad = shown_.size() > text.size() ? shown_.size() - text.size() : 0;
    out_ << '\r' << text << std::string(pad, ' ') << std::flush;
    shown_ = text;
  }

  // Blanks the line and leaves the cursor at its start.
  void Clear() {
    if (!enabled_ || shown_.empty()) return;
    out_ << '\r' << std::string(shown_.size(), ' ') << '\r' << std::flush;
    shown_.clear();
  }

 private:
  std::ostream& out_;
  bool enabled_;
  std::chrono::steady_clock::time_point start_;
  std::string shown_;
};

}  // namespace tessmark::cli
