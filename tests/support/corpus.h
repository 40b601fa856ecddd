// The sample databases of ../shared/corpus, for tests that run on real
// files. Every such test must skip with a clear message when they are absent.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tessmark::testing {

// The shared folder beside the checkout (TESSMARK_SHARED_DIR).
std::filesystem::path SharedDir();
// Every .mdb file below shared/corpus, sorted; empty when the corpus is absent.
std::vector<std::filesystem::path> CorpusFiles();
// Message for GTEST_SKIP when the corpus is missing.
std::string CorpusMissingMessage();

// Names for parameterised tests: "jet4_testV2000" from ".../jet4/testV2000.mdb".
std::string CorpusTestName(const std::filesystem::path& file);

// A fresh, empty directory for one test's files, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes `bytes` to a new file in the directory and returns its path.
  std::filesystem::path Write(const std::string& name, const std::vector<uint8_t>& bytes) const;

 private:
  std::filesystem::path path_;
};

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& file);

}  // namespace tessmark::testing
