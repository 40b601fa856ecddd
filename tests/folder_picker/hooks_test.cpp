// Installing and removing the subclass procedures, and releasing the added
// windows: only windows of the current showing are ever touched.
#include "picker_fixture.h"

namespace picker_test {
namespace {

using modBrowseForFolder::BrowseForFolder;
namespace picker = modBrowseForFolder;

class HooksTest : public PickerTest {
 protected:
  static HWND Popup(const char* cls) {
    return CreateWindowExA(0, cls, "victim", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr,
                           nullptr);
  }
};

TEST_F(HooksTest, HookAndUnhookSwapTheWindowProcedure) {
  const HWND edit = Popup("EDIT");
  const LONG_PTR original = GetWindowLongPtrA(edit, GWLP_WNDPROC);
  picker::BeginShowing();
  PickerState.PathBoxWnd = edit;
  PickerState.OldPathBoxProc = picker::HookPathBox();
  EXPECT_EQ(PickerState.OldPathBoxProc, original);
  EXPECT_EQ(GetWindowLongPtrA(edit, GWLP_WNDPROC),
            tessmark::platform::WndProcToLong(picker::PathBoxProc));
  // Messages it does not take still reach the edit box.
  SetWindowTextA(edit, "typed");
  EXPECT_EQ(TextOf(edit), "typed");
  picker::UnhookPathBox();
  EXPECT_EQ(GetWindowLongPtrA(edit, GWLP_WNDPROC), original);
  EXPECT_EQ(PickerState.OldPathBoxProc, original);  // the saved value stays
}

TEST_F(HooksTest, UnhooksAndReleaseLeaveWindowsOfOtherShowingsAlone) {
  // Handles left from an earlier showing that now name other live windows.
  const HWND victim = Popup("EDIT");
  const LONG_PTR proc = GetWindowLongPtrA(victim, GWLP_WNDPROC);
  PickerState.PathBoxWnd = victim;
  PickerState.PathLabelWnd = victim;
  PickerState.FolderButtonWnd = victim;
  PickerState.SizeGripWnd = victim;
  PickerState.SizeGripInnerWnd = victim;
  PickerState.OkWnd = victim;
  PickerState.OldPathBoxProc = tessmark::platform::WndProcToLong(picker::DialogProc);
  PickerState.OldFolderButtonProc = PickerState.OldPathBoxProc;
  PickerState.OldSizeGripProc = PickerState.OldPathBoxProc;

  // A showing that adds nothing, then the release after it.
  Then([] {
    user::SelectFolder("C:\\");
    user::ClickOk();
  });
  EXPECT_EQ(BrowseForFolder(), "C:\\");
  EXPECT_TRUE(IsWindow(victim));
  EXPECT_EQ(GetWindowLongPtrA(victim, GWLP_WNDPROC), proc);
  EXPECT_EQ(TextOf(victim), "victim");
}

TEST_F(HooksTest, ReleaseAfterAFullShowingTakesEverythingDown) {
  MainWindowOptions();
  BrowseOptions.Resizable = kTrue;
  std::vector<HWND> added;
  Then([&] {
    added = {PickerState.PathBoxWnd, PickerState.PathLabelWnd, PickerState.FolderButtonWnd,
             PickerState.SizeGripWnd};
    user::ClickCancel();
  });
  BrowseForFolder();
  for (HWND h : added) {
    EXPECT_NE(h, nullptr);
    EXPECT_FALSE(IsWindow(h));
  }
  EXPECT_EQ(hl::VerifyTree(), "");
}

TEST_F(HooksTest, UnhookOfAWindowThatIsGoneDoesNothing) {
  const HWND edit = Popup("EDIT");
  picker::BeginShowing();
  PickerState.PathBoxWnd = edit;
  PickerState.OldPathBoxProc = picker::HookPathBox();
  DestroyWindow(edit);
  picker::UnhookPathBox();
  picker::ReleaseDialog();
  EXPECT_FALSE(IsWindow(edit));
}

}  // namespace
}  // namespace picker_test
