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

TEST_F(SelectionTest, EveryNotificationPutsTheCaptionBackAndOnlySelectionsDoMore) {
  static const char typed[] = "Nowhere";
  static const wchar_t typed_wide[] = L"Nowhere";
  struct Case {
    const char* what;
    UINT notification;
    LPARAM lparam;
    bool title_cleared;  // BrowseOptions.Title emptied before it arrives
  };
  const Case cases[] = {
      {"validation failed (A)", BFFM_VALIDATEFAILEDA, reinterpret_cast<LPARAM>(typed), false},
      {"validation failed (W)", BFFM_VALIDATEFAILEDW, reinterpret_cast<LPARAM>(typed_wide), false},
      {"IUnknown", BFFM_IUNKNOWN, 0, false},
      {"unknown number", 42, 0, true},
  };
  struct Seen {
    std::string caption_after_selection;
    int result = -1;
    std::string caption;
    View before, after;
    int children_before = 0, children_after = 0;
  };
  const auto children = [](HWND dialog) {
    int n = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) ++n;
    return n;
  };
  std::vector<Seen> seen(std::size(cases));
  Then([&] {
    const HWND dialog = LastDialog().dialog;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
      const Case& c = cases[i];
      Seen& s = seen[i];
      // A selection change puts the caption back and follows the selection.
      SetWindowTextA(dialog, "Something else");
      user::SelectFolder(i % 2 == 0 ? "C:\\Windows" : "C:\\Windows\\System32");
      s.caption_after_selection = TextOf(dialog);
      // Any other notification puts the caption back and changes nothing else.
      SetWindowTextA(dialog, "Something else");
      if (c.title_cleared) BrowseOptions.Title.clear();
      s.before = Look();
      s.children_before = children(dialog);
      s.result = modBrowseForFolder::BrowseCallbackProc(dialog, c.notification, c.lparam, 0);
      s.caption = TextOf(dialog);
      s.after = Look();
      s.children_after = children(dialog);
    }
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_TRUE(ScriptDone());
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].what);
    const Seen& s = seen[i];
    EXPECT_EQ(s.caption_after_selection, "Select Catalog");
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.caption, cases[i].title_cleared ? "Browse for Folder" : "Select Catalog");
    EXPECT_EQ(s.after.status, s.before.status);
    EXPECT_EQ(s.after.box, s.before.box);
    EXPECT_EQ(s.after.caret, s.before.caret);
    EXPECT_EQ(s.after.current, s.before.current);
    EXPECT_EQ(s.children_after, s.children_before);
  }
  EXPECT_EQ(BrowseOptions.Title, "Browse for Folder");
  EXPECT_EQ(PickerState.RestartPending, kFalse);
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
