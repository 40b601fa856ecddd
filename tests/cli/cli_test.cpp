// tessmark-cli as a user sees it: exit status, output and error lines.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/cli/run_cli.h"
#include "tests/support/corpus.h"

namespace tessmark::cli {
namespace {

std::string Sample(const std::string& rel) {
  return "'" + (testing::SharedDir() / "corpus" / rel).string() + "'";
}

bool HaveSample(const std::string& rel) {
  return std::filesystem::exists(testing::SharedDir() / "corpus" / rel);
}

TEST(Cli, HelpForTheProgramAndEachCommand) {
  const CliResult v = RunCli("--version");
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "tessmark-cli 1.0.0\n");
  CliResult r = RunCli("--help");
  EXPECT_EQ(r.status, 0);
  for (const std::string command : {"info", "check", "dump", "compact", "generate", "repair"}) {
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
    CliResult c = RunCli(command + " --help");
    EXPECT_EQ(c.status, 0) << command;
    EXPECT_EQ(c.out.rfind("Usage: tessmark-cli " + command, 0), 0u) << c.out;
    EXPECT_NE(c.out.find("Exit status: "), std::string::npos) << c.out;
    // A usage error names the command and where its help is.
    c = RunCli(command + " --frobnicate x.mdb");
    EXPECT_EQ(c.status, 2) << command;
    EXPECT_EQ(c.err.rfind("tessmark-cli: " + command + ": ", 0), 0u) << c.err;
    EXPECT_NE(c.err.find("Try 'tessmark-cli " + command + " --help'."), std::string::npos) << c.err;
    EXPECT_TRUE(c.out.empty()) << c.out;
  }
  r = RunCli("frobnicate");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("unknown command 'frobnicate'"), std::string::npos);
}

TEST(Cli, FilesThatCannotBeOpenedExitTwoWithTheJetError) {
  testing::TempDir dir;
  const auto empty = dir.Write("empty.mdb", {});
  struct Case {
    std::string args;
    std::string error;
  } cases[] = {
      {"check '" + (dir.path() / "none.mdb").string() + "'", "tessmark-cli: error 3024: "},
      {"check '" + dir.path().string() + "'", "tessmark-cli: error 3044: "},
      {"check '" + empty.string() + "'", "tessmark-cli: error 3343: "},
      {"info '" + empty.string() + "'", "tessmark-cli: error 3343: "},
      {"dump '" + empty.string() + "'", "tessmark-cli: error 3343: "},
      {"repair '" + empty.string() + "' '" + (dir.path() / "new.mdb").string() + "'",
       "tessmark-cli: error 3343: "},
      {"repair '" + (dir.path() / "none.mdb").string() + "' '" + (dir.path() / "new.mdb").string() +
           "'",
       "tessmark-cli: error 3024: "},
      {"repair '" + empty.string() + "' '" + empty.string() + "'", "tessmark-cli: error 3204: "},
  };
  for (const Case& c : cases) {
    const CliResult r = RunCli(c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.err.rfind(c.error, 0), 0u) << c.args << "\n" << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
  }
}

TEST(Cli, CheckSoundDamagedAndInfo) {
  if (!HaveSample("jet4/testV2000.mdb")) GTEST_SKIP() << testing::CorpusMissingMessage();
  CliResult r = RunCli("check " + Sample("jet4/testV2000.mdb"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("sound, 0 errors, 3 warnings"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("warning: 693 pages are marked in use"), std::string::npos) << r.out;

  r = RunCli("check " + Sample("jet4/testRefGlobalV2000.mdb"));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("error: "), std::string::npos);
  EXPECT_NE(r.out.find("DAMAGED"), std::string::npos);

  r = RunCli("info " + Sample("jet3/testV1997.mdb"));
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* part : {"Jet 3", "page size:   2048", "pages:       58", "Table1: 2 rows",
                           "leaked:      0", "state:       sound"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
}

TEST(Cli, CheckOfADamagedCopyNamesThePlace) {
  if (!HaveSample("jet4/emptyJet4.mdb")) GTEST_SKIP() << testing::CorpusMissingMessage();
  std::vector<uint8_t> img =
      testing::ReadWholeFile(testing::SharedDir() / "corpus/jet4/emptyJet4.mdb");
  img[2 * 4096 + 4] = 2;  // the catalog's definition continues on itself
  testing::TempDir dir;
  const auto file = dir.Write("bad.mdb", img);
  const CliResult r = RunCli("check '" + file.string() + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("tessmark-cli: error 3049: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("MSysObjects"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("page 2"), std::string::npos) << r.err;
}

// Repair exits by what came back: 0 every row unchanged, 1 something lost,
// changed or found outside its table's pages (listed in the
// report, and in the JSON with its place), 2 nothing written.
TEST(Cli, RepairExitsByWhatWasLost) {
  testing::TempDir dir;
  const std::string sound = (dir.path() / "sound.mdb").string();
  ASSERT_EQ(RunCli("generate --kind server --rows 200 --seed 5 --quiet '" + sound + "'").status, 0);
  std::vector<uint8_t> img = testing::ReadWholeFile(sound);
  std::vector<uint8_t> catalog_lost = img;
  std::fill(catalog_lost.begin() + 2 * 4096, catalog_lost.begin() + 3 * 4096, uint8_t{0});
  // The last page is a data page; its slots are overwritten.
  ASSERT_EQ(img[img.size() - 4096], 0x01);
  std::fill(img.end() - 4096 + 8, img.end(), uint8_t{0xA5});
  const std::string damaged = dir.Write("damaged.mdb", img).string();
  const std::string no_catalog = dir.Write("no-catalog.mdb", catalog_lost).string();
  struct Case {
    std::string source;
    std::string options;
    int status;
    std::string out;  // a line of the output
  } cases[] = {
      {sound, "", 0, "Nothing was lost."},
      {damaged, "", 1, "\nLost:\n  page: "},
      {damaged, "--json", 1, "{\"kind\":\"page\","},
      {no_catalog, "", 2, ""},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string dest = (dir.path() / ("out" + std::to_string(n++) + ".mdb")).string();
    const CliResult r = RunCli("repair '" + c.source + "' '" + dest + "' " + c.options);
    SCOPED_TRACE(c.source + " " + c.options + "\n" + r.out + r.err);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.out.find(c.out), std::string::npos);
    EXPECT_EQ(std::filesystem::exists(dest), c.status != 2);
    if (c.status == 2) {
      EXPECT_EQ(r.err.rfind("tessmark-cli: error 3049: ", 0), 0u);
    }
    if (c.options == "--json") {
      const nlohmann::json j = nlohmann::json::parse(r.out);
      EXPECT_FALSE(j["nothing_lost"].get<bool>());
      EXPECT_FALSE(j["losses"].empty());
      EXPECT_EQ(j["rows_recovered"], j["rows_unchanged"].get<uint64_t>() +
                                         j["rows_changed"]["long value made NULL"].get<uint64_t>() +
                                         j["rows_found_outside"].get<uint64_t>());
      EXPECT_EQ(j["found_outside"].size(), j["rows_found_outside"].get<uint64_t>());
    }
  }
}

TEST(Cli, DumpAsCsvAndJson) {
  if (!HaveSample("jet4/testV2000.mdb")) GTEST_SKIP() << testing::CorpusMissingMessage();
  CliResult r = RunCli("dump " + Sample("jet4/testV2000.mdb") + " Table1");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "A,B,C,D,E,F,G,H,I\n"
      "\"abcdefg\",\"hijklmnop\",2,222,333333333,444.555,\"1974-09-21 00:00:00\",\"3.5000\",true\n"
      "\"a\",\"b\",0,0,0,0,\"1981-12-12 00:00:00\",\"0.0000\",false\n");
  r = RunCli("dump " + Sample("jet4/testV2000.mdb") + " table1 --format json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("{\"table\": \"Table1\", \"columns\": [\"A\", \"B\""), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("[\"a\", \"b\", 0, 0, 0, 0, \"1981-12-12 00:00:00\", \"0.0000\", false]"),
            std::string::npos)
      << r.out;

  // Control characters are escaped, so that every value reads back as it is
  // stored: row N of this sample holds "AA", the character N, "AA".
  r = RunCli("dump " + Sample("jet3/testIndexCodesV1997.mdb") + " Table1 --format json");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"(["row8", "AA\bAA"])"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"(["row31", "AA\u001fAA"])"), std::string::npos) << r.out;
  const nlohmann::json dumped = nlohmann::json::parse(r.out);
  ASSERT_EQ(dumped.size(), 1u);
  int checked = 0;
  for (const nlohmann::json& row : dumped[0]["rows"]) {
    const int n = std::stoi(row[0].get<std::string>().substr(3));
    if (n < 1 || n > 126 || n == 26) continue;  // the sample holds '-' in row 26
    EXPECT_EQ(row[1], "AA" + std::string(1, static_cast<char>(n)) + "AA") << row[0];
    ++checked;
  }
  EXPECT_EQ(checked, 125);

  r = RunCli("dump " + Sample("jet4/testV2000.mdb"));
  EXPECT_EQ(r.out.find("# MSysObjects"), std::string::npos) << "system tables only on request";
  EXPECT_NE(r.out.find("# Table4"), std::string::npos);
  r = RunCli("dump " + Sample("jet4/testV2000.mdb") + " --system");
  EXPECT_NE(r.out.find("# MSysObjects"), std::string::npos);

  r = RunCli("dump " + Sample("jet4/testV2000.mdb") + " NoSuchTable");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("NoSuchTable"), std::string::npos);
  r = RunCli("dump " + Sample("jet4/testV2000.mdb") + " --format xml");
  EXPECT_EQ(r.status, 2);
}

}  // namespace
}  // namespace tessmark::cli
