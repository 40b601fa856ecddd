// Runtime state of the folder picker and the procedures its parts share.
//
// One PickerState for the whole program, filled anew for each showing of the
// dialog and never cleared as a whole. The window handles and the saved window
// procedures are reset when a showing begins (BeginShowing), so that nothing
// of an earlier dialog is ever touched again; the measured offsets, the
// rectangle, CurrentPath and RestartPending carry over.
#pragma once

#include <cstdint>
#include <string>

#include "folder_picker/browse_for_folder.h"
#include "platform/shell32.h"
#include "platform/win32.h"

namespace modBrowseForFolder {

struct PickerStateRecord {
  RECT DialogRect{};  // outer rectangle of the dialog, screen pixels
  HWND DialogWnd{};
  HWND TreeWnd{};
  HWND OkWnd{};
  HWND CancelWnd{};
  HWND SizeGripWnd{};
  HWND SizeGripInnerWnd{};  // only on systems before version 5
  HWND FolderButtonWnd{};   // New Folder button or subfolder check box
  HWND StatusWnd{};
  HWND SystemEditWnd{};
  HWND PathBoxWnd{};
  HWND PathLabelWnd{};
  std::int32_t EditTop = 0;  // offsets from the dialog's outer top edge
  std::int32_t EditHeight = 0;
  std::int32_t StatusTop = 0;
  std::int32_t StatusHeight = 0;
  std::int32_t TreeTop = 0;
  std::string CurrentPath;
  Flag RestartPending = kFalse;
  // Window procedures as SetWindowLongPtrA returns them (SetWindowLongA on
  // 32-bit Windows, where LONG_PTR is LONG).
  LONG_PTR OldFolderButtonProc = 0;
  LONG_PTR OldDialogProc = 0;
  LONG_PTR OldPathBoxProc = 0;
  LONG_PTR OldSizeGripProc = 0;
};

extern PickerStateRecord PickerState;

// Forgets the windows and saved procedures of an earlier showing.
void BeginShowing();

// The dialog's callback (initialisation and selection tracking).
int CALLBACK BrowseCallbackProc(HWND hwnd, UINT uMsg, LPARAM lParam, LPARAM lpData);

// Layout and resizing.
void LayoutControls();
LRESULT CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK SizeGripProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Path box.
LRESULT CALLBACK PathBoxProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// New Folder button and subfolder check box.
LRESULT CALLBACK FolderButtonProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
void CreateNewFolder();

// Hooks install a subclass procedure and return the one they replaced.
LONG_PTR HookPathBox();
LONG_PTR HookFolderButton();
LONG_PTR HookSizeGrip();
LONG_PTR HookDialog();
void UnhookDialog();
void UnhookPathBox();
void UnhookFolderButton();
void UnhookSizeGrip();
void ReleaseDialog();

// Path and window helpers.
std::string GetWindowString(HWND hwnd);
std::string LastPathPart(const std::string& sPath);
std::string ParentPath(const std::string& sPath);
bool PathExists(const std::string& sPath);
std::string TrimAtNull(const std::string& sIn);
bool IsVersion5OrLater();

// Window-procedure calls through a saved value.
LRESULT CallSaved(LONG_PTR saved, HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Picker texts that several parts use.
inline constexpr char kBrowseForFolder[] = "Browse for Folder";

}  // namespace modBrowseForFolder
