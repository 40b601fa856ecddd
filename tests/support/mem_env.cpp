#include "tests/support/mem_env.h"

#include <algorithm>
#include <cstring>

#include "tessmark/error.h"

namespace tessmark::testing {

using jet::Error;

struct MemEnv::Node {
  std::vector<uint8_t> data;
  int shared_holders = 0;
  bool exclusive = false;
};

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash);
}

class MemReadFile final : public jet::RandomAccessFile {
 public:
  MemReadFile(std::shared_ptr<MemEnv::Node> node, bool exclusive)
      : node_(std::move(node)), exclusive_(exclusive), size_(node_->data.size()) {}
  ~MemReadFile() override {
    if (exclusive_) {
      node_->exclusive = false;
    } else {
      --node_->shared_holders;
    }
  }
  size_t Read(uint64_t offset, size_t n, uint8_t* out) const override {
    const std::vector<uint8_t>& d = node_->data;
    if (offset >= d.size()) return 0;
    const size_t got = static_cast<size_t>(std::min<uint64_t>(n, d.size() - offset));
    std::memcpy(out, d.data() + offset, got);
    return got;
  }
  uint64_t Size() const override { return size_; }

 private:
  std::shared_ptr<MemEnv::Node> node_;
  bool exclusive_;
  uint64_t size_;
};

class MemWritableFile final : public jet::WritableFile {
 public:
  explicit MemWritableFile(std::shared_ptr<MemEnv::Node> node) : node_(std::move(node)) {}
  ~MemWritableFile() override { Close(); }
  void WriteAt(uint64_t offset, const uint8_t* data, size_t n) override {
    if (!node_) throw Error(jet::kIoError, "write after close");
    const size_t end = static_cast<size_t>(offset) + n;
    if (node_->data.size() < end) node_->data.resize(end);
    if (n != 0) std::memcpy(node_->data.data() + offset, data, n);
  }
  void Append(const uint8_t* data, size_t n) override { WriteAt(node_->data.size(), data, n); }
  void Sync() override {}
  void Close() override {
    if (node_) node_->exclusive = false;
    node_.reset();
  }

 private:
  std::shared_ptr<MemEnv::Node> node_;
};

}  // namespace

MemEnv::MemEnv() = default;
MemEnv::~MemEnv() = default;

void MemEnv::PutFile(const std::string& path, std::vector<uint8_t> bytes) {
  auto node = std::make_shared<Node>();
  node->data = std::move(bytes);
  files_[path] = node;
  for (std::string f = FolderOf(path); !f.empty(); f = FolderOf(f)) folders_.insert(f);
}

std::optional<std::vector<uint8_t>> MemEnv::GetFile(const std::string& path) const {
  auto it = files_.find(path);
  if (it == files_.end()) return std::nullopt;
  return it->second->data;
}

std::vector<std::string> MemEnv::Files() const {
  std::vector<std::string> out;
  for (const auto& [path, node] : files_) out.push_back(path);
  return out;
}

std::unique_ptr<jet::RandomAccessFile> MemEnv::OpenForRead(const std::string& path,
                                                           jet::LockMode mode) {
  if (folders_.count(path) != 0)
    throw Error(jet::kInvalidPath, "'" + path + "' is not a valid path to a database file.");
  auto it = files_.find(path);
  if (it == files_.end())
    throw Error(jet::kFileNotFound, "The file '" + path + "' could not be found.");
  Node& node = *it->second;
  const bool exclusive = mode == jet::LockMode::kExclusive;
  if (node.exclusive || (exclusive && node.shared_holders > 0))
    throw Error(jet::kFileInUse, "The file '" + path + "' is in use by another process.");
  if (exclusive) {
    node.exclusive = true;
  } else {
    ++node.shared_holders;
  }
  return std::make_unique<MemReadFile>(it->second, exclusive);
}

std::unique_ptr<jet::WritableFile> MemEnv::CreateNew(const std::string& path) {
  const std::string folder = FolderOf(path);
  if (!folder.empty() && folders_.count(folder) == 0)
    throw Error(jet::kFileNotFound, "The folder of '" + path + "' could not be found.");
  if (files_.count(path) != 0 || folders_.count(path) != 0)
    throw Error(jet::kDatabaseExists, "The file '" + path + "' already exists.");
  auto node = std::make_shared<Node>();
  node->exclusive = true;
  files_[path] = node;
  return std::make_unique<MemWritableFile>(node);
}

void MemEnv::Remove(const std::string& path) {
  if (files_.erase(path) == 0)
    throw Error(jet::kFileNotFound, "The file '" + path + "' could not be found.");
}

void MemEnv::RenameReplace(const std::string& from, const std::string& to) {
  auto it = files_.find(from);
  if (it == files_.end())
    throw Error(jet::kFileNotFound, "The file '" + from + "' could not be found.");
  auto node = it->second;
  files_.erase(it);
  files_[to] = node;
}

void MemEnv::MakeDirectory(const std::string& path) {
  if (files_.count(path) != 0 || !folders_.insert(path).second)
    throw Error(jet::kDatabaseExists, "The folder '" + path + "' already exists.");
}

bool MemEnv::FileExists(const std::string& path) {
  return files_.count(path) != 0 || folders_.count(path) != 0;
}

uint64_t MemEnv::FileSize(const std::string& path) {
  auto it = files_.find(path);
  if (it == files_.end())
    throw Error(jet::kFileNotFound, "The file '" + path + "' could not be found.");
  return it->second->data.size();
}

void MemEnv::SyncDirectory(const std::string& path) {
  if (!path.empty() && path != "." && folders_.count(path) == 0)
    throw Error(jet::kFileNotFound, "The folder '" + path + "' could not be found.");
}

}  // namespace tessmark::testing
