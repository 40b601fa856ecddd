// Installing and removing the picker's subclass procedures, and taking its
// added windows down again.
#include "folder_picker/picker_state.h"

namespace modBrowseForFolder {

namespace rt = tessmark::platform;

PickerStateRecord PickerState;

void BeginShowing() {
  PickerStateRecord& s = PickerState;
  s.DialogWnd = s.TreeWnd = s.OkWnd = s.CancelWnd = HWND{};
  s.SizeGripWnd = s.SizeGripInnerWnd = s.FolderButtonWnd = HWND{};
  s.StatusWnd = s.SystemEditWnd = s.PathBoxWnd = s.PathLabelWnd = HWND{};
  s.OldFolderButtonProc = s.OldDialogProc = s.OldPathBoxProc = s.OldSizeGripProc = 0;
}

LRESULT CallSaved(LONG_PTR saved, HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return CallWindowProcA(rt::LongToWndProc(saved), hwnd, uMsg, wParam, lParam);
}

namespace {

LONG_PTR Hook(HWND hwnd, WNDPROC proc) {
  return SetWindowLongPtrA(hwnd, GWLP_WNDPROC, rt::WndProcToLong(proc));
}

// Puts a saved procedure back, but only on a window of this showing that still
// exists and was hooked in it.
void Unhook(HWND hwnd, LONG_PTR saved) {
  if (hwnd == HWND{} || saved == 0 || !IsWindow(hwnd)) return;
  SetWindowLongPtrA(hwnd, GWLP_WNDPROC, saved);
}

void DestroyAdded(HWND hwnd) {
  if (hwnd != HWND{} && IsWindow(hwnd)) DestroyWindow(hwnd);
}

}  // namespace

LONG_PTR HookPathBox() { return Hook(PickerState.PathBoxWnd, PathBoxProc); }
LONG_PTR HookFolderButton() { return Hook(PickerState.FolderButtonWnd, FolderButtonProc); }
LONG_PTR HookSizeGrip() { return Hook(PickerState.SizeGripWnd, SizeGripProc); }
LONG_PTR HookDialog() { return Hook(PickerState.DialogWnd, DialogProc); }

void UnhookDialog() { Unhook(PickerState.DialogWnd, PickerState.OldDialogProc); }
void UnhookPathBox() { Unhook(PickerState.PathBoxWnd, PickerState.OldPathBoxProc); }
void UnhookFolderButton() { Unhook(PickerState.FolderButtonWnd, PickerState.OldFolderButtonProc); }
void UnhookSizeGrip() { Unhook(PickerState.SizeGripWnd, PickerState.OldSizeGripProc); }

void ReleaseDialog() {
  UnhookFolderButton();
  UnhookDialog();
  UnhookSizeGrip();
  UnhookPathBox();
  DestroyAdded(PickerState.PathLabelWnd);
  DestroyAdded(PickerState.PathBoxWnd);
  DestroyAdded(PickerState.FolderButtonWnd);
  DestroyAdded(PickerState.SizeGripWnd);
  DestroyAdded(PickerState.SizeGripInnerWnd);
}

}  // namespace modBrowseForFolder
