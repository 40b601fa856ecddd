// The added New Folder button or subfolder check box. Its subclass procedure
// takes the mouse over from the system: a press toggles the check box, a
// release runs the New Folder command, the help key explains the control.
#include <exception>
#include <string>
#include <string_view>

#include "folder_picker/picker_state.h"
#include "platform/forms_runtime.h"

namespace modBrowseForFolder {

namespace rt = tessmark::platform;

namespace {

constexpr char kCrLf[] = "\r\n";

std::string TrimBlanks(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

// Why a typed name cannot make a folder under the selected one, or empty
// text when the name is fine as far as the picker can tell; the file
// system has the last word when the folder is made. A name may reach
// deeper ("Sub\\Deeper"): the folder is made where its parent exists.
std::string RefusalOf(const std::string& name) {
  constexpr std::string_view kForbidden = ":*?\"<>|";
  if (name.find_first_of(kForbidden) != std::string::npos) {
    return "A folder name cannot contain : * ? \" < > |";
  }
  size_t start = 0;
  for (;;) {
    const size_t end = name.find_first_of("\\/", start);
    const std::string part = name.substr(start, end == std::string::npos ? end : end - start);
    if (part == "." || part == "..") {
      return "The names . and .. stand for the folder itself and its parent.";
    }
    if (end == std::string::npos) return std::string();
    start = end + 1;
  }
}

void ToggleCheckBox() {
  HWND box = PickerState.FolderButtonWnd;
  BrowseOptions.SubfoldersChecked = static_cast<std::int16_t>(SendMessageA(box, BM_GETCHECK, 0, 0));
  if (BrowseOptions.SubfoldersChecked == 0) {
    SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
    BrowseOptions.SubfoldersChecked = 1;
  } else {
    SendMessageA(box, BM_SETCHECK, BST_UNCHECKED, 0);
    BrowseOptions.SubfoldersChecked = 0;
  }
  SetFocus(PickerState.DialogWnd);
}

void DestroyAdded(HWND hwnd) {
  if (hwnd != HWND{} && IsWindow(hwnd)) DestroyWindow(hwnd);
}

}  // namespace

void CreateNewFolder() {
  std::string parent = TrimAtNull(PickerState.CurrentPath);
  std::string newPath;
  for (;;) {
    if (!parent.empty() && parent.back() == '\\') parent.pop_back();
    std::string answer;
    try {
      answer =
          rt::InputBox(std::string("Enter a name for your new folder") + kCrLf + parent + "\\...",
                       BrowseOptions.Title, "");
    } catch (...) {
      return;  // no box could be shown: as if the user had cancelled
    }
    if (TrimBlanks(answer).empty()) return;  // blank or cancelled: nothing happens
    newPath = parent + "\\" + answer;
    if (const std::string refusal = RefusalOf(answer); !refusal.empty()) {
      rt::MsgBox(answer + kCrLf + refusal + kCrLf + "Enter a different name and try again.",
                 rt::BoxIcon::kCritical, BrowseOptions.Title);
      continue;
    }
    if (PathExists(newPath)) {
      rt::MsgBox(std::string("A Folder of that name already exists.") + kCrLf +
                     "Enter a different name and try again.",
                 rt::BoxIcon::kCritical, BrowseOptions.Title);
      continue;
    }
    try {
      rt::MkDir(newPath);
    } catch (...) {
      // The file system refused the name: say why and ask again; nothing of
      // the restart happens and the dialog stays as it is.
      const tessmark::jet::Error refused = tessmark::jet::ErrorOf(std::current_exception());
      rt::MsgBox("The folder " + newPath + " could not be created." + kCrLf + kCrLf + "Error " +
                     std::to_string(refused.number()) + ": " + refused.description(),
                 rt::BoxIcon::kCritical, BrowseOptions.Title);
      continue;
    }
    break;
  }

  BrowseOptions.InitialFolder = newPath;
  PickerState.RestartPending = kTrue;
  UnhookFolderButton();
  UnhookDialog();
  UnhookPathBox();
  UnhookSizeGrip();
  SendMessageA(PickerState.CancelWnd, BM_CLICK, 0, 0);
  DestroyAdded(PickerState.PathLabelWnd);
  DestroyAdded(PickerState.PathBoxWnd);
  DestroyAdded(PickerState.FolderButtonWnd);
  DestroyAdded(PickerState.SizeGripWnd);
  DestroyAdded(PickerState.SizeGripInnerWnd);
}

LRESULT CALLBACK FolderButtonProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  // No exception may unwind through the system's frames.
  try {
    switch (uMsg) {
      case WM_HELP:
        rt::MsgBox("Creates a new folder in the currently selected directory",
                   rt::BoxIcon::kInformation, kBrowseForFolder);
        return 0;
      case WM_LBUTTONDOWN:
        if (BrowseOptions.ShowCheckBox != 0) ToggleCheckBox();
        return 0;  // never reaches the button: no capture, no pressed look
      case WM_LBUTTONUP: {
        const LONG_PTR saved = PickerState.OldFolderButtonProc;
        if (BrowseOptions.ShowNewFolderButton != 0) CreateNewFolder();
        // After a restart the button is gone; nothing is left to pass the release to.
        if (!IsWindow(hwnd)) return 0;
        return CallSaved(saved, hwnd, uMsg, wParam, lParam);
      }
      default:
        return CallSaved(PickerState.OldFolderButtonProc, hwnd, uMsg, wParam, lParam);
    }
  } catch (...) {
    rt::ReportUntrapped();
    return 0;
  }
}

}  // namespace modBrowseForFolder
