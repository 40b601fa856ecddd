// Control panel of the headless folder-browse dialog (SHBrowseForFolderA):
// what a test reads back about the dialogs shown, and selecting in the one
// that is open (the scripted user's operations are in tests/support/).
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

// Selects an item of the open dialog's tree (a path, or a virtual item by
// its name) as a click on it would; false when no dialog is open or it does
// not show the item.
bool SelectPathInOpenDialog(const std::string& path);
bool SelectVirtualInOpenDialog(const std::string& name);

}  // namespace tessmark::headless
