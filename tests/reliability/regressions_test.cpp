// Every input kept in regressions/ (what the fuzzers once found troublesome,
// and a few hand-made malformed files) goes through open, check, dump, a
// repair into a new file and an in-place compaction: each ends in a
// numbered error with a description or a sound result, the file unchanged
// when refused and nothing left beside it. A repair must not fail on its
// own result. Under ASan (preset asan) this also catches memory faults.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "check/checker.h"
#include "db/database.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"
#include "tessmark/repair.h"
#include "tests/support/content.h"
#include "tests/support/corpus.h"
#include "tests/support/mem_env.h"

namespace tessmark::testing {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> KeptInputs() {
  std::vector<fs::path> files;
  const fs::path dir = TESSMARK_REGRESSIONS_DIR;
  if (!fs::exists(dir)) return files;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.is_regular_file() && e.path().filename() != "README.md") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool CleanNumber(int32_t n) {
  return n == jet::kUnrecognizedFormat || n == jet::kDamaged || n == jet::kPasswordRequired;
}

// Damage must say where it was found.
bool NamesAPlace(const jet::Error& e) {
  return e.number() != jet::kDamaged || e.description().find("page ") != std::string::npos ||
         e.description().find("table ") != std::string::npos;
}

class Regression : public ::testing::TestWithParam<fs::path> {};

TEST_P(Regression, EndsInACleanErrorOrASoundResult) {
  const std::vector<uint8_t> bytes = ReadWholeFile(GetParam());
  MemEnv env;
  const std::string path = "data/catalog.mdb";
  env.PutFile(path, bytes);

  // Open, check and read every row.
  try {
    jet::OpenOptions open;
    open.env = &env;
    std::unique_ptr<jet::Database> db = jet::Database::Open(path, open);
    const jet::CheckReport report = jet::CheckDatabase(*db);
    for (const jet::Finding& f : report.findings) EXPECT_FALSE(f.message.empty());
    for (const jet::CatalogObject* t : db->Tables()) {
      try {
        const jet::TableDef& def = db->Table(*t);
        db->ForEachRow(def, [&](const jet::TableRow& row) { db->DecodeValues(def, row); });
      } catch (const jet::Error& e) {
        EXPECT_TRUE(CleanNumber(e.number())) << e.number() << " " << e.what();
        EXPECT_TRUE(NamesAPlace(e)) << e.what();
      }
    }
  } catch (const jet::Error& e) {
    EXPECT_TRUE(CleanNumber(e.number())) << e.number() << " " << e.what();
    EXPECT_TRUE(NamesAPlace(e)) << e.what();
  }

  // Repair into a new file; the source is only read.
  const std::string repaired = "data/repaired.mdb";
  jet::RepairOptions repair;
  repair.env = &env;
  try {
    jet::RepairDatabase(path, repaired, repair);
    EXPECT_EQ(CheckClean(repaired, &env), "");
    env.Remove(repaired);
  } catch (const jet::Error& e) {
    EXPECT_TRUE(CleanNumber(e.number())) << e.number() << " " << e.what();
    EXPECT_TRUE(NamesAPlace(e)) << e.what();
  }
  EXPECT_EQ(env.Files(), std::vector<std::string>{path});
  EXPECT_TRUE(env.GetFile(path) == bytes) << "the repair wrote its source";

  // Compact in place.
  jet::CompactOptions options;
  options.env = &env;
  bool compacted = false;
  try {
    jet::CompactInPlace(path, options);
    compacted = true;
  } catch (const jet::Error& e) {
    EXPECT_TRUE(CleanNumber(e.number())) << e.number() << " " << e.what();
    EXPECT_TRUE(NamesAPlace(e)) << e.what();
  }
  EXPECT_EQ(env.Files(), std::vector<std::string>{path});
  if (compacted) {
    EXPECT_EQ(CheckClean(path, &env), "");
  } else {
    EXPECT_TRUE(env.GetFile(path) == bytes) << "a refused compaction changed the file";
  }
}

std::string InputName(const ::testing::TestParamInfo<fs::path>& info) {
  std::string name;
  for (char c : info.param.filename().string())
    name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Kept, Regression, ::testing::ValuesIn(KeptInputs()), InputName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Regression);

}  // namespace
}  // namespace tessmark::testing
