// tessmark-cli compact: summaries, JSON, in-place compaction, exit status
// and error lines.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

#include "tests/support/corpus.h"

namespace tessmark::cli {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome Compact(const std::string& args) {
  testing::TempDir dir;
  const std::string err_file = (dir.path() / "stderr").string();
  const std::string command = std::string(TESSMARK_CLI) + " compact " + args + " 2>" + err_file;
  Outcome r;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 4096> buf{};
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.out.append(buf.data(), n);
  const int status = ::pclose(pipe);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream in(err_file);
  r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return r;
}

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

fs::path Sample(const std::string& rel) { return testing::SharedDir() / "corpus" / rel; }

uint64_t JsonNumber(const std::string& json, const std::string& key) {
  std::smatch m;
  const std::regex re("\"" + key + "\":([0-9]+)");
  if (!std::regex_search(json, m, re)) return UINT64_MAX;
  return std::stoull(m[1]);
}

TEST(CliCompact, IntoADestinationWithJsonSummary) {
  if (!fs::exists(Sample("jet4/testV2000.mdb"))) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  const fs::path dest = dir.path() / "out.mdb";
  const fs::path src = dir.path() / "src.mdb";
  fs::copy_file(Sample("jet4/testV2000.mdb"), src);  // compaction locks its source
  const Outcome r = Compact("--json " + Q(src) + " " + Q(dest));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(JsonNumber(r.out, "pages_before"), 743u);
  EXPECT_EQ(JsonNumber(r.out, "pages_after") * 4096, fs::file_size(dest));
  EXPECT_EQ(JsonNumber(r.out, "bytes_reclaimed"),
            fs::file_size(Sample("jet4/testV2000.mdb")) - fs::file_size(dest));
  EXPECT_EQ(JsonNumber(r.out, "tables"), 9u);
  EXPECT_NE(r.out.find("\"elapsed_seconds\":"), std::string::npos);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one JSON object, one line";
  EXPECT_TRUE(r.err.empty()) << "no progress when stderr is not a terminal: " << r.err;
}

TEST(CliCompact, InPlaceReplacesTheFileAndLeavesNothingBeside) {
  if (!fs::exists(Sample("jet3/testV1997.mdb"))) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  const fs::path db = dir.path() / "backup.mdb";
  fs::copy_file(Sample("jet3/testV1997.mdb"), db);
  const auto before = fs::file_size(db);
  const Outcome r = Compact(Q(db));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_LT(fs::file_size(db), before);
  EXPECT_NE(r.out.find("pages:"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("reclaimed"), std::string::npos) << r.out;
  size_t files = 0;
  for (const auto& e : fs::directory_iterator(dir.path())) files += e.path().filename() != "stderr";
  EXPECT_EQ(files, 1u) << "a temporary file was left beside the database";
  // Compacting the result again changes nothing.
  const auto once = testing::ReadWholeFile(db);
  ASSERT_EQ(Compact("--quiet " + Q(db)).status, 0);
  EXPECT_TRUE(testing::ReadWholeFile(db) == once);
}

TEST(CliCompact, RefusalsExitOneWithTheErrorLine) {
  if (!fs::exists(Sample("jet4/emptyJet4.mdb"))) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  Outcome r = Compact(Q(dir.path() / "missing.mdb") + " " + Q(dir.path() / "d.mdb"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tessmark-cli: error 3024: ", 0), 0u) << r.err;
  EXPECT_TRUE(r.out.empty());

  const fs::path existing = dir.path() / "exists.mdb";
  std::ofstream(existing) << "keep me";
  const fs::path src = dir.path() / "src.mdb";
  fs::copy_file(Sample("jet4/emptyJet4.mdb"), src);
  r = Compact(Q(src) + " " + Q(existing));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tessmark-cli: error 3204: ", 0), 0u) << r.err;
  EXPECT_EQ(fs::file_size(existing), 7u);

  r = Compact(Q(src) + " " + Q(dir.path() / "no" / "d.mdb"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tessmark-cli: error 3044: ", 0), 0u) << r.err;
}

TEST(CliCompact, UsageErrorsExitTwo) {
  EXPECT_EQ(Compact("").status, 2);
  EXPECT_EQ(Compact("--frobnicate a.mdb").status, 2);
  EXPECT_EQ(Compact("a.mdb b.mdb c.mdb").status, 2);
  const Outcome help = Compact("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--reset-autonumber"), std::string::npos);
}

TEST(CliCompact, QuietPrintsNothing) {
  if (!fs::exists(Sample("jet4/emptyJet4.mdb"))) GTEST_SKIP() << testing::CorpusMissingMessage();
  testing::TempDir dir;
  const fs::path src = dir.path() / "src.mdb";
  fs::copy_file(Sample("jet4/emptyJet4.mdb"), src);  // compaction locks its source
  const Outcome r = Compact("--quiet " + Q(src) + " " + Q(dir.path() / "q.mdb"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(r.err.empty());
}

}  // namespace
}  // namespace tessmark::cli
