// The new database file a compaction writes: created exclusively through
// the Env, written page by page (encrypted with each page's own number when
// the database has a key), flushed and closed; removed again unless the
// caller commits it.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "format/env.h"
#include "format/header.h"

namespace tessmark::jet {

// Lets one thread hold up the writes another makes, then let them go on or
// stop them: the copy waits while the check of its source weighs damage.
class WriteGate {
 public:
  // Writes wait from now on.
  void Hold();
  // Writes go on.
  void Open();
  // Waiting and later writes throw.
  void Close();
  // Returns once writes may go on; throws when they are stopped.
  void Pass();

 private:
  enum class State { kOpen, kHeld, kClosed };
  std::mutex lock_;
  std::condition_variable changed_;
  State state_ = State::kOpen;
};

class OutputFile {
 public:
  // Creates `path`, which must not exist (3204). Page 0 and onwards are
  // written by the caller; `header` supplies the page size and the key.
  OutputFile(Env* env, std::string path, const DatabaseHeader& header);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Reserves the next page number at the end of the file.
  uint32_t Allocate() { return next_page_++; }
  uint32_t page_count() const { return next_page_; }

  // Writes one page image (exactly the page size) at its place. Pages may
  // be held back and written together; Commit writes all of them.
  void Write(uint32_t page, std::span<const uint8_t> image);
  // Writes out every page held back; the file is complete but neither
  // synced nor closed.
  void Flush();
  // Lets the file be opened for reading before it is committed, where the
  // file system allows it (see WritableFile::ShareForReading).
  bool ShareForReading() { return file_ != nullptr && file_->ShareForReading(); }
  // Flushes everything to stable storage and closes the file; it stays.
  void Commit();
  // Closes and removes the file, ignoring errors (used on failure paths).
  void Discard() noexcept;
  // Every Write passes `gate` first (see WriteGate).
  void set_gate(WriteGate* gate) { gate_ = gate; }

  const std::string& path() const { return path_; }
  Env& env() const { return *env_; }

 private:
  Env* env_;
  std::string path_;
  uint32_t page_size_;
  uint32_t key_;
  std::unique_ptr<WritableFile> file_;
  uint32_t next_page_ = 0;
  bool committed_ = false;
  WriteGate* gate_ = nullptr;
  // Pages not written yet, as runs of consecutive pages. A compaction
  // fills several parts of the file at once (rows, their long values, an
  // index), so each part collects in a run of its own and goes out with one
  // call when the run is full; runs never share a page.
  struct Run {
    uint32_t first = 0;
    uint64_t last_use = 0;  // when a page last went into the run
    std::vector<uint8_t> bytes;
  };
  static constexpr uint32_t kWriteBatchPages = 64;
  static constexpr size_t kRuns = 4;
  // Writes out run `r` and leaves it empty.
  void FlushRun(Run& r);
  std::array<Run, kRuns> runs_;
  uint64_t writes_ = 0;
};

}  // namespace tessmark::jet
