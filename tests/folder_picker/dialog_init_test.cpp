// How the picker dresses the system dialog up when it reports that it is
// ready: caption, selection, size and place, recognised children, added
// controls and the options written back.
#include "picker_fixture.h"

namespace picker_test {
namespace {

using modBrowseForFolder::BrowseCallbackProc;
using modBrowseForFolder::BrowseForFolder;
using modBrowseForFolder::kFalse;

class DialogInitTest : public PickerTest {
 protected:
  // Runs one showing; `look` runs while the dialog is open, then Cancel.
  void Show(const std::function<void(HWND dialog)>& look) {
    Then([&look] {
      look(hl::OpenBrowseDialog());
      user::ClickCancel();
    });
    BrowseForFolder();
    ASSERT_TRUE(ScriptDone());
  }
  static int Width(const RECT& r) { return r.right - r.left; }
  static int Height(const RECT& r) { return r.bottom - r.top; }
};

TEST_F(DialogInitTest, MainWindowOptionsGive320x320WithPathBoxAndNewFolderButton) {
  MakeFolder("Data");
  MainWindowOptions();
  BrowseOptions.InitialFolder = "C:\\Data";
  HWND dialog = nullptr;
  RECT rect{};
  std::string caption, ok, cancel, status, box_text;
  HWND folder_button = nullptr, path_box = nullptr;
  Show([&](HWND d) {
    dialog = d;
    rect = RectOf(d);
    caption = TextOf(d);
    ok = TextOf(LastDialog().ok);
    cancel = TextOf(LastDialog().cancel);
    status = TextOf(LastDialog().status_static);
    folder_button = user::FolderButton();
    path_box = user::PathBox();
    box_text = TextOf(path_box);
  });
  const RECT first = LastDialog().first_rect;
  EXPECT_EQ(rect.left, first.left);
  EXPECT_EQ(rect.top, first.top);
  EXPECT_EQ(Width(rect), 320);
  EXPECT_EQ(Height(rect), 320);
  EXPECT_EQ(caption, "Select Catalog");
  EXPECT_EQ(ok, "OK");
  EXPECT_EQ(cancel, "Cancel");
  EXPECT_EQ(status, "C:\\Data");
  EXPECT_EQ(box_text, "Data");
  ASSERT_NE(folder_button, nullptr);
  EXPECT_EQ(TextOf(folder_button), "");  // destroyed with the dialog
  EXPECT_NE(path_box, nullptr);
  // The lower-case prompt makes the last Static child, the status line, the
  // one stretched across the dialog.
  EXPECT_EQ(PickerState.StatusWnd, LastDialog().status_static);
  EXPECT_EQ(PickerState.SizeGripWnd, nullptr);
  EXPECT_EQ(PickerState.OldDialogProc, 0);
  EXPECT_EQ(PickerState.DialogWnd, dialog);
}

TEST_F(DialogInitTest, AddedWindowsHaveTheirClassesCaptionsAndStyles) {
  MainWindowOptions();
  HWND label = nullptr, box = nullptr, button = nullptr;
  LONG label_style = 0, box_style = 0, box_ex = 0, button_style = 0;
  std::string label_text, button_text;
  Show([&](HWND) {
    label = PickerState.PathLabelWnd;
    box = PickerState.PathBoxWnd;
    button = PickerState.FolderButtonWnd;
    label_style = GetWindowLongA(label, GWL_STYLE);
    box_style = GetWindowLongA(box, GWL_STYLE);
    box_ex = GetWindowLongA(box, GWL_EXSTYLE);
    button_style = GetWindowLongA(button, GWL_STYLE);
    label_text = TextOf(label);
    button_text = TextOf(button);
  });
  EXPECT_EQ(label_text, "Folder :");
  EXPECT_EQ(button_text, "New Folder");
  EXPECT_EQ(static_cast<DWORD>(box_style) & ~static_cast<DWORD>(WS_VISIBLE), 0x40001084u);
  EXPECT_NE(static_cast<DWORD>(box_ex) & WS_EX_CLIENTEDGE, 0u);
  EXPECT_EQ(static_cast<DWORD>(label_style) & ~static_cast<DWORD>(WS_VISIBLE), 0x40000000u);
  EXPECT_EQ(static_cast<DWORD>(button_style) & ~static_cast<DWORD>(WS_VISIBLE), 0x40000000u);
}

TEST_F(DialogInitTest, EmptyTitleAndInitialFolderGetTheirDefaults) {
  std::string caption, box_text;
  std::pair<DWORD, DWORD> caret;
  BrowseOptions.ShowPathBox = kTrue;
  Show([&](HWND d) {
    caption = TextOf(d);
    box_text = TextOf(user::PathBox());
    caret = hl::ScriptedUser::Selection(user::PathBox());
  });
  EXPECT_EQ(caption, "Browse for Folder");
  EXPECT_EQ(BrowseOptions.Title, "Browse for Folder");
  EXPECT_EQ(BrowseOptions.InitialFolder, "c:\\");
  EXPECT_EQ(LastDialog().selected, "C:\\");
  EXPECT_EQ(box_text, "c:\\");
  EXPECT_EQ(caret, (std::pair<DWORD, DWORD>{3, 3}));
}

TEST_F(DialogInitTest, AnInitialFolderEndingInABackslashStartsWithAnEmptyBox) {
  MakeFolder("Data");
  BrowseOptions.ShowPathBox = kTrue;
  BrowseOptions.InitialFolder = "c:\\Data\\";
  std::string box_text = "unset";
  Show([&](HWND) { box_text = TextOf(user::PathBox()); });
  EXPECT_EQ(box_text, "");
  EXPECT_EQ(LastDialog().selected, "C:\\Data");
}

TEST_F(DialogInitTest, SpecialRootsGetNoAddedControlsButStillAGrip) {
  BrowseOptions.RootFolder = CSIDL_BITBUCKET;
  BrowseOptions.ShowPathBox = kTrue;
  BrowseOptions.ShowNewFolderButton = kTrue;
  BrowseOptions.ShowCheckBox = kTrue;
  BrowseOptions.Resizable = kTrue;
  HWND box = nullptr, button = nullptr, grip = nullptr;
  Show([&](HWND) {
    box = user::PathBox();
    button = user::FolderButton();
    grip = PickerState.SizeGripWnd;
  });
  EXPECT_TRUE(LastDialog().has_root);
  EXPECT_EQ(box, nullptr);
  EXPECT_EQ(button, nullptr);
  EXPECT_NE(grip, nullptr);
  EXPECT_EQ(BrowseOptions.ShowPathBox, kFalse);
  EXPECT_EQ(BrowseOptions.ShowNewFolderButton, kFalse);
  EXPECT_EQ(BrowseOptions.ShowCheckBox, kFalse);

  // The cleared flags stay cleared for the next call.
  BrowseOptions.RootFolder = 0;
  BrowseOptions.Resizable = kFalse;
  Show([&](HWND) {
    box = user::PathBox();
    button = user::FolderButton();
  });
  EXPECT_EQ(box, nullptr);
  EXPECT_EQ(button, nullptr);
}

TEST_F(DialogInitTest, NewFolderButtonWinsOverTheCheckBox) {
  BrowseOptions.ShowNewFolderButton = kTrue;
  BrowseOptions.ShowCheckBox = kTrue;
  std::string text;
  LONG style = 0;
  Show([&](HWND) {
    text = TextOf(user::FolderButton());
    style = GetWindowLongA(user::FolderButton(), GWL_STYLE);
  });
  EXPECT_EQ(text, "New Folder");
  EXPECT_EQ(static_cast<DWORD>(style) & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
  EXPECT_EQ(BrowseOptions.CheckBoxCaption, "");
}

TEST_F(DialogInitTest, CheckBoxAloneGetsItsDefaultCaption) {
  BrowseOptions.ShowCheckBox = kTrue;
  std::string text;
  LONG style = 0;
  Show([&](HWND) {
    text = TextOf(user::FolderButton());
    style = GetWindowLongA(user::FolderButton(), GWL_STYLE);
  });
  EXPECT_EQ(text, "Include subfolders");
  EXPECT_EQ(BrowseOptions.CheckBoxCaption, "Include subfolders");
  EXPECT_EQ(static_cast<DWORD>(style) & BS_TYPEMASK, static_cast<DWORD>(BS_CHECKBOX));
}

TEST_F(DialogInitTest, SizeOptions) {
  RECT rect{};
  BrowseOptions.LargeSize = kTrue;
  BrowseOptions.FullScreen = kTrue;
  Show([&](HWND d) { rect = RectOf(d); });
  EXPECT_EQ(rect.left, LastDialog().first_rect.left);
  EXPECT_EQ(rect.top, LastDialog().first_rect.top);
  EXPECT_EQ(Width(rect), 480);
  EXPECT_EQ(Height(rect), 480);
  EXPECT_EQ(Width(PickerState.DialogRect), 480);

  BrowseOptions.LargeSize = kFalse;
  BrowseOptions.CenterOnScreen = kTrue;
  Show([&](HWND d) { rect = RectOf(d); });
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(Width(rect), 1024);
  EXPECT_EQ(Height(rect), 768);
}

TEST_F(DialogInitTest, CentringRoundsHalvesToTheEvenNeighbour) {
  BrowseOptions.CenterOnScreen = kTrue;
  struct Case {
    int screen_width, screen_height, x, y;
  };
  // 1024 - 320 = 704 -> 352; 1023: 351.5 -> 352; 1021: 350.5 -> 350;
  // 767 high: 223.5 -> 224; 765: 222.5 -> 222.
  for (const Case c :
       {Case{1024, 768, 352, 224}, Case{1023, 767, 352, 224}, Case{1021, 765, 350, 222}}) {
    hl::SetScreenSize(c.screen_width, c.screen_height);
    RECT rect{};
    Show([&](HWND d) { rect = RectOf(d); });
    EXPECT_EQ(rect.left, c.x) << c.screen_width;
    EXPECT_EQ(rect.top, c.y) << c.screen_height;
    EXPECT_EQ(Width(rect), 320);
    EXPECT_EQ(PickerState.DialogRect.left, c.x);
  }
}

TEST_F(DialogInitTest, GripOnVersion5AndLater) {
  BrowseOptions.Resizable = kTrue;
  LONG style = 0;
  HWND grip = nullptr;
  Show([&](HWND) {
    grip = PickerState.SizeGripWnd;
    style = GetWindowLongA(grip, GWL_STYLE);
  });
  ASSERT_NE(grip, nullptr);
  EXPECT_EQ(static_cast<DWORD>(style) & ~static_cast<DWORD>(WS_VISIBLE), 0x40000018u);
  EXPECT_NE(PickerState.OldSizeGripProc, 0);
  EXPECT_NE(PickerState.OldDialogProc, 0);
  EXPECT_EQ(PickerState.SizeGripInnerWnd, nullptr);
}

TEST_F(DialogInitTest, GripBeforeVersion5IsASizeBoxWithAGripInside) {
  hl::SetSystemVersion(4, 0, 1381, VER_PLATFORM_WIN32_NT, "");
  BrowseOptions.Resizable = kTrue;
  LONG outer_style = 0, inner_style = 0;
  HWND inner_parent = nullptr;
  RECT inner_place{};
  Show([&](HWND) {
    outer_style = GetWindowLongA(PickerState.SizeGripWnd, GWL_STYLE);
    inner_style = GetWindowLongA(PickerState.SizeGripInnerWnd, GWL_STYLE);
    inner_parent = GetParent(PickerState.SizeGripInnerWnd);
    inner_place = PlaceIn(PickerState.SizeGripWnd, PickerState.SizeGripInnerWnd);
  });
  EXPECT_EQ(static_cast<DWORD>(outer_style) & ~static_cast<DWORD>(WS_VISIBLE), 0x40000008u);
  EXPECT_EQ(static_cast<DWORD>(inner_style) & ~static_cast<DWORD>(WS_VISIBLE), 0x48000010u);
  EXPECT_EQ(inner_parent, PickerState.SizeGripWnd);
  EXPECT_EQ(inner_place.left, -4);
  EXPECT_EQ(inner_place.top, -4);
  EXPECT_EQ(PickerState.OldSizeGripProc, 0);
  EXPECT_NE(PickerState.OldDialogProc, 0);
}

TEST_F(DialogInitTest, AddedWindowsTakeTheOkButtonsFont) {
  MainWindowOptions();
  LRESULT ok_font = 0, box_font = 0, label_font = 0, button_font = 0;
  Show([&](HWND) {
    ok_font = SendMessageA(PickerState.OkWnd, WM_GETFONT, 0, 0);
    box_font = SendMessageA(PickerState.PathBoxWnd, WM_GETFONT, 0, 0);
    label_font = SendMessageA(PickerState.PathLabelWnd, WM_GETFONT, 0, 0);
    button_font = SendMessageA(PickerState.FolderButtonWnd, WM_GETFONT, 0, 0);
  });
  EXPECT_NE(ok_font, 0);
  EXPECT_EQ(box_font, ok_font);
  EXPECT_EQ(label_font, ok_font);
  EXPECT_EQ(button_font, ok_font);
}

// The child scan on a dialog whose children the test makes itself.
class ChildScanTest : public PickerTest {
 protected:
  void SetUp() override {
    PickerTest::SetUp();
    dialog_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 100, 100, 320, 320, nullptr, nullptr,
                              nullptr, nullptr);
  }
  HWND Child(const char* cls, const char* text, int y) {
    return CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE, 5, y, 50, 10, dialog_, nullptr,
                           nullptr, nullptr);
  }
  void Initialise() {
    modBrowseForFolder::BeginShowing();
    BrowseCallbackProc(dialog_, BFFM_INITIALIZED, 0, 0);
  }
  HWND dialog_ = nullptr;
};

TEST_F(ChildScanTest, ButtonsAreRecognisedByTheStartOfTheirCaptionsAndTheLastWins) {
  Child("BUTTON", "Okay", 0);
  HWND ok = Child("BUTTON", "ok", 10);
  Child("BUTTON", "cancelled", 20);
  HWND cancel = Child("BUTTON", "CANCEL", 30);
  HWND other = Child("BUTTON", "O", 40);
  BrowseOptions.OkCaption = "Accept";
  Initialise();
  EXPECT_EQ(PickerState.OkWnd, ok);
  EXPECT_EQ(PickerState.CancelWnd, cancel);
  EXPECT_EQ(TextOf(ok), "Accept");
  EXPECT_EQ(TextOf(cancel), "Cancel");
  EXPECT_EQ(TextOf(other), "O");
  EXPECT_EQ(BrowseOptions.CancelCaption, "Cancel");
}

TEST_F(ChildScanTest, TreeByClassAloneEditOnlyWhenAskedFor) {
  WNDCLASSA tree_class{};
  tree_class.lpfnWndProc = DefWindowProcA;
  tree_class.lpszClassName = "SysTreeView32";
  RegisterClassA(&tree_class);
  HWND edit = Child("EDIT", "", 30);
  Child("SysTreeView32", "", 40);
  HWND tree = Child("SysTreeView32", "", 50);
  ASSERT_NE(tree, nullptr);
  const LONG top = RectOf(tree).top - RectOf(dialog_).top;
  Initialise();
  EXPECT_EQ(PickerState.TreeWnd, tree);
  EXPECT_EQ(PickerState.TreeTop, top);
  EXPECT_EQ(PickerState.SystemEditWnd, nullptr);

  BrowseOptions.ShowEditBox = kTrue;
  Initialise();
  EXPECT_EQ(PickerState.SystemEditWnd, edit);
  EXPECT_EQ(PickerState.EditHeight, 10);
}

TEST_F(ChildScanTest, AnUpperCasePromptSinglesOutItsOwnStatic) {
  Child("STATIC", "", 0);
  HWND status = Child("STATIC", "status line", 20);
  Child("STATIC", "pick a folder below", 40);  // upper-cased, it starts with the prompt
  BrowseOptions.Prompt = "PICK A FOLDER";
  Initialise();
  EXPECT_EQ(PickerState.StatusWnd, status);
  EXPECT_EQ(PickerState.StatusTop, RectOf(status).top - RectOf(dialog_).top);
  EXPECT_EQ(PickerState.StatusHeight, 10);
}

TEST_F(ChildScanTest, ALowerCasePromptMakesEveryStaticTheStatusLine) {
  Child("STATIC", "Pick a folder", 0);
  HWND last = Child("STATIC", "Pick a folder", 20);
  BrowseOptions.Prompt = "Pick a folder";
  Initialise();
  EXPECT_EQ(PickerState.StatusWnd, last);
}

TEST_F(ChildScanTest, WithoutAnOkButtonTheAddedWindowsKeepTheSystemFont) {
  // An OK button left from an earlier showing, with a font of its own.
  const HWND stale_ok = CreateWindowExA(0, "BUTTON", "OK", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                        nullptr, nullptr);
  const auto odd_font = reinterpret_cast<WPARAM>(GetStockObject(13));
  SendMessageA(stale_ok, WM_SETFONT, odd_font, FALSE);
  PickerState.OkWnd = stale_ok;
  BrowseOptions.ShowPathBox = kTrue;
  modBrowseForFolder::BeginShowing();
  BrowseCallbackProc(dialog_, BFFM_INITIALIZED, 0, 0);
  ASSERT_NE(PickerState.PathBoxWnd, nullptr);
  EXPECT_EQ(PickerState.OkWnd, nullptr);
  EXPECT_NE(static_cast<WPARAM>(SendMessageA(PickerState.PathBoxWnd, WM_GETFONT, 0, 0)), odd_font);
}

}  // namespace
}  // namespace picker_test
