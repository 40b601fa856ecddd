// Selection tracking: the status line, the path box and CurrentPath follow
// the selected folder; items without a file-system path change nothing.
#include "picker_fixture.h"

namespace picker_test {
namespace {

using modBrowseForFolder::BrowseForFolder;
using modBrowseForFolder::kFalse;
using modBrowseForFolder::TrimAtNull;

class SelectionTest : public PickerTest {
 protected:
  void SetUp() override {
    PickerTest::SetUp();
    MakeFolder("Windows\\System32");
    MainWindowOptions();
  }
  struct View {
    std::string status, box, current, caption;
    std::pair<DWORD, DWORD> caret;
  };
  static View Look() {
    View v;
    v.status = TextOf(LastDialog().status_static);
    if (HWND box = user::PathBox(); box != nullptr) {
      v.box = TextOf(box);
      v.caret = hl::ScriptedUser::Selection(box);
    }
    v.current = TrimAtNull(PickerState.CurrentPath);
    v.caption = TextOf(LastDialog().dialog);
    return v;
  }
  // Selects each path in turn and looks after each.
  std::vector<View> SelectEach(const std::vector<std::string>& paths) {
    std::vector<View> views;
    Then([&] {
      for (const std::string& p : paths) {
        if (p.find('\\') == std::string::npos) {
          user::SelectVirtualItem(p);
        } else {
          user::SelectFolder(p);
        }
        views.push_back(Look());
      }
      user::ClickCancel();
    });
    BrowseForFolder();
    EXPECT_TRUE(ScriptDone());
    return views;
  }
};

TEST_F(SelectionTest, ADriveRootIsShownWhole) {
  const auto views = SelectEach({"C:\\"});
  EXPECT_EQ(views[0].status, "C:\\");
  EXPECT_EQ(views[0].box, "C:\\");
  EXPECT_EQ(views[0].current, "C:\\");
}

TEST_F(SelectionTest, AFolderShowsItsNameInTheBoxAndItsPathInTheStatusLine) {
  const auto views = SelectEach({"c:\\windows\\system32"});
  EXPECT_EQ(views[0].box, "System32");
  EXPECT_EQ(views[0].caret, (std::pair<DWORD, DWORD>{8, 8}));
  EXPECT_EQ(views[0].status, "C:\\Windows\\System32");
  EXPECT_EQ(views[0].current, "C:\\Windows\\System32");
  EXPECT_EQ(PickerState.CurrentPath.find('\0'), std::string::npos);
}

TEST_F(SelectionTest, AVirtualItemLeavesEverythingAsItWas) {
  const auto views = SelectEach({"C:\\Windows", "Control Panel"});
  EXPECT_EQ(views[1].status, "C:\\Windows");
  EXPECT_EQ(views[1].box, "Windows");
  EXPECT_EQ(views[1].current, "C:\\Windows");
}

TEST_F(SelectionTest, WithoutAPathBoxOnlyTheStatusLineAndCurrentPathFollow) {
  BrowseOptions.ShowPathBox = kFalse;
  const auto views = SelectEach({"C:\\Windows\\System32"});
  EXPECT_EQ(views[0].status, "C:\\Windows\\System32");
  EXPECT_EQ(views[0].current, "C:\\Windows\\System32");
  EXPECT_EQ(views[0].box, "");
}

TEST_F(SelectionTest, EachSelectionPutsTheCaptionBack) {
  std::string caption;
  Then([&] {
    SetWindowTextA(LastDialog().dialog, "Something else");
    user::SelectFolder("C:\\Windows");
    caption = TextOf(LastDialog().dialog);
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(caption, "Select Catalog");
}

TEST_F(SelectionTest, TypedTextIsOverwrittenBySelection) {
  std::string box;
  Then([&] {
    user::TypeIntoPathBox("half typed", false);
    user::SelectFolder("C:\\Windows");
    box = TextOf(user::PathBox());
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(box, "Windows");
}

TEST_F(SelectionTest, TheInitialFolderStaysCurrentAsWritten) {
  // The selection it brings reports the system's spelling, but the
  // initialisation stores the folder as the caller wrote it.
  BrowseOptions.InitialFolder = "c:\\windows";
  View view;
  Then([&] {
    view = Look();
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(view.current, "c:\\windows");
  EXPECT_EQ(view.status, "C:\\Windows");
  EXPECT_EQ(view.box, "windows");
}

}  // namespace
}  // namespace picker_test
