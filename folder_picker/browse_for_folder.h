// modBrowseForFolder: the folder picker.
//
// A caller fills the one options record, BrowseOptions, and calls
// BrowseForFolder. The picker shows the system folder-browse dialog (classic
// style) and dresses it up while it is open: a path box, a New Folder button or
// an "Include subfolders" check box, optional resizing with a size grip,
// typed-path navigation and folder creation. Everything runs on the one
// user-interface thread; the picker must not be entered again while its
// dialog is open.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace modBrowseForFolder {

// 16-bit flags: true is -1, false is 0, any non-zero value counts as set.
using Flag = std::int16_t;
inline constexpr Flag kTrue = -1;
inline constexpr Flag kFalse = 0;

// The picker's options. Lives as long as the program and is never cleared:
// every default the picker fills in, and every flag it clears for a special
// root folder, stays written here for the next call.
struct BrowseOptionsRecord {
  std::string Title;             // dialog caption; "Browse for Folder" when empty
  std::string Prompt;            // text above the tree; "Select a folder" when empty
  std::string InitialFolder;     // folder selected at start; "c:\" when empty
  std::string CheckBoxCaption;   // "Include subfolders" when empty
  std::string OkCaption;         // "OK" when empty
  std::string CancelCaption;     // "Cancel" when empty
  std::string NewFolderCaption;  // "New Folder" when empty
  std::int32_t RootFolder = 0;   // special-folder number of the root; 0 = whole namespace
  Flag Resizable = kFalse;
  Flag CenterOnScreen = kFalse;
  Flag LargeSize = kFalse;  // 480 x 480
  Flag FullScreen = kFalse;
  Flag ShowNewFolderButton = kFalse;
  Flag ShowCheckBox = kFalse;  // only when no New Folder button is added
  Flag ShowEditBox = kFalse;   // the dialog's own edit box (BIF_EDITBOX)
  Flag ShowPathBox = kFalse;   // the added "Folder :" label and path box
  Flag ShowStatusText = kFalse;
  Flag IncludeFiles = kFalse;
  std::int16_t SubfoldersChecked = 0;  // output: 1 checked, 0 not
  HWND OwnerWindow{};                  // the desktop window when not a window
};

extern BrowseOptionsRecord BrowseOptions;

// Shows the picker as BrowseOptions says and returns the file-system path of
// the accepted folder (without NUL characters), or empty text when the dialog
// was cancelled or the accepted item has no file-system path.
std::string BrowseForFolder();

}  // namespace modBrowseForFolder
