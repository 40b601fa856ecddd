// Files beside a database: the folder that holds a path, and the temporary
// names a command that writes a new database uses beside it.
#pragma once

#include <string>

#include "tessmark/env.h"

namespace tessmark::jet {

// The folder that holds `path`: what comes before its last slash or
// backslash ("/" for a file in the root), or "." for a bare file name.
std::string FolderOf(const std::string& path);

// Temporary files beside `path`: "<path><suffix>", then "<path><suffix>.1"
// and so on up to kTemporaryNames - 1.
inline constexpr int kTemporaryNames = 1000;
std::string TemporaryName(const std::string& path, const std::string& suffix, int n);
// The first of them that does not exist; 3204 when none is left.
std::string FreeTemporaryName(Env& env, const std::string& path, const std::string& suffix);
// Removes every one of them that exists: what a killed run left. What
// cannot be removed is left for the next time.
void RemoveTemporaries(Env& env, const std::string& path, const std::string& suffix);

// A file under a temporary name that goes when the guard goes, unless it
// was kept (renamed into its place): every way out of a command that writes
// a new database through a temporary file removes what it left.
class TemporaryFile {
 public:
  // Takes the first free temporary name beside `path` (see FreeTemporaryName).
  TemporaryFile(Env& env, const std::string& path, const std::string& suffix);
  ~TemporaryFile();  // removes the file if it exists; a refusal is ignored
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::string& path() const { return path_; }
  // The file has become something else (it was renamed into place).
  void Keep() { kept_ = true; }

 private:
  Env& env_;
  std::string path_;
  bool kept_ = false;
};

}  // namespace tessmark::jet
