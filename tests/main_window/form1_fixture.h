// Fixture for Form1's tests: the window created as the program creates it,
// drive C: in a scratch folder, and helpers for the path box and the
// database files.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "main_window/browse_double.h"
#include "main_window/form1.h"
#include "platform/forms_runtime.h"
#include "support_ui/ui_fixture.h"
#include "tessmark/compact.h"
#include "tessmark/error.h"

namespace tessmark::testing {

using main_window::ControlId;
using main_window::Form1;

class Form1Test : public UiTest {
 protected:
  void SetUp() override {
    UiTest::SetUp();
    ForgetBrowseCalls();
    platform::StartProgram();
    form_ = std::make_unique<Form1>();
    ASSERT_TRUE(form_->Create(SW_SHOWNORMAL));
  }

  void TearDown() override {
    form_.reset();
    UiTest::TearDown();
  }

  // For tests that run the whole program: no window of the fixture's own,
  // a fresh window system on the same drive C:.
  void RunWholeProgram() {
    form_.reset();
    user_.reset();
    headless::Reset();
    headless::MapDrive('C', drive_c_);
    user_ = std::make_unique<headless::ScriptedUser>();
  }

  // A fresh window system on the same drive C: with a new Form1, as at
  // start, on a screen of `dpi` dots per inch.
  void StartAgain(int dpi = 96) {
    RunWholeProgram();
    headless::SetScreenDpi(dpi);
    platform::StartProgram();
    form_ = std::make_unique<Form1>();
    ASSERT_TRUE(form_->Create(SW_SHOWNORMAL));
  }

  HWND Control(ControlId id) const { return GetDlgItem(form_->hwnd(), id); }
  std::string PathBox() const { return headless::ScriptedUser::Text(Control(main_window::kText1)); }

  // Clicks into the path box and types `text` over what it holds.
  void EnterPath(const std::string& text) {
    user().Click(Control(main_window::kText1));
    user().Retype(text);
  }

  bool Click(ControlId id) { return user().Click(Control(id)); }

  // Puts a sample database at `relative` on drive C:; false when there is
  // none.
  bool PutDatabase(const std::string& relative) {
    const std::filesystem::path sample =
        std::filesystem::path(TESSMARK_SHARED_DIR) / "corpus" / "jet4" / "emptyJet4.mdb";
    if (!std::filesystem::exists(sample)) return false;
    std::filesystem::create_directories(OnC(relative).parent_path());
    std::filesystem::copy_file(sample, OnC(relative));
    std::filesystem::permissions(OnC(relative), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return true;
  }

  // Every file under drive C: with its content, to show what changed.
  std::map<std::string, std::string> Files() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(drive_c_)) {
      const std::string relative = std::filesystem::relative(entry.path(), drive_c_).string();
      files[relative] = entry.is_directory() ? "<dir>" : ReadFile(relative);
    }
    return files;
  }

  std::unique_ptr<Form1> form_;
};

// The error the engine itself gives for compacting `source` into
// `destination` (host paths), or number 0 when it succeeds.
inline jet::Error EngineVerdict(const std::filesystem::path& source,
                                const std::filesystem::path& destination) {
  try {
    jet::CompactDatabase(source.string(), destination.string());
  } catch (const jet::Error& e) {
    return e;
  }
  std::filesystem::remove(destination);
  return jet::Error(0, "");
}

}  // namespace tessmark::testing
