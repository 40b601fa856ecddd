// Compaction: writes a compacted, verified copy of a Jet database.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tessmark::jet {

class Env;

// The phases of a compaction, in the order in which their errors take
// precedence: when phases that ran at the same time both failed, the
// earlier one's error is reported (the writer stopped because the check
// refused the source fails as well).
enum class Phase : uint8_t {
  kCheck,   // the source is checked, its rows digested
  kWrite,   // the copy is written
  kFlush,   // the copy goes to stable storage and is closed
  kVerify,  // the copy is checked and compared with the source
  kCommit,  // the verified copy is handed over (CompactOptions::on_verified)
};

// "checking", "writing", "flushing", "verifying", "committing".
const char* PhaseName(Phase phase);

// How long one phase of a compaction took.
struct PhaseTime {
  std::string phase;  // its PhaseName
  double seconds = 0;
};

// What a compaction did, for reports.
struct CompactStats {
  uint32_t pages_before = 0;
  uint32_t pages_after = 0;
  uint64_t bytes_before = 0;
  uint64_t bytes_after = 0;
  uint32_t tables = 0;
  uint64_t rows = 0;
  std::vector<PhaseTime> phases;  // in the order of the compaction's phases
};

// Progress of a compaction: the phase (the source is checked while the
// copy is written, and the copy flushed while it is verified where the
// file system allows), and within it the work done out of all: tables
// while writing, else 0 of 1 as the phase begins. Pages count the work
// that takes longest: while writing, the source's pages of what is written
// (each table weighs the pages its usage maps give it), out of those of
// every table; while verifying, the pages the copy's check has read out of
// the copy's (both 0 where pages are not counted).
struct CompactProgress {
  Phase phase = Phase::kCheck;
  uint32_t done = 0;
  uint32_t total = 0;
  uint64_t pages_done = 0;
  uint64_t pages_total = 0;
};

struct CompactOptions {
  // Restart every AutoNumber column after its highest remaining value, as
  // the desktop product's own compaction does. Off by default: a catalog
  // must never hand out a number it has already used.
  bool reset_autonumber = false;
  // The database password. A database protected by one is compacted only
  // when this matches it (3031 otherwise, and nothing is written), and the
  // copy keeps it.
  std::optional<std::string> password;
  // File environment; the default Env when null.
  Env* env = nullptr;
  // Called now and then while the compaction runs.
  std::function<void(const CompactProgress&)> progress;
  // Filled in on success when set.
  CompactStats* stats = nullptr;
  // Called last, once the copy is verified and flushed, while the source is
  // still held exclusively; what it does happens before anyone else can
  // open the source. An error it throws is the compaction's error.
  std::function<void()> on_verified;
};

// The checks a command that writes a database into a new file makes before
// anything else: `source` is a valid path to a file that exists (3044,
// 3024), `destination` a valid file path in a folder that exists (3044)
// and names no file yet (3204).
void CheckCopyPaths(Env& env, const std::string& source, const std::string& destination);

// Compacts the database at `source` into a new file at `destination`.
// On success the destination holds a compacted database whose content has
// been verified against the source; the source is never written to.
// On failure throws Error and leaves no destination file behind. A damaged
// source is refused with 3049, naming the first three findings of its check
// and counting the rest, and saying that the file is unchanged.
// Work is shared between the calling thread and one more: the source is
// checked while the copy is written, and the copy's structure is checked
// while its rows are digested; the Env's files must allow reads from two
// threads at once. Where the Env lets a new file be read before it is
// closed (WritableFile::ShareForReading), a third thread flushes the copy
// to disk during the verification; success waits for the flush.
void CompactDatabase(const std::string& source, const std::string& destination,
                     const CompactOptions& options = {});

// Compacts the database at `path` in place: the compacted copy is written to
// a new temporary file beside it, verified and flushed, then renamed over
// `path` and the folder flushed. On failure throws Error and leaves the
// original under its name, unchanged, and no temporary file behind (unless
// the system refuses to remove it).
void CompactInPlace(const std::string& path, const CompactOptions& options = {});

}  // namespace tessmark::jet
