// Control panel of the headless window and file system: what a test sets up
// before the program runs (drives, screen, system version, injected file
// faults) and what it reads back afterwards (message log, message boxes
// shown, pointer, whether the program has asked to quit).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/headless/win32_api.h"

namespace tessmark::headless {

// Forgets every window, class, font, queued message, box, drive, attribute
// and fault, and restores the default screen (1024 x 768, 96 dots per inch)
// and system version (Windows 2000, 5.0.2195).
void Reset();

// --- Drives -----------------------------------------------------------
// Makes `letter`: (A-Z) show the contents of `host_folder`.
void MapDrive(char letter, const std::filesystem::path& host_folder);
void UnmapDrive(char letter);
// The program's current folder, a Windows path ("C:\\" after Reset). A path
// without a drive, or with a drive but no backslash after its colon ("d:",
// "d:Data"), is taken relative to it when it is on that drive, as by the
// system; the current folder of every other drive is its root, as for a
// program that no command prompt started. A path starting with a backslash
// is on the current folder's drive.
void SetCurrentFolder(const std::string& windows_path);
// The host path that a Windows path names, matching each existing component
// without regard to case as Windows does. Empty when the path is not on a
// mapped drive or is malformed.
std::filesystem::path HostPath(const std::string& windows_path);

// --- System -----------------------------------------------------------
void SetScreenSize(int width, int height);
// Dots per inch of the screen, across and down (GetDeviceCaps LOGPIXELSX
// and LOGPIXELSY); 96 after Reset.
void SetScreenDpi(int dpi);
void SetSystemVersion(DWORD major, DWORD minor, DWORD build, DWORD platform_id,
                      const std::string& service_pack);

// --- OLE --------------------------------------------------------------
// How many OleInitialize calls on the program's one thread are not yet
// matched by OleUninitialize. OLE is started (the thread is in a
// single-threaded apartment) while this is above 0; the folder dialog
// refuses to run otherwise.
int OleDepth();

// --- Injected faults ----------------------------------------------------
enum class FileOperation { kFind, kDelete, kMove, kCreateDirectory, kSetAttributes };
// The next call of `operation` whose Windows path contains `path_part`
// (without regard to case; empty matches any path) fails with `error` and
// changes nothing.
void FailNextFileOperation(FileOperation operation, DWORD error, const std::string& path_part = "");
// Asked before every file operation above that no queued fault has failed,
// once per call, with the operation and its Windows path (for a move, the
// file being moved). A non-zero answer fails the call with that error and
// changes nothing. A test counts and fails operations with it (the Nth
// once, or from the Nth on), together with the engine's own when it likes.
// An empty hook (the default after Reset) lets every call through.
using FileOperationHook = std::function<DWORD(FileOperation operation, const std::string& path)>;
void SetFileOperationHook(FileOperationHook hook);

// --- Message log --------------------------------------------------------
struct LoggedMessage {
  HWND hwnd;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  bool posted;    // delivered by DispatchMessageA rather than sent
  int depth;      // nesting of sent messages at delivery, 0 for the outermost
  LONG_PTR proc;  // the window procedure it was delivered to (WndProcToLong)
};
const std::vector<LoggedMessage>& MessageLog();
// Every change of a window's procedure (SetWindowLongPtrA, GWLP_WNDPROC), in
// order, with how many messages the log held when it was made, so that a
// test can place it among them.
struct ProcedureChange {
  HWND hwnd;
  LONG_PTR old_proc;
  LONG_PTR new_proc;
  size_t at;  // index in MessageLog() of the first message after it
};
const std::vector<ProcedureChange>& ProcedureChanges();
// Clears the message log and the procedure changes.
void ClearMessageLog();

// --- Message boxes ------------------------------------------------------
struct MessageBoxRecord {
  HWND owner;
  std::string text;
  std::string caption;
  UINT type;
  int answer;
};
const std::vector<MessageBoxRecord>& MessageBoxes();
// Answers the next message box. The callback runs while the box is open (its
// owner disabled, a modal level entered) and returns the button pressed.
// Without a queued answer a box is answered with its first button (IDOK).
void QueueMessageBoxAnswer(std::function<int(const MessageBoxRecord&)> answer);
void QueueMessageBoxAnswer(int button);
size_t PendingMessageBoxAnswers();

// --- Message loop -------------------------------------------------------
// Called by GetMessageA when the queue is empty, as the point where the user
// would act. It returns false when it has nothing more to do; GetMessageA
// then throws InputExhausted instead of waiting forever.
void SetIdleHandler(std::function<bool()> handler);
struct InputExhausted : std::exception {
  const char* what() const noexcept override {
    return "the program waits for input and the script has none left";
  }
};
// Number of message loops (GetMessageA callers) and modal boxes running.
int ModalDepth();
bool QuitPosted();
int QuitCode();
// The cursor last set with SetCursor: true when it is the hourglass.
bool HourglassShown();
// Every cursor change in order: true for the hourglass, false otherwise.
const std::vector<bool>& CursorHistory();

// Queues keyboard input: like a posted message, but its window is the one
// with the focus (else the active window) when a message loop takes it, as
// with real keyboard input.
void PostKeyboardInput(UINT message, WPARAM wparam, LPARAM lparam);

// The distance the next size drag (frame or size box) moves the window's
// bottom-right corner; used by the scripted user.
void SetPendingDrag(int dx, int dy);

// Checks the window tree (parent, children, owner links and handle table);
// returns a description of the first inconsistency, or empty text.
std::string VerifyTree();

}  // namespace tessmark::headless
