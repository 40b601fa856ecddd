// The path box: Enter selects the typed folder, as a sibling of the current
// folder or as a full path, or says that it does not exist.
#include <cctype>
#include <string>

#include "folder_picker/picker_state.h"
#include "platform/forms_runtime.h"

namespace modBrowseForFolder {

namespace rt = tessmark::platform;

namespace {

std::string WithoutTrailingBackslash(std::string path) {
  if (!path.empty() && path.back() == '\\') path.pop_back();
  return path;
}

bool IsBareDrive(const std::string& path) {
  return path.size() == 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

// Asks the dialog to select a path; the selection change it raises rewrites
// CurrentPath, so the path sent is stored again afterwards.
void SelectPath(const std::string& path) {
  PickerState.CurrentPath = path;
  SendMessageA(PickerState.DialogWnd, BFFM_SETSELECTIONA, TRUE,
               reinterpret_cast<LPARAM>(path.c_str()));
  PickerState.CurrentPath = path;
}

void OnEnter() {
  const std::string current = WithoutTrailingBackslash(TrimAtNull(PickerState.CurrentPath));
  const std::string typed = WithoutTrailingBackslash(GetWindowString(PickerState.PathBoxWnd));
  // The typed name in place of the current folder's last component. A drive
  // root has no parent: there the name is looked for below the root itself,
  // not as \name on whichever drive is current.
  const std::string folder = IsBareDrive(current) ? current : ParentPath(current);
  const std::string sibling = folder + "\\" + typed;
  if (PathExists(sibling)) {
    SelectPath(sibling);
  } else if (PathExists(typed)) {
    SelectPath(typed);
  } else if (IsBareDrive(typed) && PathExists(typed + "\\")) {
    // A drive root typed as d:\ lost its backslash above; no file search
    // finds a bare d:, so the root is tested and selected as a root.
    SelectPath(typed + "\\");
  } else {
    rt::MsgBox(
        typed + "\r\nThe specified path does not exist.\r\n\r\nCheck the path, and try again.",
        rt::BoxIcon::kCritical, kBrowseForFolder);
  }
}

}  // namespace

LRESULT CALLBACK PathBoxProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  // No exception may unwind through the system's frames.
  try {
    if (uMsg == WM_CHAR && (wParam & 0xFF) == 13) {
      OnEnter();
      return 0;  // consumed: the box never gets a line break
    }
    return CallSaved(PickerState.OldPathBoxProc, hwnd, uMsg, wParam, lParam);
  } catch (...) {
    rt::ReportUntrapped();
    return 0;
  }
}

}  // namespace modBrowseForFolder
