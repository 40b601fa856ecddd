// The shell's folder-browse dialog, classic style, over the headless window
// system. It is built the way the system builds it: a hidden dialog window,
// its controls in template order (OK, Cancel, the prompt, the status line when
// asked for, the edit box when asked for, the folder tree), then the
// callback's BFFM_INITIALIZED, then a modal loop until OK or Cancel.
//
// The namespace it browses is the desktop with the mapped drives below it
// (folders, and files with BIF_BROWSEINCLUDEFILES) and a few virtual items
// that have no file-system path.
#include "platform/headless/browse_dialog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/headless/state.h"

namespace tessmark::headless {

namespace {

// Control identifiers of the system's template.
constexpr int kTreeId = 0x3741;
constexpr int kTitleId = 0x3742;
constexpr int kStatusId = 0x3743;
constexpr int kEditId = 0x3745;

constexpr char kDialogClass[] = "ShellBrowseDialog";
constexpr char kTreeClass[] = "SysTreeView32";

// One component of an item identifier list.
struct Component {
  char kind;  // 'R' drive root, 'F' folder or file, 'V' virtual item
  std::string name;
};
using Item = std::vector<Component>;

const std::vector<VirtualItem> kVirtualItems = {
    {CSIDL_CONTROLS, "Control Panel"}, {CSIDL_PRINTERS, "Printers"},
    {CSIDL_BITBUCKET, "Recycle Bin"},  {CSIDL_DRIVES, "My Computer"},
    {CSIDL_NETWORK, "Network"},        {CSIDL_NETHOOD, "NetHood"},
};

LPITEMIDLIST Encode(const Item& item) {
  std::size_t size = sizeof(USHORT);
  for (const Component& c : item) size += sizeof(USHORT) + 1 + c.name.size();
  auto* bytes = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (bytes == nullptr) return nullptr;
  std::size_t at = 0;
  for (const Component& c : item) {
    const auto cb = static_cast<USHORT>(sizeof(USHORT) + 1 + c.name.size());
    std::memcpy(bytes + at, &cb, sizeof cb);
    bytes[at + sizeof cb] = static_cast<BYTE>(c.kind);
    std::memcpy(bytes + at + sizeof cb + 1, c.name.data(), c.name.size());
    at += cb;
  }
  const USHORT end = 0;
  std::memcpy(bytes + at, &end, sizeof end);
  return reinterpret_cast<LPITEMIDLIST>(bytes);
}

Item Decode(LPCITEMIDLIST list) {
  Item item;
  if (list == nullptr) return item;
  const auto* bytes = reinterpret_cast<const BYTE*>(list);
  for (;;) {
    USHORT cb = 0;
    std::memcpy(&cb, bytes, sizeof cb);
    if (cb <= sizeof cb) break;
    Component c;
    c.kind = static_cast<char>(bytes[sizeof cb]);
    c.name.assign(reinterpret_cast<const char*>(bytes + sizeof cb + 1), cb - sizeof cb - 1);
    item.push_back(std::move(c));
    bytes += cb;
  }
  return item;
}

// The file-system path of an item; empty for the desktop and virtual items.
std::string PathOf(const Item& item) {
  if (item.empty() || item.front().kind != 'R') return std::string();
  std::string path = item.front().name;  // "C:\"
  for (std::size_t i = 1; i < item.size(); ++i) {
    if (item[i].kind != 'F') return std::string();
    if (path.back() != '\\') path += '\\';
    path += item[i].name;
  }
  return path;
}

std::string DisplayName(const Item& item) {
  if (item.empty()) return "Desktop";
  return item.back().name;
}

bool DriveExists(char letter) {
  char buffer[27 * 4 + 1] = {};
  const DWORD n = GetLogicalDriveStringsA(sizeof buffer, buffer);
  for (DWORD at = 0; at + 1 < n && at < sizeof buffer; at += 4) {
    if (std::toupper(static_cast<unsigned char>(buffer[at])) == letter) return true;
  }
  return false;
}

// Resolves an existing path to an item, with the names as the file system
// spells them; an empty item when the path names nothing the tree shows.
Item ParsePath(const std::string& path, bool include_files) {
  if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0]))) {
    return {};
  }
  if (path.find_first_of("*?") != std::string::npos) return {};
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
  if (!DriveExists(letter)) return {};
  if (path.size() > 2 && path[2] != '\\') return {};
  Item item{{'R', std::string(1, letter) + ":\\"}};
  std::string prefix(1, letter);
  prefix += ':';
  std::size_t at = 3;
  while (at < path.size()) {
    std::size_t slash = path.find('\\', at);
    if (slash == std::string::npos) slash = path.size();
    const std::string part = path.substr(at, slash - at);
    if (part.empty() || part == "." || part == "..") return {};
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA((prefix + "\\" + part).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return {};
    FindClose(search);
    const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool last = path.find_first_not_of('\\', slash) == std::string::npos;
    if (!folder && !(include_files && last)) return {};
    prefix += "\\";
    prefix += found.cFileName;
    item.push_back({'F', found.cFileName});
    at = slash + 1;
  }
  return item;
}

bool StartsWithItem(const Item& item, const Item& root) {
  if (root.size() > item.size()) return false;
  for (std::size_t i = 0; i < root.size(); ++i) {
    if (item[i].kind != root[i].kind || item[i].name != root[i].name) return false;
  }
  return true;
}

struct Dialog {
  std::size_t record = 0;  // index into the history
  HWND hwnd = nullptr;
  BROWSEINFOA info{};
  Item root;
  Item selected;
  bool has_selection = false;
  LPITEMIDLIST selected_list = nullptr;  // owned; what BFFM_SELCHANGED carries
  bool ended = false;
  bool accepted = false;
};

std::vector<BrowseDialogRecord>& History() {
  static std::vector<BrowseDialogRecord> history;
  return history;
}

std::vector<Dialog*>& OpenDialogs() {
  static std::vector<Dialog*> open;
  return open;
}

Dialog* DialogOf(HWND hwnd) {
  for (Dialog* d : OpenDialogs()) {
    if (d->hwnd == hwnd) return d;
  }
  return nullptr;
}

void Select(Dialog& d, const Item& item) {
  if (!StartsWithItem(item, d.root)) return;
  d.selected = item;
  d.has_selection = true;
  if (d.selected_list != nullptr) CoTaskMemFree(d.selected_list);
  d.selected_list = Encode(item);
  BrowseDialogRecord& r = History()[d.record];
  r.selected =
      item.empty() ? std::string() : (PathOf(item).empty() ? item.back().name : PathOf(item));
  ++r.selection_changes;
  if (r.edit != nullptr) SetWindowTextA(r.edit, DisplayName(item).c_str());
  if (d.info.lpfn != nullptr) {
    d.info.lpfn(d.hwnd, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(d.selected_list), d.info.lParam);
  }
}

void End(Dialog& d, bool accepted) {
  d.ended = true;
  d.accepted = accepted;
  ShowWindow(d.hwnd, SW_HIDE);
  PostMessageA(d.hwnd, WM_NULL, 0, 0);  // wakes the modal loop, as EndDialog does
}

LRESULT CALLBACK DialogWndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  Dialog* d = DialogOf(hwnd);
  if (d == nullptr) return DefWindowProcA(hwnd, msg, wparam, lparam);
  switch (msg) {
    case WM_COMMAND:
      // The whole wParam is compared, so only a click (BN_CLICKED) counts.
      if (wparam == IDOK) {
        if (!d->has_selection) {
          d->selected.clear();  // nothing chosen: the desktop
          d->has_selection = true;
        }
        End(*d, true);
      } else if (wparam == IDCANCEL) {
        End(*d, false);
      }
      return 0;
    case WM_CLOSE:
      End(*d, false);
      return 0;
    case BFFM_SETSELECTIONA: {
      if (lparam == 0) return 0;
      const bool files = (d->info.ulFlags & BIF_BROWSEINCLUDEFILES) != 0;
      const Item item = wparam != 0 ? ParsePath(reinterpret_cast<const char*>(lparam), files)
                                    : Decode(reinterpret_cast<LPCITEMIDLIST>(lparam));
      if (!item.empty()) Select(*d, item);
      return 0;
    }
    case BFFM_SETSTATUSTEXTA: {
      const HWND status = History()[d->record].status_static;
      if (status != nullptr && lparam != 0) {
        SetWindowTextA(status, reinterpret_cast<const char*>(lparam));
      }
      return 0;
    }
    case BFFM_ENABLEOK:
      EnableWindow(History()[d->record].ok, lparam != 0 ? TRUE : FALSE);
      return 0;
    case WM_GETMINMAXINFO:
      return 0;  // the proposal stands: a classic dialog has no minimum of its own
    default:
      return DefWindowProcA(hwnd, msg, wparam, lparam);
  }
}

LRESULT CALLBACK TreeWndProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(hwnd, msg, wparam, lparam);
}

void RegisterClasses() {
  WNDCLASSA wc{};
  wc.lpfnWndProc = DialogWndProc;
  wc.lpszClassName = kDialogClass;
  RegisterClassA(&wc);  // already registered after the first dialog: fine
  WNDCLASSA tree{};
  tree.lpfnWndProc = TreeWndProc;
  tree.lpszClassName = kTreeClass;
  RegisterClassA(&tree);
}

// Dialog units of the template to pixels, for the system font (6 x 13).
int DluX(int dlu) { return (dlu * 6 + 2) / 4; }
int DluY(int dlu) { return (dlu * 13 + 4) / 8; }

HWND AddControl(HWND dialog, const char* cls, const char* text, DWORD style, int x, int y, int cx,
                int cy, int id) {
  const HWND hwnd = CreateWindowExA(
      WS_EX_NOPARENTNOTIFY, cls, text, WS_CHILD | WS_VISIBLE | style, DluX(x), DluY(y), DluX(cx),
      DluY(cy), dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
  SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  return hwnd;
}

// The dialog is placed at the top left of its owner's client area, as a
// template at 0, 0 without DS_CENTER is.
RECT FirstRect(HWND owner) {
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  RECT r{0, 0, DluX(190), DluY(195)};
  AdjustWindowRectEx(&r, style, FALSE, WS_EX_DLGMODALFRAME);
  POINT origin{0, 0};
  if (owner != nullptr && owner != GetDesktopWindow() && IsWindow(owner)) {
    ClientToScreen(owner, &origin);
  }
  const LONG width = r.right - r.left;
  const LONG height = r.bottom - r.top;
  return RECT{origin.x, origin.y, origin.x + width, origin.y + height};
}

}  // namespace

const std::vector<BrowseDialogRecord>& BrowseDialogs() { return History(); }
void ForgetBrowseDialogs() { History().clear(); }

HWND OpenBrowseDialog() {
  for (auto it = OpenDialogs().rbegin(); it != OpenDialogs().rend(); ++it) {
    if (!(*it)->ended && IsWindow((*it)->hwnd)) return (*it)->hwnd;
  }
  return nullptr;
}

const std::vector<VirtualItem>& VirtualItems() { return kVirtualItems; }

bool SelectPathInOpenDialog(const std::string& path) {
  Dialog* d = DialogOf(OpenBrowseDialog());
  if (d == nullptr) return false;
  const Item item = ParsePath(path, (d->info.ulFlags & BIF_BROWSEINCLUDEFILES) != 0);
  if (item.empty() || !StartsWithItem(item, d->root)) return false;
  SetFocus(History()[d->record].tree);
  Select(*d, item);
  return true;
}
bool SelectVirtualInOpenDialog(const std::string& name) {
  Dialog* d = DialogOf(OpenBrowseDialog());
  if (d == nullptr) return false;
  for (const VirtualItem& v : kVirtualItems) {
    if (name == v.name) {
      const Item item{{'V', v.name}};
      if (!StartsWithItem(item, d->root)) return false;
      SetFocus(History()[d->record].tree);
      Select(*d, item);
      return true;
    }
  }
  return false;
}

}  // namespace tessmark::headless

using tessmark::headless::BrowseDialogRecord;

LPVOID WINAPI CoTaskMemAlloc(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }
void WINAPI CoTaskMemFree(LPVOID memory) { std::free(memory); }

HRESULT WINAPI OleInitialize(LPVOID /*reserved*/) {
  return tessmark::headless::state().ole_depth++ == 0 ? S_OK : S_FALSE;
}

void WINAPI OleUninitialize() {
  int& depth = tessmark::headless::state().ole_depth;
  if (depth > 0) --depth;
}

namespace tessmark::headless {
int OleDepth() { return state().ole_depth; }
}  // namespace tessmark::headless

BOOL WINAPI SHGetPathFromIDListA(LPCITEMIDLIST item_list, LPSTR path) {
  if (path == nullptr) return FALSE;
  path[0] = '\0';
  if (item_list == nullptr) return FALSE;
  const std::string text = tessmark::headless::PathOf(tessmark::headless::Decode(item_list));
  if (text.empty() || text.size() >= MAX_PATH) return FALSE;
  std::memcpy(path, text.c_str(), text.size() + 1);
  return TRUE;
}

HRESULT WINAPI SHGetSpecialFolderLocation(HWND /*owner*/, int folder, LPITEMIDLIST* item_list) {
  using namespace tessmark::headless;
  if (item_list == nullptr) return E_INVALIDARG;
  *item_list = nullptr;
  if (folder == CSIDL_DESKTOP) {
    *item_list = Encode({});
    return S_OK;
  }
  for (const VirtualItem& v : kVirtualItems) {
    if (v.csidl == folder) {
      *item_list = Encode({{'V', v.name}});
      return S_OK;
    }
  }
  return E_INVALIDARG;
}

LPITEMIDLIST WINAPI SHBrowseForFolderA(LPBROWSEINFOA info) {
  using namespace tessmark::headless;
  if (state().ole_depth == 0) {
    // The system's dialog requires a single-threaded apartment on the calling
    // thread; a program that never started OLE has a fault to find.
    throw std::logic_error("SHBrowseForFolderA called before OleInitialize on this thread");
  }
  if (info == nullptr) return nullptr;
  RegisterClasses();
  Dialog d;
  d.info = *info;
  d.root = Decode(info->pidlRoot);
  const std::string prompt = info->lpszTitle != nullptr ? info->lpszTitle : "";
  d.info.lpszTitle = prompt.c_str();

  const HWND owner = info->hwndOwner;
  const RECT first = FirstRect(owner);
  d.hwnd = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kDialogClass,
                           "Browse for Folder", WS_POPUP | WS_CAPTION | WS_SYSMENU, first.left,
                           first.top, first.right - first.left, first.bottom - first.top, owner,
                           nullptr, nullptr, nullptr);
  if (d.hwnd == nullptr) return nullptr;

  BrowseDialogRecord record;
  record.dialog = d.hwnd;
  record.owner = owner;
  record.flags = info->ulFlags;
  record.prompt = prompt;
  GetWindowRect(d.hwnd, &record.first_rect);
  record.has_root = !d.root.empty();
  record.open = true;
  History().push_back(record);
  d.record = History().size() - 1;
  OpenDialogs().push_back(&d);

  // Controls in template order.
  BrowseDialogRecord& r = History()[d.record];
  r.ok = AddControl(d.hwnd, "Button", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 80, 176, 50, 14, IDOK);
  r.cancel = AddControl(d.hwnd, "Button", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, 134, 176, 50, 14,
                        IDCANCEL);
  r.title_static = AddControl(d.hwnd, "Static", prompt.c_str(), SS_LEFT, 5, 4, 180, 24, kTitleId);
  if ((info->ulFlags & BIF_STATUSTEXT) != 0) {
    r.status_static = AddControl(d.hwnd, "Static", "", SS_LEFT, 5, 25, 180, 12, kStatusId);
  }
  if ((info->ulFlags & BIF_EDITBOX) != 0) {
    r.edit = AddControl(d.hwnd, "Edit", "", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 5, 161, 180,
                        12, kEditId);
  }
  r.tree = AddControl(d.hwnd, kTreeClass, "", WS_BORDER | WS_TABSTOP, 5, 40, 180, 120, kTreeId);

  // Anything that leaves early (a script that ran out, say) still tears down.
  struct Cleanup {
    Dialog& d;
    HWND owner;
    bool reenable_owner = false;
    ~Cleanup() {
      auto& open = OpenDialogs();
      open.erase(std::remove(open.begin(), open.end(), &d), open.end());
      if (d.record < History().size()) History()[d.record].open = false;
      if (reenable_owner && IsWindow(owner)) EnableWindow(owner, TRUE);
      if (IsWindow(d.hwnd)) DestroyWindow(d.hwnd);
      if (d.selected_list != nullptr) CoTaskMemFree(d.selected_list);
    }
  } cleanup{d, owner};

  // Modal to its owner; the desktop is never disabled.
  if (owner != nullptr && owner != GetDesktopWindow() && IsWindow(owner)) {
    cleanup.reenable_owner = EnableWindow(owner, FALSE) == FALSE;  // it was enabled
  }
  if (d.info.lpfn != nullptr) d.info.lpfn(d.hwnd, BFFM_INITIALIZED, 0, d.info.lParam);
  if (!d.ended) {
    ShowWindow(d.hwnd, SW_SHOWNORMAL);
    SetFocus(History()[d.record].ok);  // classic template: OK is the first tab stop
  }

  while (!d.ended) {
    MSG msg{};
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // hand the quit on to the outer loop
      break;
    }
    if (got < 0) break;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }

  LPITEMIDLIST result = nullptr;
  if (d.ended && d.accepted) result = Encode(d.selected);
  History()[d.record].accepted = result != nullptr;
  return result;
}
