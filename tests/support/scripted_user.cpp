// The scripted user's input and reading of the screen.
#include "tests/support/scripted_user.h"

#include <cctype>

#include "platform/win32.h"

namespace tessmark::headless {
namespace {

UINT VirtualKeyOf(char ch) {
  const auto u = static_cast<unsigned char>(ch);
  if (std::isalpha(u)) return static_cast<UINT>(std::toupper(u));
  if (std::isdigit(u) || ch == ' ') return u;
  switch (ch) {
    case '\r':
    case '\n':
      return VK_RETURN;
    case '\t':
      return VK_TAB;
    case '\b':
      return VK_BACK;
    case '\\':
      return 0xDC;  // VK_OEM_5
    case ':':
    case ';':
      return 0xBA;  // VK_OEM_1
    case '.':
      return 0xBE;  // VK_OEM_PERIOD
    default:
      return 0xDF;  // VK_OEM_8
  }
}

bool ReachableByMouse(HWND window) {
  if (!IsWindow(window) || !IsWindowVisible(window)) return false;
  for (HWND h = window; h != nullptr && h != GetDesktopWindow(); h = GetAncestor(h, GA_PARENT)) {
    if (!IsWindowEnabled(h)) return false;
  }
  return true;
}

}  // namespace

ScriptedUser::ScriptedUser() {
  SetIdleHandler([this] { return OnIdle(); });
}

ScriptedUser::~ScriptedUser() { SetIdleHandler(nullptr); }

void ScriptedUser::Then(std::function<void()> action) { actions_.push_back(std::move(action)); }

bool ScriptedUser::OnIdle() {
  if (actions_.empty()) return false;
  auto action = std::move(actions_.front());
  actions_.pop_front();
  const bool was_acting = acting_;
  acting_ = true;
  struct Restore {
    bool& flag;
    bool value;
    ~Restore() { flag = value; }
  } restore{acting_, was_acting};
  action();
  return true;
}

bool ScriptedUser::RunUntilInputRunsOut(const std::function<void()>& program) {
  try {
    program();
    return true;
  } catch (const InputExhausted&) {
    return false;
  }
}

void ScriptedUser::Deliver() {
  if (acting_) return;  // the program's loop is waiting and will take it
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // leave it for the program's loop
      break;
    }
    HWND root =
        msg.hwnd != nullptr && IsWindow(msg.hwnd) ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root == nullptr || !IsDialogMessageA(root, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

bool ScriptedUser::Click(HWND window) {
  if (!ReachableByMouse(window)) return false;
  HWND root = GetAncestor(window, GA_ROOT);
  if (GetActiveWindow() != root) SetActiveWindow(root);
  RECT r;
  GetWindowRect(window, &r);
  POINT p{(r.right - r.left) / 2, (r.bottom - r.top) / 2};
  const LPARAM at = MAKELPARAM(p.x, p.y);
  SendMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
               MAKELPARAM(1 /* HTCLIENT */, WM_LBUTTONDOWN));
  PostMessageA(window, WM_MOUSEMOVE, 0, at);
  PostMessageA(window, WM_LBUTTONDOWN, 1 /* MK_LBUTTON */, at);
  PostMessageA(window, WM_LBUTTONUP, 0, at);
  Deliver();
  return true;
}

void ScriptedUser::PressKey(UINT virtual_key, char ch) {
  PostKeyboardInput(WM_KEYDOWN, virtual_key, 1);
  if (ch != 0) {
    PostKeyboardInput(WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(ch)), 1);
  }
  PostKeyboardInput(WM_KEYUP, virtual_key, static_cast<LPARAM>(0xC0000001u));
  Deliver();
}

void ScriptedUser::Type(const std::string& text) {
  for (char ch : text) PressKey(VirtualKeyOf(ch), ch == '\n' ? '\r' : ch);
}

void ScriptedUser::Retype(const std::string& text) {
  // Selecting everything (as by dragging over it) acts on the box that has
  // the focus when the input is taken, like the keys that follow.
  PostKeyboardInput(EM_SETSEL, 0, -1);
  Deliver();
  if (text.empty()) {
    PressKey(VK_DELETE);
  } else {
    Type(text);
  }
}

void ScriptedUser::DragSizeBox(HWND size_box, int dx, int dy) {
  if (!ReachableByMouse(size_box)) return;
  // The drag distance is what the pointer does after the press.
  SetPendingDrag(dx, dy);
  PostMessageA(size_box, WM_LBUTTONDOWN, 1, 0);
  PostMessageA(size_box, WM_LBUTTONUP, 0, 0);
  Deliver();
}

void ScriptedUser::DragFrame(HWND top_level, int dx, int dy) {
  if (!ReachableByMouse(top_level)) return;
  SetPendingDrag(dx, dy);
  PostMessageA(top_level, WM_SYSCOMMAND, SC_SIZE + WMSZ_BOTTOMRIGHT, 0);
  Deliver();
}

void ScriptedUser::AnswerNextMessageBox(int button) { QueueMessageBoxAnswer(button); }

void ScriptedUser::AnswerNextMessageBox(std::function<int(const MessageBoxRecord&)> answer) {
  QueueMessageBoxAnswer(std::move(answer));
}

std::string ScriptedUser::Text(HWND window) {
  const int n = GetWindowTextLengthA(window);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  const int got = GetWindowTextA(window, text.data(), n + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

bool ScriptedUser::Checked(HWND button) {
  return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}
bool ScriptedUser::Enabled(HWND window) { return IsWindowEnabled(window) != FALSE; }
bool ScriptedUser::Visible(HWND window) { return IsWindowVisible(window) != FALSE; }
HWND ScriptedUser::Focus() { return GetFocus(); }
bool ScriptedUser::Hourglass() { return HourglassShown(); }
bool ScriptedUser::ProgramEnded() { return QuitPosted(); }

std::pair<DWORD, DWORD> ScriptedUser::Selection(HWND edit) {
  DWORD start = 0;
  DWORD end = 0;
  SendMessageA(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  return {start, end};
}

}  // namespace tessmark::headless
