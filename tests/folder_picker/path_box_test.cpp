// Enter in the path box: the typed name as a sibling of the current folder,
// as a full path, or the "does not exist" box; every other key passes.
#include "picker_fixture.h"

namespace picker_test {
namespace {

using modBrowseForFolder::BrowseForFolder;
using modBrowseForFolder::TrimAtNull;

class PathBoxTest : public PickerTest {
 protected:
  void SetUp() override {
    PickerTest::SetUp();
    MakeFolder("Data\\Sub");
    MakeFolder("Data\\Other");
    drive_d_ = drive_c_ / "drive-d";
    fs::create_directories(drive_d_ / "Stuff");
    hl::MapDrive('D', drive_d_);
    MainWindowOptions();
  }

  struct Outcome {
    std::string selected;      // the dialog's selection after Enter
    std::string current_path;  // PickerState.CurrentPath, cut at its NUL
    std::string box_text;
    int selection_changes = 0;  // during Enter
  };

  // Opens the dialog on `start`, types `text` and Enter, reads the outcome.
  Outcome Enter(const std::string& start, const std::string& text) {
    BrowseOptions.InitialFolder = start;
    Outcome out;
    Then([&] {
      const int before = LastDialog().selection_changes;
      user::TypeIntoPathBox(text);
      out.selected = LastDialog().selected;
      out.current_path = TrimAtNull(PickerState.CurrentPath);
      out.box_text = TextOf(user::PathBox());
      out.selection_changes = LastDialog().selection_changes - before;
      user::ClickCancel();
    });
    BrowseForFolder();
    EXPECT_TRUE(ScriptDone());
    return out;
  }

  fs::path drive_d_;
};

TEST_F(PathBoxTest, ASiblingNameSelectsTheSibling) {
  const Outcome out = Enter("c:\\Data\\Sub", "Other");
  EXPECT_EQ(out.selected, "C:\\Data\\Other");
  EXPECT_EQ(out.current_path, "c:\\Data\\Other");  // exactly the path sent
  EXPECT_EQ(out.box_text, "Other");
  EXPECT_EQ(out.selection_changes, 1);
  EXPECT_TRUE(hl::MessageBoxes().empty());
}

TEST_F(PathBoxTest, ATrailingBackslashIsIgnored) {
  const Outcome out = Enter("c:\\Data\\Sub\\", "Other\\");
  EXPECT_EQ(out.selected, "C:\\Data\\Other");
  EXPECT_EQ(out.current_path, "c:\\Data\\Other");
}

TEST_F(PathBoxTest, AFullPathIsTakenAsItStands) {
  const Outcome out = Enter("c:\\Data\\Sub", "d:\\Stuff");
  EXPECT_EQ(out.selected, "D:\\Stuff");
  EXPECT_EQ(out.current_path, "d:\\Stuff");
  EXPECT_EQ(out.box_text, "Stuff");
}

TEST_F(PathBoxTest, AnEmptyBoxBelowADriveRootSelectsTheRoot) {
  const Outcome out = Enter("c:\\Data", "");
  EXPECT_EQ(out.selected, "C:\\");
  EXPECT_EQ(out.current_path, "c:\\");
  EXPECT_EQ(out.box_text, "C:\\");
}

TEST_F(PathBoxTest, AnEmptyBoxDeeperDownIsReportedMissing) {
  const Outcome out = Enter("c:\\Data\\Sub", "");
  ASSERT_EQ(hl::MessageBoxes().size(), 1u);
  EXPECT_EQ(hl::MessageBoxes()[0].text.substr(0, 2), "\r\n");
  EXPECT_EQ(out.selected, "C:\\Data\\Sub");
}

TEST_F(PathBoxTest, FromADriveRootAFullPathStillWorks) {
  // The sibling c:\C:\Data\Sub does not exist; the typed path does.
  const Outcome out = Enter("c:\\", "C:\\Data\\Sub");
  EXPECT_EQ(out.selected, "C:\\Data\\Sub");
  EXPECT_EQ(out.current_path, "C:\\Data\\Sub");
}

TEST_F(PathBoxTest, AtADriveRootANameIsLookedForBelowThatRoot) {
  // Data exists on both drives; C: is the current drive, where a rootless
  // \Data would be looked for.
  fs::create_directories(drive_d_ / "Data");
  struct Case {
    const char* root;
    const char* typed;
    const char* selected;  // also what OK returns
    const char* current;
  };
  for (const Case c :
       {Case{"c:\\", "Data", "C:\\Data", "c:\\Data"}, Case{"d:\\", "Data", "D:\\Data", "d:\\Data"},
        Case{"D:\\", "stuff\\", "D:\\Stuff", "D:\\stuff"}, Case{"d:\\", "", "D:\\", "d:\\"}}) {
    SCOPED_TRACE(std::string(c.root) + " + " + c.typed);
    BrowseOptions.InitialFolder = c.root;
    std::string current;
    int changes = -1;
    Then([&] {
      const int before = LastDialog().selection_changes;
      user::TypeIntoPathBox(c.typed);
      changes = LastDialog().selection_changes - before;
      current = TrimAtNull(PickerState.CurrentPath);
      user::ClickOk();
    });
    EXPECT_EQ(BrowseForFolder(), c.selected);
    EXPECT_EQ(current, c.current);
    EXPECT_EQ(changes, 1);
  }
  EXPECT_TRUE(hl::MessageBoxes().empty());
}

TEST_F(PathBoxTest, AMissingPathGetsTheCriticalBoxAndChangesNothing) {
  const Outcome out = Enter("c:\\Data\\Sub", "Nowhere\\");
  ASSERT_EQ(hl::MessageBoxes().size(), 1u);
  const hl::MessageBoxRecord& box = hl::MessageBoxes()[0];
  EXPECT_EQ(box.text,
            "Nowhere\r\nThe specified path does not exist.\r\n\r\nCheck the path, and try again.");
  EXPECT_EQ(box.caption, "Browse for Folder");  // not the Title option
  EXPECT_EQ(box.type & MB_ICONMASK, static_cast<UINT>(MB_ICONHAND));
  EXPECT_EQ(box.type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
  EXPECT_EQ(out.box_text, "Nowhere\\");
  EXPECT_EQ(out.current_path, "c:\\Data\\Sub");
  EXPECT_EQ(out.selected, "C:\\Data\\Sub");
  EXPECT_EQ(out.selection_changes, 0);
}

TEST_F(PathBoxTest, ATypedDriveRootSelectsTheRootWhereverTheDrivesCurrentFolderIs) {
  // A typed d:\ loses its backslash like any typed path and is searched as
  // d:, which names the drive's current folder: its root, where a search
  // finds nothing, unless the program's current folder is on D:. Either way
  // the root is selected (the dialog reads d: as the drive), and a name typed
  // next is looked for below it.
  struct Case {
    const char* current_folder;
    const char* typed;
    const char* current_path;  // after the first Enter
  };
  for (const Case c : {Case{"C:\\", "d:\\", "d:\\"}, Case{"C:\\", "d:", "d:\\"},
                       Case{"D:\\Stuff", "d:\\", "d:"}, Case{"D:\\Stuff", "D:", "D:"}}) {
    SCOPED_TRACE(std::string(c.current_folder) + ", typed " + c.typed);
    hl::SetCurrentFolder(c.current_folder);
    BrowseOptions.InitialFolder = "c:\\Data\\Sub";
    std::string selected, current, box;
    Then([&] {
      user::TypeIntoPathBox(c.typed);
      selected = LastDialog().selected;
      current = TrimAtNull(PickerState.CurrentPath);
      box = TextOf(user::PathBox());
      user::TypeIntoPathBox("Stuff");
      user::ClickOk();
    });
    EXPECT_EQ(BrowseForFolder(), "D:\\Stuff");
    EXPECT_EQ(selected, "D:\\");
    EXPECT_EQ(current, c.current_path);
    EXPECT_EQ(box, "D:\\");
  }
  EXPECT_TRUE(hl::MessageBoxes().empty());
}

TEST_F(PathBoxTest, ATypedDriveThatDoesNotExistIsReported) {
  const Outcome out = Enter("c:\\Data\\Sub", "q:");
  ASSERT_EQ(hl::MessageBoxes().size(), 1u);
  EXPECT_EQ(hl::MessageBoxes()[0].text.substr(0, 4), "q:\r\n");
  EXPECT_EQ(out.selected, "C:\\Data\\Sub");
}

TEST_F(PathBoxTest, OnlyTheEnterCharacterIsConsumed) {
  BrowseOptions.InitialFolder = "c:\\Data";
  std::string text;
  Then([&] {
    const HWND box = user::PathBox();
    SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("ab"));
    SendMessageA(box, EM_SETSEL, 2, 2);
    SendMessageA(box, WM_KEYDOWN, VK_RETURN, 0);  // reaches the edit box: no effect on text
    SendMessageA(box, WM_CHAR, 'c', 0);
    SendMessageA(box, WM_CHAR, 0x100 | 'd', 0);  // only the low byte counts as the key
    text = TextOf(box);
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(text.substr(0, 3), "abc");
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.find('\n'), std::string::npos);
}

TEST_F(PathBoxTest, EnterWithAHighByteStillCountsAsEnter) {
  BrowseOptions.InitialFolder = "c:\\Data\\Sub";
  std::string selected;
  Then([&] {
    const HWND box = user::PathBox();
    SendMessageA(box, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Other"));
    SendMessageA(box, WM_CHAR, 0x100 | 13, 0);
    selected = LastDialog().selected;
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(selected, "C:\\Data\\Other");
}

// What reaches the edit box's own procedure beneath the path box's.
std::vector<std::pair<UINT, WPARAM>> g_reached;
LONG_PTR g_edit_proc = 0;
LRESULT CALLBACK EditRecorder(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_CHAR) g_reached.emplace_back(msg, wparam);
  return CallWindowProcA(tessmark::platform::LongToWndProc(g_edit_proc), hwnd, msg, wparam, lparam);
}

TEST_F(PathBoxTest, TheEnterKeysAndOtherCharactersReachTheEditBox) {
  BrowseOptions.InitialFolder = "c:\\Data\\Sub";
  g_reached.clear();
  Then([] {
    g_edit_proc = PickerState.OldPathBoxProc;
    PickerState.OldPathBoxProc = tessmark::platform::WndProcToLong(EditRecorder);
    user::TypeIntoPathBox("Other");
    PickerState.OldPathBoxProc = g_edit_proc;
    user::ClickCancel();
  });
  BrowseForFolder();
  const std::vector<std::pair<UINT, WPARAM>> expected = {
      {WM_CHAR, 'O'}, {WM_CHAR, 't'},          {WM_CHAR, 'h'},       {WM_CHAR, 'e'},
      {WM_CHAR, 'r'}, {WM_KEYDOWN, VK_RETURN}, {WM_KEYUP, VK_RETURN}};
  EXPECT_EQ(g_reached, expected);
  EXPECT_EQ(LastDialog().selected, "C:\\Data\\Other");
}

}  // namespace
}  // namespace picker_test
