#include "format/env.h"

#include <algorithm>
#include <vector>

namespace tessmark::jet {

namespace {
Env* g_default_env = nullptr;
}

Error FileError(int32_t number, const std::string& what, const std::string& path,
                const std::string& reason) {
  std::string text;
  switch (number) {
    case kFileNotFound:
      text = "The file '" + path + "' could not be found";
      break;
    case kInvalidPath:
      text = "'" + path + "' is not a valid path to a database file";
      break;
    case kDiskFull:
      text = "There is not enough space on the disk to " + what + " '" + path + "'";
      break;
    case kDatabaseExists:
      text = "The file '" + path + "' already exists";
      break;
    case kFileInUse:
      text = "The file '" + path + "' is in use by another process";
      break;
    default:
      text = "Could not " + what + " '" + path + "': " + reason;
      break;
  }
  return Error(number, text + ".");
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

std::string TemporaryName(const std::string& path, const std::string& suffix, int n) {
  std::string name = path + suffix;
  if (n > 0) name += "." + std::to_string(n);
  return name;
}

std::string FreeTemporaryName(Env& env, const std::string& path, const std::string& suffix) {
  for (int n = 0; n < kTemporaryNames; ++n) {
    std::string candidate = TemporaryName(path, suffix, n);
    if (!env.FileExists(candidate)) return candidate;
  }
  throw Error(kDatabaseExists, "No free temporary name is left beside '" + path + "'.");
}

void RemoveTemporaries(Env& env, const std::string& path, const std::string& suffix) {
  for (int n = 0; n < kTemporaryNames; ++n) {
    const std::string stale = TemporaryName(path, suffix, n);
    if (!env.FileExists(stale)) continue;
    try {
      env.Remove(stale);
    } catch (const Error&) {
    }
  }
}

TemporaryFile::TemporaryFile(Env& env, const std::string& path, const std::string& suffix)
    : env_(env), path_(FreeTemporaryName(env, path, suffix)) {}

TemporaryFile::~TemporaryFile() {
  if (kept_) return;
  try {
    if (env_.FileExists(path_)) env_.Remove(path_);
  } catch (...) {
    // Left for the operator, or for the next run to clear.
  }
}

size_t RandomAccessFile::ReadScattered(uint64_t offset,
                                       std::span<const std::span<uint8_t>> buffers) const {
  if (buffers.size() == 1) return Read(offset, buffers[0].size(), buffers[0].data());
  size_t total = 0;
  for (const std::span<uint8_t>& b : buffers) total += b.size();
  // One read into a staging buffer that each thread keeps (a run of pages
  // is read this way again and again), then copied out.
  thread_local std::vector<uint8_t> all;
  if (all.size() < total) all.resize(total);
  const size_t got = Read(offset, total, all.data());
  size_t at = 0;
  for (const std::span<uint8_t>& b : buffers) {
    if (at >= got) break;
    const size_t n = std::min(b.size(), got - at);
    std::copy_n(all.begin() + static_cast<std::ptrdiff_t>(at), n, b.begin());
    at += n;
  }
  return got;
}

Env* DefaultEnv() { return g_default_env != nullptr ? g_default_env : PlatformEnv(); }

void SetDefaultEnv(Env* env) { g_default_env = env; }

}  // namespace tessmark::jet
