// The folder dialog's callback: it dresses the plain system dialog up when the
// dialog reports that it is ready, and follows every selection change.
#include <cctype>
#include <cmath>
#include <initializer_list>
#include <string>

#include "folder_picker/picker_state.h"
#include "platform/forms_runtime.h"

namespace modBrowseForFolder {

namespace rt = tessmark::platform;

namespace {

constexpr int kClassNameChars = 14;  // "SysTreeView32" and its NUL
constexpr int kWindowTextChars = 100;
constexpr int kPathChars = 260;

// Styles of the windows the picker adds (none visible until shown).
constexpr DWORD kPathBoxStyle = WS_CHILD | ES_MULTILINE | ES_AUTOHSCROLL | ES_WANTRETURN;
constexpr DWORD kLabelStyle = WS_CHILD;
constexpr DWORD kPushButtonStyle = WS_CHILD;
constexpr DWORD kCheckBoxStyle = WS_CHILD | BS_CHECKBOX;
constexpr DWORD kSizeBoxStyle = WS_CHILD | SBS_SIZEBOX | SBS_SIZEGRIP;
constexpr DWORD kOldSizeBoxStyle = WS_CHILD | SBS_SIZEBOX;
constexpr DWORD kOldInnerGripStyle = WS_CHILD | WS_DISABLED | SBS_SIZEGRIP;

std::string ClassNameOf(HWND hwnd) {
  char buffer[kClassNameChars] = {};
  GetClassNameA(hwnd, buffer, kClassNameChars);
  return TrimAtNull(std::string(buffer, sizeof buffer));
}

std::string TextOf(HWND hwnd) {
  char buffer[kWindowTextChars] = {};
  GetWindowTextA(hwnd, buffer, kWindowTextChars);
  return TrimAtNull(std::string(buffer, sizeof buffer));
}

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string UpperLeft(const std::string& text, std::size_t count) {
  std::string left = text.substr(0, count);
  for (char& c : left) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return left;
}

// Half-way values go to the even neighbour.
int RoundHalfEven(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  double result = floor;
  if (fraction > 0.5) {
    result = floor + 1;
  } else if (fraction == 0.5) {
    result = std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1;
  }
  return static_cast<int>(result);
}

int Width(const RECT& r) { return r.right - r.left; }
int Height(const RECT& r) { return r.bottom - r.top; }

HWND AddWindow(DWORD exStyle, const char* className, const std::string& caption, DWORD style, int x,
               int y, int width, int height, HWND parent) {
  return CreateWindowExA(exStyle, className, caption.c_str(), style, x, y, width, height, parent,
                         HMENU{}, rt::ModuleInstance(), nullptr);
}

void SetPathBoxText(const std::string& text) {
  SendMessageA(PickerState.PathBoxWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  const auto end = static_cast<WPARAM>(text.size());
  SendMessageA(PickerState.PathBoxWnd, EM_SETSEL, end, static_cast<LPARAM>(end));
}

// Gives windows the OK button's font, when this dialog's OK button was
// found; otherwise they keep the system font.
void UseOkFont(std::initializer_list<HWND> windows) {
  if (PickerState.OkWnd == HWND{}) return;
  const LRESULT font = SendMessageA(PickerState.OkWnd, WM_GETFONT, 0, 0);
  for (const HWND hwnd : windows) SendMessageA(hwnd, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
}

void SizeAndPlace() {
  PickerStateRecord& s = PickerState;
  const BrowseOptionsRecord& o = BrowseOptions;
  if (s.RestartPending != 0) {
    const RECT r = s.DialogRect;
    MoveWindow(s.DialogWnd, r.left, r.top, Width(r), Height(r), TRUE);
    return;
  }
  GetWindowRect(s.DialogWnd, &s.DialogRect);
  const rt::ScreenSize screen = rt::GetScreenSize();
  if (o.LargeSize != 0) {
    MoveWindow(s.DialogWnd, s.DialogRect.left, s.DialogRect.top, 480, 480, TRUE);
  } else if (o.FullScreen != 0) {
    MoveWindow(s.DialogWnd, 0, 0, screen.width, screen.height, TRUE);
  } else {
    MoveWindow(s.DialogWnd, s.DialogRect.left, s.DialogRect.top, 320, 320, TRUE);
  }
  GetWindowRect(s.DialogWnd, &s.DialogRect);
  if (o.CenterOnScreen != 0) {
    const int w = Width(s.DialogRect);
    const int h = Height(s.DialogRect);
    const int x = RoundHalfEven(screen.width / 2.0 - w / 2.0);
    const int y = RoundHalfEven(screen.height / 2.0 - h / 2.0);
    MoveWindow(s.DialogWnd, x, y, w, h, TRUE);
    GetWindowRect(s.DialogWnd, &s.DialogRect);
  }
}

void ScanChildren() {
  PickerStateRecord& s = PickerState;
  BrowseOptionsRecord& o = BrowseOptions;
  for (HWND child = GetWindow(s.DialogWnd, GW_CHILD); child != HWND{};
       child = GetWindow(child, GW_HWNDNEXT)) {
    const std::string className = ClassNameOf(child);
    RECT r{};
    if (StartsWith(className, "Button")) {
      const std::string text = TextOf(child);
      if (UpperLeft(text, 2) == "OK") {
        s.OkWnd = child;
        if (o.OkCaption.empty()) o.OkCaption = "OK";
        SetWindowTextA(child, o.OkCaption.c_str());
      }
      if (UpperLeft(text, 6) == "CANCEL") {
        s.CancelWnd = child;
        if (o.CancelCaption.empty()) o.CancelCaption = "Cancel";
        SetWindowTextA(child, o.CancelCaption.c_str());
      }
    }
    if (StartsWith(className, "SysTreeView32")) {
      s.TreeWnd = child;
      GetWindowRect(child, &r);
      s.TreeTop = r.top - s.DialogRect.top;
    }
    if (o.ShowEditBox != 0 && StartsWith(className, "Edit")) {
      s.SystemEditWnd = child;
      GetWindowRect(child, &r);
      s.EditTop = r.top - s.DialogRect.top;
      s.EditHeight = r.bottom - r.top;
    }
    if (StartsWith(className, "Static")) {
      // The prompt is the Static whose upper-cased text starts with Prompt as
      // stored; any other Static is taken for the status line.
      if (UpperLeft(TextOf(child), o.Prompt.size()) != o.Prompt) {
        s.StatusWnd = child;
        GetWindowRect(child, &r);
        s.StatusTop = r.top - s.DialogRect.top;
        s.StatusHeight = r.bottom - r.top;
      }
    }
  }
}

bool IsSpecialRoot(std::int32_t root) {
  return root == CSIDL_CONTROLS || root == CSIDL_PRINTERS || root == CSIDL_BITBUCKET ||
         root == CSIDL_NETWORK || root == CSIDL_NETHOOD;
}

void AddControls() {
  PickerStateRecord& s = PickerState;
  BrowseOptionsRecord& o = BrowseOptions;
  if (IsSpecialRoot(o.RootFolder)) {
    o.ShowNewFolderButton = kFalse;
    o.ShowCheckBox = kFalse;
    o.ShowPathBox = kFalse;
    return;
  }
  if (o.ShowPathBox != 0) {
    s.PathBoxWnd = AddWindow(WS_EX_CLIENTEDGE, "EDIT", "", kPathBoxStyle, 0, 0, 0, 23, s.DialogWnd);
    s.PathLabelWnd = AddWindow(0, "STATIC", "Folder :", kLabelStyle, 0, 0, 0, 23, s.DialogWnd);
    UseOkFont({s.PathBoxWnd, s.PathLabelWnd});
    ShowWindow(s.PathLabelWnd, SW_SHOWNORMAL);
    ShowWindow(s.PathBoxWnd, SW_SHOWNORMAL);
    if (s.PathBoxWnd != HWND{}) s.OldPathBoxProc = HookPathBox();
  }
  if (o.ShowNewFolderButton != 0 || o.ShowCheckBox != 0) {
    if (o.ShowNewFolderButton != 0) {
      if (o.NewFolderCaption.empty()) o.NewFolderCaption = "New Folder";
      s.FolderButtonWnd =
          AddWindow(0, "BUTTON", o.NewFolderCaption, kPushButtonStyle, 0, 0, 75, 23, s.DialogWnd);
    } else {
      if (o.CheckBoxCaption.empty()) o.CheckBoxCaption = "Include subfolders";
      s.FolderButtonWnd =
          AddWindow(0, "BUTTON", o.CheckBoxCaption, kCheckBoxStyle, 20, 0, 110, 23, s.DialogWnd);
    }
    UseOkFont({s.FolderButtonWnd});
    ShowWindow(s.FolderButtonWnd, SW_SHOWNORMAL);
    if (s.FolderButtonWnd != HWND{}) s.OldFolderButtonProc = HookFolderButton();
  }
}

void AddSizeGrip() {
  PickerStateRecord& s = PickerState;
  if (BrowseOptions.Resizable == 0) return;
  const int w = Width(s.DialogRect);
  const int h = Height(s.DialogRect);
  if (IsVersion5OrLater()) {
    s.SizeGripWnd =
        AddWindow(0, "SCROLLBAR", "", kSizeBoxStyle, w - 24, h - 44, 16, 16, s.DialogWnd);
    ShowWindow(s.SizeGripWnd, SW_SHOWNORMAL);
    if (s.SizeGripWnd != HWND{}) s.OldSizeGripProc = HookSizeGrip();
  } else {
    s.SizeGripWnd =
        AddWindow(0, "SCROLLBAR", "", kOldSizeBoxStyle, w - 24, h - 44, 16, 16, s.DialogWnd);
    if (s.SizeGripWnd != HWND{}) {
      s.SizeGripInnerWnd =
          AddWindow(0, "SCROLLBAR", "", kOldInnerGripStyle, -4, -4, 16, 16, s.SizeGripWnd);
    }
    ShowWindow(s.SizeGripWnd, SW_SHOWNORMAL);
    ShowWindow(s.SizeGripInnerWnd, SW_SHOWNORMAL);
  }
  s.OldDialogProc = HookDialog();
}

// Runs one step of the callback; a step that fails is skipped and the next
// one runs, so nothing escapes into the system dialog.
template <typename Action>
void Step(Action&& action) {
  try {
    action();
  } catch (...) {
  }
}

void OnInitialized() {
  PickerStateRecord& s = PickerState;
  BrowseOptionsRecord& o = BrowseOptions;
  Step([&] {
    if (o.InitialFolder.empty()) o.InitialFolder = "c:\\";
    const std::string initial = o.InitialFolder;
    SendMessageA(s.DialogWnd, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(initial.c_str()));
  });
  Step([&] { s.CurrentPath = o.InitialFolder; });
  Step(SizeAndPlace);
  s.RestartPending = kFalse;
  Step(ScanChildren);
  Step(AddControls);
  Step(AddSizeGrip);
  Step([&] {
    if (s.PathBoxWnd != HWND{}) SetPathBoxText(LastPathPart(s.CurrentPath));
  });
  Step(LayoutControls);
}

void OnSelectionChanged(LPARAM itemList) {
  char buffer[kPathChars] = {};
  if (SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(itemList), buffer) == FALSE) {
    return;  // an item without a file-system path changes nothing
  }
  const std::string path = TrimAtNull(std::string(buffer, sizeof buffer));
  SendMessageA(PickerState.DialogWnd, BFFM_SETSTATUSTEXTA, 0,
               reinterpret_cast<LPARAM>(path.c_str()));
  if (PickerState.PathBoxWnd != HWND{}) {
    SetPathBoxText(path.size() > 3 ? LastPathPart(path) : path);
  }
  PickerState.CurrentPath = path;
}

}  // namespace

int CALLBACK BrowseCallbackProc(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM /*lpData*/) {
  // No exception may unwind through the system's frames.
  try {
    PickerState.DialogWnd = hwnd;
    Step([] {
      if (BrowseOptions.Title.empty()) BrowseOptions.Title = kBrowseForFolder;
    });
    SetWindowTextA(hwnd, BrowseOptions.Title.c_str());
    if (uMsg == BFFM_INITIALIZED) {
      OnInitialized();
    } else if (uMsg == BFFM_SELCHANGED) {
      Step([lParam] { OnSelectionChanged(lParam); });
    }
    return 0;
  } catch (...) {
    rt::ReportUntrapped();
    return 0;
  }
}

}  // namespace modBrowseForFolder
