// Helpers of the compaction tests, on top of the shared test support:
// sample files by name, scratch files, reading and writing whole files.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/corpus.h"
#include "tests/support/readers.h"

namespace tessmark::compact_test {

namespace fs = std::filesystem;

inline fs::path CorpusDir() { return testing::SharedDir() / "corpus"; }

inline std::string CorpusFile(const std::string& relative) {
  return (CorpusDir() / relative).string();
}

#define TESSMARK_REQUIRE_CORPUS()                                      \
  if (!std::filesystem::exists(::tessmark::compact_test::CorpusDir())) \
  GTEST_SKIP() << ::tessmark::testing::CorpusMissingMessage()

// A scratch folder for one test, removed afterwards.
class ScratchDir {
 public:
  std::string File(const std::string& name) const { return (dir_.path() / name).string(); }
  const fs::path& path() const { return dir_.path(); }

 private:
  testing::TempDir dir_;
};

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  return testing::ReadWholeFile(path);
}

inline void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::error_code ec;
  fs::remove(path, ec);
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// A private copy of a sample in `dir`. Compaction locks its source
// exclusively, so tests that run in parallel must not compact the shared
// sample files themselves.
inline std::string PrivateCopy(const ScratchDir& dir, const fs::path& sample) {
  const std::string copy = dir.File("sample-" + sample.filename().string());
  std::error_code ec;
  fs::copy_file(sample, copy, fs::copy_options::overwrite_existing, ec);
  return copy;
}

}  // namespace tessmark::compact_test
