// An Env that keeps every file in memory, for tests and fuzzing: no disk,
// no clean-up, and the same lock rules as the platform's (a shared hold
// keeps out exclusive ones and the other way round; a file being written is
// held exclusively until it is closed).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "format/env.h"

namespace tessmark::testing {

class MemEnv final : public jet::Env {
 public:
  MemEnv();
  ~MemEnv() override;

  // Puts a whole file (creating its folder implicitly).
  void PutFile(const std::string& path, std::vector<uint8_t> bytes);
  // The content of a file, or nothing when it does not exist.
  std::optional<std::vector<uint8_t>> GetFile(const std::string& path) const;
  // Paths of every file, sorted.
  std::vector<std::string> Files() const;

  std::unique_ptr<jet::RandomAccessFile> OpenForRead(const std::string& path,
                                                     jet::LockMode mode) override;
  std::unique_ptr<jet::WritableFile> CreateNew(const std::string& path) override;
  void Remove(const std::string& path) override;
  void RenameReplace(const std::string& from, const std::string& to) override;
  void MakeDirectory(const std::string& path) override;
  bool FileExists(const std::string& path) override;
  uint64_t FileSize(const std::string& path) override;
  void SyncDirectory(const std::string& path) override;

  struct Node;  // one file: content and lock holders

 private:
  std::map<std::string, std::shared_ptr<Node>> files_;
  std::set<std::string> folders_;
};

}  // namespace tessmark::testing
