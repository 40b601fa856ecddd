// tessmark-cli compact: summaries, JSON, in-place compaction, exit status
// and error lines.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <utility>
#include <vector>

#include "cli/progress_line.h"
#include "tests/cli/run_cli.h"
#include "tests/support/corpus.h"

namespace tessmark::cli {
namespace {

namespace fs = std::filesystem;

CliResult Compact(const std::string& args) { return RunCli("compact " + args); }

fs::path Sample(const std::string& rel) { return testing::SharedDir() / "corpus" / rel; }

TEST(CliCompact, IntoADestinationWithJsonSummary) {
  if (!fs::exists(Sample("jet4/testV2000.mdb"))) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  // A name with control characters, a quote and a byte that is not UTF-8:
  // the summary is still valid JSON, the byte shown as U+FFFD.
  const fs::path dest = dir.path() / "out\x01\t\"\xff\n.mdb";
  const fs::path src = dir.path() / "src.mdb";
  fs::copy_file(Sample("jet4/testV2000.mdb"), src);  // compaction locks its source
  const CliResult r = Compact("--json " + Quoted(src) + " " + Quoted(dest));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"(out\u0001\t\")"
                       "\xef\xbf\xbd"
                       R"(\n.mdb")"),
            std::string::npos)
      << r.out;
  const nlohmann::json summary = nlohmann::json::parse(r.out);
  EXPECT_EQ(summary["source"], src.string());
  EXPECT_EQ(summary["destination"], (dir.path() / "out\x01\t\"\xef\xbf\xbd\n.mdb").string());
  EXPECT_EQ(summary["in_place"], false);
  EXPECT_EQ(summary["pages_before"], 743u);
  EXPECT_EQ(summary["pages_after"].get<uint64_t>() * 4096, fs::file_size(dest));
  EXPECT_EQ(summary["bytes_reclaimed"],
            fs::file_size(Sample("jet4/testV2000.mdb")) - fs::file_size(dest));
  EXPECT_EQ(summary["tables"], 9u);
  EXPECT_TRUE(summary["elapsed_seconds"].is_number()) << r.out;
  // Checking and writing overlap; each phase lies within the whole.
  const nlohmann::json& phases = summary["phase_seconds"];
  for (const char* phase : {"checking", "writing", "verifying"}) {
    ASSERT_TRUE(phases.contains(phase)) << r.out;
    EXPECT_GE(phases[phase].get<double>(), 0.0) << phase;
    EXPECT_LE(phases[phase].get<double>(), summary["elapsed_seconds"].get<double>()) << phase;
  }
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one JSON object, one line";
  EXPECT_TRUE(r.err.empty()) << "no progress when stderr is not a terminal: " << r.err;
}

TEST(CliCompact, InPlaceReplacesTheFileAndLeavesNothingBeside) {
  if (!fs::exists(Sample("jet3/testV1997.mdb"))) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  const fs::path db = dir.path() / "backup.mdb";
  fs::copy_file(Sample("jet3/testV1997.mdb"), db);
  const auto before = fs::file_size(db);
  const CliResult r = Compact(Quoted(db));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(fs::file_size(db), before);
  EXPECT_NE(r.out.find("pages:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("reclaimed"), std::string::npos) << r.out;
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) files += e.path().filename() != "stderr";
  EXPECT_EQ(files, 1u) << "a temporary file was left beside the database";
  // Compacting the result again changes nothing.
  const auto once = testing::ReadWholeFile(db);
  ASSERT_EQ(Compact("--quiet " + Quoted(db)).status, 0);
  EXPECT_TRUE(testing::ReadWholeFile(db) == once);
}

TEST(CliCompact, RefusalsExitOneWithTheErrorLine) {
  if (!fs::exists(Sample("jet4/emptyJet4.mdb"))) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  CliResult r = Compact(Quoted(dir.path() / "missing.mdb") + " " + Quoted(dir.path() / "d.mdb"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tessmark-cli: error 3024: ", 0), 0u) << r.err;
  EXPECT_TRUE(r.out.empty());

  const fs::path existing = dir.path() / "exists.mdb";
  std::ofstream(existing) << "keep me";
  const fs::path src = dir.path() / "src.mdb";
  fs::copy_file(Sample("jet4/emptyJet4.mdb"), src);
  r = Compact(Quoted(src) + " " + Quoted(existing));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tessmark-cli: error 3204: ", 0), 0u) << r.err;
  EXPECT_EQ(fs::file_size(existing), 7u);

  r = Compact(Quoted(src) + " " + Quoted(dir.path() / "no" / "d.mdb"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tessmark-cli: error 3044: ", 0), 0u) << r.err;
}

// A database protected by a password is compacted and repaired with it,
// into a copy that keeps it; without it, or with another, 3031 and nothing
// is written.
TEST(CliCompact, PasswordOpensAProtectedDatabaseAndTheCopyKeepsIt) {
  testing::TempDir dir;
  const fs::path src = dir.path() / "locked.mdb";
  const fs::path copy = dir.path() / "copy.mdb";
  ASSERT_EQ(RunCli("generate --kind client --rows 50 --password Secret7 " + Quoted(src)).status, 0);
  // Each command's status for a refused source.
  for (const auto& [command, refused] : {std::pair{"compact ", 1}, std::pair{"repair ", 2}}) {
    for (const char* wrong : {"", " --password Secret8"}) {
      const CliResult r = RunCli(command + Quoted(src) + " " + Quoted(copy) + wrong);
      EXPECT_EQ(r.status, refused) << command << wrong;
      EXPECT_EQ(r.err.rfind("tessmark-cli: error 3031: ", 0), 0u) << r.err;
      EXPECT_FALSE(fs::exists(copy)) << command << wrong;
    }
    const CliResult r = RunCli(command + Quoted(src) + " " + Quoted(copy) + " --password Secret7");
    EXPECT_EQ(r.status, 0) << command << r.err;
    EXPECT_EQ(Compact(Quoted(copy) + " --quiet").status, 1) << "the copy lost its password";
    EXPECT_EQ(Compact(Quoted(copy) + " --quiet --password Secret7").status, 0) << command;
    fs::remove(copy);
  }
}

TEST(CliCompact, DamagedDatabaseLineSaysWhatToDoAndTheCheckDoesIt) {
  if (!fs::exists(Sample("jet4/emptyJet4.mdb"))) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  // Every data page but the catalog's names another owner: one error per
  // page.
  std::vector<uint8_t> img = testing::ReadWholeFile(Sample("jet4/emptyJet4.mdb"));
  for (size_t p = 2; (p + 1) * 4096 <= img.size(); ++p)
    if (img[p * 4096] == 0x01 && img[p * 4096 + 4] != 2) img[p * 4096 + 5] ^= 0x55;
  const fs::path db = dir.Write("qvd.mdb", img);

  const CliResult r = Compact(Quoted(db));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_EQ(r.err.rfind("tessmark-cli: error 3049: ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
  const std::string advice = "The file is unchanged. The command tessmark-cli check \"" +
                             db.string() +
                             "\" lists every finding, and tessmark-cli repair can recover the "
                             "database into a new file.\n";
  ASSERT_GE(r.err.size(), advice.size());
  EXPECT_EQ(r.err.substr(r.err.size() - advice.size()), advice) << r.err;
  EXPECT_EQ(testing::ReadWholeFile(db), img);

  // The line names three findings and counts the rest; the check it
  // points to lists them all.
  std::smatch more;
  ASSERT_TRUE(std::regex_search(r.err, more, std::regex("\\(and ([0-9]+) more\\)"))) << r.err;
  const CliResult c = RunCli("check " + Quoted(db));
  EXPECT_EQ(c.status, 1);
  size_t listed = 0;
  std::istringstream lines(c.out);
  for (std::string line; std::getline(lines, line);)
    listed += line.rfind("error: ", 0) == 0 || line.rfind("warning: ", 0) == 0;
  EXPECT_EQ(listed, 3 + std::stoul(more[1])) << c.out;
}

TEST(CliCompact, UsageErrorsExitTwo) {
  EXPECT_EQ(Compact("").status, 2);
  EXPECT_EQ(Compact("--frobnicate a.mdb").status, 2);
  EXPECT_EQ(Compact("a.mdb b.mdb c.mdb").status, 2);
  const CliResult help = Compact("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--reset-autonumber"), std::string::npos);
}

TEST(CliCompact, QuietPrintsNothing) {
  if (!fs::exists(Sample("jet4/emptyJet4.mdb"))) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  const fs::path src = dir.path() / "src.mdb";
  fs::copy_file(Sample("jet4/emptyJet4.mdb"), src);  // compaction locks its source
  const CliResult r = Compact("--quiet " + Quoted(src) + " " + Quoted(dir.path() / "q.mdb"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.empty());
}

TEST(CliCompact, ProgressLineOnlyOnATerminalForLargeFilesRewrittenAndCleared) {
  struct Case {
    bool quiet, terminal;
    uint64_t bytes;
    bool shown;
  };
  for (const Case& c :
       {Case{false, true, (64ull << 20) + 1, true}, Case{false, true, 64ull << 20, false},
        Case{false, false, 1ull << 30, false}, Case{true, true, 1ull << 30, false}})
    EXPECT_EQ(WantsProgress(c.quiet, c.terminal, c.bytes), c.shown)
        << c.quiet << c.terminal << " " << c.bytes;

  EXPECT_EQ(ProgressText("checking", 42, 100, 67.9), "checking: 42% of pages, 1:07 elapsed");
  EXPECT_EQ(ProgressText("verifying", 900, 450, 3), "verifying: 100% of pages, 0:03 elapsed");
  EXPECT_EQ(ProgressText("writing", 0, 0, 600), "writing: 10:00 elapsed");

  std::ostringstream out;
  {
    ProgressLine line(out, true);
    line.Show("compacting, verifying", 5, 10);
    const std::string first = out.str();
    ASSERT_EQ(first.front(), '\r');
    line.Show("compacting, verifying", 5, 10);
    EXPECT_EQ(out.str(), first) << "an unchanged line is not written again";
    line.Show("x", 0, 0);
    const std::string second = out.str().substr(first.size());
    EXPECT_EQ(second.size(), first.size()) << "spaces cover the longer line before: " << second;
    line.Clear();
    const std::string cleared = out.str().substr(first.size() + second.size());
    ASSERT_GE(cleared.size(), 3u);
    EXPECT_EQ(cleared.find_first_not_of(' ', 1), cleared.size() - 1) << "blanked: " << cleared;
    EXPECT_EQ(cleared.front(), '\r');
    EXPECT_EQ(cleared.back(), '\r');
  }
  EXPECT_EQ(out.str().find('\n'), std::string::npos) << "one line, never a new one";
  std::ostringstream off;
  ProgressLine(off, false).Show("checking", 1, 2);
  EXPECT_TRUE(off.str().empty());
}

}  // namespace
}  // namespace tessmark::cli
