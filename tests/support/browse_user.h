// A scripted user's operations on the open folder dialog of the headless
// layer: what a person does with the mouse and keyboard on it.
#pragma once

#include <string>

#include "platform/headless/win32_api.h"

namespace tessmark::headless {

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
