// The main window's Browse command with the real picker: the road from an
// empty path box to a database path, cancelling, and the folder that a path
// box naming a database file starts from.
#include "main_window/form1.h"
#include "picker_fixture.h"

namespace picker_test {
namespace {

namespace mw = tessmark::main_window;

class BrowseCommandTest : public PickerTest {
 protected:
  void SetUp() override {
    PickerTest::SetUp();
    MakeFolder("Data");
    MakeFile("Data\\qvd.mdb");
    tessmark::platform::StartProgram();
    ASSERT_TRUE(form_.Create(SW_SHOWNORMAL));
  }
  void TearDown() override {
    if (IsWindow(form_.hwnd())) DestroyWindow(form_.hwnd());
    PickerTest::TearDown();
  }

  std::string PathBox() const { return TextOf(form_.Control(mw::kText1)); }
  void SetPathBox(const std::string& text) {
    SetWindowTextA(form_.Control(mw::kText1), text.c_str());
  }
  void ClickBrowse() {
    ASSERT_TRUE(User().Click(form_.Control(mw::kCommand1)));
    EXPECT_TRUE(ScriptDone());
  }
  void ClickClient() { ASSERT_TRUE(User().Click(form_.Control(mw::kOption1Client))); }

  mw::Form1 form_;
};

TEST_F(BrowseCommandTest, TheRoadFromAnEmptyBoxToTheClientDatabase) {
  ClickClient();
  EXPECT_EQ(PathBox(), "\\backup.mdb");
  std::string caption, prompt, box_text;
  RECT rect{};
  HWND owner = nullptr;
  Then([&] {
    const HWND dialog = hl::OpenBrowseDialog();
    caption = TextOf(dialog);
    prompt = TextOf(LastDialog().title_static);
    rect = RectOf(dialog);
    owner = LastDialog().owner;
    user::SelectFolder("C:\\Data");
    box_text = TextOf(user::PathBox());
    user::ClickOk();
  });
  ClickBrowse();
  EXPECT_EQ(caption, "Select Catalog");
  EXPECT_EQ(prompt, "Select the folder containing backup.mdb");
  EXPECT_EQ(rect.right - rect.left, 320);
  EXPECT_EQ(rect.bottom - rect.top, 320);
  EXPECT_EQ(owner, form_.hwnd());
  EXPECT_EQ(box_text, "Data");
  EXPECT_EQ(form_.SelectedFolder, "C:\\Data");
  EXPECT_EQ(PathBox(), "C:\\Data\\backup.mdb");
}

TEST_F(BrowseCommandTest, AChosenFolderFollowsTheOptionButtons) {
  Then([] {
    user::SelectFolder("C:\\Data");
    user::ClickOk();
  });
  ClickBrowse();
  EXPECT_EQ(PathBox(), "C:\\Data\\qvd.mdb");
  ClickClient();
  EXPECT_EQ(PathBox(), "C:\\Data\\backup.mdb");
}

TEST_F(BrowseCommandTest, ATypedFolderIsWhereThePickerStarts) {
  SetPathBox("C:\\Data");
  std::string selected;
  Then([&] {
    selected = LastDialog().selected;
    user::ClickCancel();
  });
  ClickBrowse();
  EXPECT_EQ(selected, "C:\\Data");
  EXPECT_EQ(BrowseOptions.InitialFolder, "C:\\Data");
  // Cancel keeps the typed folder and adds the file name.
  EXPECT_EQ(PathBox(), "C:\\Data\\qvd.mdb");
}

TEST_F(BrowseCommandTest, CancelWithAnEmptyBoxChangesNothing) {
  Then([] { user::ClickCancel(); });
  ClickBrowse();
  EXPECT_EQ(PathBox(), "");
  EXPECT_EQ(form_.SelectedFolder, "");
}

TEST_F(BrowseCommandTest, ABoxNamingAFileStartsInItsFolderAndCancelKeepsIt) {
  MakeFile("Data\\catalog.old");
  struct Case {
    bool client;
    const char* box;
    const char* selected;  // when the dialog opens
    const char* folder;    // SelectedFolder afterwards
  };
  for (const Case c : {Case{false, "C:\\Data\\qvd.mdb", "C:\\Data", "C:\\Data"},
                       Case{true, "C:\\Data\\qvd.mdb", "C:\\Data", "C:\\Data"},
                       Case{true, "C:\\Data\\backup.mdb", "C:\\Data", "C:\\Data"},
                       Case{false, "C:\\Data\\other.mdb", "C:\\Data", "C:\\Data"},
                       Case{false, "c:\\data\\catalog.old", "C:\\Data", "c:\\data"},
                       Case{false, "C:\\qvd.mdb", "C:\\", "C:\\"}}) {
    SCOPED_TRACE(c.box);
    ASSERT_TRUE(User().Click(form_.Control(c.client ? mw::kOption1Client : mw::kOption1Server)));
    SetPathBox(c.box);
    std::string selected;
    Then([&] {
      selected = LastDialog().selected;
      user::ClickCancel();
    });
    ClickBrowse();
    EXPECT_EQ(selected, c.selected);
    EXPECT_EQ(PathBox(), c.box);
    EXPECT_EQ(form_.SelectedFolder, c.folder);
  }
}

TEST_F(BrowseCommandTest, ADriveRootGetsExactlyOneBackslash) {
  Then([] {
    user::SelectFolder("C:\\");
    user::ClickOk();
  });
  ClickBrowse();
  EXPECT_EQ(form_.SelectedFolder, "C:\\");
  EXPECT_EQ(PathBox(), "C:\\qvd.mdb");
  ClickClient();
  EXPECT_EQ(PathBox(), "C:\\backup.mdb");
}

// The whole program, as it starts and ends.
class ProgramTest : public PickerTest {
 protected:
  void SetUp() override {
    PickerTest::SetUp();
    OleUninitialize();  // the program starts OLE itself
    MakeFolder("Data");
  }
  static HWND Form() { return FindWindowA(mw::kForm1Class, nullptr); }
};

TEST_F(ProgramTest, OleRunsFromStartToEndSoBrowseShowsTheSystemDialog) {
  int depth_in_dialog = -1;
  std::string path_box;
  Then([this] { User().Click(GetDlgItem(Form(), mw::kCommand1)); });
  Then([&] {
    depth_in_dialog = hl::OleDepth();
    user::SelectFolder("C:\\Data");
    user::ClickOk();
  });
  Then([&] {
    path_box = TextOf(GetDlgItem(Form(), mw::kText1));
    User().Click(GetDlgItem(Form(), mw::kCommand3));
  });
  EXPECT_TRUE(hl::ScriptedUser::RunUntilInputRunsOut([] { mw::RunProgram(SW_SHOWNORMAL); }));
  EXPECT_TRUE(ScriptDone());
  EXPECT_EQ(depth_in_dialog, 1) << "started once, before the dialog";
  EXPECT_EQ(path_box, "C:\\Data\\qvd.mdb");
  EXPECT_EQ(hl::OleDepth(), 0) << "ended with the program";
}

TEST_F(BrowseCommandTest, StripNullsDropsEveryNul) {
  EXPECT_EQ(form_.StripNulls(std::string("a\0b", 3)), "ab");
  EXPECT_EQ(form_.StripNulls("C:\\Data"), "C:\\Data");
  EXPECT_EQ(form_.StripNulls(std::string(3, '\0')), "");
}

}  // namespace
}  // namespace picker_test
