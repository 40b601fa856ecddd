// The services the program takes from its forms runtime: message boxes, the
// text-entry box, the controls' font, the application-wide mouse pointer, file search and file
// operations, the screen size, the module instance, ending the program and
// closing a window. All of them are written over the Win32 subset of
// platform/win32.h, so the headless build runs this very code.
//
// A service that fails raises RuntimeError, which carries an error number
// and a description all the way to the user. It is an engine Error, so the
// one translation of exceptions (jet::ErrorOf) keeps its number.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"
#include "tessmark/error.h"

namespace tessmark::platform {

// Shown by message boxes that pass no title of their own.
inline constexpr char kApplicationTitle[] = "Tessmark";
// Window class of the text-entry box.
inline constexpr char kInputBoxClass[] = "TessmarkInputBox";

class RuntimeError : public jet::Error {
 public:
  using jet::Error::Error;
};

// The runtime's own error numbers (the engine's are in tessmark/error.h).
inline constexpr int32_t kErrOutOfMemory = 7;
static_assert(kErrOutOfMemory == jet::kOutOfMemory);
inline constexpr int32_t kErrBadFileName = 52;
inline constexpr int32_t kErrFileNotFound = 53;
inline constexpr int32_t kErrFileAlreadyExists = 58;
inline constexpr int32_t kErrDeviceUnavailable = 68;
inline constexpr int32_t kErrPermissionDenied = 70;
inline constexpr int32_t kErrRenameAcrossDrives = 74;
inline constexpr int32_t kErrPathFileAccess = 75;
inline constexpr int32_t kErrPathNotFound = 76;

// The runtime's report of an error that no handler traps, for use inside a
// catch block: whatever is being handled is shown ("Run-time error 'N':")
// and the program ends. Window procedures end in it, so no exception ever
// unwinds through the system's frames. Never throws.
void ReportUntrapped() noexcept;

// The runtime's error for a failed Win32 file call (GetLastError value).
RuntimeError ErrorFromWin32(DWORD code);

// --- Boxes ------------------------------------------------------------------
enum class BoxIcon { kNone, kInformation, kCritical };
// Modal box with an OK button; returns when OK is pressed. An empty title
// shows the application's title.
void MsgBox(const std::string& text, BoxIcon icon = BoxIcon::kNone, const std::string& title = "");
// Modal text-entry box; returns the typed text, or empty text on Cancel.
std::string InputBox(const std::string& prompt, const std::string& title,
                     const std::string& default_text = "");

// --- Font -------------------------------------------------------------------------
// The font the runtime gives the controls of a form and of the text-entry
// box: MS Sans Serif, 8 points at the screen's resolution (height -11 at 96
// dots per inch). The caller deletes it (DeleteObject) once the windows that
// use it are gone. Null when the system cannot make it; controls then keep
// the system font.
HFONT CreateFormFont();

// --- Screen resolution --------------------------------------------------------
// Pixels for a length in twips (1/1440 inch) across and down the screen, at
// its dots per inch, as the runtime's TwipsPerPixelX and TwipsPerPixelY
// make them: 15 twips to the pixel at 96 dots per inch, 12 at 120, 10 at 144.
int TwipsToPixelsX(int twips);
int TwipsToPixelsY(int twips);

// --- Mouse pointer ------------------------------------------------------------
enum class MousePointer { kDefault, kHourglass };
// Applies over every window of the program until set again.
void SetMousePointer(MousePointer pointer);
MousePointer GetMousePointer();
// For WM_SETCURSOR in the program's window procedures: shows the
// application-wide pointer and returns true when one is in force.
bool ApplyMousePointer();

// --- Files ----------------------------------------------------------------------
// Searches `path` (wildcards allowed; a path ending in a backslash searches
// that folder's entries) for an entry that is not a folder, hidden or system
// file, and returns its name, or empty text when none matches.
std::string Dir(const std::string& path);
void Kill(const std::string& path);                         // delete a file
void Name(const std::string& from, const std::string& to);  // rename; `to` must not exist
// Renames `from` over `to` in one step, durably. A full disk raises 3026 and
// a failing device 3043, the database engine's numbers, since this puts a
// newly written version of a file in place; other failures are the
// runtime's own.
void MoveReplacing(const std::string& from, const std::string& to);
void MkDir(const std::string& path);

// --- Program ------------------------------------------------------------------
struct ScreenSize {
  int width;
  int height;
};
ScreenSize GetScreenSize();
HINSTANCE ModuleInstance();
// Called by the program entry before it creates its first window: the
// pointer is the default and no end has been requested.
void StartProgram();
// OLE on the program's one thread, in a single-threaded apartment, for as
// long as the object lives: the system's folder dialog needs it. The
// program entry makes one before its first window and lets it go after the
// last, which ends OLE again when this object started it.
class OleSession {
 public:
  OleSession();
  ~OleSession();
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;

 private:
  bool started_ = false;
};
// Ends the program at once: the message loop runs no further event.
void EndProgram();
bool ProgramEnding();
// Closes (unloads) a window; the program ends when its last window is gone.
void UnloadWindow(HWND window);

}  // namespace tessmark::platform
