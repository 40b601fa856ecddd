// A scripted user's operations on the open folder dialog: what a person does
// with the mouse and keyboard, delivered as the messages the system would send.
#include "tests/support/browse_user.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "platform/headless/browse_dialog.h"

namespace tessmark::headless {

namespace browse_user {

namespace {

HWND Dialog() {
  const HWND dialog = OpenBrowseDialog();
  if (dialog == nullptr) throw std::logic_error("no folder dialog is open");
  return dialog;
}

const BrowseDialogRecord& Record(HWND dialog) {
  for (auto it = BrowseDialogs().rbegin(); it != BrowseDialogs().rend(); ++it) {
    if (it->dialog == dialog) return *it;
  }
  throw std::logic_error("the open folder dialog has no record");
}

bool ClassIs(HWND hwnd, const char* name) {
  char buffer[64] = {};
  GetClassNameA(hwnd, buffer, sizeof buffer);
  return std::string(buffer) == name;
}

// The first visible child of the dialog that is not one of the system's own.
HWND AddedChild(const char* class_name) {
  const HWND dialog = Dialog();
  const BrowseDialogRecord& r = Record(dialog);
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (child == r.ok || child == r.cancel || child == r.title_static || child == r.status_static ||
        child == r.edit || child == r.tree) {
      continue;
    }
    if (ClassIs(child, class_name) && IsWindowVisible(child)) return child;
  }
  return nullptr;
}

HWND Required(HWND hwnd, const char* what) {
  if (hwnd == nullptr) throw std::logic_error(std::string("the folder dialog has no ") + what);
  return hwnd;
}

LPARAM CentreOf(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  return MAKELPARAM((r.right - r.left) / 2, (r.bottom - r.top) / 2);
}

void Click(HWND button) {
  SendMessageA(button, WM_LBUTTONDOWN, 0x0001, CentreOf(button));
  SendMessageA(button, WM_LBUTTONUP, 0, CentreOf(button));
}

}  // namespace

HWND PathBox() { return AddedChild("Edit"); }
HWND FolderButton() { return AddedChild("Button"); }

void SelectFolder(const std::string& path) {
  Dialog();
  if (!SelectPathInOpenDialog(path)) {
    throw std::logic_error("the folder dialog does not show " + path);
  }
}

void SelectVirtualItem(const std::string& name) {
  Dialog();
  if (!SelectVirtualInOpenDialog(name)) {
    throw std::logic_error("the folder dialog does not show " + name);
  }
}

void TypeIntoPathBox(const std::string& text, bool press_enter) {
  const HWND box = Required(PathBox(), "path box");
  SetFocus(box);
  SendMessageA(box, EM_SETSEL, 0, -1);
  if (text.empty()) {
    // Nothing to type over the old text: delete it.
    SendMessageA(box, WM_KEYDOWN, VK_DELETE, 0x01530001);
    SendMessageA(box, WM_KEYUP, VK_DELETE, static_cast<LPARAM>(0xC1530001u));
  }
  for (const char c : text) {
    SendMessageA(box, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 1);
  }
  if (press_enter) {
    SendMessageA(box, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    SendMessageA(box, WM_CHAR, 13, 0x001C0001);
    SendMessageA(box, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
  }
}

void PressFolderButton() {
  const HWND button = Required(FolderButton(), "New Folder button or check box");
  SendMessageA(button, WM_LBUTTONDOWN, 0x0001, CentreOf(button));
}

void ReleaseFolderButton() {
  const HWND button = Required(FolderButton(), "New Folder button or check box");
  SendMessageA(button, WM_LBUTTONUP, 0, CentreOf(button));
}

void ClickFolderButton() {
  PressFolderButton();
  ReleaseFolderButton();
}

void PressF1OnFolderButton() {
  const HWND button = Required(FolderButton(), "New Folder button or check box");
  SendMessageA(button, WM_KEYDOWN, VK_F1, 0x003B0001);
  HELPINFO help{};
  help.cbSize = sizeof help;
  help.iContextType = HELPINFO_WINDOW;
  help.iCtrlId = GetDlgCtrlID(button);
  help.hItemHandle = button;
  SendMessageA(button, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
  SendMessageA(button, WM_KEYUP, VK_F1, static_cast<LPARAM>(0xC03B0001u));
}

void DragDialog(int dx, int dy) {
  const HWND dialog = Dialog();
  RECT r{};
  GetWindowRect(dialog, &r);
  SendMessageA(dialog, WM_ENTERSIZEMOVE, 0, 0);
  MoveWindow(dialog, r.left + dx, r.top + dy, r.right - r.left, r.bottom - r.top, TRUE);
  SendMessageA(dialog, WM_EXITSIZEMOVE, 0, 0);
}

void ResizeDialog(int width, int height) {
  const HWND dialog = Dialog();
  RECT r{};
  GetWindowRect(dialog, &r);
  SendMessageA(dialog, WM_ENTERSIZEMOVE, 0, 0);
  // The system's proposal, which the window may change.
  MINMAXINFO limits{};
  const int screen_w = GetSystemMetrics(SM_CXSCREEN);
  const int screen_h = GetSystemMetrics(SM_CYSCREEN);
  limits.ptMaxSize = POINT{screen_w, screen_h};
  limits.ptMaxPosition = POINT{0, 0};
  limits.ptMinTrackSize = POINT{GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
  limits.ptMaxTrackSize = POINT{screen_w + 12, screen_h + 12};
  SendMessageA(dialog, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
  const LONG w = std::max(limits.ptMinTrackSize.x, std::min<LONG>(width, limits.ptMaxTrackSize.x));
  const LONG h = std::max(limits.ptMinTrackSize.y, std::min<LONG>(height, limits.ptMaxTrackSize.y));
  MoveWindow(dialog, r.left, r.top, w, h, TRUE);
  SendMessageA(dialog, WM_EXITSIZEMOVE, 0, 0);
}

void ClickOk() { Click(Required(Record(Dialog()).ok, "OK button")); }
void ClickCancel() { Click(Required(Record(Dialog()).cancel, "Cancel button")); }

}  // namespace browse_user

}  // namespace tessmark::headless
