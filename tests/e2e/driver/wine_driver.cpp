// A small Win32 tool that the end-to-end tests run inside Wine beside the
// program under test. It finds windows by title, reads the texts of their
// controls, presses buttons and holds files open, so that the tests can look
// at what an operator would see without guessing from pixels.
//
//   wine_driver windows                     print the title of each visible top-level window
//   wine_driver wait TITLE [SECONDS]        exit 0 once a top-level window has that title
//   wine_driver gone TITLE [SECONDS]        exit 0 once no window has that title
//   wine_driver texts TITLE                 print "class|text|x,y,w,h|flags|R,B" per child
//                                           (R,B: how far its dark pixels reach, see InkReach)
//   wine_driver rect TITLE                  print the window's outer rectangle "l t r b"
//   wine_driver origin TITLE                print the screen position of its client area
//   wine_driver press TITLE CAPTION         post a click to the child button with that caption
//   wine_driver settext TITLE CLASS INDEX TEXT
//   wine_driver key TITLE CLASS INDEX VK    post key down, char (for Enter) and key up
//   wine_driver hold FILE SECONDS           open FILE for writing, denying writers, then wait
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Found {
  const char* title;
  HWND hwnd;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM param) {
  auto* found = reinterpret_cast<Found*>(param);
  char text[512] = {};
  GetWindowTextA(hwnd, text, sizeof text);
  if (IsWindowVisible(hwnd) && std::strcmp(text, found->title) == 0) {
    found->hwnd = hwnd;
    return FALSE;
  }
  return TRUE;
}

HWND FindTopLevel(const char* title) {
  Found found{title, nullptr};
  EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&found));
  return found.hwnd;
}

HWND WaitFor(const char* title, double seconds) {
  for (DWORD waited = 0; waited <= seconds * 1000; waited += 100) {
    if (HWND hwnd = FindTopLevel(title)) return hwnd;
    Sleep(100);
  }
  return nullptr;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

std::string Text(HWND hwnd) {
  char text[1024] = {};
  SendMessageA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

std::string ClassOf(HWND hwnd) {
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

HWND ChildOfClass(HWND parent, const char* cls, int index) {
  for (HWND child : Children(parent)) {
    if (_stricmp(ClassOf(child).c_str(), cls) == 0 && index-- == 0) return child;
  }
  return nullptr;
}

// "R,B": how far the dark pixels (text, marks, dark edges) that the screen
// shows inside a window reach: one past the rightmost column and one past the
// lowest row that has any, counted from its top-left corner; "0,0" when there
// are none. A caption cut off by its control's edge reaches that edge. Read
// from the screen because the control's font belongs to the program's
// process and cannot be measured from here.
std::string InkReach(HWND hwnd) {
  RECT r{};
  GetWindowRect(hwnd, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return "0,0";
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<DWORD> pixels(static_cast<size_t>(w) * static_cast<size_t>(h));
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  int right = 0, bottom = 0;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const DWORD p =
          pixels[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)];
      const int brightness = static_cast<int>((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF));
      if (brightness < 3 * 64) {
        if (x + 1 > right) right = x + 1;
        if (y + 1 > bottom) bottom = y + 1;
      }
    }
  }
  return std::to_string(right) + "," + std::to_string(bottom);
}

BOOL CALLBACK PrintTitle(HWND hwnd, LPARAM) {
  char text[512] = {};
  GetWindowTextA(hwnd, text, sizeof text);
  if (IsWindowVisible(hwnd) && text[0] != '\0') std::printf("%s\n", text);
  return TRUE;
}

int Fail(const char* what) {
  std::fprintf(stderr, "wine_driver: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "windows") {
    EnumWindows(PrintTitle, 0);
    return 0;
  }
  if (argc < 3) return Fail("usage: see the comment at the top of wine_driver.cpp");
  const std::string verb = argv[1];
  const char* title = argv[2];
  const double seconds = argc > 3 ? std::atof(argv[3]) : 30.0;

  if (verb == "wait") return WaitFor(title, seconds) ? 0 : Fail("window did not appear");
  if (verb == "gone") {
    for (DWORD waited = 0; waited <= seconds * 1000; waited += 100) {
      if (!FindTopLevel(title)) return 0;
      Sleep(100);
    }
    return Fail("window is still there");
  }
  if (verb == "hold") {
    HANDLE file = CreateFileA(title, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Fail("cannot open the file for writing");
    std::printf("holding\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(seconds * 1000));
    CloseHandle(file);
    return 0;
  }

  HWND window = WaitFor(title, 10);
  if (!window) return Fail("no window with that title");

  if (verb == "texts") {
    // Focus belongs to the program's thread, not to ours: ask that thread.
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui);
    for (HWND child : Children(window)) {
      RECT r;
      GetWindowRect(child, &r);
      POINT p{r.left, r.top};
      ScreenToClient(window, &p);
      LRESULT check = SendMessageA(child, BM_GETCHECK, 0, 0);
      std::printf("%s|%s|%ld,%ld,%ld,%ld|%s%s%s|%s\n", ClassOf(child).c_str(), Text(child).c_str(),
                  p.x, p.y, r.right - r.left, r.bottom - r.top,
                  IsWindowVisible(child) ? "visible" : "hidden",
                  gui.hwndFocus == child ? ",focus" : "", check == BST_CHECKED ? ",checked" : "",
                  InkReach(child).c_str());
    }
    return 0;
  }
  if (verb == "origin") {
    POINT p{0, 0};
    ClientToScreen(window, &p);
    std::printf("%ld %ld\n", p.x, p.y);
    return 0;
  }
  if (verb == "rect") {
    RECT r;
    GetWindowRect(window, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    return 0;
  }
  if (verb == "press" && argc > 3) {
    for (HWND child : Children(window)) {
      if (ClassOf(child) == "Button" && Text(child) == argv[3]) {
        PostMessageA(child, BM_CLICK, 0, 0);
        return 0;
      }
    }
    return Fail("no button with that caption");
  }
  if (verb == "settext" && argc > 5) {
    HWND child = ChildOfClass(window, argv[3], std::atoi(argv[4]));
    if (!child) return Fail("no such child");
    SendMessageA(child, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[5]));
    return 0;
  }
  if (verb == "key" && argc > 5) {
    HWND child = ChildOfClass(window, argv[3], std::atoi(argv[4]));
    if (!child) return Fail("no such child");
    const WPARAM vk = static_cast<WPARAM>(std::strtoul(argv[5], nullptr, 0));
    PostMessageA(child, WM_KEYDOWN, vk, 1);
    if (vk == VK_RETURN) PostMessageA(child, WM_CHAR, '\r', 1);
    PostMessageA(child, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    return 0;
  }
  return Fail("unknown command");
}
