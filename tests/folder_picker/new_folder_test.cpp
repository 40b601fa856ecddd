// The New Folder button and the subfolder check box: the name prompt, the
// names refused, the folder made and the restart, the toggle, the help box.
#include "picker_fixture.h"

namespace picker_test {
namespace {

using modBrowseForFolder::BrowseForFolder;
using modBrowseForFolder::kFalse;

class NewFolderTest : public PickerTest {
 protected:
  void SetUp() override {
    PickerTest::SetUp();
    MakeFolder("Data\\Sub");
    MakeFile("Data\\qvd.mdb");
    BrowseOptions.Title = "Select Catalog";
    BrowseOptions.ShowNewFolderButton = kTrue;
    BrowseOptions.ShowPathBox = kTrue;
    BrowseOptions.InitialFolder = "C:\\Data";
  }

  // Clicks New Folder and gives the answers in turn; nullopt is Cancel.
  void NewFolder(std::vector<std::optional<std::string>> answers) {
    Then([] { user::ClickFolderButton(); });
    for (const auto& answer : answers) {
      Then([this, answer] {
        prompts_.push_back(TextOf(ChildOf(TextEntryBox(), "Static")));
        titles_.push_back(TextOf(TextEntryBox()));
        if (answer) {
          AnswerTextEntry(*answer);
        } else {
          CancelTextEntry();
        }
      });
    }
  }
  std::vector<std::string> CriticalBoxes() const {
    std::vector<std::string> texts;
    for (const auto& box : hl::MessageBoxes()) {
      EXPECT_EQ(box.type & MB_ICONMASK, static_cast<UINT>(MB_ICONHAND));
      EXPECT_EQ(box.caption, "Select Catalog");
      texts.push_back(box.text);
    }
    return texts;
  }
  std::size_t Showings() const { return hl::BrowseDialogs().size(); }

  std::vector<std::string> prompts_, titles_;
};

TEST_F(NewFolderTest, CancelOrBlanksChangeNothing) {
  NewFolder({std::nullopt});
  NewFolder({"   "});
  std::string selected;
  Then([&] {
    selected = LastDialog().selected;
    user::ClickCancel();
  });
  EXPECT_EQ(BrowseForFolder(), "");
  EXPECT_TRUE(ScriptDone());
  ASSERT_EQ(prompts_.size(), 2u);
  EXPECT_EQ(prompts_[0], "Enter a name for your new folder\r\nC:\\Data\\...");
  EXPECT_EQ(titles_[0], "Select Catalog");
  EXPECT_EQ(Showings(), 1u);
  EXPECT_EQ(selected, "C:\\Data");
  EXPECT_EQ(std::distance(fs::directory_iterator(Host("Data")), fs::directory_iterator()), 2);
}

TEST_F(NewFolderTest, AFolderIsMadeAndTheDialogReopensOnIt) {
  NewFolder({"Archive"});
  std::string selected, box_text;
  HWND new_button = nullptr;
  Then([&] {
    selected = LastDialog().selected;
    box_text = TextOf(user::PathBox());
    new_button = user::FolderButton();
    user::ClickOk();
  });
  EXPECT_EQ(BrowseForFolder(), "C:\\Data\\Archive");
  EXPECT_TRUE(ScriptDone());
  EXPECT_TRUE(fs::is_directory(Host("Data\\Archive")));
  EXPECT_EQ(Showings(), 2u);
  EXPECT_FALSE(hl::BrowseDialogs()[0].accepted);
  EXPECT_EQ(selected, "C:\\Data\\Archive");
  EXPECT_EQ(box_text, "Archive");
  EXPECT_NE(new_button, nullptr);
  EXPECT_EQ(BrowseOptions.InitialFolder, "C:\\Data\\Archive");
  EXPECT_EQ(PickerState.RestartPending, kFalse);
  EXPECT_EQ(hl::VerifyTree(), "");
}

TEST_F(NewFolderTest, CancelAfterARestartReturnsNothing) {
  NewFolder({"Archive"});
  Then([] { user::ClickCancel(); });
  EXPECT_EQ(BrowseForFolder(), "");
  EXPECT_EQ(Showings(), 2u);
}

TEST_F(NewFolderTest, ExistingFoldersAndFilesAreRefusedAndAskedAgain) {
  NewFolder({"Sub", "qvd.mdb", std::nullopt});
  Then([] { user::ClickCancel(); });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  const std::string refused =
      "A Folder of that name already exists.\r\nEnter a different name and try again.";
  EXPECT_EQ(CriticalBoxes(), (std::vector<std::string>{refused, refused}));
  EXPECT_EQ(prompts_.size(), 3u);
  EXPECT_EQ(Showings(), 1u);
}

TEST_F(NewFolderTest, OnlyReservedNamesAndForbiddenCharactersAreRefused) {
  const std::string reserved = "The names . and .. stand for the folder itself and its parent.";
  const std::string forbidden = "A folder name cannot contain : * ? \" < > |";
  struct Refused {
    const char* name;
    const std::string& rule;
  };
  const Refused refused[] = {
      {".", reserved},      {"..", reserved},      {"Sub\\..", reserved},
      {"./b", reserved},    {"x:y", forbidden},    {"C:\\Elsewhere", forbidden},
      {"a*", forbidden},    {"what?", forbidden},  {"say \"hi\"", forbidden},
      {"<tag>", forbidden}, {"pipe|d", forbidden},
  };
  std::vector<std::optional<std::string>> answers;
  for (const Refused& r : refused) answers.emplace_back(r.name);
  answers.emplace_back(std::nullopt);
  NewFolder(answers);
  Then([] { user::ClickCancel(); });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  const std::vector<std::string> boxes = CriticalBoxes();
  ASSERT_EQ(boxes.size(), std::size(refused));
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(boxes[i], std::string(refused[i].name) + "\r\n" + refused[i].rule +
                            "\r\nEnter a different name and try again.");
  }
  EXPECT_FALSE(fs::exists(Host("Elsewhere")));
  EXPECT_EQ(Showings(), 1u);

  // Dots elsewhere in a name are no parent reference, and a name may reach
  // into a folder that exists.
  for (const char* name : {"v1..2", "..x", "a.b.c", "Sub\\Deeper"}) {
    SCOPED_TRACE(name);
    BrowseOptions.InitialFolder = "C:\\Data";
    NewFolder({name});
    Then([] { user::ClickOk(); });
    EXPECT_EQ(BrowseForFolder(), std::string("C:\\Data\\") + name);
    EXPECT_TRUE(fs::is_directory(Host(std::string("Data\\") + name)));
  }
  EXPECT_EQ(hl::MessageBoxes().size(), std::size(refused));
}

TEST_F(NewFolderTest, AMissingParentIsReportedAsNotCreated) {
  NewFolder({"Missing\\Deeper", std::nullopt});
  Then([] { user::ClickCancel(); });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  const std::vector<std::string> boxes = CriticalBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("C:\\Data\\Missing\\Deeper could not be created"), std::string::npos)
      << boxes[0];
  EXPECT_FALSE(fs::exists(Host("Data\\Missing")));
  EXPECT_EQ(Showings(), 1u);
}

TEST_F(NewFolderTest, AFileSystemRefusalIsReportedAndNothingRestarts) {
  hl::FailNextFileOperation(hl::FileOperation::kCreateDirectory, ERROR_ACCESS_DENIED, "Locked");
  NewFolder({"Locked", std::nullopt});
  std::string selected;
  Then([&] {
    selected = LastDialog().selected;
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  const std::vector<std::string> boxes = CriticalBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_NE(boxes[0].find("C:\\Data\\Locked"), std::string::npos) << boxes[0];
  EXPECT_NE(boxes[0].find("Error "), std::string::npos) << boxes[0];
  EXPECT_FALSE(fs::exists(Host("Data\\Locked")));
  EXPECT_EQ(Showings(), 1u);
  EXPECT_EQ(PickerState.RestartPending, kFalse);
  EXPECT_EQ(BrowseOptions.InitialFolder, "C:\\Data");
  EXPECT_EQ(selected, "C:\\Data");
}

TEST_F(NewFolderTest, AParentThatVanishedIsReportedToo) {
  BrowseOptions.InitialFolder = "C:\\Data\\Sub";
  Then([this] {
    fs::remove_all(Host("Data\\Sub"));
    user::ClickFolderButton();
  });
  Then([this] { AnswerTextEntry("Child"); });
  Then([this] { CancelTextEntry(); });
  Then([] { user::ClickCancel(); });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  ASSERT_EQ(CriticalBoxes().size(), 1u);
  EXPECT_EQ(Showings(), 1u);
}

TEST_F(NewFolderTest, BlanksAroundANameAreKept) {
  NewFolder({"  Spaced  "});
  Then([] { user::ClickOk(); });
  // The leading blanks stay; the file system drops trailing ones, as Windows does.
  EXPECT_EQ(BrowseForFolder(), "C:\\Data\\  Spaced");
  EXPECT_TRUE(fs::is_directory(Host("Data\\  Spaced")));
}

TEST_F(NewFolderTest, UnderADriveRootTheFolderGoesDirectlyBelowIt) {
  BrowseOptions.InitialFolder = "c:\\";
  NewFolder({"Top"});
  Then([] { user::ClickOk(); });
  EXPECT_EQ(BrowseForFolder(), "C:\\Top");
  ASSERT_EQ(prompts_.size(), 1u);
  EXPECT_EQ(prompts_[0], "Enter a name for your new folder\r\nc:\\...");
  EXPECT_TRUE(fs::is_directory(Host("Top")));
}

TEST_F(NewFolderTest, ANonResizableDialogReopensWhereItFirstAppeared) {
  RECT first{}, reopened{};
  Then([&] {
    first = RectOf(hl::OpenBrowseDialog());
    user::DragDialog(50, 60);
  });
  NewFolder({"Archive"});
  Then([&] {
    reopened = RectOf(hl::OpenBrowseDialog());
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  EXPECT_EQ(reopened.left, first.left);
  EXPECT_EQ(reopened.top, first.top);
  EXPECT_EQ(reopened.right - reopened.left, 320);
}

TEST_F(NewFolderTest, AResizableDialogReopensOnItsLastRectangleWithoutCentring) {
  BrowseOptions.Resizable = kTrue;
  BrowseOptions.CenterOnScreen = kTrue;
  RECT last{}, reopened{};
  Then([&] {
    user::ResizeDialog(400, 380);
    user::DragDialog(-100, 50);
    last = RectOf(hl::OpenBrowseDialog());
  });
  NewFolder({"Archive"});
  Then([&] {
    reopened = RectOf(hl::OpenBrowseDialog());
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  EXPECT_EQ(reopened.left, last.left);
  EXPECT_EQ(reopened.top, last.top);
  EXPECT_EQ(reopened.right, last.right);
  EXPECT_EQ(reopened.bottom, last.bottom);
  EXPECT_EQ(last.right - last.left, 400);
}

TEST_F(NewFolderTest, APressOnTheButtonWithBothOptionsTicksTheHiddenState) {
  BrowseOptions.ShowCheckBox = kTrue;  // as the main window sets it
  HWND focus = nullptr;
  LRESULT state = 0;
  Then([&] {
    user::PressFolderButton();
    focus = GetFocus();
    state = SendMessageA(user::FolderButton(), BM_GETSTATE, 0, 0);
    user::ReleaseFolderButton();
  });
  Then([this] { AnswerTextEntry("Archive"); });
  Then([] { user::ClickCancel(); });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  EXPECT_EQ(focus, hl::BrowseDialogs()[0].dialog);
  EXPECT_EQ(state & BST_PUSHED, 0);
  EXPECT_EQ(Showings(), 2u);
  EXPECT_EQ(BrowseOptions.SubfoldersChecked, 1);  // kept through the restart
}

TEST_F(NewFolderTest, APressOnThePlainButtonDoesNothing) {
  HWND focus_before = nullptr, focus_after = nullptr;
  LRESULT state = 0;
  Then([&] {
    focus_before = GetFocus();
    user::PressFolderButton();
    focus_after = GetFocus();
    state = SendMessageA(user::FolderButton(), BM_GETSTATE, 0, 0);
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(focus_after, focus_before);
  EXPECT_EQ(state & BST_PUSHED, 0);
  EXPECT_EQ(BrowseOptions.SubfoldersChecked, 0);
  EXPECT_TRUE(prompts_.empty());
}

TEST_F(NewFolderTest, TheCheckBoxTogglesOnEachPressAndMovesTheFocus) {
  BrowseOptions.ShowNewFolderButton = kFalse;
  BrowseOptions.ShowCheckBox = kTrue;
  std::vector<int> seen;
  std::vector<LRESULT> checks;
  HWND focus = nullptr;
  Then([&] {
    for (int i = 0; i < 3; ++i) {
      user::ClickFolderButton();  // the release does nothing on a check box
      seen.push_back(BrowseOptions.SubfoldersChecked);
      checks.push_back(SendMessageA(user::FolderButton(), BM_GETCHECK, 0, 0));
    }
    focus = GetFocus();
    user::ClickOk();
  });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  EXPECT_EQ(seen, (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(checks, (std::vector<LRESULT>{BST_CHECKED, BST_UNCHECKED, BST_CHECKED}));
  EXPECT_EQ(focus, LastDialog().dialog);
  EXPECT_EQ(BrowseOptions.SubfoldersChecked, 1);
  EXPECT_EQ(Showings(), 1u);

  // The next call starts unchecked.
  Then([] { user::ClickCancel(); });
  BrowseForFolder();
  EXPECT_EQ(BrowseOptions.SubfoldersChecked, 0);
}

TEST_F(NewFolderTest, F1ExplainsTheControlWhicheverItIs) {
  Then([] {
    user::PressF1OnFolderButton();
    user::ClickCancel();
  });
  BrowseForFolder();
  BrowseOptions.ShowNewFolderButton = kFalse;
  BrowseOptions.ShowCheckBox = kTrue;
  Then([] {
    user::PressF1OnFolderButton();
    user::ClickCancel();
  });
  BrowseForFolder();
  ASSERT_EQ(hl::MessageBoxes().size(), 2u);
  for (const auto& box : hl::MessageBoxes()) {
    EXPECT_EQ(box.text, "Creates a new folder in the currently selected directory");
    EXPECT_EQ(box.caption, "Browse for Folder");
    EXPECT_EQ(box.type & MB_ICONMASK, static_cast<UINT>(MB_ICONASTERISK));
  }
}

}  // namespace
}  // namespace picker_test
