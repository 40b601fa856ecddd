// Shared set-up of the folder picker tests: a fresh headless system with
// drive C: mapped to a scratch folder and OLE started, fresh picker records,
// and a script of user steps that the message loops run one at a time
// whenever they wait.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include "folder_picker/browse_for_folder.h"
#include "folder_picker/picker_state.h"
#include "platform/forms_runtime.h"
#include "platform/headless/browse_dialog.h"
#include "platform/headless/world.h"
#include "tests/support/browse_user.h"
#include "tests/support/scripted_user.h"

namespace picker_test {

namespace fs = std::filesystem;
namespace hl = tessmark::headless;
namespace user = tessmark::headless::browse_user;
using modBrowseForFolder::BrowseOptions;
using modBrowseForFolder::kTrue;
using modBrowseForFolder::PickerState;

class PickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hl::Reset();
    hl::ForgetBrowseDialogs();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    drive_c_ = fs::temp_directory_path() /
               (std::string("tessmark-picker-") + info->test_suite_name() + "-" + info->name());
    fs::remove_all(drive_c_);
    fs::create_directories(drive_c_);
    hl::MapDrive('C', drive_c_);
    OleInitialize(nullptr);  // as the program does when it starts
    BrowseOptions = {};
    PickerState = {};
    user_.emplace();
  }

  void TearDown() override {
    user_.reset();
    hl::Reset();
    hl::ForgetBrowseDialogs();
    std::error_code ignored;
    fs::remove_all(drive_c_, ignored);
  }

  // A user step, run when a message loop next waits for input.
  void Then(std::function<void()> step) { user_->Then(std::move(step)); }
  bool ScriptDone() const { return user_->PendingActions() == 0; }
  hl::ScriptedUser& User() { return *user_; }

  // The text-entry box while it is open: its prompt, its caption, and the
  // user's answer (typed text and OK, or Cancel).
  static HWND TextEntryBox() { return FindWindowA(tessmark::platform::kInputBoxClass, nullptr); }
  static HWND ChildOf(HWND parent, const char* cls, const char* text = nullptr) {
    for (HWND c = GetWindow(parent, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      char name[32] = {};
      GetClassNameA(c, name, sizeof name);
      if (std::string(name) == cls && (text == nullptr || TextOf(c) == text)) return c;
    }
    return nullptr;
  }
  void AnswerTextEntry(const std::string& text) {
    const HWND box = TextEntryBox();
    ASSERT_NE(box, nullptr) << "no text-entry box is open";
    SetFocus(ChildOf(box, "Edit"));
    User().Retype(text);
    User().Click(ChildOf(box, "Button", "OK"));
  }
  void CancelTextEntry() {
    const HWND box = TextEntryBox();
    ASSERT_NE(box, nullptr) << "no text-entry box is open";
    User().Click(ChildOf(box, "Button", "Cancel"));
  }

  // Folders and files on drive C:, written with backslashes below the root.
  fs::path Host(const std::string& relative) const {
    std::string p = relative;
    for (char& c : p) {
      if (c == '\\') c = '/';
    }
    return drive_c_ / p;
  }
  void MakeFolder(const std::string& relative) const { fs::create_directories(Host(relative)); }
  void MakeFile(const std::string& relative) const {
    fs::create_directories(Host(relative).parent_path());
    std::ofstream(Host(relative)) << "x";
  }

  // The options the main window's Browse command sets.
  static void MainWindowOptions() {
    BrowseOptions.Title = "Select Catalog";
    BrowseOptions.Prompt = "Select the folder containing backup.mdb";
    BrowseOptions.CheckBoxCaption = "Include Subfolders";
    BrowseOptions.OkCaption = "OK";
    BrowseOptions.CancelCaption = "Cancel";
    BrowseOptions.NewFolderCaption = "New Folder";
    BrowseOptions.ShowNewFolderButton = kTrue;
    BrowseOptions.ShowCheckBox = kTrue;
    BrowseOptions.ShowPathBox = kTrue;
    BrowseOptions.ShowStatusText = kTrue;
  }

  static const hl::BrowseDialogRecord& LastDialog() { return hl::BrowseDialogs().back(); }

  static std::string TextOf(HWND hwnd) {
    char buffer[512] = {};
    GetWindowTextA(hwnd, buffer, sizeof buffer);
    return buffer;
  }
  static RECT RectOf(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return r;
  }
  // Where a child stands in its parent's client area, and its size, as
  // {x, y, width, height}: the numbers MoveWindow was given.
  static RECT PlaceIn(HWND parent, HWND child) {
    POINT origin{0, 0};
    ClientToScreen(parent, &origin);
    const RECT c = RectOf(child);
    return RECT{c.left - origin.x, c.top - origin.y, c.right - c.left, c.bottom - c.top};
  }

  fs::path drive_c_;

 private:
  std::optional<hl::ScriptedUser> user_;
};

}  // namespace picker_test
