// Window objects of the headless window system: classes, handles, the tree
// of parents, children and owners, window longs, geometry, visibility,
// enabling, activation and focus.
#include <algorithm>
#include <cstring>

#include "platform/headless/state.h"
#include "platform/win32.h"

namespace tessmark::headless {
namespace {

HWND NewHandle() {
  State& s = state();
  const uintptr_t number = s.next_handle;
  s.next_handle += 2;
  return HandleFromNumber(number);
}

uintptr_t Number(HWND hwnd) { return reinterpret_cast<uintptr_t>(hwnd); }

std::vector<HWND>& SiblingList(Window& w) {
  State& s = state();
  if (w.parent != nullptr) return FindWindowRecord(w.parent)->children;
  return s.top_level;
}

void Unlink(Window& w) {
  auto& list = SiblingList(w);
  list.erase(std::remove(list.begin(), list.end(), w.handle), list.end());
}

void OffsetTree(Window& w, LONG dx, LONG dy) {
  w.rect.left += dx;
  w.rect.right += dx;
  w.rect.top += dy;
  w.rect.bottom += dy;
  for (HWND child : w.children) OffsetTree(*FindWindowRecord(child), dx, dy);
}

bool IsDescendant(HWND ancestor, HWND hwnd) {
  for (Window* w = FindWindowRecord(hwnd); w != nullptr && w->handle != nullptr;) {
    if (w->handle == ancestor) return true;
    if (w->parent == nullptr) return false;
    w = FindWindowRecord(w->parent);
  }
  return false;
}

HWND Root(HWND hwnd) {
  Window* w = FindWindowRecord(hwnd);
  while (w != nullptr && w->parent != nullptr) w = FindWindowRecord(w->parent);
  return w != nullptr ? w->handle : nullptr;
}

void Activate(HWND hwnd) {
  State& s = state();
  if (s.active == hwnd) return;
  HWND old = s.active;
  s.active = hwnd;
  if (old != nullptr && IsWindow(old)) {
    SendMessageA(old, WM_ACTIVATE, WA_INACTIVE, reinterpret_cast<LPARAM>(hwnd));
  }
  if (hwnd != nullptr) {
    auto& list = s.top_level;
    list.erase(std::remove(list.begin(), list.end(), hwnd), list.end());
    list.insert(list.begin(), hwnd);
    SendMessageA(hwnd, WM_ACTIVATE, WA_ACTIVE, reinterpret_cast<LPARAM>(old));
  }
}

// After `gone` stops being usable, activation passes to its owner or to
// the next visible, enabled top-level window.
void ActivateAnother(HWND gone, HWND owner) {
  State& s = state();
  if (s.active != gone) return;
  s.active = nullptr;
  if (owner != nullptr && IsWindow(owner) && IsWindowVisible(owner) && IsWindowEnabled(owner)) {
    Activate(owner);
    return;
  }
  for (HWND h : s.top_level) {
    if (h != gone && IsWindowVisible(h) && IsWindowEnabled(h)) {
      Activate(h);
      return;
    }
  }
}

void DestroyTree(HWND hwnd) {
  State& s = state();
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr || w->destroying) return;
  w->destroying = true;
  // Owned windows go first, as on Windows.
  std::vector<HWND> owned;
  for (HWND h : s.top_level) {
    Window* o = FindWindowRecord(h);
    if (o != nullptr && o->owner == hwnd) owned.push_back(h);
  }
  for (HWND h : owned) DestroyTree(h);
  w = FindWindowRecord(hwnd);
  w->style &= ~static_cast<DWORD>(WS_VISIBLE);
  if (s.focus != nullptr && IsDescendant(hwnd, s.focus)) s.focus = nullptr;
  SendMessageA(hwnd, WM_DESTROY, 0, 0);
  std::vector<HWND> children = FindWindowRecord(hwnd)->children;
  for (HWND child : children) DestroyTree(child);
  SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
  w = FindWindowRecord(hwnd);
  HWND owner = w->owner;
  Unlink(*w);
  s.windows.erase(Number(hwnd));
  ActivateAnother(hwnd, owner);
  s.queue.erase(std::remove_if(s.queue.begin(), s.queue.end(),
                               [hwnd](const MSG& m) { return m.hwnd == hwnd; }),
                s.queue.end());
}

const WindowClass* LookUpClass(LPCSTR name) {
  if (name == nullptr || reinterpret_cast<uintptr_t>(name) < 0x10000) return nullptr;
  auto& classes = state().classes;
  auto it = classes.find(UpperAscii(name));
  return it == classes.end() ? nullptr : it->second.get();
}

void AddClass(const char* name, WNDPROC proc, int extra, bool system) {
  auto c = std::make_unique<WindowClass>();
  c->name = name;
  c->proc = proc;
  c->window_extra = extra;
  c->system = system;
  c->cursor = LoadCursorA(nullptr, IDC_ARROW);
  state().classes[UpperAscii(name)] = std::move(c);
}

}  // namespace

State& state() {
  static State* s = new State;
  static bool ready = false;
  if (!ready) {
    ready = true;
    Reset();
  }
  return *s;
}

HWND HandleFromNumber(uintptr_t number) { return reinterpret_cast<HWND>(number); }

Window* FindWindowRecord(HWND hwnd) {
  auto& windows = state().windows;
  auto it = windows.find(Number(hwnd));
  if (it == windows.end()) {
    state().last_error = ERROR_INVALID_WINDOW_HANDLE;
    return nullptr;
  }
  return it->second.get();
}

void RegisterSystemClasses() {
  AddClass("Button", ButtonProc, 0, true);
  AddClass("Edit", EditProc, 0, true);
  AddClass("Static", StaticProc, 0, true);
  AddClass("ScrollBar", ScrollBarProc, 0, true);
  AddClass("#32769", DesktopProc, 0, true);
  State& s = state();
  auto desktop = std::make_unique<Window>();
  desktop->handle = NewHandle();
  desktop->window_class = LookUpClass("#32769");
  desktop->style = WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN;
  desktop->rect = RECT{0, 0, s.screen_width, s.screen_height};
  desktop->proc = DesktopProc;
  s.desktop = desktop->handle;
  s.windows[Number(desktop->handle)] = std::move(desktop);
}

RECT NonClientInsets(DWORD style, DWORD ex_style) {
  RECT r{0, 0, 0, 0};
  auto grow = [&r](LONG cx, LONG cy) {
    r.left += cx;
    r.right += cx;
    r.top += cy;
    r.bottom += cy;
  };
  const bool child = (style & WS_CHILD) != 0;
  if ((style & WS_CAPTION) == WS_CAPTION) r.top += GetSystemMetrics(SM_CYCAPTION);
  const bool thick =
      (style & WS_THICKFRAME) != 0 && (style & (WS_DLGFRAME | WS_BORDER)) != WS_DLGFRAME;
  const bool dialog_frame = (ex_style & WS_EX_DLGMODALFRAME) != 0 ||
                            ((style & WS_DLGFRAME) != 0 && (style & WS_THICKFRAME) == 0);
  const bool thin = (style & WS_BORDER) != 0 || (style & (WS_CHILD | WS_POPUP)) == 0;
  if (thick) {
    grow(GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME));
  } else if (dialog_frame) {
    grow(GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYDLGFRAME));
  } else if (thin && !(child && (style & WS_BORDER) == 0)) {
    grow(GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER));
  }
  if ((ex_style & WS_EX_CLIENTEDGE) != 0)
    grow(GetSystemMetrics(SM_CXEDGE), GetSystemMetrics(SM_CYEDGE));
  if ((ex_style & WS_EX_STATICEDGE) != 0)
    grow(GetSystemMetrics(SM_CXBORDER), GetSystemMetrics(SM_CYBORDER));
  return r;
}

POINT ClientOrigin(const Window& w) {
  const RECT in = NonClientInsets(w.style, w.ex_style);
  return POINT{w.rect.left + in.left, w.rect.top + in.top};
}

void SetWindowRectRaw(Window& w, const RECT& rect) {
  OffsetTree(w, rect.left - w.rect.left, rect.top - w.rect.top);
  w.rect.right = rect.right;
  w.rect.bottom = rect.bottom;
}

}  // namespace tessmark::headless

using tessmark::headless::FindWindowRecord;
using tessmark::headless::state;
using tessmark::headless::Window;

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
  using namespace tessmark::headless;
  if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpfnWndProc == nullptr) {
    state().last_error = ERROR_INVALID_PARAMETER;
    return 0;
  }
  const std::string key = UpperAscii(wc->lpszClassName);
  auto& classes = state().classes;
  auto it = classes.find(key);
  if (it != classes.end() && !it->second->system) {
    state().last_error = ERROR_CLASS_ALREADY_EXISTS;
    return 0;
  }
  auto c = std::make_unique<WindowClass>();
  c->name = wc->lpszClassName;
  c->proc = wc->lpfnWndProc;
  c->style = wc->style;
  c->window_extra = wc->cbWndExtra;
  c->instance = wc->hInstance;
  c->cursor = wc->hCursor;
  classes[key] = std::move(c);
  return static_cast<ATOM>(0xC000 + classes.size());
}

BOOL WINAPI UnregisterClassA(LPCSTR class_name, HINSTANCE) {
  using namespace tessmark::headless;
  if (class_name == nullptr) return FALSE;
  auto& classes = state().classes;
  auto it = classes.find(UpperAscii(class_name));
  if (it == classes.end() || it->second->system) {
    state().last_error = ERROR_CANNOT_FIND_WND_CLASS;
    return FALSE;
  }
  for (const auto& [number, w] : state().windows) {
    if (w->window_class == it->second.get()) return FALSE;  // still in use
  }
  classes.erase(it);
  return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR window_name, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
  using namespace tessmark::headless;
  State& s = state();
  const WindowClass* wc = LookUpClass(class_name);
  if (wc == nullptr) {
    s.last_error = ERROR_CANNOT_FIND_WND_CLASS;
    return nullptr;
  }
  const bool child = (style & WS_CHILD) != 0;
  if (parent == s.desktop) parent = nullptr;
  if (parent != nullptr && FindWindowRecord(parent) == nullptr) return nullptr;
  if (child && parent == nullptr) {
    s.last_error = ERROR_INVALID_WINDOW_HANDLE;
    return nullptr;
  }
  auto w = std::make_unique<Window>();
  w->handle = NewHandle();
  w->window_class = wc;
  w->text = window_name != nullptr ? window_name : "";
  w->style = style & ~static_cast<DWORD>(WS_VISIBLE);
  w->ex_style = ex_style;
  w->instance = instance;
  w->proc = wc->proc;
  w->extra.assign(static_cast<size_t>(std::max(0, wc->window_extra)), 0);
  if (child) {
    w->parent = parent;
    w->id = static_cast<LONG>(reinterpret_cast<intptr_t>(menu));
    const POINT origin = ClientOrigin(*FindWindowRecord(parent));
    w->rect = RECT{origin.x + x, origin.y + y, origin.x + x + width, origin.y + y + height};
  } else {
    w->owner = parent != nullptr ? Root(parent) : nullptr;
    if (x == CW_USEDEFAULT) x = y = 22 + 22 * static_cast<int>(s.top_level.size() % 8);
    if (width == CW_USEDEFAULT) {
      width = s.screen_width * 3 / 4;
      height = s.screen_height * 3 / 4;
    }
    w->rect = RECT{x, y, x + width, y + height};
  }
  HWND hwnd = w->handle;
  s.windows[Number(hwnd)] = std::move(w);
  if (child) {
    FindWindowRecord(parent)->children.push_back(hwnd);
  } else {
    s.top_level.push_back(hwnd);
  }

  CREATESTRUCTA cs{
      param,       instance,   menu,    parent, height, width, y, x, static_cast<LONG>(style),
      window_name, class_name, ex_style};
  if (SendMessageA(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) == 0 || !IsWindow(hwnd) ||
      SendMessageA(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    return nullptr;
  }
  if (!IsWindow(hwnd)) return nullptr;
  RECT client;
  GetClientRect(hwnd, &client);
  SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
  if ((style & WS_VISIBLE) != 0 && IsWindow(hwnd)) ShowWindow(hwnd, SW_SHOW);
  return IsWindow(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
  using namespace tessmark::headless;
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr || hwnd == state().desktop) return FALSE;
  DestroyTree(hwnd);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) {
  auto& windows = state().windows;
  auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
  // A window being destroyed is still a window until its WM_NCDESTROY.
  return it != windows.end() ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hwnd) {
  for (Window* w = FindWindowRecord(hwnd); w != nullptr;) {
    if ((w->style & WS_VISIBLE) == 0) return FALSE;
    if (w->parent == nullptr) return TRUE;
    w = FindWindowRecord(w->parent);
  }
  return FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hwnd) {
  Window* w = FindWindowRecord(hwnd);
  return w != nullptr && (w->style & WS_DISABLED) == 0 ? TRUE : FALSE;
}

BOOL WINAPI EnableWindow(HWND hwnd, BOOL enable) {
  using namespace tessmark::headless;
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return FALSE;
  const BOOL was_disabled = (w->style & WS_DISABLED) != 0 ? TRUE : FALSE;
  if ((enable != FALSE) == (was_disabled != FALSE)) {
    if (enable) {
      w->style &= ~static_cast<DWORD>(WS_DISABLED);
    } else {
      w->style |= WS_DISABLED;
      if (state().focus != nullptr && IsDescendant(hwnd, state().focus)) SetFocus(nullptr);
    }
    SendMessageA(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
  }
  return was_disabled;
}

BOOL WINAPI ShowWindow(HWND hwnd, int cmd_show) {
  using namespace tessmark::headless;
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return FALSE;
  const bool was_visible = (w->style & WS_VISIBLE) != 0;
  const bool show = cmd_show != SW_HIDE;
  if (show != was_visible) {
    SendMessageA(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    w = FindWindowRecord(hwnd);
    if (w == nullptr) return was_visible ? TRUE : FALSE;
    if (show) {
      w->style |= WS_VISIBLE;
    } else {
      w->style &= ~static_cast<DWORD>(WS_VISIBLE);
      if (state().focus != nullptr && IsDescendant(hwnd, state().focus)) state().focus = nullptr;
    }
  }
  if (w->parent == nullptr) {
    if (show && cmd_show != SW_SHOWNA && cmd_show != SW_SHOWNOACTIVATE &&
        (w->style & WS_DISABLED) == 0) {
      Activate(hwnd);
    } else if (!show) {
      ActivateAnother(hwnd, w->owner);
    }
  }
  return was_visible ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hwnd) { return IsWindow(hwnd); }

HWND WINAPI GetDesktopWindow() { return state().desktop; }

HWND WINAPI GetParent(HWND hwnd) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return nullptr;
  if ((w->style & WS_CHILD) != 0) return w->parent;
  if ((w->style & WS_POPUP) != 0) return w->owner;
  return nullptr;
}

HWND WINAPI GetWindow(HWND hwnd, UINT cmd) {
  using namespace tessmark::headless;
  State& s = state();
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return nullptr;
  if (cmd == GW_CHILD) {
    const auto& list = hwnd == s.desktop ? s.top_level : w->children;
    return list.empty() ? nullptr : list.front();
  }
  if (cmd == GW_OWNER) return w->owner;
  if (hwnd == s.desktop) return nullptr;
  const auto& list = SiblingList(*w);
  auto it = std::find(list.begin(), list.end(), hwnd);
  switch (cmd) {
    case GW_HWNDFIRST:
      return list.front();
    case GW_HWNDLAST:
      return list.back();
    case GW_HWNDNEXT:
      return it + 1 == list.end() ? nullptr : *(it + 1);
    case GW_HWNDPREV:
      return it == list.begin() ? nullptr : *(it - 1);
    default:
      s.last_error = ERROR_INVALID_PARAMETER;
      return nullptr;
  }
}

HWND WINAPI GetAncestor(HWND hwnd, UINT flags) {
  using namespace tessmark::headless;
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr || hwnd == state().desktop) return nullptr;
  switch (flags) {
    case GA_PARENT:
      return w->parent != nullptr ? w->parent : state().desktop;
    case GA_ROOT:
      return Root(hwnd);
    case GA_ROOTOWNER: {
      HWND root = Root(hwnd);
      while (FindWindowRecord(root)->owner != nullptr) root = FindWindowRecord(root)->owner;
      return root;
    }
    default:
      return nullptr;
  }
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  Window* w = FindWindowRecord(dialog);
  if (w == nullptr) return nullptr;
  for (HWND child : w->children) {
    if (FindWindowRecord(child)->id == id) return child;
  }
  return nullptr;
}

int WINAPI GetDlgCtrlID(HWND hwnd) {
  Window* w = FindWindowRecord(hwnd);
  return w != nullptr ? static_cast<int>(w->id) : 0;
}

HWND WINAPI FindWindowA(LPCSTR class_name, LPCSTR window_name) {
  using namespace tessmark::headless;
  for (HWND h : state().top_level) {
    Window* w = FindWindowRecord(h);
    if (w->destroying) continue;
    if (class_name != nullptr && UpperAscii(class_name) != UpperAscii(w->window_class->name)) {
      continue;
    }
    if (window_name != nullptr && w->text != window_name) continue;
    return h;
  }
  return nullptr;
}

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text) {
  if (!IsWindow(hwnd)) return FALSE;
  return SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : ""))
             ? TRUE
             : FALSE;
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR buffer, int max_count) {
  if (buffer == nullptr || max_count <= 0) return 0;
  buffer[0] = '\0';
  if (!IsWindow(hwnd)) return 0;
  return static_cast<int>(SendMessageA(hwnd, WM_GETTEXT, static_cast<WPARAM>(max_count),
                                       reinterpret_cast<LPARAM>(buffer)));
}

int WINAPI GetWindowTextLengthA(HWND hwnd) {
  if (!IsWindow(hwnd)) return 0;
  return static_cast<int>(SendMessageA(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

int WINAPI GetClassNameA(HWND hwnd, LPSTR buffer, int max_count) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr || buffer == nullptr || max_count <= 0) return 0;
  const std::string& name = w->window_class->name;
  const size_t n = std::min(name.size(), static_cast<size_t>(max_count - 1));
  std::memcpy(buffer, name.data(), n);
  buffer[n] = '\0';
  return static_cast<int>(n);
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr || rect == nullptr) return FALSE;
  *rect = w->rect;
  return TRUE;
}

BOOL WINAPI GetClientRect(HWND hwnd, LPRECT rect) {
  using namespace tessmark::headless;
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr || rect == nullptr) return FALSE;
  const RECT in = NonClientInsets(w->style, w->ex_style);
  rect->left = 0;
  rect->top = 0;
  rect->right = std::max<LONG>(0, w->rect.right - w->rect.left - in.left - in.right);
  rect->bottom = std::max<LONG>(0, w->rect.bottom - w->rect.top - in.top - in.bottom);
  return TRUE;
}

BOOL WINAPI ClientToScreen(HWND hwnd, LPPOINT point) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr || point == nullptr) return FALSE;
  const POINT origin = tessmark::headless::ClientOrigin(*w);
  point->x += origin.x;
  point->y += origin.y;
  return TRUE;
}

BOOL WINAPI ScreenToClient(HWND hwnd, LPPOINT point) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr || point == nullptr) return FALSE;
  const POINT origin = tessmark::headless::ClientOrigin(*w);
  point->x -= origin.x;
  point->y -= origin.y;
  return TRUE;
}

BOOL WINAPI AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL, DWORD ex_style) {
  if (rect == nullptr) return FALSE;
  const RECT in = tessmark::headless::NonClientInsets(style, ex_style);
  rect->left -= in.left;
  rect->top -= in.top;
  rect->right += in.right;
  rect->bottom += in.bottom;
  return TRUE;
}

BOOL WINAPI SetWindowPos(HWND hwnd, HWND, int x, int y, int cx, int cy, UINT flags) {
  using namespace tessmark::headless;
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr || hwnd == state().desktop) return FALSE;
  // Positions of child windows are relative to the parent's client area.
  POINT origin{0, 0};
  if (w->parent != nullptr) origin = ClientOrigin(*FindWindowRecord(w->parent));
  WINDOWPOS pos{hwnd, nullptr, x, y, cx, cy, flags};
  if ((flags & SWP_NOMOVE) != 0) {
    pos.x = w->rect.left - origin.x;
    pos.y = w->rect.top - origin.y;
  }
  if ((flags & SWP_NOSIZE) != 0) {
    pos.cx = w->rect.right - w->rect.left;
    pos.cy = w->rect.bottom - w->rect.top;
  }
  SendMessageA(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
  w = FindWindowRecord(hwnd);
  if (w == nullptr) return FALSE;
  const RECT old = w->rect;
  const RECT fresh{origin.x + pos.x, origin.y + pos.y, origin.x + pos.x + std::max(0, pos.cx),
                   origin.y + pos.y + std::max(0, pos.cy)};
  SetWindowRectRaw(*w, fresh);
  pos.flags = flags & ~static_cast<UINT>(SWP_NOMOVE | SWP_NOSIZE);
  if (old.left == fresh.left && old.top == fresh.top) pos.flags |= SWP_NOMOVE;
  if (old.right - old.left == fresh.right - fresh.left &&
      old.bottom - old.top == fresh.bottom - fresh.top) {
    pos.flags |= SWP_NOSIZE;
  }
  SendMessageA(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
  return SetWindowPos(hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

BOOL WINAPI RedrawWindow(HWND hwnd, const RECT*, void*, UINT) {
  return hwnd == nullptr || IsWindow(hwnd) ? TRUE : FALSE;
}

BOOL WINAPI InvalidateRect(HWND hwnd, const RECT*, BOOL) {
  return hwnd == nullptr || IsWindow(hwnd) ? TRUE : FALSE;
}

LONG WINAPI GetWindowLongA(HWND hwnd, int index) {
  using namespace tessmark::headless;
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  switch (index) {
    case GWL_HINSTANCE:
      return HandleToLong(w->instance);
    case GWL_HWNDPARENT:
      return HandleToLong(w->parent != nullptr ? w->parent : w->owner);
    case GWL_ID:
      return w->id;
    case GWL_STYLE:
      return static_cast<LONG>(w->style);
    case GWL_EXSTYLE:
      return static_cast<LONG>(w->ex_style);
    case GWL_USERDATA:
      return static_cast<LONG>(w->user_data);
    default:
      break;
  }
  if (index < 0 || static_cast<size_t>(index) + sizeof(LONG) > w->extra.size()) {
    state().last_error = ERROR_INVALID_INDEX;
    return 0;
  }
  LONG value;
  std::memcpy(&value, w->extra.data() + index, sizeof value);
  return value;
}

LONG WINAPI SetWindowLongA(HWND hwnd, int index, LONG value) {
  using namespace tessmark::headless;
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  LONG old = 0;
  switch (index) {
    case GWL_ID:
      old = w->id;
      w->id = value;
      return old;
    case GWL_USERDATA:
      old = static_cast<LONG>(w->user_data);
      w->user_data = value;
      return old;
    case GWL_STYLE:
    case GWL_EXSTYLE: {
      DWORD& field = index == GWL_STYLE ? w->style : w->ex_style;
      STYLESTRUCT change{field, static_cast<DWORD>(value)};
      SendMessageA(hwnd, WM_STYLECHANGING, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(&change));
      w = FindWindowRecord(hwnd);
      if (w == nullptr) return 0;
      DWORD& target = index == GWL_STYLE ? w->style : w->ex_style;
      old = static_cast<LONG>(target);
      target = change.styleNew;
      SendMessageA(hwnd, WM_STYLECHANGED, static_cast<WPARAM>(index),
                   reinterpret_cast<LPARAM>(&change));
      return old;
    }
    default:
      break;
  }
  if (index < 0 || static_cast<size_t>(index) + sizeof(LONG) > w->extra.size()) {
    state().last_error = ERROR_INVALID_INDEX;
    return 0;
  }
  std::memcpy(&old, w->extra.data() + index, sizeof old);
  std::memcpy(w->extra.data() + index, &value, sizeof value);
  return old;
}

// The window procedure is pointer-sized and only reached through these, as on
// 64-bit Windows; every other index is one of the 32-bit window longs.
LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index) {
  using namespace tessmark::headless;
  if (index != GWLP_WNDPROC && index != GWLP_USERDATA) return GetWindowLongA(hwnd, index);
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  return index == GWLP_USERDATA ? w->user_data : reinterpret_cast<LONG_PTR>(w->proc);
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
  using namespace tessmark::headless;
  if (index != GWLP_WNDPROC && index != GWLP_USERDATA)
    return SetWindowLongA(hwnd, index, static_cast<LONG>(value));
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  if (index == GWLP_USERDATA) {
    const LONG_PTR old = w->user_data;
    w->user_data = value;
    return old;
  }
  // Subclassing: the new procedure receives the next message; nothing is sent now.
  const WNDPROC old = w->proc;
  w->proc = reinterpret_cast<WNDPROC>(value);
  state().procedure_changes.push_back(
      ProcedureChange{hwnd, reinterpret_cast<LONG_PTR>(old), value, state().log.size()});
  return reinterpret_cast<LONG_PTR>(old);
}

HWND WINAPI SetFocus(HWND hwnd) {
  using namespace tessmark::headless;
  State& s = state();
  HWND old = s.focus;
  if (hwnd != nullptr) {
    Window* w = FindWindowRecord(hwnd);
    if (w == nullptr) return nullptr;
    HWND root = Root(hwnd);
    if (s.active != root) Activate(root);
  }
  if (old == hwnd) return old;
  s.focus = hwnd;
  if (old != nullptr && IsWindow(old)) {
    SendMessageA(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
  }
  if (hwnd != nullptr && s.focus == hwnd && IsWindow(hwnd)) {
    SendMessageA(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
  }
  return old;
}

HWND WINAPI GetFocus() { return state().focus; }

HWND WINAPI GetActiveWindow() { return state().active; }

HWND WINAPI SetActiveWindow(HWND hwnd) {
  using namespace tessmark::headless;
  HWND old = state().active;
  if (hwnd != nullptr && FindWindowRecord(hwnd) == nullptr) return nullptr;
  Activate(hwnd != nullptr ? Root(hwnd) : nullptr);
  return old;
}

BOOL WINAPI SetForegroundWindow(HWND hwnd) {
  return SetActiveWindow(hwnd) != nullptr || IsWindow(hwnd);
}

int WINAPI GetSystemMetrics(int index) {
  const auto& s = state();
  switch (index) {
    case SM_CXSCREEN:
      return s.screen_width;
    case SM_CYSCREEN:
      return s.screen_height;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
      return 16;
    case SM_CYCAPTION:
      return 19;
    case SM_CXBORDER:
    case SM_CYBORDER:
      return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
      return 3;
    case SM_CXFRAME:
    case SM_CYFRAME:
      return 4;
    case SM_CXMINTRACK:
      return 112;
    case SM_CYMINTRACK:
      return 27;
    case SM_CXEDGE:
    case SM_CYEDGE:
      return 2;
    default:
      return 0;
  }
}
