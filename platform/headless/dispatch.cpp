// Message delivery of the headless window system: sent and posted messages,
// the message queue and loop functions, the default window procedure, and
// the keyboard handling of dialog-style windows (IsDialogMessageA, as the
// system's dialog manager does it for a window that is not a dialog: Tab
// moves the focus and the default push button with it, Enter clicks the
// default push button or sends IDOK, Escape sends IDCANCEL).
#include <algorithm>
#include <cstring>

#include "platform/headless/state.h"
#include "platform/win32.h"

namespace tessmark::headless {
namespace {

bool Matches(const MSG& m, HWND hwnd, UINT filter_min, UINT filter_max) {
  if (hwnd != nullptr && m.hwnd != hwnd) {
    // A window filter also takes the window's descendants.
    HWND h = m.hwnd;
    while (h != nullptr && h != hwnd) h = IsWindow(h) ? GetAncestor(h, GA_PARENT) : nullptr;
    if (h != hwnd) return false;
  }
  if (filter_min == 0 && filter_max == 0) return true;
  return m.message >= filter_min && m.message <= filter_max;
}

// Keyboard input goes to the window with the focus at the time it is taken.
MSG Resolved(const MSG& m) {
  if (m.time != kKeyboardInputMark) return m;
  MSG r = m;
  r.time = 0;
  r.hwnd = GetFocus() != nullptr ? GetFocus() : GetActiveWindow();
  return r;
}

bool Take(MSG* out, HWND hwnd, UINT filter_min, UINT filter_max, bool remove) {
  auto& queue = state().queue;
  // Keyboard input with no window to go to is dropped.
  queue.erase(std::remove_if(queue.begin(), queue.end(),
                             [](const MSG& m) {
                               return m.time == kKeyboardInputMark && Resolved(m).hwnd == nullptr;
                             }),
              queue.end());
  auto it = std::find_if(queue.begin(), queue.end(), [&](const MSG& m) {
    return Matches(Resolved(m), hwnd, filter_min, filter_max);
  });
  if (it == queue.end()) return false;
  *out = Resolved(*it);
  if (remove) queue.erase(it);
  return true;
}

bool TakeQuit(MSG* out, bool remove) {
  State& s = state();
  if (!s.quit_pending) return false;
  *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(s.quit_code), 0, 0, {0, 0}};
  if (remove) s.quit_pending = false;
  return true;
}

// Applies the window's minimum and maximum tracking size to a planned move,
// as the default procedure does for sizable and top-level windows.
void ClampToTrackSize(HWND hwnd, WINDOWPOS* pos) {
  const DWORD style = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE));
  if ((style & WS_THICKFRAME) == 0 && (style & (WS_POPUP | WS_CHILD)) != 0) return;
  const State& s = state();
  MINMAXINFO info{};
  info.ptMaxSize = POINT{s.screen_width, s.screen_height};
  info.ptMaxPosition = POINT{0, 0};
  info.ptMinTrackSize = POINT{GetSystemMetrics(SM_CXMINTRACK), GetSystemMetrics(SM_CYMINTRACK)};
  info.ptMaxTrackSize = POINT{s.screen_width + 8, s.screen_height + 8};
  SendMessageA(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  pos->cx = std::min<int>(pos->cx, info.ptMaxTrackSize.x);
  pos->cy = std::min<int>(pos->cy, info.ptMaxTrackSize.y);
  pos->cx = std::max<int>(pos->cx, info.ptMinTrackSize.x);
  pos->cy = std::max<int>(pos->cy, info.ptMinTrackSize.y);
}

// The move/size loop that a drag on the frame or on a size box starts:
// the bottom-right corner follows the pointer by the pending drag distance.
void RunSizeDrag(HWND hwnd) {
  State& s = state();
  const POINT drag = s.pending_drag;
  s.pending_drag = POINT{0, 0};
  SendMessageA(hwnd, WM_ENTERSIZEMOVE, 0, 0);
  RECT r;
  GetWindowRect(hwnd, &r);
  SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left + drag.x, r.bottom - r.top + drag.y,
               SWP_NOZORDER | SWP_NOACTIVATE);
  if (IsWindow(hwnd)) SendMessageA(hwnd, WM_EXITSIZEMOVE, 0, 0);
}

HWND NextTabStop(HWND dialog, HWND from, bool backwards) {
  std::vector<HWND> stops;
  for (HWND h = GetWindow(dialog, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    const DWORD style = static_cast<DWORD>(GetWindowLongA(h, GWL_STYLE));
    if ((style & WS_TABSTOP) != 0 && (style & WS_VISIBLE) != 0 && (style & WS_DISABLED) == 0) {
      stops.push_back(h);
    }
  }
  if (stops.empty()) return nullptr;
  auto it = std::find(stops.begin(), stops.end(), from);
  if (it == stops.end()) return backwards ? stops.back() : stops.front();
  if (backwards) return it == stops.begin() ? stops.back() : *(it - 1);
  return it + 1 == stops.end() ? stops.front() : *(it + 1);
}

bool IsInside(HWND ancestor, HWND hwnd) {
  for (HWND h = hwnd; h != nullptr; h = GetAncestor(h, GA_PARENT)) {
    if (h == ancestor) return true;
    if (!IsWindow(h)) return false;
  }
  return false;
}

// Push buttons among `parent`'s descendants that are the default one.
void ClearDefaultButtons(HWND parent) {
  for (HWND h = GetWindow(parent, GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    if ((SendMessageA(h, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) != 0) {
      SendMessageA(h, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    }
    ClearDefaultButtons(h);
  }
}

// After the keyboard moved the focus to `next`: a push button that takes the
// focus becomes the default button, and no other stays one; when the focus
// goes to a default button, the dialog's own default (DM_GETDEFID) is it.
void MoveDefaultButton(HWND dialog, HWND next) {
  const LRESULT next_code = SendMessageA(next, WM_GETDLGCODE, 0, 0);
  ClearDefaultButtons(dialog);
  if ((next_code & DLGC_DEFPUSHBUTTON) != 0) {
    const LRESULT def = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    HWND item = HIWORD(def) == DC_HASDEFID ? GetDlgItem(dialog, LOWORD(def)) : nullptr;
    if (item != nullptr) {
      const LRESULT code = SendMessageA(item, WM_GETDLGCODE, 0, 0);
      if ((code & DLGC_BUTTON) != 0 && (code & DLGC_UNDEFPUSHBUTTON) != 0) {
        SendMessageA(item, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
      }
    }
  } else if ((next_code & DLGC_BUTTON) != 0 && (next_code & DLGC_UNDEFPUSHBUTTON) != 0) {
    SendMessageA(next, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  }
}

}  // namespace

LRESULT Deliver(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, bool posted) {
  State& s = state();
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  s.log.push_back(LoggedMessage{hwnd, msg, wparam, lparam, posted, s.send_depth,
                                reinterpret_cast<LONG_PTR>(w->proc)});
  WNDPROC proc = w->proc;
  if (proc == nullptr) return 0;
  ++s.send_depth;
  struct Leave {
    ~Leave() { --state().send_depth; }
  } leave;
  return proc(hwnd, msg, wparam, lparam);
}

void NotifyParent(HWND control, WORD code) {
  HWND parent = GetParent(control);
  if (parent == nullptr) return;
  SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code),
               reinterpret_cast<LPARAM>(control));
}

}  // namespace tessmark::headless

using tessmark::headless::state;

LRESULT WINAPI SendMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (!IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return tessmark::headless::Deliver(hwnd, msg, wparam, lparam, false);
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (hwnd != nullptr && !IsWindow(hwnd)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  state().queue.push_back(MSG{hwnd, msg, wparam, lparam, 0, {0, 0}});
  return TRUE;
}

void WINAPI PostQuitMessage(int exit_code) {
  auto& s = state();
  s.quit_pending = true;
  s.quit_posted = true;
  s.quit_code = exit_code;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND hwnd, UINT filter_min, UINT filter_max) {
  using namespace tessmark::headless;
  for (;;) {
    if (Take(msg, hwnd, filter_min, filter_max, true)) return TRUE;
    if (TakeQuit(msg, true)) return FALSE;
    // The queue is empty: this is where the user acts.
    auto idle = state().idle;
    if (!idle || !idle()) throw InputExhausted();
    // An action that posted nothing still wakes the loop, so that it sees
    // what the action changed (a dialog ended, a window destroyed).
    if (Take(msg, hwnd, filter_min, filter_max, true)) return TRUE;
    if (TakeQuit(msg, true)) return FALSE;
    *msg = MSG{nullptr, WM_NULL, 0, 0, 0, {0, 0}};
    return TRUE;
  }
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hwnd, UINT filter_min, UINT filter_max, UINT remove) {
  using namespace tessmark::headless;
  const bool take = (remove & PM_REMOVE) != 0;
  if (Take(msg, hwnd, filter_min, filter_max, take)) return TRUE;
  return TakeQuit(msg, take) ? TRUE : FALSE;
}

// Scripted input posts the character messages itself (the keyboard layout's
// work is done by the script), so there is nothing left to translate.
BOOL WINAPI TranslateMessage(const MSG* msg) {
  return msg != nullptr && (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN);
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  using namespace tessmark::headless;
  if (msg == nullptr || msg->hwnd == nullptr || !IsWindow(msg->hwnd)) return 0;
  State& s = state();
  ++s.dispatch_depth;
  struct Leave {
    ~Leave() { --state().dispatch_depth; }
  } leave;
  return Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam, true);
}

BOOL WINAPI IsDialogMessageA(HWND dialog, LPMSG msg) {
  using namespace tessmark::headless;
  if (msg == nullptr || dialog == nullptr || msg->hwnd == nullptr || !IsWindow(dialog)) {
    return FALSE;
  }
  if (msg->hwnd != dialog && GetAncestor(msg->hwnd, GA_ROOT) != dialog) return FALSE;
  const auto key = static_cast<UINT>(msg->wParam);
  if (msg->message == WM_KEYDOWN) {
    const LRESULT code =
        SendMessageA(msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
    if ((code & DLGC_WANTMESSAGE) == 0) {
      switch (key) {
        case VK_TAB:
          if ((code & DLGC_WANTTAB) == 0) {
            HWND next = NextTabStop(dialog, GetFocus(), false);
            if (next == nullptr) return FALSE;
            if ((SendMessageA(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) != 0) {
              SendMessageA(next, EM_SETSEL, 0, -1);
            }
            SetFocus(next);
            MoveDefaultButton(dialog, next);
            return TRUE;
          }
          break;
        case VK_ESCAPE:
          SendMessageA(dialog, WM_COMMAND, IDCANCEL,
                       reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
          return TRUE;
        case VK_RETURN: {
          // The focused push button when it is the default one, else the
          // dialog's default button, else IDOK.
          HWND focus = GetFocus();
          if (focus != nullptr && focus != dialog && IsInside(dialog, focus) &&
              (SendMessageA(focus, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) != 0) {
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                         reinterpret_cast<LPARAM>(focus));
            return TRUE;
          }
          const LRESULT def = SendMessageA(dialog, DM_GETDEFID, 0, 0);
          if (HIWORD(def) == DC_HASDEFID) {
            HWND item = GetDlgItem(dialog, LOWORD(def));
            if (item == nullptr || IsWindowEnabled(item)) {
              SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(LOWORD(def), BN_CLICKED),
                           reinterpret_cast<LPARAM>(item));
            }
          } else {
            SendMessageA(dialog, WM_COMMAND, IDOK,
                         reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
          }
          return TRUE;
        }
        default:
          break;
      }
    }
  } else if (msg->message == WM_CHAR && (key == '\t' || key == '\r' || key == 27)) {
    // The system makes no character of a key that the dialog took above;
    // scripted input posts one all the same, so it is dropped here unless
    // the window claims that key.
    const LRESULT code =
        SendMessageA(msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg));
    const bool wants =
        (code & DLGC_WANTMESSAGE) != 0 || (key == '\t' && (code & DLGC_WANTTAB) != 0);
    if (!wants) return TRUE;
  }
  TranslateMessage(msg);
  DispatchMessageA(msg);
  return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  using namespace tessmark::headless;
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  switch (msg) {
    case WM_NCCREATE:
      return TRUE;
    case WM_SETTEXT:
      w->text = lparam != 0 ? reinterpret_cast<const char*>(lparam) : "";
      return TRUE;
    case WM_GETTEXT: {
      if (wparam == 0 || lparam == 0) return 0;
      auto* out = reinterpret_cast<char*>(lparam);
      const size_t n = std::min(w->text.size(), static_cast<size_t>(wparam) - 1);
      std::memcpy(out, w->text.data(), n);
      out[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
      return static_cast<LRESULT>(w->text.size());
    case WM_CLOSE:
      DestroyWindow(hwnd);
      return 0;
    case WM_SYSCOMMAND:
      if ((wparam & 0xFFF0) == SC_CLOSE) {
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
      } else if ((wparam & 0xFFF0) == SC_SIZE) {
        RunSizeDrag(hwnd);
      }
      return 0;
    case WM_WINDOWPOSCHANGING:
      ClampToTrackSize(hwnd, reinterpret_cast<WINDOWPOS*>(lparam));
      return 0;
    case WM_WINDOWPOSCHANGED: {
      const auto* pos = reinterpret_cast<const WINDOWPOS*>(lparam);
      if ((pos->flags & SWP_NOMOVE) == 0) {
        POINT origin = ClientOrigin(*w);
        if (w->parent != nullptr) ScreenToClient(w->parent, &origin);
        SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
      }
      if ((pos->flags & SWP_NOSIZE) == 0 && IsWindow(hwnd)) {
        RECT client;
        GetClientRect(hwnd, &client);
        SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
      }
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wparam) != WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus == nullptr || GetAncestor(focus, GA_ROOT) != hwnd) SetFocus(hwnd);
      }
      return 0;
    case WM_SETCURSOR: {
      HWND parent = (w->style & WS_CHILD) != 0 ? w->parent : nullptr;
      if (parent != nullptr && SendMessageA(parent, WM_SETCURSOR, wparam, lparam) != 0) {
        return TRUE;
      }
      w = FindWindowRecord(hwnd);
      if (w != nullptr && w->window_class->cursor != nullptr) {
        SetCursor(w->window_class->cursor);
      }
      return TRUE;
    }
    case WM_HELP: {
      HWND up = (w->style & WS_CHILD) != 0 ? w->parent : w->owner;
      if (up != nullptr) return SendMessageA(up, WM_HELP, wparam, lparam);
      return 0;
    }
    default:
      return 0;
  }
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (proc == nullptr) return 0;
  return proc(hwnd, msg, wparam, lparam);
}
