// The picker's entry: shows the system folder dialog with the picker's
// callback, again after every New Folder restart, then tidies up.
#include "folder_picker/browse_for_folder.h"

#include <string>

#include "folder_picker/picker_state.h"

namespace modBrowseForFolder {

BrowseOptionsRecord BrowseOptions;

namespace {

constexpr int kPathChars = 260;

UINT DialogFlags() {
  UINT flags = BIF_VALIDATE;
  if (BrowseOptions.ShowEditBox != 0) flags |= BIF_EDITBOX;
  if (BrowseOptions.ShowStatusText != 0) flags |= BIF_STATUSTEXT;
  if (BrowseOptions.IncludeFiles != 0) flags |= BIF_BROWSEINCLUDEFILES;
  return flags;
}

// One showing of the dialog; the accepted item's path, or empty text.
std::string ShowOnce() {
  BeginShowing();
  BrowseOptionsRecord& o = BrowseOptions;
  if (!IsWindow(o.OwnerWindow)) o.OwnerWindow = GetDesktopWindow();
  if (o.Prompt.empty()) o.Prompt = "Select a folder";
  const std::string prompt = o.Prompt;  // stays valid until the dialog returns

  LPITEMIDLIST root = nullptr;
  if (o.RootFolder != 0 &&
      FAILED(SHGetSpecialFolderLocation(o.OwnerWindow, static_cast<int>(o.RootFolder), &root))) {
    root = nullptr;
  }

  BROWSEINFOA info{};
  info.hwndOwner = o.OwnerWindow;
  info.pidlRoot = root;
  info.pszDisplayName = nullptr;
  info.lpszTitle = prompt.c_str();
  info.ulFlags = DialogFlags();
  info.lpfn = BrowseCallbackProc;
  info.lParam = 0;
  info.iImage = 0;
  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (root != nullptr) CoTaskMemFree(root);

  std::string path;
  if (chosen != nullptr) {
    char buffer[kPathChars] = {};
    if (SHGetPathFromIDListA(chosen, buffer) != FALSE) {
      path = TrimAtNull(std::string(buffer, sizeof buffer));
    }
    CoTaskMemFree(chosen);
  }
  return path;
}

}  // namespace

std::string BrowseForFolder() {
  BrowseOptions.SubfoldersChecked = 0;
  std::string path;
  do {
    path = ShowOnce();
    // A dialog that never called back cannot have consumed a restart request.
    if (PickerState.DialogWnd == HWND{}) break;
  } while (PickerState.RestartPending != 0);
  ReleaseDialog();
  return path;
}

}  // namespace modBrowseForFolder
