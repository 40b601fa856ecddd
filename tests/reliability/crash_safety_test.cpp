// tessmark-cli compact FILE killed with SIGKILL at a hundred moments of its
// run (before its 1st, 2nd, ... file operation, spread over all of them):
// afterwards the name must hold a database that checks clean and dumps
// exactly as the original did, and a later compaction must still work and
// remove the temporary file the killed one left behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>

#include "tests/reliability/child_process.h"
#include "tests/support/corpus.h"

namespace tessmark::testing {
namespace {

namespace fs = std::filesystem;

const std::string kCli = TESSMARK_CLI;
const std::string kKillable = TESSMARK_KILLABLE_CLI;

std::string Dump(const fs::path& db, const fs::path& scratch) {
  const ChildResult r = RunChild(kCli, {"dump", db.string()}, {}, scratch.string());
  EXPECT_TRUE(r.exited && r.code == 0) << r.err;
  return r.out;
}

TEST(CrashSafety, KilledAtAHundredMomentsTheDatabaseSurvives) {
  TempDir dir;
  // A catalog with deleted and moved rows, big enough for a compaction to
  // make well over a hundred file operations, so every kill point differs.
  const fs::path sample = dir.path() / "sample.mdb";
  const ChildResult made =
      RunChild(kCli,
               {"generate", "--kind", "server", "--rows", "2500", "--deleted", "40%", "--moved",
                "5%", "--seed", "11", "--quiet", sample.string()},
               {}, dir.path().string());
  ASSERT_TRUE(made.exited && made.code == 0) << made.err;
  const std::string expected = Dump(sample, dir.path());
  ASSERT_FALSE(expected.empty());
  const uint64_t points = 100;
  const uint64_t total = CountCompactionOperations(kKillable, sample.string(), dir.path().string());
  ASSERT_GE(total, points);

  const fs::path work = dir.path() / "work";
  const fs::path db = work / "qvd.mdb";
  int killed = 0, compacted = 0;
  for (uint64_t i = 0; i < points; ++i) {
    const uint64_t at = 1 + i * (total - 1) / (points - 1);
    SCOPED_TRACE("killed before operation " + std::to_string(at) + " of " + std::to_string(total));
    fs::remove_all(work);
    fs::create_directory(work);
    fs::copy_file(sample, db);
    const ChildResult r =
        RunChild(kKillable, {"compact", "--quiet", db.string()},
                 {{"TESSMARK_TEST_KILL_AT", std::to_string(at)}}, dir.path().string());
    ASSERT_FALSE(r.exited) << "not killed: exit " << r.code << " " << r.err;
    ASSERT_EQ(r.code, SIGKILL);
    ++killed;
    ASSERT_TRUE(fs::exists(db)) << "the database is gone";
    const ChildResult check = RunChild(kCli, {"check", db.string()}, {}, dir.path().string());
    EXPECT_TRUE(check.exited && check.code == 0) << check.out << check.err;
    EXPECT_EQ(Dump(db, dir.path()), expected);
    if (fs::file_size(db) != fs::file_size(sample)) ++compacted;
    // A temporary file the killed run left behind must not stop the next one.
    const ChildResult again =
        RunChild(kCli, {"compact", "--quiet", db.string()}, {}, dir.path().string());
    EXPECT_TRUE(again.exited && again.code == 0) << again.err;
    EXPECT_EQ(Dump(db, dir.path()), expected);
    // ... and it clears away what the killed run left.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(work)) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"qvd.mdb"});
  }
  EXPECT_EQ(killed, static_cast<int>(points));
  EXPECT_GT(compacted, 0) << "no kill came after the rename";
}

}  // namespace
}  // namespace tessmark::testing
