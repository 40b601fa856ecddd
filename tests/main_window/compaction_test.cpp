// RandC: compaction in place through a temporary file beside the source,
// and every way it can fail with the files it leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "main_window/form1_fixture.h"

namespace tessmark::testing {
namespace {

using headless::ScriptedUser;
using namespace main_window;

constexpr char kSignature[] = "Standard Jet DB";

bool LooksLikeJet(const std::string& content) {
  return content.size() > 20 && content.compare(4, 15, kSignature) == 0;
}

TEST(TemporaryPath, ChangesOnlyTheFileName) {
  EXPECT_EQ(TemporaryPath("C:\\Data\\backup.mdb"), "C:\\Data\\backup1.mdb");
  EXPECT_EQ(TemporaryPath("C:\\Data\\qvd.mdb"), "C:\\Data\\qvd1.mdb");
  EXPECT_EQ(TemporaryPath("C:\\Data\\backup.old.mdb"), "C:\\Data\\backup1.old1.mdb");
  EXPECT_EQ(TemporaryPath("C:\\My.Files\\qvd.mdb"), "C:\\My.Files\\qvd1.mdb");
  EXPECT_EQ(TemporaryPath("C:\\qvd.mdb"), "C:\\qvd1.mdb");
  // Without a dot in the file name the path stays as it is.
  EXPECT_EQ(TemporaryPath("C:\\Data.d\\catalog"), "C:\\Data.d\\catalog");
}

class CompactionTest : public Form1Test {
 protected:
  void Compact(const std::string& path) {
    EnterPath(path);
    ASSERT_TRUE(Click(kCommand2));
  }

  void ExpectErrorBox(size_t count, const std::string& text) {
    ASSERT_EQ(headless::MessageBoxes().size(), count);
    const auto& box = headless::MessageBoxes().back();
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, "RandC");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK | MB_ICONHAND));
    EXPECT_FALSE(ScriptedUser::Hourglass()) << "the pointer is the default again";
    EXPECT_TRUE(IsWindow(form_->hwnd())) << "the window stays open";
    EXPECT_FALSE(ScriptedUser::ProgramEnded());
  }
};

TEST_F(CompactionTest, CompactsInPlaceReportsAndEnds) {
  RunWholeProgram();
  if (!PutDatabase("Data\\backup.mdb")) GTEST_SKIP() << "no sample database in ../shared/corpus";
  bool hourglass_at_box = true;
  bool window_at_box = false;
  user().Then([&] {
    HWND form = FindWindowA(kForm1Class, nullptr);
    ASSERT_NE(form, nullptr);
    user().Click(GetDlgItem(form, kOption1Client));
  });
  user().Then([&] {
    HWND form = FindWindowA(kForm1Class, nullptr);
    EXPECT_EQ(ScriptedUser::Text(GetDlgItem(form, kText1)), "\\backup.mdb");
    user().Click(GetDlgItem(form, kText1));
    user().Retype("C:\\Data\\backup.mdb");
  });
  user().Then([&] {
    user().AnswerNextMessageBox([&](const headless::MessageBoxRecord&) {
      hourglass_at_box = ScriptedUser::Hourglass();
      window_at_box = FindWindowA(kForm1Class, nullptr) != nullptr;
      return IDOK;
    });
    user().Click(GetDlgItem(FindWindowA(kForm1Class, nullptr), kCommand2));
  });
  EXPECT_TRUE(ScriptedUser::RunUntilInputRunsOut([] { RunProgram(SW_SHOWNORMAL); }))
      << "the program must end after the completion box";

  ASSERT_EQ(headless::MessageBoxes().size(), 1u);
  const auto& box = headless::MessageBoxes()[0];
  EXPECT_EQ(box.text, "Compact Database Operation Completed");
  EXPECT_EQ(box.caption, "Tessmark");
  EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
  EXPECT_FALSE(hourglass_at_box);
  EXPECT_TRUE(window_at_box) << "the window closes after OK";
  EXPECT_EQ(FindWindowA(kForm1Class, nullptr), nullptr);
  EXPECT_TRUE(ScriptedUser::ProgramEnded());
  EXPECT_EQ(headless::CursorHistory(), (std::vector<bool>{true, false}));

  EXPECT_TRUE(LooksLikeJet(ReadFile("Data\\backup.mdb")));
  EXPECT_FALSE(Exists("Data\\backup1.mdb")) << "the temporary file took the source's place";
}

TEST_F(CompactionTest, DotsInFoldersDoNotMoveTheTemporaryFile) {
  if (!PutDatabase("My.Files\\backup.old.mdb")) GTEST_SKIP() << "no sample database";
  Compact("C:\\My.Files\\backup.old.mdb");
  ASSERT_EQ(headless::MessageBoxes().size(), 1u);
  EXPECT_EQ(headless::MessageBoxes()[0].text, "Compact Database Operation Completed");
  EXPECT_TRUE(LooksLikeJet(ReadFile("My.Files\\backup.old.mdb")));
  EXPECT_FALSE(Exists("My1.Files"));
  EXPECT_FALSE(Exists("My.Files\\backup1.old1.mdb"));
  EXPECT_FALSE(IsWindow(form_->hwnd()));
}

TEST_F(CompactionTest, FileWithoutADotIsRefusedNotCompactedOntoItself) {
  if (!PutDatabase("Data\\catalog")) GTEST_SKIP() << "no sample database";
  const auto before = Files();
  Compact("C:\\Data\\catalog");
  ASSERT_EQ(headless::MessageBoxes().size(), 1u);
  EXPECT_EQ(headless::MessageBoxes()[0].caption, "RandC");
  EXPECT_EQ(headless::MessageBoxes()[0].text.rfind("3204 Description: ", 0), 0u)
      << headless::MessageBoxes()[0].text;
  EXPECT_EQ(Files(), before);
}

TEST_F(CompactionTest, LeftoverTemporaryFileIsNeverDeleted) {
  if (!PutDatabase("Data\\qvd.mdb")) GTEST_SKIP() << "no sample database";
  WriteFile("Data\\qvd1.mdb", "perhaps the only good copy");
  const auto before = Files();
  const std::string text =
      "3204 Description: The file 'C:\\Data\\qvd1.mdb' already exists; it may be left from an "
      "earlier compaction. Move it away before compacting again.";

  Compact("C:\\Data\\qvd.mdb");
  ExpectErrorBox(1, text);
  EXPECT_EQ(Files(), before);

  // Pressing again runs the whole routine again, hourglass first.
  ASSERT_TRUE(Click(kCommand2));
  ExpectErrorBox(2, text);
  EXPECT_EQ(headless::CursorHistory(), (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(Files(), before);
  EXPECT_EQ(PathBox(), "C:\\Data\\qvd.mdb");
}

TEST_F(CompactionTest, EngineRefusalLeavesTheSourceAlone) {
  WriteFile("Data\\qvd.mdb", std::string(8192, '\x5a'));  // damaged: no Jet header
  const auto before = Files();
  const jet::Error expected = EngineVerdict(OnC("Data\\qvd.mdb"), OnC("Data\\qvd1.mdb"));
  ASSERT_NE(expected.number(), 0) << "the engine must refuse a damaged file";
  const std::string text =
      std::to_string(expected.number()) + " Description: " + expected.description();

  Compact("C:\\Data\\qvd.mdb");
  ExpectErrorBox(1, text);
  EXPECT_EQ(Files(), before);
  ASSERT_TRUE(Click(kCommand2));
  ExpectErrorBox(2, text);
  EXPECT_EQ(Files(), before);
}

TEST_F(CompactionTest, DamagedDatabaseBoxNamesThreeFindingsAndWhatToDo) {
  if (!PutDatabase("Data\\qvd.mdb")) GTEST_SKIP() << "no sample database";
  // Every data page but the catalog's (owner: page 2) names another table
  // as its owner: more findings than the box names.
  std::string content = ReadFile("Data\\qvd.mdb");
  for (size_t p = 2; (p + 1) * 4096 <= content.size(); ++p) {
    const size_t at = p * 4096;
    if (content[at] == '\x01' && content.compare(at + 4, 4, std::string("\x02\0\0\0", 4)) != 0)
      content[at + 4] ^= 0x55;
  }
  WriteFile("Data\\qvd.mdb", content);
  const auto before = Files();
  const jet::Error expected = EngineVerdict(OnC("Data\\qvd.mdb"), OnC("Data\\qvd1.mdb"));
  ASSERT_EQ(expected.number(), jet::kDamaged) << expected.description();

  Compact("C:\\Data\\qvd.mdb");
  ExpectErrorBox(1, "3049 Description: " + expected.description());
  EXPECT_EQ(Files(), before);
  const std::string& text = headless::MessageBoxes().back().text;
  size_t findings = 0;
  for (size_t at = text.find("error: "); at != std::string::npos; at = text.find("error: ", at + 1))
    ++findings;
  EXPECT_EQ(findings, 3u) << text;
  EXPECT_TRUE(text.ends_with(" more). The file is unchanged.")) << text;
  EXPECT_EQ(text.find("tessmark-cli"), std::string::npos) << "no command line here: " << text;
}

TEST_F(CompactionTest, FailedReplaceKeepsTheSourceAndTheCompactedCopy) {
  if (!PutDatabase("Data\\qvd.mdb")) GTEST_SKIP() << "no sample database";
  const std::string original = ReadFile("Data\\qvd.mdb");
  headless::FailNextFileOperation(headless::FileOperation::kMove, ERROR_SHARING_VIOLATION,
                                  "qvd1.mdb");
  Compact("C:\\Data\\qvd.mdb");
  ExpectErrorBox(1, "70 Description: Permission denied");
  EXPECT_EQ(ReadFile("Data\\qvd.mdb"), original) << "the source is still there, unchanged";
  EXPECT_TRUE(LooksLikeJet(ReadFile("Data\\qvd1.mdb"))) << "the compacted copy is kept";
}

TEST_F(CompactionTest, VanishedFileIsReportedNotCompleted) {
  if (!PutDatabase("Data\\qvd.mdb")) GTEST_SKIP() << "no sample database";
  EnterPath("C:\\Data\\qvd.mdb");
  std::filesystem::remove(OnC("Data\\qvd.mdb"));  // gone after the command's own check
  form_->RandC();
  ExpectErrorBox(1, "3024 Description: Could not find file 'C:\\Data\\qvd.mdb'.");
  EXPECT_FALSE(Exists("Data\\qvd1.mdb"));
}

TEST_F(CompactionTest, ReadOnlyFolderStopsTheEngineBeforeAnythingChanges) {
  if (!PutDatabase("Data\\qvd.mdb")) GTEST_SKIP() << "no sample database";
  ASSERT_EQ(::chmod(OnC("Data").c_str(), 0555), 0);
  {
    std::ofstream probe(OnC("Data\\probe"));
    if (probe) {
      probe.close();
      std::filesystem::remove(OnC("Data\\probe"));
      GTEST_SKIP() << "permission bits do not stop writes for this user (root); "
                      "the engine-refusal test covers the failing engine call";
    }
  }
  const auto before = Files();
  Compact("C:\\Data\\qvd.mdb");
  ASSERT_EQ(headless::MessageBoxes().size(), 1u);
  EXPECT_EQ(headless::MessageBoxes()[0].caption, "RandC");
  EXPECT_EQ(Files(), before);
  EXPECT_TRUE(IsWindow(form_->hwnd()));
}

}  // namespace
}  // namespace tessmark::testing
