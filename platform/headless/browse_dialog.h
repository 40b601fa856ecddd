// Control panel of the headless folder-browse dialog (SHBrowseForFolderA):
// what a test reads back about the dialogs shown, and the operations of a
// scripted user on the dialog that is open.
#pragma once

#include <string>
#include <vector>

#include "platform/headless/shell32_api.h"
#include "platform/headless/win32_api.h"

namespace tessmark::headless {

// One showing of the folder dialog, as the system made it.
struct BrowseDialogRecord {
  HWND dialog = nullptr;
  HWND owner = nullptr;
  UINT flags = 0;
  std::string prompt;  // BROWSEINFOA::lpszTitle
  RECT first_rect{};   // where and how large the dialog was created
  HWND ok = nullptr;   // the dialog's own children, in creation order
  HWND cancel = nullptr;
  HWND title_static = nullptr;
  HWND status_static = nullptr;  // only with BIF_STATUSTEXT
  HWND edit = nullptr;           // only with BIF_EDITBOX
  HWND tree = nullptr;
  bool has_root = false;      // a pidlRoot was given
  std::string selected;       // display path of the selection ("" for none)
  int selection_changes = 0;  // BFFM_SELCHANGED notifications sent
  bool open = false;
  bool accepted = false;  // ended with OK
};

// Every folder dialog shown since the last ForgetBrowseDialogs, oldest first.
const std::vector<BrowseDialogRecord>& BrowseDialogs();
void ForgetBrowseDialogs();
// The innermost folder dialog that is open, or null.
HWND OpenBrowseDialog();

// Names of the virtual items under the desktop (no file-system path), with
// the special-folder numbers that SHGetSpecialFolderLocation knows.
struct VirtualItem {
  int csidl;
  const char* name;
};
const std::vector<VirtualItem>& VirtualItems();

namespace browse_user {

// Each operation acts on the open folder dialog the way a user would, and
// throws std::logic_error when there is none or the target is missing.

// Clicks a folder (or, with BIF_BROWSEINCLUDEFILES, a file) in the tree; the
// path must exist. A virtual item is clicked by its name.
void SelectFolder(const std::string& path);
void SelectVirtualItem(const std::string& name);
// Clicks into the path box the picker added, replaces its text by typing,
// and optionally presses Enter (key down, the carriage-return character, key up).
void TypeIntoPathBox(const std::string& text, bool press_enter = true);
// Presses and releases the left mouse button on the New Folder button or
// the check box that the picker added.
void PressFolderButton();
void ReleaseFolderButton();
void ClickFolderButton();
// F1 on that control: the key and the help request that follows.
void PressF1OnFolderButton();
// Drags the dialog by its caption by dx, dy; or drags its size grip / frame
// to a new outer size. Both run the system's move-size loop: enter, the
// minimum-size query when sizing, the move, exit.
void DragDialog(int dx, int dy);
void ResizeDialog(int width, int height);
void ClickOk();
void ClickCancel();

// The picker's added windows, found the way a user sees them.
HWND PathBox();
HWND FolderButton();

}  // namespace browse_user

}  // namespace tessmark::headless
