// Helpers of the compaction tests: corpus files, scratch folders, running
// the independent readers and reading their CSV.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tessmark::compact_test {

namespace fs = std::filesystem;

inline fs::path CorpusDir() { return fs::path(TESSMARK_SHARED_DIR) / "corpus"; }

// Every non-empty sample database, sorted by path.
inline std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const char* sub : {"jet3", "jet4"}) {
    for (const auto& e : fs::directory_iterator(CorpusDir() / sub, ec)) {
      if (e.path().extension() == ".mdb" && e.file_size() > 0) files.push_back(e.path());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

inline std::string CorpusFile(const std::string& relative) {
  return (CorpusDir() / relative).string();
}

#define TESSMARK_REQUIRE_CORPUS()                                                     \
  if (!std::filesystem::exists(::tessmark::compact_test::CorpusDir()))                \
  GTEST_SKIP() << "sample databases not found at "                                    \
               << ::tessmark::compact_test::CorpusDir() << " (../shared is absent)"

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("tessmark-compact-" + std::to_string(rd()));
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Runs a shell command; returns its standard output and sets `status`.
inline std::string Run(const std::string& command, int& status) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) {
    status = -1;
    return out;
  }
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = pclose(p);
  status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

inline bool HaveCommand(const std::string& name) {
  int status = 0;
  Run("command -v " + name + " >/dev/null 2>&1", status);
  return status == 0;
}

// RFC-4180-style CSV: quoted fields may hold commas, quotes ("") and
// line breaks.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        field += c;
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
      any = true;
    } else if (c == ',') {
      row.push_back(field);
      field.clear();
    } else if (c == '\n') {
      row.push_back(field);
      rows.push_back(row);
      row.clear();
      field.clear();
      any = false;
    } else if (c != '\r') {
      field += c;
      any = true;
    }
  }
  if (any || !field.empty() || !row.empty()) {
    row.push_back(field);
    rows.push_back(row);
  }
  return rows;
}

}  // namespace tessmark::compact_test
