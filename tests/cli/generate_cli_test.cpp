// tessmark-cli generate: a catalog that the other commands accept, the
// refusal to overwrite, and usage errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/cli/run_cli.h"
#include "tests/support/corpus.h"

namespace tessmark::cli {
namespace {

namespace fs = std::filesystem;

CliResult Cli(const std::string& args) { return RunCli(args); }

TEST(CliGenerate, WritesACatalogThatChecksAndCompacts) {
  testing::TempDir dir;
  const fs::path out = dir.path() / "qvd.mdb";
  const CliResult g =
      Cli("generate --kind server --rows 500 --deleted 40% --moved 5% --seed 9 " + Quoted(out));
  ASSERT_EQ(g.status, 0) << g.err;
  EXPECT_NE(g.out.find("bulk rows: 500"), std::string::npos) << g.out;
  EXPECT_TRUE(fs::exists(out));
  EXPECT_FALSE(fs::exists(out.string() + ".partial"));
  const CliResult c = Cli("check --quiet " + Quoted(out));
  EXPECT_EQ(c.status, 0) << c.out << c.err;
  EXPECT_NE(c.out.find("sound, 0 errors"), std::string::npos) << c.out;
  const CliResult k =
      Cli("compact --quiet " + Quoted(out) + " " + Quoted(dir.path() / "small.mdb"));
  EXPECT_EQ(k.status, 0) << k.err;
  EXPECT_LT(fs::file_size(dir.path() / "small.mdb"), fs::file_size(out));
}

TEST(CliGenerate, NeverOverwritesAndRejectsBadArguments) {
  testing::TempDir dir;
  const fs::path existing = dir.Write("backup.mdb", {7, 7, 7});
  const CliResult r = Cli("generate --kind client " + Quoted(existing));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error 3204"), std::string::npos) << r.err;
  EXPECT_EQ(testing::ReadWholeFile(existing), (std::vector<uint8_t>{7, 7, 7}));

  for (const char* args :
       {"generate --kind desk x.mdb", "generate --kind server --deleted 120% x.mdb",
        "generate --kind server --size 10MB --rows 5 x.mdb", "generate --kind server --jet 5 x.mdb",
        "generate --kind server"}) {
    const CliResult u = Cli(std::string(args));
    EXPECT_EQ(u.status, 2) << args;
    EXPECT_NE(u.err.find("generate:"), std::string::npos) << args << ": " << u.err;
  }
  EXPECT_FALSE(fs::exists("x.mdb"));
}

}  // namespace
}  // namespace tessmark::cli
