// An Env that passes every operation to another one, counts them, and can
// make the Nth fail: just that once, or it and every later one (a disk that
// has filled up, a device that has gone away). Used to prove that a failure
// at any moment leaves the user's database intact.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "format/env.h"

namespace tessmark::testing {

// kFind is a directory search, for layers above the engine that count their
// own file calls through Step.
enum class FaultOp {
  kOpen,
  kCreate,
  kRead,
  kWrite,
  kSync,
  kClose,
  kRename,
  kRemove,
  kMakeDir,
  kFind
};
const char* FaultOpName(FaultOp op);

struct FaultPlan {
  uint64_t fail_at = 0;     // 1-based number of the operation to fail; 0: none
  bool persistent = false;  // also fail every later one
  int32_t error = 3043;     // kIoError or kDiskFull
  // Under a full disk, opening, reading, searching and removing still work;
  // only an I/O error hits every kind of operation.
  bool spare_reads_and_removals = false;
  // Instead of failing, the process kills itself with SIGKILL (POSIX) or
  // stops itself with SIGSTOP just before the operation: a crash or a
  // pause at an exact moment, for tests that run the CLI as a child.
  enum class Action { kFail, kKill, kStop } action = Action::kFail;
};

class FaultEnv final : public jet::Env {
 public:
  // `base` must outlive this Env.
  explicit FaultEnv(jet::Env* base, FaultPlan plan = {});
  ~FaultEnv() override;

  void set_plan(const FaultPlan& plan) { plan_ = plan; }
  // Operations seen so far (counted whether or not they failed).
  uint64_t operations() const { return count_; }
  // Operations that were made to fail.
  uint64_t failures() const { return failures_; }
  // One line per operation: "12 write foo.mdb.compacting FAILED".
  const std::vector<std::string>& log() const { return log_; }

  // Counts one operation on `path` and throws the planned error when it is
  // the one to fail. Used by the file objects too.
  void Step(FaultOp op, const std::string& path);

  std::unique_ptr<jet::RandomAccessFile> OpenForRead(const std::string& path,
                                                     jet::LockMode mode) override;
  std::unique_ptr<jet::WritableFile> CreateNew(const std::string& path) override;
  void Remove(const std::string& path) override;
  void RenameReplace(const std::string& from, const std::string& to) override;
  void MakeDirectory(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  uint64_t FileSize(const std::string& path) override;
  void SyncDirectory(const std::string& path) override;
  std::string ResolveLinks(const std::string& path) override;
  bool CanReplaceOpenFiles() override;

 private:
  jet::Env* base_;
  FaultPlan plan_;
  uint64_t count_ = 0;
  uint64_t failures_ = 0;
  std::vector<std::string> log_;
  std::mutex lock_;
};

}  // namespace tessmark::testing
