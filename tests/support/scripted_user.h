// A scripted user for tests: gives input the way a person at the keyboard
// and mouse would (posted mouse and key messages), answers message boxes,
// acts whenever the program waits for input, and reads back what the
// screen would show.
#pragma once

#include <deque>
#include <functional>
#include <string>

#include "platform/headless/win32_api.h"
#include "platform/headless/world.h"

namespace tessmark::headless {

class ScriptedUser {
 public:
  // Becomes the idle handler of the message loop; one at a time.
  ScriptedUser();
  ~ScriptedUser();
  ScriptedUser(const ScriptedUser&) = delete;
  ScriptedUser& operator=(const ScriptedUser&) = delete;

  // --- Acting when the program waits --------------------------------------
  // Runs `action` the next time a message loop finds its queue empty (the
  // program waits for the user), one action per wait, in the order given.
  void Then(std::function<void()> action);
  size_t PendingActions() const { return actions_.size(); }
  // Runs `program` (which runs message loops) until it returns or waits for
  // input that the script no longer gives. True when it returned.
  static bool RunUntilInputRunsOut(const std::function<void()>& program);

  // --- Input ----------------------------------------------------------------
  // Input is posted like real input. Called from a test directly (no loop is
  // waiting), it is delivered at once through a dialog-style loop; called from
  // an action given to Then, the program's own loop delivers it.
  //
  // A left click on `window`: pointer over it, button down, button up. A
  // hidden or disabled window, or one inside a disabled window, gets nothing
  // and the call returns false.
  bool Click(HWND window);
  // Key down, its character (when `ch` is not 0) and key up, to the window
  // with the focus.
  void PressKey(UINT virtual_key, char ch = 0);
  // Types `text` character by character into the window with the focus.
  void Type(const std::string& text);
  // Selects everything in the focused edit box and types `text` over it.
  void Retype(const std::string& text);
  // Drags a size box (or the bottom-right frame corner of a top-level
  // window) by dx, dy pixels.
  void DragSizeBox(HWND size_box, int dx, int dy);
  void DragFrame(HWND top_level, int dx, int dy);

  // --- Message boxes ----------------------------------------------------------
  void AnswerNextMessageBox(int button = IDOK);
  // `answer` runs while the box is open and returns the button pressed.
  void AnswerNextMessageBox(std::function<int(const MessageBoxRecord&)> answer);

  // --- Reading the screen -----------------------------------------------------
  static std::string Text(HWND window);
  static bool Checked(HWND button);
  static bool Enabled(HWND window);
  static bool Visible(HWND window);
  static HWND Focus();
  static bool Hourglass();
  static bool ProgramEnded();
  // Selection of an edit box as [start, end).
  static std::pair<DWORD, DWORD> Selection(HWND edit);

 private:
  bool OnIdle();
  void Deliver();

  std::deque<std::function<void()>> actions_;
  bool acting_ = false;
};

}  // namespace tessmark::headless
