#include "tests/support/fault_env.h"

#include <csignal>
#include <mutex>

#include "tessmark/error.h"

namespace tessmark::testing {

const char* FaultOpName(FaultOp op) {
  switch (op) {
    case FaultOp::kOpen:
      return "open";
    case FaultOp::kCreate:
      return "create";
    case FaultOp::kRead:
      return "read";
    case FaultOp::kWrite:
      return "write";
    case FaultOp::kSync:
      return "sync";
    case FaultOp::kClose:
      return "close";
    case FaultOp::kRename:
      return "rename";
    case FaultOp::kRemove:
      return "remove";
    case FaultOp::kMakeDir:
      return "make directory";
    case FaultOp::kFind:
      return "find";
  }
  return "?";
}

namespace {

class FaultReadFile final : public jet::RandomAccessFile {
 public:
  FaultReadFile(FaultEnv* env, std::unique_ptr<jet::RandomAccessFile> base, std::string path)
      : env_(env), base_(std::move(base)), path_(std::move(path)) {}
  size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
    env_->Step(FaultOp::kRead, path_);
    return base_->Read(offset, n, out);
  }
  uint64_t Size() const override { return base_->Size(); }

 private:
  FaultEnv* env_;
  std::unique_ptr<jet::RandomAccessFile> base_;
  std::string path_;
};

class FaultWritableFile final : public jet::WritableFile {
 public:
  FaultWritableFile(FaultEnv* env, std::unique_ptr<jet::WritableFile> base, std::string path)
      : env_(env), base_(std::move(base)), path_(std::move(path)) {}
  void WriteAt(uint64_t offset, const uint8_t* data, size_t n) override {
    env_->Step(FaultOp::kWrite, path_);
    base_->WriteAt(offset, data, n);
  }
  void Append(const uint8_t* data, size_t n) override {
    env_->Step(FaultOp::kWrite, path_);
    base_->Append(data, n);
  }
  void Sync() override {
    env_->Step(FaultOp::kSync, path_);
    base_->Sync();
  }
  void Close() override {
    // A failed close still releases the file, as close(2) does.
    try {
      env_->Step(FaultOp::kClose, path_);
    } catch (...) {
      base_->Close();
      throw;
    }
    base_->Close();
  }
  bool ShareForReading() override { return base_->ShareForReading(); }

 private:
  FaultEnv* env_;
  std::unique_ptr<jet::WritableFile> base_;
  std::string path_;
};

}  // namespace

FaultEnv::FaultEnv(jet::Env* base, FaultPlan plan) : base_(base), plan_(plan) {}
FaultEnv::~FaultEnv() = default;

void FaultEnv::Step(FaultOp op, const std::string& path) {
  // The engine reads the source on two threads at once.
  const std::lock_guard<std::mutex> hold(lock_);
  ++count_;
  bool fail = plan_.fail_at != 0 &&
              (count_ == plan_.fail_at || (plan_.persistent && count_ > plan_.fail_at));
  if (fail && plan_.spare_reads_and_removals &&
      (op == FaultOp::kRead || op == FaultOp::kRemove || op == FaultOp::kOpen ||
       op == FaultOp::kFind)) {
    fail = false;
  }
  log_.push_back(std::to_string(count_) + " " + FaultOpName(op) + " " + path +
                 (fail ? " FAILED" : ""));
  if (!fail) return;
  ++failures_;
#ifdef SIGKILL
  if (plan_.action == FaultPlan::Action::kKill) std::raise(SIGKILL);
  if (plan_.action == FaultPlan::Action::kStop) {
    std::raise(SIGSTOP);
    return;  // continued: carry on with the operation
  }
#endif
  const std::string text = plan_.error == jet::kDiskFull
                               ? "There is not enough space on the disk to " +
                                     std::string(FaultOpName(op)) + " '" + path + "' (injected)."
                               : "Could not " + std::string(FaultOpName(op)) + " '" + path +
                                     "': input/output error (injected).";
  throw jet::Error(plan_.error, text);
}

std::unique_ptr<jet::RandomAccessFile> FaultEnv::OpenForRead(const std::string& path,
                                                             jet::LockMode mode) {
  Step(FaultOp::kOpen, path);
  return std::make_unique<FaultReadFile>(this, base_->OpenForRead(path, mode), path);
}

std::unique_ptr<jet::WritableFile> FaultEnv::CreateNew(const std::string& path) {
  Step(FaultOp::kCreate, path);
  return std::make_unique<FaultWritableFile>(this, base_->CreateNew(path), path);
}

void FaultEnv::Remove(const std::string& path) {
  Step(FaultOp::kRemove, path);
  base_->Remove(path);
}

void FaultEnv::RenameReplace(const std::string& from, const std::string& to) {
  Step(FaultOp::kRename, from);
  base_->RenameReplace(from, to);
}

void FaultEnv::MakeDirectory(const std::string& path) {
  Step(FaultOp::kMakeDir, path);
  base_->MakeDirectory(path);
}

bool FaultEnv::FileExists(const std::string& path) { return base_->FileExists(path); }

uint64_t FaultEnv::FileSize(const std::string& path) { return base_->FileSize(path); }

std::string FaultEnv::ResolveLinks(const std::string& path) { return base_->ResolveLinks(path); }

bool FaultEnv::CanReplaceOpenFiles() { return base_->CanReplaceOpenFiles(); }

void FaultEnv::SyncDirectory(const std::string& path) {
  Step(FaultOp::kSync, path);
  base_->SyncDirectory(path);
}

}  // namespace tessmark::testing
