// Form1: the utility's only window. A path box for the database file, the
// server/client choice, and the Browse, Compact Database and Cancel
// commands; the compaction itself is RandC.
#pragma once

#include <string>

#include "platform/win32.h"

namespace tessmark::main_window {

inline constexpr char kForm1Class[] = "TessmarkForm1";
inline constexpr char kForm1Caption[] = "Corvane - Tessmark";

// Control identifiers. None is IDOK or IDCANCEL: Enter and Escape must not
// reach a command.
enum ControlId : int {
  kLabel1 = 101,
  kText1 = 102,
  kCommand1 = 103,       // Browse
  kCommand2 = 104,       // Compact Database
  kCommand3 = 105,       // Cancel
  kOption1Server = 106,  // Option1(0)
  kOption1Client = 107,  // Option1(1)
};

class Form1 {
 public:
  Form1() = default;
  ~Form1();
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Creates the window with its controls and shows it; false when the
  // system refuses to create it.
  bool Create(int show_command);
  HWND hwnd() const { return hwnd_; }
  HWND Control(ControlId id) const { return GetDlgItem(hwnd_, id); }

  // Event handlers.
  void Command1_Click();          // Browse
  void Command2_Click();          // Compact Database
  void Command3_Click();          // Cancel
  void Option1_Click(int Index);  // server (0) or client (1) selected

  // Methods. BrowseFolders and StripNulls use no state of their own window
  // (BrowseFolders is told which window owns the picker), so they are static;
  // they are still called as methods of the window.
  static void BrowseFolders(Form1& frm, std::string& sFolderName, const std::string& sTitle,
                            const std::string& sPrompt);
  static std::string StripNulls(const std::string& sIn);
  void RandC();

  // The folder that the Browse command last produced.
  std::string SelectedFolder;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id, int code);

  std::string Text1() const;
  void SetText1(const std::string& text);
  bool OptionSelected(int index) const;
  // Recomposes the path box from `folder` and the selected database.
  void ComposePath(const std::string& folder);

  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;  // the controls' font, deleted with the window
  HWND focus_before_deactivation_ = nullptr;
  int selected_option_ = 0;  // index of the option button last seen selected
};

// The temporary name that RandC compacts into: the file name with every "."
// replaced by "1." (folders are left alone). A file name without a dot gives
// the source path itself, which the engine refuses to compact onto.
std::string TemporaryPath(const std::string& source);

// The program: creates Form1 and runs the message loop until the program
// ends. Returns the exit code.
int RunProgram(int show_command);

}  // namespace tessmark::main_window
