// Placing the picker's controls from the dialog's outer rectangle, and the
// subclass procedures that keep the layout in step with a resizable dialog.
#include <cstring>

#include "folder_picker/picker_state.h"
#include "platform/forms_runtime.h"

namespace modBrowseForFolder {

namespace rt = tessmark::platform;

namespace {

constexpr int kMinimumSize = 320;
constexpr int kRowHeight = 23;
constexpr int kButtonWidth = 75;
constexpr int kCheckBoxWidth = 110;

void Move(HWND hwnd, int x, int y, int width, int height) {
  MoveWindow(hwnd, x, y, width, height, TRUE);
}

}  // namespace

void LayoutControls() {
  const BrowseOptionsRecord& o = BrowseOptions;
  const PickerStateRecord& s = PickerState;
  const int w = s.DialogRect.right - s.DialogRect.left;
  const int h = s.DialogRect.bottom - s.DialogRect.top;
  const int roomBelowTree = o.ShowPathBox != 0 ? 120 : 81;

  Move(s.PathBoxWnd, 68, h - 107, w - 90, kRowHeight);
  Move(s.PathLabelWnd, 19, h - 101, 45, 13);
  Move(s.TreeWnd, 21, s.TreeTop, w - 44, h - s.TreeTop - roomBelowTree);
  if (IsVersion5OrLater()) {
    Move(s.SizeGripWnd, w - 24, h - 44, 16, 16);
  } else {
    Move(s.SizeGripWnd, w - 18, h - 38, 16, 16);
  }

  // One row of buttons, 81 pixels apart, the rightmost ending 21 from the edge.
  const int row = h - 71;
  if (o.ShowNewFolderButton != 0) {
    Move(s.FolderButtonWnd, w - 96, row, kButtonWidth, kRowHeight);
    Move(s.CancelWnd, w - 177, row, kButtonWidth, kRowHeight);
    Move(s.OkWnd, w - 258, row, kButtonWidth, kRowHeight);
  } else if (o.ShowCheckBox != 0) {
    Move(s.CancelWnd, w - 96, row, kButtonWidth, kRowHeight);
    Move(s.OkWnd, w - 177, row, kButtonWidth, kRowHeight);
    Move(s.FolderButtonWnd, 20, row, kCheckBoxWidth, kRowHeight);
  } else {
    Move(s.CancelWnd, w - 96, row, kButtonWidth, kRowHeight);
    Move(s.OkWnd, w - 177, row, kButtonWidth, kRowHeight);
  }

  if (o.ShowEditBox != 0) Move(s.SystemEditWnd, 21, s.EditTop, w - 44, s.EditHeight);
  if (o.ShowStatusText != 0) Move(s.StatusWnd, 21, s.StatusTop, w - 44, s.StatusHeight);
  RedrawWindow(s.DialogWnd, nullptr, nullptr, RDW_INVALIDATE);
}

LRESULT CALLBACK DialogProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  // No exception may unwind through the system's frames.
  try {
    switch (uMsg) {
      case WM_SIZE:
      case WM_EXITSIZEMOVE:
        GetWindowRect(PickerState.DialogWnd, &PickerState.DialogRect);
        LayoutControls();
        break;
      case WM_GETMINMAXINFO:
        if (lParam != 0) {
          MINMAXINFO info;
          std::memcpy(&info, reinterpret_cast<const void*>(lParam), sizeof info);
          info.ptMinTrackSize.x = kMinimumSize;
          info.ptMinTrackSize.y = kMinimumSize;
          std::memcpy(reinterpret_cast<void*>(lParam), &info, sizeof info);
        }
        break;
      default:
        break;
    }
    return CallSaved(PickerState.OldDialogProc, hwnd, uMsg, wParam, lParam);
  } catch (...) {
    rt::ReportUntrapped();
    return 0;
  }
}

LRESULT CALLBACK SizeGripProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  // No exception may unwind through the system's frames.
  try {
    return CallSaved(PickerState.OldSizeGripProc, hwnd, uMsg, wParam, lParam);
  } catch (...) {
    rt::ReportUntrapped();
    return 0;
  }
}

}  // namespace modBrowseForFolder
