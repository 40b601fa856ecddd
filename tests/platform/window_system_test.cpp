// The headless window system where the program and the picker rely on it:
// subclassing through saved procedure values, button groups, edit boxes,
// dialog keys, nested modal loops, geometry and the size drag.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/forms_runtime.h"
#include "platform/win32.h"
#include "support_ui/ui_fixture.h"

namespace tessmark {
namespace {

using headless::ScriptedUser;
using platform::LongToWndProc;
using platform::WndProcToLong;

HWND MakeTopLevel(const char* caption = "Top") {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DefWindowProcA;
  wc.lpszClassName = "TestTop";
  RegisterClassA(&wc);
  HWND top = CreateWindowExA(0, "TestTop", caption, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 20, 300,
                             200, nullptr, nullptr, nullptr, nullptr);
  return top;
}

HWND MakeChild(HWND parent, const char* cls, const char* text, DWORD style, int id, int x = 0,
               int y = 0, int w = 50, int h = 20) {
  return CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

// Two subclass procedures stacked on one edit box, as the picker installs
// them: each passes what it does not consume to the one it replaced.
LONG_PTR g_saved_outer = 0;
LONG_PTR g_saved_inner = 0;
std::vector<std::string> g_seen;

LRESULT CALLBACK InnerProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_CHAR) g_seen.push_back("inner " + std::string(1, static_cast<char>(wparam)));
  return CallWindowProcA(LongToWndProc(g_saved_inner), hwnd, msg, wparam, lparam);
}

LRESULT CALLBACK OuterProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_CHAR) {
    g_seen.push_back("outer " + std::string(1, static_cast<char>(wparam)));
    if (wparam == '\r') return 0;  // consumed: never reaches the edit box
  }
  return CallWindowProcA(LongToWndProc(g_saved_outer), hwnd, msg, wparam, lparam);
}

class WindowSystemTest : public testing::UiTest {};

TEST_F(WindowSystemTest, SubclassChainPassesOnThroughSavedProceduresAndUnwinds) {
  HWND top = MakeTopLevel();
  HWND edit = MakeChild(top, "Edit", "", ES_MULTILINE | ES_WANTRETURN, 7);
  const LONG_PTR original = GetWindowLongPtrA(edit, GWLP_WNDPROC);
  ASSERT_NE(original, 0);
  EXPECT_NE(LongToWndProc(original), nullptr);

  headless::ClearMessageLog();
  g_saved_inner = SetWindowLongPtrA(edit, GWLP_WNDPROC, WndProcToLong(InnerProc));
  g_saved_outer = SetWindowLongPtrA(edit, GWLP_WNDPROC, WndProcToLong(OuterProc));
  EXPECT_TRUE(headless::MessageLog().empty()) << "subclassing sends no message";
  EXPECT_EQ(g_saved_inner, original);
  EXPECT_EQ(g_saved_outer, WndProcToLong(InnerProc));
  EXPECT_EQ(GetWindowLongPtrA(edit, GWLP_WNDPROC), WndProcToLong(OuterProc));

  g_seen.clear();
  SetFocus(edit);
  user().Type("ab\n");
  EXPECT_EQ(ScriptedUser::Text(edit), "ab");
  EXPECT_EQ(g_seen,
            (std::vector<std::string>{"outer a", "inner a", "outer b", "inner b", "outer \r"}));

  // Taking the procedures off in reverse order restores the control.
  EXPECT_EQ(SetWindowLongPtrA(edit, GWLP_WNDPROC, g_saved_outer), WndProcToLong(OuterProc));
  EXPECT_EQ(SetWindowLongPtrA(edit, GWLP_WNDPROC, g_saved_inner), WndProcToLong(InnerProc));
  g_seen.clear();
  user().Type("\n");
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(ScriptedUser::Text(edit), "ab\r\n");
}

TEST_F(WindowSystemTest, BmClickGoesThroughTheMouseMessagesSoSubclassesSeeIt) {
  HWND top = MakeTopLevel();
  HWND button = MakeChild(top, "Button", "Press", BS_PUSHBUTTON, 9);
  headless::ClearMessageLog();
  SendMessageA(button, BM_CLICK, 0, 0);
  std::vector<UINT> to_button;
  bool parent_told = false;
  for (const auto& m : headless::MessageLog()) {
    if (m.hwnd == button && (m.message == WM_LBUTTONDOWN || m.message == WM_LBUTTONUP)) {
      to_button.push_back(m.message);
    }
    if (m.hwnd == top && m.message == WM_COMMAND && m.wparam == MAKEWPARAM(9, BN_CLICKED) &&
        m.lparam == reinterpret_cast<LPARAM>(button)) {
      parent_told = true;
    }
  }
  EXPECT_EQ(to_button, (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP}));
  EXPECT_TRUE(parent_told);
}

TEST_F(WindowSystemTest, AutoRadioButtonsClearOnlyTheirOwnGroup) {
  HWND top = MakeTopLevel();
  HWND a1 = MakeChild(top, "Button", "A1", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 1, 0, 0);
  HWND a2 = MakeChild(top, "Button", "A2", BS_AUTORADIOBUTTON, 2, 0, 30);
  HWND b1 = MakeChild(top, "Button", "B1", BS_AUTORADIOBUTTON | WS_GROUP, 3, 0, 60);
  HWND b2 = MakeChild(top, "Button", "B2", BS_AUTORADIOBUTTON, 4, 0, 90);
  SendMessageA(a1, BM_SETCHECK, BST_CHECKED, 0);
  SendMessageA(b2, BM_SETCHECK, BST_CHECKED, 0);

  ASSERT_TRUE(user().Click(a2));
  EXPECT_FALSE(ScriptedUser::Checked(a1));
  EXPECT_TRUE(ScriptedUser::Checked(a2));
  EXPECT_TRUE(ScriptedUser::Checked(b2)) << "the other group is left alone";
  EXPECT_EQ(GetWindowLongA(a2, GWL_STYLE) & WS_TABSTOP, WS_TABSTOP);
  EXPECT_EQ(GetWindowLongA(a1, GWL_STYLE) & WS_TABSTOP, 0);

  ASSERT_TRUE(user().Click(b1));
  EXPECT_TRUE(ScriptedUser::Checked(b1));
  EXPECT_FALSE(ScriptedUser::Checked(b2));
  EXPECT_TRUE(ScriptedUser::Checked(a2));

  // A disabled button takes no click.
  EnableWindow(a1, FALSE);
  EXPECT_FALSE(user().Click(a1));
  EXPECT_FALSE(ScriptedUser::Checked(a1));
}

TEST_F(WindowSystemTest, EditBoxSelectionAndTyping) {
  HWND top = MakeTopLevel();
  HWND edit = MakeChild(top, "Edit", "", ES_AUTOHSCROLL, 5);
  SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Data"));
  SendMessageA(edit, EM_SETSEL, 4, 4);
  SetFocus(edit);
  user().Type("\\Sub");
  EXPECT_EQ(ScriptedUser::Text(edit), "Data\\Sub");
  SendMessageA(edit, EM_SETSEL, 0, -1);
  EXPECT_EQ(ScriptedUser::Selection(edit), (std::pair<DWORD, DWORD>{0, 8}));
  user().Type("x");
  EXPECT_EQ(ScriptedUser::Text(edit), "x");
  user().Type("\b\b");
  EXPECT_EQ(ScriptedUser::Text(edit), "");
  // A single-line box takes no line break.
  user().Type("a\nb");
  EXPECT_EQ(ScriptedUser::Text(edit), "ab");
}

TEST_F(WindowSystemTest, DialogKeysMoveTheFocusAndTheDefaultButtonAndSendCommands) {
  // A plain window (no DM_GETDEFID of its own) run with IsDialogMessageA, as
  // the main window is.
  HWND top = MakeTopLevel();
  HWND edit = MakeChild(top, "Edit", "", WS_TABSTOP, 20);
  MakeChild(top, "Static", "label", 0, 21);
  HWND go = MakeChild(top, "Button", "Go", WS_TABSTOP, 22);
  HWND stop = MakeChild(top, "Button", "Stop", WS_TABSTOP | BS_NOTIFY, 23);
  const auto commands_after = [&](UINT key, char ch) {
    headless::ClearMessageLog();
    user().PressKey(key, ch);
    std::vector<WPARAM> commands;
    for (const auto& m : headless::MessageLog()) {
      if (m.hwnd == top && m.message == WM_COMMAND && HIWORD(m.wparam) == BN_CLICKED) {
        commands.push_back(m.wparam);
      }
    }
    return commands;
  };
  const auto type = [](HWND button) { return GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK; };
  using Commands = std::vector<WPARAM>;
  const Commands ok{IDOK}, cancel{IDCANCEL};

  SetFocus(edit);
  EXPECT_EQ(commands_after(VK_RETURN, '\r'), ok);
  EXPECT_EQ(commands_after(VK_ESCAPE, 27), cancel);

  // A push button reached with Tab becomes the default button: Enter clicks
  // it; Escape still only sends IDCANCEL.
  EXPECT_TRUE(commands_after(VK_TAB, '\t').empty());
  EXPECT_EQ(GetFocus(), go);
  EXPECT_EQ(type(go), BS_DEFPUSHBUTTON);
  EXPECT_EQ(commands_after(VK_RETURN, '\r'), Commands{MAKEWPARAM(22, BN_CLICKED)});
  EXPECT_EQ(commands_after(VK_ESCAPE, 27), cancel);
  user().PressKey(VK_TAB, '\t');
  EXPECT_EQ(GetFocus(), stop);
  EXPECT_EQ(type(go), BS_PUSHBUTTON) << "one default button at a time";
  EXPECT_EQ(GetWindowLongA(stop, GWL_STYLE) & (BS_TYPEMASK | BS_NOTIFY | WS_TABSTOP),
            BS_DEFPUSHBUTTON | BS_NOTIFY | WS_TABSTOP)
      << "only the button's type changes";
  EXPECT_EQ(commands_after(VK_RETURN, '\r'), Commands{MAKEWPARAM(23, BN_CLICKED)});

  // Tab wraps around, skips the label, and leaves no default button.
  user().PressKey(VK_TAB, '\t');
  EXPECT_EQ(GetFocus(), edit);
  EXPECT_EQ(type(stop), BS_PUSHBUTTON);
  EXPECT_EQ(commands_after(VK_RETURN, '\r'), ok);

  // The mouse moves the focus without making the button the default one.
  ASSERT_TRUE(user().Click(go));
  EXPECT_EQ(GetFocus(), go);
  EXPECT_EQ(type(go), BS_PUSHBUTTON);
  EXPECT_EQ(commands_after(VK_RETURN, '\r'), ok);
}

// A window whose button opens the text-entry box from its click handler, so
// the box's loop runs nested inside the caller's.
std::string g_answer;
HGDIOBJ g_box_font = nullptr;
int g_depth_inside = 0;
bool g_owner_enabled_inside = true;

LRESULT CALLBACK AskingProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_COMMAND && LOWORD(wparam) == 42) {
    g_answer = platform::InputBox("Name of the folder", "Asking");
    return 0;
  }
  if (msg == WM_DESTROY) PostQuitMessage(3);
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

void RunLoop(HWND window) {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0)) {
    if (!IsDialogMessageA(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

TEST_F(WindowSystemTest, TextEntryBoxRunsNestedInTheCallersLoop) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = AskingProc;
  wc.lpszClassName = "Asking";
  RegisterClassA(&wc);
  HWND top = CreateWindowExA(0, "Asking", "Asker", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                             nullptr, nullptr, nullptr, nullptr);
  HWND ask = MakeChild(top, "Button", "Ask", WS_TABSTOP, 42);
  g_answer = "unset";

  user().Then([&] { user().Click(ask); });
  user().Then([&] {
    HWND box = FindWindowA(platform::kInputBoxClass, nullptr);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(ScriptedUser::Text(box), "Asking");
    g_depth_inside = headless::ModalDepth();
    g_owner_enabled_inside = ScriptedUser::Enabled(top);
    EXPECT_EQ(GetWindow(box, GW_OWNER), top);
    g_box_font = reinterpret_cast<HGDIOBJ>(SendMessageA(GetDlgItem(box, IDOK), WM_GETFONT, 0, 0));
    for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      EXPECT_EQ(FontOf(c), "MS Sans Serif -11") << "the forms runtime's font";
    }
    user().Type("New one");
    user().PressKey(VK_RETURN, '\r');  // the box's default button is OK
  });
  user().Then([&] {
    EXPECT_EQ(g_answer, "New one");
    LOGFONTA gone{};
    EXPECT_EQ(GetObjectA(g_box_font, sizeof gone, &gone), 0) << "the font goes with the box";
    EXPECT_TRUE(ScriptedUser::Enabled(top));
    EXPECT_EQ(FindWindowA(platform::kInputBoxClass, nullptr), nullptr);
    EXPECT_EQ(GetActiveWindow(), top);
    user().Click(ask);
  });
  user().Then([&] {
    HWND box = FindWindowA(platform::kInputBoxClass, nullptr);
    ASSERT_NE(box, nullptr);
    user().Type("dropped");
    user().Click(GetDlgItem(box, IDCANCEL));
  });
  user().Then([&] {
    EXPECT_EQ(g_answer, "") << "Cancel gives empty text";
    DestroyWindow(top);
  });
  EXPECT_TRUE(ScriptedUser::RunUntilInputRunsOut([&] { RunLoop(top); }));
  EXPECT_EQ(g_depth_inside, 1) << "the box's loop runs inside the click's dispatch";
  EXPECT_FALSE(g_owner_enabled_inside) << "the owner is disabled while the box is open";
  EXPECT_EQ(headless::QuitCode(), 3);
  EXPECT_EQ(headless::VerifyTree(), "");
}

TEST_F(WindowSystemTest, QuitInsideANestedLoopReachesTheOuterLoop) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = AskingProc;
  wc.lpszClassName = "Asking";
  RegisterClassA(&wc);
  HWND top = CreateWindowExA(0, "Asking", "Asker", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                             nullptr, nullptr, nullptr, nullptr);
  HWND ask = MakeChild(top, "Button", "Ask", WS_TABSTOP, 42);
  user().Then([&] { user().Click(ask); });
  user().Then([&] { PostQuitMessage(7); });
  EXPECT_TRUE(ScriptedUser::RunUntilInputRunsOut([&] { RunLoop(top); }))
      << "the outer loop must end too";
  EXPECT_EQ(headless::QuitCode(), 7);
  EXPECT_EQ(FindWindowA(platform::kInputBoxClass, nullptr), nullptr);
}

TEST_F(WindowSystemTest, GeometryFollowsFramesAndParents) {
  const DWORD style = WS_OVERLAPPEDWINDOW;
  RECT frame{0, 0, 430, 134};
  AdjustWindowRectEx(&frame, style, FALSE, 0);
  HWND top = MakeTopLevel();
  MoveWindow(top, 100, 50, frame.right - frame.left, frame.bottom - frame.top, TRUE);
  RECT client;
  GetClientRect(top, &client);
  EXPECT_EQ(client.right, 430);
  EXPECT_EQ(client.bottom, 134);

  HWND child = MakeChild(top, "Static", "", 0, 1, 8, 8, 89, 33);
  RECT r;
  GetWindowRect(child, &r);
  POINT origin{0, 0};
  ClientToScreen(top, &origin);
  EXPECT_EQ(r.left, origin.x + 8);
  EXPECT_EQ(r.top, origin.y + 8);
  EXPECT_EQ(r.right - r.left, 89);

  // Moving the parent carries the child; moving the child is relative to
  // the parent's client area.
  MoveWindow(top, 200, 150, 500, 300, TRUE);
  GetWindowRect(child, &r);
  EXPECT_EQ(r.left, origin.x + 100 + 8);
  EXPECT_EQ(r.top, origin.y + 100 + 8);
  MoveWindow(child, 20, 30, 40, 10, TRUE);
  POINT p{r.left, r.top};
  GetWindowRect(child, &r);
  p = POINT{r.left, r.top};
  ScreenToClient(top, &p);
  EXPECT_EQ(p.x, 20);
  EXPECT_EQ(p.y, 30);
}

LRESULT CALLBACK MinimumSizeProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_GETMINMAXINFO) {
    auto* info = reinterpret_cast<MINMAXINFO*>(lparam);
    info->ptMinTrackSize = POINT{320, 320};
    return 0;
  }
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

TEST_F(WindowSystemTest, SizeBoxDragHonoursTheMinimumTrackSize) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = MinimumSizeProc;
  wc.lpszClassName = "Sized";
  RegisterClassA(&wc);
  HWND top = CreateWindowExA(0, "Sized", "Sized", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 400,
                             nullptr, nullptr, nullptr, nullptr);
  HWND grip = MakeChild(top, "ScrollBar", "", SBS_SIZEGRIP | SBS_SIZEBOXBOTTOMRIGHTALIGN, 0, 370,
                        350, 16, 16);
  headless::ClearMessageLog();
  user().DragSizeBox(grip, -200, 50);
  RECT r;
  GetWindowRect(top, &r);
  EXPECT_EQ(r.right - r.left, 320);
  EXPECT_EQ(r.bottom - r.top, 450);
  std::vector<UINT> order;
  for (const auto& m : headless::MessageLog()) {
    if (m.hwnd == top && (m.message == WM_ENTERSIZEMOVE || m.message == WM_GETMINMAXINFO ||
                          m.message == WM_SIZE || m.message == WM_EXITSIZEMOVE)) {
      order.push_back(m.message);
    }
  }
  EXPECT_EQ(order,
            (std::vector<UINT>{WM_ENTERSIZEMOVE, WM_GETMINMAXINFO, WM_SIZE, WM_EXITSIZEMOVE}));
}

TEST_F(WindowSystemTest, ClassNamesAreCutToTheBuffer) {
  HWND top = MakeTopLevel();
  HWND button = MakeChild(top, "BUTTON", "x", 0, 1);
  char name[14];
  EXPECT_EQ(GetClassNameA(button, name, 14), 6);
  EXPECT_STREQ(name, "Button") << "the class keeps its registered spelling";
  EXPECT_EQ(GetClassNameA(button, name, 4), 3);
  EXPECT_STREQ(name, "But");
  EXPECT_EQ(GetClassNameA(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234)), name, 14), 0);
  EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234))));
}

TEST_F(WindowSystemTest, DestroyingAWindowTakesItsChildrenAndOwnedWindows) {
  HWND top = MakeTopLevel();
  HWND child = MakeChild(top, "Edit", "", 0, 1);
  HWND owned = CreateWindowExA(0, "TestTop", "Owned", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10, child,
                               nullptr, nullptr, nullptr);
  ASSERT_EQ(GetWindow(owned, GW_OWNER), top) << "the owner is the top-level window";
  SetFocus(child);
  DestroyWindow(top);
  EXPECT_FALSE(IsWindow(top));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(IsWindow(owned));
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_EQ(headless::VerifyTree(), "");
}

}  // namespace
}  // namespace tessmark
