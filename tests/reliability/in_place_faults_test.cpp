// Compaction in place under failing I/O: every operation of a run is made to
// fail in turn, once and from then on, as an input/output error and as a
// full disk. Afterwards the name must hold the original, byte for byte, or
// the verified compacted copy; no temporary file may be left beside it; and
// the error must say what happened (3043 or 3026).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "format/env.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"
#include "tests/support/content.h"
#include "tests/support/corpus.h"
#include "tests/support/fault_env.h"

namespace tessmark::testing {
namespace {

namespace fs = std::filesystem;

struct FaultCase {
  const char* sample;  // below corpus/
  int32_t error;
  bool persistent;
};

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) {
  std::string name = fs::path(info.param.sample).stem().string();
  return name + (info.param.error == jet::kDiskFull ? "DiskFull" : "IoError") +
         (info.param.persistent ? "FromThenOn" : "Once");
}

class InPlaceFaults : public ::testing::TestWithParam<FaultCase> {};

void CopyFile(const fs::path& from, const fs::path& to) {
  fs::remove(to);
  fs::copy_file(from, to);
}

std::vector<std::string> Leftovers(const fs::path& dir, const std::string& keep) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename() != keep) out.push_back(e.path().filename().string());
  }
  return out;
}

TEST_P(InPlaceFaults, EveryOperationFailsInTurnAndTheDatabaseSurvives) {
  const FaultCase fc = GetParam();
  const fs::path sample = SharedDir() / "corpus" / fc.sample;
  if (!fs::exists(sample)) GTEST_SKIP() << CorpusMissingMessage();
  TempDir dir;
  const fs::path db = dir.path() / "catalog.mdb";
  const std::vector<uint8_t> original = ReadWholeFile(sample);
  const std::string original_content = DatabaseContent(sample.string());

  // A clean run counts the operations.
  CopyFile(sample, db);
  FaultEnv counter(jet::PlatformEnv());
  jet::CompactOptions options;
  options.env = &counter;
  jet::CompactInPlace(db.string(), options);
  const uint64_t total = counter.operations();
  ASSERT_GT(total, 10u);
  ASSERT_EQ(DatabaseContent(db.string()), original_content);

  uint64_t failed_runs = 0, replaced_runs = 0;
  for (uint64_t n = 1; n <= total; ++n) {
    SCOPED_TRACE("failing operation " + std::to_string(n) + " of " + std::to_string(total));
    CopyFile(sample, db);
    FaultPlan plan;
    plan.fail_at = n;
    plan.persistent = fc.persistent;
    plan.error = fc.error;
    plan.spare_reads_and_removals = fc.error == jet::kDiskFull;
    FaultEnv env(jet::PlatformEnv(), plan);
    options.env = &env;
    bool threw = false;
    try {
      jet::CompactInPlace(db.string(), options);
    } catch (const jet::Error& e) {
      threw = true;
      ++failed_runs;
      EXPECT_EQ(e.number(), fc.error) << e.description();
      EXPECT_FALSE(e.description().empty());
    }
    ASSERT_TRUE(fs::exists(db)) << "the database is gone";
    const std::vector<uint8_t> now = ReadWholeFile(db);
    if (now != original) {
      // Only the verified compacted copy may have taken the name.
      ++replaced_runs;
      EXPECT_EQ(CheckClean(db.string()), "");
      EXPECT_EQ(DatabaseContent(db.string()), original_content);
    } else {
      EXPECT_TRUE(threw) << "reported success but the database was not compacted";
    }
    // Any injected failure must be reported (clean-up after the first
    // failure may swallow later ones, but the first one always fails the run).
    if (env.failures() > 0) {
      EXPECT_TRUE(threw) << "a failure was swallowed";
    }
    bool remove_failed = false;
    for (const std::string& line : env.log()) {
      if (line.find(" remove ") != std::string::npos && line.find("FAILED") != std::string::npos)
        remove_failed = true;
    }
    if (!remove_failed) {
      EXPECT_TRUE(Leftovers(dir.path(), "catalog.mdb").empty())
          << "a temporary file was left behind: " << Leftovers(dir.path(), "catalog.mdb")[0];
    }
    for (const std::string& name : Leftovers(dir.path(), "catalog.mdb"))
      fs::remove(dir.path() / name);
  }
  EXPECT_GT(failed_runs, 0u);
  RecordProperty("operations", static_cast<int>(total));
  RecordProperty("replaced_runs", static_cast<int>(replaced_runs));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, InPlaceFaults,
    ::testing::Values(FaultCase{"jet4/delTestV2000.mdb", jet::kIoError, false},
                      FaultCase{"jet4/delTestV2000.mdb", jet::kIoError, true},
                      FaultCase{"jet4/delTestV2000.mdb", jet::kDiskFull, false},
                      FaultCase{"jet4/delTestV2000.mdb", jet::kDiskFull, true},
                      FaultCase{"jet3/delTestV1997.mdb", jet::kIoError, false},
                      FaultCase{"jet3/delTestV1997.mdb", jet::kDiskFull, true}),
    CaseName);

}  // namespace
}  // namespace tessmark::testing
