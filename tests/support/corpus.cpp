#include "tests/support/corpus.h"

#include <algorithm>
#include <fstream>
#include <random>
#include <stdexcept>

namespace tessmark::testing {

std::filesystem::path SharedDir() { return std::filesystem::path(TESSMARK_SHARED_DIR); }

std::vector<std::filesystem::path> CorpusFiles() {
  std::vector<std::filesystem::path> out;
  const std::filesystem::path root = SharedDir() / "corpus";
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec)) return out;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root, ec)) {
    if (entry.is_regular_file() && entry.path().extension() == ".mdb") out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string CorpusMissingMessage() {
  return "the sample databases are not available (expected in " +
         (SharedDir() / "corpus").string() + "); corpus tests skipped";
}

std::string CorpusTestName(const std::filesystem::path& file) {
  if (file.empty()) return "no_corpus";
  std::string name = file.parent_path().filename().string() + "_" + file.stem().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

TempDir::TempDir() {
  std::random_device rd;
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = base / ("tessmark-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(path_)) return;
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::filesystem::path TempDir::Write(const std::string& name,
                                     const std::vector<uint8_t>& bytes) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return file;
}

std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tessmark::testing
