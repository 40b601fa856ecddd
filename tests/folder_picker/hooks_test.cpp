// Installing and removing the subclass procedures, and releasing the added
// windows: only windows of the current showing are ever touched.
#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

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

// The picker's own procedures, as SetWindowLongPtrA sees them.
std::set<LONG_PTR> PickerProcedures() {
  using tessmark::platform::WndProcToLong;
  return {WndProcToLong(picker::PathBoxProc), WndProcToLong(picker::FolderButtonProc),
          WndProcToLong(picker::SizeGripProc), WndProcToLong(picker::DialogProc)};
}

// Where in the message log each window got its WM_DESTROY, and the procedure
// that got it.
struct Destroyed {
  std::size_t at;
  LONG_PTR proc;
};
std::map<HWND, std::vector<Destroyed>> Destructions() {
  std::map<HWND, std::vector<Destroyed>> destroyed;
  const auto& log = hl::MessageLog();
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i].message == WM_DESTROY) destroyed[log[i].hwnd].push_back({i, log[i].proc});
  }
  return destroyed;
}

TEST_F(HooksTest, ReleaseRestoresEveryProcedureBeforeItTakesTheWindowsDown) {
  // A showing whose added windows are all still there when it is released.
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "TestDialog";
  RegisterClassA(&wc);
  const HWND dialog = CreateWindowExA(0, "TestDialog", "", WS_POPUP | WS_VISIBLE, 0, 0, 320, 320,
                                      nullptr, nullptr, nullptr, nullptr);
  const auto child = [](HWND parent, const char* cls) {
    return CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE, 0, 0, 16, 16, parent, nullptr,
                           nullptr, nullptr);
  };
  picker::BeginShowing();
  auto& s = PickerState;
  s.DialogWnd = dialog;
  s.PathBoxWnd = child(dialog, "EDIT");
  s.PathLabelWnd = child(dialog, "STATIC");
  s.FolderButtonWnd = child(dialog, "BUTTON");
  s.SizeGripWnd = child(dialog, "SCROLLBAR");
  s.SizeGripInnerWnd = child(s.SizeGripWnd, "SCROLLBAR");
  s.OldPathBoxProc = picker::HookPathBox();
  s.OldFolderButtonProc = picker::HookFolderButton();
  s.OldSizeGripProc = picker::HookSizeGrip();
  s.OldDialogProc = picker::HookDialog();
  const std::map<HWND, LONG_PTR> original = {{s.PathBoxWnd, s.OldPathBoxProc},
                                             {s.FolderButtonWnd, s.OldFolderButtonProc},
                                             {s.SizeGripWnd, s.OldSizeGripProc},
                                             {dialog, s.OldDialogProc}};
  const std::vector<HWND> added = {s.PathLabelWnd, s.PathBoxWnd, s.FolderButtonWnd, s.SizeGripWnd,
                                   s.SizeGripInnerWnd};
  hl::ClearMessageLog();
  picker::ReleaseDialog();

  std::vector<HWND> restored;
  for (const hl::ProcedureChange& c : hl::ProcedureChanges()) {
    restored.push_back(c.hwnd);
    EXPECT_EQ(c.new_proc, original.at(c.hwnd));
    EXPECT_EQ(c.at, 0u) << "every procedure is back before the first window goes";
  }
  EXPECT_EQ(restored, (std::vector<HWND>{s.FolderButtonWnd, dialog, s.SizeGripWnd, s.PathBoxWnd}));
  const auto destroyed = Destructions();
  std::vector<std::pair<std::size_t, HWND>> order;
  for (const HWND h : added) {
    ASSERT_EQ(destroyed.count(h), 1u);
    ASSERT_EQ(destroyed.at(h).size(), 1u);
    EXPECT_EQ(PickerProcedures().count(destroyed.at(h)[0].proc), 0u);
    order.emplace_back(destroyed.at(h)[0].at, h);
    EXPECT_FALSE(IsWindow(h));
  }
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()))
      << "label, path box, button, size grip, inner grip";
  EXPECT_TRUE(IsWindow(dialog)) << "the dialog is the system's to destroy";
  EXPECT_EQ(GetWindowLongPtrA(dialog, GWLP_WNDPROC), original.at(dialog));

  // Released once: a second release takes nothing down and changes no
  // window's procedure (the dialog's original one may be set again).
  hl::ClearMessageLog();
  picker::ReleaseDialog();
  EXPECT_TRUE(hl::MessageLog().empty());
  for (const hl::ProcedureChange& c : hl::ProcedureChanges()) {
    EXPECT_EQ(c.new_proc, c.old_proc);
  }
}

TEST_F(HooksTest, NewFolderRestoresProceduresBeforeItTakesItsShowingDown) {
  MainWindowOptions();
  BrowseOptions.Resizable = kTrue;
  BrowseOptions.InitialFolder = "C:\\";
  struct Showing {
    HWND dialog, box, label, button, grip;
    LONG_PTR dialog_proc, box_proc, button_proc, grip_proc;  // the ones the hooks replaced
  };
  std::vector<Showing> showings;
  const auto record = [&] {
    const auto& s = PickerState;
    showings.push_back({s.DialogWnd, s.PathBoxWnd, s.PathLabelWnd, s.FolderButtonWnd, s.SizeGripWnd,
                        s.OldDialogProc, s.OldPathBoxProc, s.OldFolderButtonProc,
                        s.OldSizeGripProc});
  };
  Then([&] {
    record();
    hl::ClearMessageLog();
    user::ClickFolderButton();
  });
  Then([&] { AnswerTextEntry("Archive"); });
  Then([&] {
    record();
    user::ClickOk();
  });
  EXPECT_EQ(BrowseForFolder(), "C:\\Archive");
  ASSERT_TRUE(ScriptDone());
  ASSERT_EQ(showings.size(), 2u);
  const Showing& first = showings[0];
  const Showing& second = showings[1];
  const auto& log = hl::MessageLog();
  const auto destroyed = Destructions();

  // The restart: the four procedures back, then the Cancel click, then the
  // added windows down, each going to its own procedure.
  std::vector<std::pair<HWND, LONG_PTR>> restores;
  std::size_t last_restore = 0;
  for (const hl::ProcedureChange& c : hl::ProcedureChanges()) {
    if (c.hwnd == first.dialog || c.hwnd == first.box || c.hwnd == first.button ||
        c.hwnd == first.grip) {
      restores.emplace_back(c.hwnd, c.new_proc);
      last_restore = c.at;
    }
  }
  EXPECT_EQ(restores, (std::vector<std::pair<HWND, LONG_PTR>>{{first.button, first.button_proc},
                                                              {first.dialog, first.dialog_proc},
                                                              {first.box, first.box_proc},
                                                              {first.grip, first.grip_proc}}));
  std::size_t cancel = log.size();
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i].hwnd == first.dialog && log[i].message == WM_COMMAND && log[i].wparam == IDCANCEL) {
      cancel = std::min(cancel, i);
    }
  }
  ASSERT_LT(cancel, log.size());
  EXPECT_LE(last_restore, cancel);
  std::size_t previous = cancel;
  for (const HWND h : {first.label, first.box, first.button, first.grip, first.dialog}) {
    ASSERT_EQ(destroyed.count(h), 1u);
    ASSERT_EQ(destroyed.at(h).size(), 1u) << "taken down once";
    EXPECT_GT(destroyed.at(h)[0].at, previous) << "in the order of the restart, the dialog last";
    EXPECT_EQ(PickerProcedures().count(destroyed.at(h)[0].proc), 0u) << "unhooked before it went";
    previous = destroyed.at(h)[0].at;
  }

  // The last showing: the system takes its dialog down with the children
  // before the picker gets control back, so they go with the picker's
  // procedures still in place, which pass the end on. The release after it
  // finds nothing left: no procedure is set and nothing is destroyed twice.
  for (const HWND h : {second.dialog, second.box, second.label, second.button, second.grip}) {
    ASSERT_EQ(destroyed.count(h), 1u);
    EXPECT_EQ(destroyed.at(h).size(), 1u);
    EXPECT_FALSE(IsWindow(h));
  }
  const std::size_t second_gone = destroyed.at(second.dialog)[0].at;
  for (const hl::ProcedureChange& c : hl::ProcedureChanges()) {
    EXPECT_LE(c.at, second_gone) << "nothing is set on a window that is gone";
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
