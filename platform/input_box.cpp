// The text-entry box: a small modal window with the prompt, OK and Cancel
// and an entry field, run by its own message loop nested in the caller's.
#include <string>

#include "platform/forms_runtime.h"

namespace tessmark::platform {
namespace {

constexpr int kPromptId = 100;
constexpr int kEntryId = 101;
// Geometry in twips, shown at the screen's resolution.
constexpr int kClientWidth = 5400;
constexpr int kClientHeight = 1950;

struct OpenBox {
  bool done = false;
  bool accepted = false;
  std::string text;
};

OpenBox* g_open = nullptr;  // the box being shown; boxes never overlap

LRESULT CALLBACK InputBoxProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  // No exception may unwind through the system's frames.
  try {
    switch (msg) {
      case WM_COMMAND:
        if (g_open != nullptr && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
          g_open->accepted = LOWORD(wparam) == IDOK;
          if (g_open->accepted) {
            HWND entry = GetDlgItem(hwnd, kEntryId);
            const int n = GetWindowTextLengthA(entry);
            std::string text(static_cast<size_t>(n) + 1, '\0');
            text.resize(static_cast<size_t>(GetWindowTextA(entry, text.data(), n + 1)));
            g_open->text = text;
          }
          g_open->done = true;
        }
        return 0;
      case DM_GETDEFID:
        return MAKELONG(IDOK, DC_HASDEFID);
      case WM_CLOSE:
        if (g_open != nullptr) g_open->done = true;
        return 0;
      case WM_SETCURSOR:
        if (ApplyMousePointer()) return TRUE;
        return DefWindowProcA(hwnd, msg, wparam, lparam);
      default:
        return DefWindowProcA(hwnd, msg, wparam, lparam);
    }
  } catch (...) {
    ReportUntrapped();
    return 0;
  }
}

void RegisterInputBoxClass() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = InputBoxProc;
  wc.hInstance = ModuleInstance();
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  // The face colour of dialogs behind the controls; without a brush the
  // system leaves the box's background unpainted.
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kInputBoxClass;
  // Registering again fails harmlessly when the class exists already.
  RegisterClassA(&wc);
}

// Adds a control at a place given in twips.
HWND AddControl(HWND box, const char* cls, const char* text, DWORD style, DWORD ex_style, int x,
                int y, int w, int h, int id, HFONT font) {
  HWND control =
      CreateWindowExA(ex_style, cls, text, WS_CHILD | WS_VISIBLE | style, TwipsToPixelsX(x),
                      TwipsToPixelsY(y), TwipsToPixelsX(w), TwipsToPixelsY(h), box,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), ModuleInstance(), nullptr);
  SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

}  // namespace

std::string InputBox(const std::string& prompt, const std::string& title,
                     const std::string& default_text) {
  RegisterInputBoxClass();
  HWND owner = GetActiveWindow();
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
  RECT frame{0, 0, TwipsToPixelsX(kClientWidth), TwipsToPixelsY(kClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_DLGMODALFRAME);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  const ScreenSize screen = GetScreenSize();
  HWND box = CreateWindowExA(WS_EX_DLGMODALFRAME, kInputBoxClass,
                             title.empty() ? kApplicationTitle : title.c_str(), style,
                             (screen.width - width) / 2, (screen.height - height) / 3, width,
                             height, owner, nullptr, ModuleInstance(), nullptr);
  if (box == nullptr) throw ErrorFromWin32(GetLastError());
  HFONT font = CreateFormFont();
  AddControl(box, "Static", prompt.c_str(), SS_LEFT | SS_NOPREFIX, 0, 150, 150, 3900, 1050,
             kPromptId, font);
  AddControl(box, "Button", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, 4200, 150, 1050, 345,
             IDOK, font);
  AddControl(box, "Button", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, 0, 4200, 570, 1050, 345, IDCANCEL,
             font);
  HWND entry = AddControl(box, "Edit", default_text.c_str(), ES_AUTOHSCROLL | WS_TABSTOP,
                          WS_EX_CLIENTEDGE, 150, 1425, 5100, 330, kEntryId, font);

  OpenBox open;
  OpenBox* outer = g_open;
  g_open = &open;
  const bool owner_was_enabled = owner != nullptr && EnableWindow(owner, FALSE) == FALSE;
  ShowWindow(box, SW_SHOWNORMAL);
  SetFocus(entry);
  SendMessageA(entry, EM_SETSEL, 0, -1);

  bool quit = false;
  int quit_code = 0;
  struct Close {
    HWND box, owner;
    HFONT font;
    bool reenable;
    OpenBox* outer;
    ~Close() {
      if (reenable && IsWindow(owner)) EnableWindow(owner, TRUE);
      if (IsWindow(box)) DestroyWindow(box);
      if (font != nullptr) DeleteObject(font);
      if (owner != nullptr && IsWindow(owner)) SetActiveWindow(owner);
      g_open = outer;
    }
  } close{box, owner, font, owner_was_enabled, outer};
  MSG msg;
  while (!open.done && IsWindow(box)) {
    if (!GetMessageA(&msg, nullptr, 0, 0)) {
      quit = true;
      quit_code = static_cast<int>(msg.wParam);
      break;
    }
    if (!IsDialogMessageA(box, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  if (quit) PostQuitMessage(quit_code);  // leave it for the caller's loop
  return open.accepted ? open.text : std::string();
}

}  // namespace tessmark::platform
