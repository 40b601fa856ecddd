// Form1: window, controls and handlers.
#include "main_window/form1.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <string_view>

#include "folder_picker/browse_for_folder.h"
#include "platform/database_engine.h"
#include "platform/forms_runtime.h"

namespace tessmark::main_window {

using platform::RuntimeError;

namespace {

// Geometry is designed in twips and shown at the screen's resolution.
int PxX(int twips) { return platform::TwipsToPixelsX(twips); }
int PxY(int twips) { return platform::TwipsToPixelsY(twips); }

struct ControlDecl {
  ControlId id;
  const char* window_class;
  const char* caption;
  DWORD style;
  DWORD ex_style;
  int left, top, width, height;  // twips, client coordinates of Form1
};

// In tab order: creation order is the order Tab walks.
constexpr ControlDecl kControls[] = {
    {kLabel1, "Static", "Select path for database: ", SS_LEFT | WS_GROUP, 0, 120, 120, 1335, 495},
    {kText1, "Edit", "", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, WS_EX_CLIENTEDGE, 1440,
     120, 3495, 405},
    {kCommand1, "Button", "Browse", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, 5160, 120, 1095, 375},
    {kCommand2, "Button", "Compact Database", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, 480, 1080,
     2415, 495},
    {kCommand3, "Button", "Cancel", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, 3360, 1080, 2655,
     495},
    // Option1(0) and Option1(1): one group of two, the checked one is its tab stop.
    {kOption1Server, "Button", "Server (qvd.mdb)", BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 0,
     1560, 600, 1575, 255},
    {kOption1Client, "Button", "Client (backup.mdb)", BS_AUTORADIOBUTTON, 0, 3240, 600, 1815, 255},
};

constexpr int kClientWidthTwips = 6450;
constexpr int kClientHeightTwips = 2010;
constexpr DWORD kFormStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

// Runs one statement of a routine that resumes after errors: a failure is
// dropped and the routine goes on with its next statement.
template <typename Statement>
void ResumeNext(Statement&& statement) {
  try {
    statement();
  } catch (...) {
  }
}

// Whether the path box's text names a file rather than a folder: an
// existing file, or a database that does not exist yet (a name ending in
// .mdb). Any other text is a folder, dots in its name or not.
bool NamesFile(const std::string& text) {
  const DWORD attributes = GetFileAttributesA(text.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  constexpr std::string_view kDatabase = ".mdb";
  if (text.size() <= kDatabase.size()) return false;
  const std::string_view ending = std::string_view(text).substr(text.size() - kDatabase.size());
  return std::ranges::equal(ending, kDatabase, [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

// The folder that holds a file named by a path; a drive root keeps its
// backslash, and a bare name has no folder.
std::string FolderOf(const std::string& file) {
  const size_t slash = file.find_last_of('\\');
  if (slash == std::string::npos) return std::string();
  std::string folder = file.substr(0, slash);
  if (folder.size() == 2 && folder[1] == ':') folder += '\\';
  return folder;
}

std::string JoinPath(const std::string& folder, const std::string& file) {
  if (!folder.empty() && folder.back() == '\\') return folder + file;
  return folder + "\\" + file;
}

// Whether a message is an Enter or Escape key for the window or one of its
// controls. Neither key may reach a command: the system's dialog manager
// clicks a push button that Tab has made the default one on Enter, so the
// message loop drops these keys before the dialog manager sees them. Space
// on a focused button and mouse clicks still press it.
bool IsEnterOrEscapeFor(HWND form, const MSG& msg) {
  if (msg.message != WM_KEYDOWN && msg.message != WM_KEYUP && msg.message != WM_CHAR) return false;
  // The virtual keys and the characters of both keys have the same codes.
  if (msg.wParam != VK_RETURN && msg.wParam != VK_ESCAPE) return false;
  return msg.hwnd != nullptr && IsWindow(msg.hwnd) && GetAncestor(msg.hwnd, GA_ROOT) == form;
}

}  // namespace

std::string TemporaryPath(const std::string& source) {
  const size_t slash = source.find_last_of("\\/:");
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  std::string result = source.substr(0, name_start);
  for (size_t i = name_start; i < source.size(); ++i) {
    result += source[i] == '.' ? std::string("1.") : std::string(1, source[i]);
  }
  // A name without a dot gives the source path itself; the engine refuses to
  // compact a file onto itself, so such a file is reported, never touched.
  return result;
}

Form1::~Form1() {
  if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
}

bool Form1::Create(int show_command) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = platform::ModuleInstance();
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kForm1Class;
  wc.hIcon = LoadIconA(wc.hInstance, MAKEINTRESOURCEA(1));  // the program's own icon
  RegisterClassA(&wc);  // fails harmlessly when already registered

  RECT frame{0, 0, PxX(kClientWidthTwips), PxY(kClientHeightTwips)};
  AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
  // The window finds this object through its creation parameter, then
  // through its user data.
  HWND hwnd = CreateWindowExA(0, kForm1Class, kForm1Caption, kFormStyle, CW_USEDEFAULT,
                              CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                              nullptr, nullptr, platform::ModuleInstance(), this);
  if (hwnd == nullptr) return false;

  // Every control carries the form's font, as the forms runtime gives it.
  font_ = platform::CreateFormFont();
  for (const ControlDecl& c : kControls) {
    HWND control = CreateWindowExA(
        c.ex_style, c.window_class, c.caption, WS_CHILD | WS_VISIBLE | c.style, PxX(c.left),
        PxY(c.top), PxX(c.width), PxY(c.height), hwnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), platform::ModuleInstance(), nullptr);
    if (control == nullptr) {
      DestroyWindow(hwnd);
      return false;
    }
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  }
  SendMessageA(Control(kOption1Server), BM_SETCHECK, BST_CHECKED, 0);
  selected_option_ = 0;

  ShowWindow(hwnd, show_command);
  UpdateWindow(hwnd);
  // The control with the lowest tab index that can take the focus.
  SetFocus(Control(kText1));
  return true;
}

LRESULT CALLBACK Form1::WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_NCCREATE) {
    auto* form = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    form->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  auto* form = reinterpret_cast<Form1*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (form == nullptr) return DefWindowProcA(hwnd, msg, wparam, lparam);
  if (msg == WM_NCDESTROY) SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
  // Nothing is thrown back into the system's message dispatch: an error
  // that a handler does not trap gets the runtime's report instead.
  try {
    return form->HandleMessage(msg, wparam, lparam);
  } catch (...) {
    platform::ReportUntrapped();
    return 0;
  }
}

LRESULT Form1::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  switch (msg) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_ACTIVATE:
      // Keep the focus where the user left it when another window (a message
      // box) comes and goes.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && GetParent(focus) == hwnd_) focus_before_deactivation_ = focus;
        return 0;
      }
      if (focus_before_deactivation_ != nullptr && IsWindow(focus_before_deactivation_)) {
        SetFocus(focus_before_deactivation_);
        return 0;
      }
      return DefWindowProcA(hwnd_, msg, wparam, lparam);
    case WM_SETCURSOR:
      if (platform::ApplyMousePointer()) return TRUE;
      return DefWindowProcA(hwnd_, msg, wparam, lparam);
    case WM_DESTROY:
      // The program's only window: with it gone the program ends.
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY: {
      HWND gone = hwnd_;
      hwnd_ = nullptr;
      focus_before_deactivation_ = nullptr;
      // The controls are gone: their font can go too.
      if (font_ != nullptr) DeleteObject(font_);
      font_ = nullptr;
      return DefWindowProcA(gone, msg, wparam, lparam);
    }
    default:
      return DefWindowProcA(hwnd_, msg, wparam, lparam);
  }
}

void Form1::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;
  switch (id) {
    case kCommand1:
      Command1_Click();
      break;
    case kCommand2:
      Command2_Click();
      break;
    case kCommand3:
      Command3_Click();
      break;
    case kOption1Server:
    case kOption1Client: {
      // The event comes when a button becomes selected, not when the
      // selected one is clicked again.
      const int index = id - kOption1Server;
      if (!OptionSelected(index) || index == selected_option_) break;
      selected_option_ = index;
      Option1_Click(index);
      break;
    }
    default:
      break;
  }
}

std::string Form1::Text1() const {
  HWND box = Control(kText1);
  const int n = GetWindowTextLengthA(box);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  const int got = GetWindowTextA(box, text.data(), n + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

void Form1::SetText1(const std::string& text) { SetWindowTextA(Control(kText1), text.c_str()); }

bool Form1::OptionSelected(int index) const {
  HWND button = Control(index == 0 ? kOption1Server : kOption1Client);
  return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void Form1::ComposePath(const std::string& folder) {
  if (OptionSelected(0)) {
    SetText1(JoinPath(folder, "qvd.mdb"));
  } else if (OptionSelected(1)) {
    SetText1(JoinPath(folder, "backup.mdb"));
  }
}

void Form1::Option1_Click(int) { ComposePath(SelectedFolder); }

void Form1::Command1_Click() {
  SelectedFolder = Text1();
  BrowseFolders(*this, SelectedFolder, "Select Catalog", "Select the folder containing backup.mdb");
  if (SelectedFolder.empty()) return;
  if (NamesFile(SelectedFolder)) {
    // Cancelled while the box named a file: the picker chooses folders only,
    // so this is the box's own text back. The box keeps it, and the option
    // buttons compose from its folder from now on.
    SelectedFolder = FolderOf(SelectedFolder);
    return;
  }
  ComposePath(SelectedFolder);
}

void Form1::Command2_Click() {
  constexpr char kInvalidEntry[] = "Invalid entry. Please enter the Complete path for the catalog.";
  // Statement by statement: a failing statement is skipped, and a test whose
  // condition cannot be evaluated runs its branch.
  bool empty = true;
  ResumeNext([&] { empty = Text1().empty(); });
  if (empty) {
    ResumeNext([&] { platform::MsgBox(kInvalidEntry); });
    ResumeNext([&] { SetFocus(Control(kText1)); });
    return;
  }
  bool found = true;
  ResumeNext([&] { found = !platform::Dir(Text1()).empty(); });
  if (found) {
    ResumeNext([&] { RandC(); });
  } else {
    ResumeNext([&] { platform::MsgBox(kInvalidEntry); });
    ResumeNext([&] { SetFocus(Control(kText1)); });
  }
}

void Form1::Command3_Click() { platform::EndProgram(); }

void Form1::BrowseFolders(Form1& frm, std::string& sFolderName, const std::string& sTitle,
                          const std::string& sPrompt) {
  namespace picker = modBrowseForFolder;
  std::string start;
  std::string chosen;
  ResumeNext([&] { start = sFolderName; });
  ResumeNext([&] {
    picker::BrowseOptions.Title = sTitle;
    picker::BrowseOptions.Prompt = sPrompt;
    // A path naming a file starts the picker in the file's folder.
    picker::BrowseOptions.InitialFolder = NamesFile(start) ? FolderOf(start) : start;
    picker::BrowseOptions.CheckBoxCaption = "Include Subfolders";
    picker::BrowseOptions.OkCaption = "OK";
    picker::BrowseOptions.CancelCaption = "Cancel";
    picker::BrowseOptions.NewFolderCaption = "New Folder";
    picker::BrowseOptions.RootFolder = 0;
    picker::BrowseOptions.Resizable = picker::kFalse;
    picker::BrowseOptions.CenterOnScreen = picker::kFalse;
    picker::BrowseOptions.LargeSize = picker::kFalse;
    picker::BrowseOptions.FullScreen = picker::kFalse;
    picker::BrowseOptions.ShowNewFolderButton = picker::kTrue;
    picker::BrowseOptions.ShowCheckBox = picker::kTrue;
    picker::BrowseOptions.ShowEditBox = picker::kFalse;
    picker::BrowseOptions.ShowPathBox = picker::kTrue;
    picker::BrowseOptions.ShowStatusText = picker::kTrue;
    picker::BrowseOptions.IncludeFiles = picker::kFalse;
    picker::BrowseOptions.OwnerWindow = frm.hwnd();
  });
  ResumeNext([&] { chosen = picker::BrowseForFolder(); });
  if (chosen.empty()) ResumeNext([&] { chosen = start; });
  ResumeNext([&] { sFolderName = StripNulls(chosen); });
}

std::string Form1::StripNulls(const std::string& sIn) {
  std::string result;
  const size_t length = sIn.size();
  for (size_t i = 0; i < length; ++i) {
    if (sIn[i] != '\0') result += sIn[i];
  }
  return result;
}

void Form1::RandC() {
  // The file is compacted into a new file beside it, which then replaces
  // it in one step; until that step the source is untouched. A file left
  // under the temporary name by an earlier failure is never deleted here:
  // it may be the only good copy.
  try {
    platform::SetMousePointer(platform::MousePointer::kHourglass);
    if (platform::Dir(Text1()).empty()) {
      throw RuntimeError(jet::kFileNotFound, "Could not find file '" + Text1() + "'.");
    }
    try {
      platform::CompactDatabase(Text1(), TemporaryPath(Text1()));
    } catch (const RuntimeError& e) {
      // A file under the temporary name is most likely the copy of a
      // compaction that was cut short; the operator decides what it is.
      if (e.number() != jet::kDatabaseExists || TemporaryPath(Text1()) == Text1()) throw;
      throw RuntimeError(e.number(), "The file '" + TemporaryPath(Text1()) +
                                         "' already exists; it may be left from an earlier "
                                         "compaction. Move it away before compacting again.");
    }
    platform::MoveReplacing(TemporaryPath(Text1()), Text1());
    platform::SetMousePointer(platform::MousePointer::kDefault);
    platform::MsgBox("Compact Database Operation Completed");
    platform::UnloadWindow(hwnd_);
  } catch (...) {
    // Every error of the routine, of whatever kind, ends here.
    const jet::Error e = jet::ErrorOf(std::current_exception());
    ResumeNext([] { platform::SetMousePointer(platform::MousePointer::kDefault); });
    ResumeNext([&] {
      platform::MsgBox(std::to_string(e.number()) + " Description: " + e.description(),
                       platform::BoxIcon::kCritical, "RandC");
    });
  }
}

int RunProgram(int show_command) {
  platform::StartProgram();
  // OLE for the folder dialog, from before the window until after it.
  const platform::OleSession ole;
  Form1 form;
  if (!form.Create(show_command)) return 1;
  MSG msg;
  while (!platform::ProgramEnding() && GetMessageA(&msg, nullptr, 0, 0)) {
    if (IsEnterOrEscapeFor(form.hwnd(), msg)) continue;
    if (!IsWindow(form.hwnd()) || !IsDialogMessageA(form.hwnd(), &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return 0;
}

}  // namespace tessmark::main_window
