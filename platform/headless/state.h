// Internal state of the headless window system, shared by its source files.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/headless/win32_api.h"
#include "platform/headless/world.h"

namespace tessmark::headless {

struct WindowClass {
  std::string name;  // as registered, for GetClassNameA
  WNDPROC proc = nullptr;
  UINT style = 0;
  int window_extra = 0;
  HINSTANCE instance = nullptr;
  HCURSOR cursor = nullptr;
  bool system = false;
};

struct Window {
  HWND handle = nullptr;
  const WindowClass* window_class = nullptr;
  std::string text;
  DWORD style = 0;
  DWORD ex_style = 0;
  RECT rect{};  // outer rectangle in screen pixels
  HWND parent = nullptr;
  HWND owner = nullptr;
  std::vector<HWND> children;  // top of the z-order (first created) first
  WNDPROC proc = nullptr;
  LONG id = 0;
  LONG_PTR user_data = 0;  // GWLP_USERDATA: pointer-sized, as on 64-bit Windows
  HINSTANCE instance = nullptr;
  HFONT font = nullptr;
  std::vector<BYTE> extra;  // cbWndExtra bytes
  bool destroying = false;
  // Control state.
  WPARAM check = BST_UNCHECKED;
  bool pushed = false;
  bool captured = false;  // left button went down on it
  DWORD sel_start = 0;
  DWORD sel_end = 0;
  DWORD text_limit = 30000;
};

struct FindSearch {
  std::vector<WIN32_FIND_DATAA> entries;
  size_t next = 0;
};

struct Fault {
  FileOperation operation;
  DWORD error;
  std::string path_part;
};

struct State {
  std::map<std::string, std::unique_ptr<WindowClass>> classes;  // key: upper-case name
  std::map<uintptr_t, std::unique_ptr<Window>> windows;
  std::vector<HWND> top_level;  // z-order of top-level windows, top first
  uintptr_t next_handle = 0x10020;
  HWND desktop = nullptr;
  HWND focus = nullptr;
  HWND active = nullptr;

  std::deque<MSG> queue;
  bool quit_posted = false;   // sticky: the program asked to end
  bool quit_pending = false;  // WM_QUIT not yet retrieved
  int quit_code = 0;
  int send_depth = 0;
  int modal_depth = 0;
  std::vector<LoggedMessage> log;
  std::vector<ProcedureChange> procedure_changes;
  std::function<bool()> idle;

  std::vector<MessageBoxRecord> boxes;
  std::deque<std::function<int(const MessageBoxRecord&)>> box_answers;

  HCURSOR cursor = nullptr;
  std::vector<bool> cursor_history;
  POINT pending_drag{};  // how far the next size drag moves the bottom-right corner
  int dispatch_depth = 0;

  std::map<char, std::string> drives;       // letter -> host folder
  std::string current_folder = "C:\\";      // relative paths start here
  std::map<std::string, DWORD> attributes;  // host path -> hidden/system/read-only bits
  std::map<uintptr_t, std::unique_ptr<FindSearch>> searches;
  uintptr_t next_search = 0x100;
  std::vector<Fault> faults;
  FileOperationHook file_hook;
  DWORD last_error = 0;

  int screen_width = 1024;
  int screen_height = 768;
  int screen_dpi = 96;
  std::map<uintptr_t, LOGFONTA> fonts;  // fonts made with CreateFontIndirectA
  uintptr_t next_font = 0x8B0000;
  OSVERSIONINFOA version{};
  int ole_depth = 0;  // OleInitialize calls not yet matched by OleUninitialize
};

State& state();

// MSG::time of queued keyboard input, whose window is chosen when it is taken.
inline constexpr DWORD kKeyboardInputMark = 0xFFFFFFFFu;

// Window table.
Window* FindWindowRecord(HWND hwnd);  // sets ERROR_INVALID_WINDOW_HANDLE when missing
HWND HandleFromNumber(uintptr_t number);
void RegisterSystemClasses();
// Client rectangle's origin in screen pixels.
POINT ClientOrigin(const Window& w);
RECT NonClientInsets(DWORD style, DWORD ex_style);
void SetWindowRectRaw(Window& w, const RECT& rect);

// Dispatch.
LRESULT Deliver(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, bool posted);
// Notifies the parent of a control with WM_COMMAND.
void NotifyParent(HWND control, WORD code);

// Controls.
LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK ScrollBarProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
LRESULT CALLBACK DesktopProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);

// File system.
std::string UpperAscii(std::string text);

}  // namespace tessmark::headless
