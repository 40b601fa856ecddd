// The standard controls the program uses: push buttons, check boxes and
// radio buttons ("Button"), single- and multi-line edit boxes ("Edit"),
// labels ("Static") and size boxes ("ScrollBar").
#include <algorithm>

#include "platform/headless/state.h"
#include "platform/win32.h"

namespace tessmark::headless {
namespace {

DWORD ButtonType(const Window& w) { return w.style & BS_TYPEMASK; }

bool IsCheckType(DWORD type) {
  return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
         type == BS_3STATE || type == BS_AUTO3STATE || type == BS_AUTORADIOBUTTON;
}

// Clears the other automatic radio buttons of `hwnd`'s group: the siblings
// from the nearest WS_GROUP at or before it up to the next WS_GROUP.
void UncheckGroupSiblings(HWND hwnd) {
  HWND parent = GetParent(hwnd);
  if (parent == nullptr) return;
  HWND first = hwnd;
  while ((GetWindowLongA(first, GWL_STYLE) & WS_GROUP) == 0) {
    HWND prev = GetWindow(first, GW_HWNDPREV);
    if (prev == nullptr) break;
    first = prev;
  }
  for (HWND h = first; h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    if (h != first && (GetWindowLongA(h, GWL_STYLE) & WS_GROUP) != 0) break;
    if (h == hwnd) continue;
    char cls[8];
    GetClassNameA(h, cls, sizeof cls);
    if (UpperAscii(cls) == "BUTTON" &&
        (GetWindowLongA(h, GWL_STYLE) & BS_TYPEMASK) == BS_AUTORADIOBUTTON) {
      SendMessageA(h, BM_SETCHECK, BST_UNCHECKED, 0);
    }
  }
}

// What a completed click (button released over the control) does.
void ButtonClicked(HWND hwnd) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return;
  switch (ButtonType(*w)) {
    case BS_AUTOCHECKBOX:
      SendMessageA(hwnd, BM_SETCHECK, w->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
      break;
    case BS_AUTO3STATE:
      SendMessageA(hwnd, BM_SETCHECK, (w->check + 1) % 3, 0);
      break;
    case BS_AUTORADIOBUTTON:
      SendMessageA(hwnd, BM_SETCHECK, BST_CHECKED, 0);
      UncheckGroupSiblings(hwnd);
      break;
    default:
      break;
  }
  if (IsWindow(hwnd)) NotifyParent(hwnd, BN_CLICKED);
}

void EditChanged(HWND hwnd) {
  NotifyParent(hwnd, EN_UPDATE);
  if (IsWindow(hwnd)) NotifyParent(hwnd, EN_CHANGE);
}

void ReplaceSelection(Window& w, const std::string& with) {
  const DWORD start = std::min(w.sel_start, w.sel_end);
  const DWORD end = std::max(w.sel_start, w.sel_end);
  std::string text = w.text.substr(0, start) + with + w.text.substr(end);
  if (text.size() > w.text_limit && with.size() > 0) return;  // full: the key is refused
  w.text = std::move(text);
  w.sel_start = w.sel_end = start + static_cast<DWORD>(with.size());
}

}  // namespace

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  const DWORD type = ButtonType(*w);
  switch (msg) {
    case WM_GETDLGCODE:
      if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
        return DLGC_BUTTON | DLGC_RADIOBUTTON;
      }
      if (type == BS_GROUPBOX) return DLGC_STATIC;
      if (type == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
      if (type == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
      return DLGC_BUTTON;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetFocus(hwnd);
      w = FindWindowRecord(hwnd);
      if (w == nullptr) return 0;
      w->captured = true;
      w->pushed = true;
      return 0;
    case WM_LBUTTONUP:
      if (!w->captured) return 0;
      w->captured = false;
      w->pushed = false;
      ButtonClicked(hwnd);
      return 0;
    case WM_KEYDOWN:
      if (wparam == VK_SPACE) {
        w->captured = true;
        w->pushed = true;
      }
      return 0;
    case WM_KEYUP:
      if (wparam == VK_SPACE && w->captured) {
        w->captured = false;
        w->pushed = false;
        ButtonClicked(hwnd);
      }
      return 0;
    case BM_CLICK:
      // A click through the mouse messages, so subclass procedures see it.
      SendMessageA(hwnd, WM_LBUTTONDOWN, 0, 0);
      if (IsWindow(hwnd)) SendMessageA(hwnd, WM_LBUTTONUP, 0, 0);
      return 0;
    case BM_GETCHECK:
      return IsCheckType(type) ? static_cast<LRESULT>(w->check) : BST_UNCHECKED;
    case BM_SETCHECK:
      if (IsCheckType(type)) {
        w->check = wparam > BST_INDETERMINATE ? BST_CHECKED : wparam;
        // A radio button is a tab stop while it is the checked one.
        if (type == BS_AUTORADIOBUTTON || type == BS_RADIOBUTTON) {
          if (w->check == BST_CHECKED) {
            w->style |= WS_TABSTOP;
          } else {
            w->style &= ~static_cast<DWORD>(WS_TABSTOP);
          }
        }
      }
      return 0;
    case BM_GETSTATE:
      return static_cast<LRESULT>((IsCheckType(type) ? w->check : 0) |
                                  (w->pushed ? BST_PUSHED : 0) |
                                  (GetFocus() == hwnd ? BST_FOCUS : 0));
    case BM_SETSTATE:
      w->pushed = wparam != 0;
      return 0;
    case BM_SETSTYLE:
      // Only the button's type changes (a push button to the default one and back).
      w->style = (w->style & ~static_cast<DWORD>(BS_TYPEMASK)) |
                 (static_cast<DWORD>(wparam) & BS_TYPEMASK);
      return 0;
    case WM_SETFONT:
      w->font = reinterpret_cast<HFONT>(wparam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(w->font);
    case WM_SETFOCUS:
      if ((w->style & BS_NOTIFY) != 0) NotifyParent(hwnd, BN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      w->pushed = false;
      w->captured = false;
      if ((w->style & BS_NOTIFY) != 0) NotifyParent(hwnd, BN_KILLFOCUS);
      return 0;
    default:
      return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  const bool multiline = (w->style & ES_MULTILINE) != 0;
  const auto length = static_cast<DWORD>(w->text.size());
  switch (msg) {
    case WM_GETDLGCODE: {
      LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
      if (multiline) code |= DLGC_WANTALLKEYS;
      return code;
    }
    case WM_SETTEXT:
      w->text = lparam != 0 ? reinterpret_cast<const char*>(lparam) : "";
      w->sel_start = w->sel_end = 0;
      if (!multiline) EditChanged(hwnd);
      return TRUE;
    case EM_SETSEL: {
      const auto start = static_cast<int32_t>(static_cast<uint32_t>(wparam));
      const auto end = static_cast<int32_t>(static_cast<uint32_t>(lparam));
      if (start == -1) {
        w->sel_start = w->sel_end;  // deselect, the caret stays
        return 0;
      }
      auto clamp = [length](int32_t v) {
        return v < 0 || static_cast<DWORD>(v) > length ? length : static_cast<DWORD>(v);
      };
      w->sel_start = clamp(start);
      w->sel_end = clamp(end);
      return 0;
    }
    case EM_GETSEL: {
      const DWORD start = std::min(w->sel_start, w->sel_end);
      const DWORD end = std::max(w->sel_start, w->sel_end);
      if (wparam != 0) *reinterpret_cast<DWORD*>(wparam) = start;
      if (lparam != 0) *reinterpret_cast<DWORD*>(lparam) = end;
      return MAKELONG(start, end);
    }
    case EM_REPLACESEL:
      ReplaceSelection(*w, lparam != 0 ? reinterpret_cast<const char*>(lparam) : "");
      EditChanged(hwnd);
      return 0;
    case EM_LIMITTEXT:
      w->text_limit = wparam == 0 ? 0x7FFFFFFE : static_cast<DWORD>(wparam);
      return 0;
    case EM_SETREADONLY:
      if (wparam != 0) {
        w->style |= ES_READONLY;
      } else {
        w->style &= ~static_cast<DWORD>(ES_READONLY);
      }
      return TRUE;
    case WM_CHAR: {
      if ((w->style & ES_READONLY) != 0) return 0;
      const auto ch = static_cast<unsigned char>(wparam & 0xFF);
      if (ch == '\b') {
        if (w->sel_start == w->sel_end) {
          if (w->sel_start == 0) return 0;
          w->sel_start -= 1;
        }
        ReplaceSelection(*w, "");
      } else if (ch == '\r') {
        if (!multiline) return 0;
        ReplaceSelection(*w, "\r\n");
      } else if (ch < 0x20) {
        return 0;
      } else {
        char c = static_cast<char>(ch);
        if ((w->style & ES_UPPERCASE) != 0 && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if ((w->style & ES_LOWERCASE) != 0 && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        ReplaceSelection(*w, std::string(1, c));
      }
      EditChanged(hwnd);
      return 0;
    }
    case WM_KEYDOWN:
      switch (wparam) {
        case VK_DELETE:
          if ((w->style & ES_READONLY) != 0) return 0;
          if (w->sel_start == w->sel_end) {
            if (w->sel_end >= length) return 0;
            w->sel_end += 1;
          }
          ReplaceSelection(*w, "");
          EditChanged(hwnd);
          return 0;
        case VK_HOME:
          w->sel_start = w->sel_end = 0;
          return 0;
        case VK_END:
          w->sel_start = w->sel_end = length;
          return 0;
        case VK_LEFT:
          w->sel_end = w->sel_end > 0 ? w->sel_end - 1 : 0;
          w->sel_start = w->sel_end;
          return 0;
        case VK_RIGHT:
          w->sel_end = std::min(length, w->sel_end + 1);
          w->sel_start = w->sel_end;
          return 0;
        default:
          return 0;
      }
    case WM_LBUTTONDOWN:
      SetFocus(hwnd);
      return 0;
    case WM_SETFOCUS:
      NotifyParent(hwnd, EN_SETFOCUS);
      return 0;
    case WM_KILLFOCUS:
      NotifyParent(hwnd, EN_KILLFOCUS);
      return 0;
    case WM_SETFONT:
      w->font = reinterpret_cast<HFONT>(wparam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(w->font);
    default:
      return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  switch (msg) {
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    case WM_LBUTTONUP:
      if ((w->style & SS_NOTIFY) != 0) NotifyParent(hwnd, 0 /* STN_CLICKED */);
      return 0;
    case WM_SETFONT:
      w->font = reinterpret_cast<HFONT>(wparam);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(w->font);
    default:
      return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

LRESULT CALLBACK ScrollBarProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Window* w = FindWindowRecord(hwnd);
  if (w == nullptr) return 0;
  const bool size_box = (w->style & (SBS_SIZEBOX | SBS_SIZEGRIP)) != 0;
  switch (msg) {
    case WM_LBUTTONDOWN:
      if (size_box) {
        // Dragging a size box sizes the top-level window it sits in.
        HWND root = GetAncestor(hwnd, GA_ROOT);
        if (root != nullptr && root != hwnd) {
          SendMessageA(root, WM_SYSCOMMAND, SC_SIZE + WMSZ_BOTTOMRIGHT, lparam);
        }
      }
      return 0;
    case WM_SETCURSOR:
      return DefWindowProcA(hwnd, msg, wparam, lparam);
    default:
      return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

LRESULT CALLBACK DesktopProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

}  // namespace tessmark::headless
