// Fixture for tests of the program on the headless Win32 layer: a fresh
// window system, a scratch folder mapped as drive C:, and a scripted user.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/headless/world.h"
#include "tests/support/scripted_user.h"

namespace tessmark::testing {

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::Reset();
    std::string pattern = (std::filesystem::temp_directory_path() / "tessmark-ui-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    drive_c_ = pattern;
    headless::MapDrive('C', drive_c_);
    user_ = std::make_unique<headless::ScriptedUser>();
  }

  void TearDown() override {
    user_.reset();
    std::error_code ec;
    for (auto& entry : std::filesystem::recursive_directory_iterator(drive_c_, ec)) {
      if (entry.is_directory()) ::chmod(entry.path().c_str(), 0755);
    }
    std::filesystem::remove_all(drive_c_, ec);
    headless::Reset();
  }

  // Host path of a path on drive C:, given without the drive ("Data\\qvd.mdb").
  std::filesystem::path OnC(const std::string& relative) const {
    std::string host = relative;
    for (char& c : host) {
      if (c == '\\') c = '/';
    }
    return drive_c_ / host;
  }

  void WriteFile(const std::string& relative, const std::string& content) const {
    std::filesystem::create_directories(OnC(relative).parent_path());
    std::ofstream out(OnC(relative), std::ios::binary);
    out << content;
  }

  std::string ReadFile(const std::string& relative) const {
    std::ifstream in(OnC(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  bool Exists(const std::string& relative) const { return std::filesystem::exists(OnC(relative)); }

  headless::ScriptedUser& user() { return *user_; }

  // "face height" of the font a control was given (WM_SETFONT), or "none".
  static std::string FontOf(HWND control) {
    LOGFONTA font{};
    const auto handle = reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0));
    if (GetObjectA(handle, sizeof font, &font) != static_cast<int>(sizeof font)) return "none";
    return std::string(font.lfFaceName) + " " + std::to_string(font.lfHeight);
  }

  std::filesystem::path drive_c_;
  std::unique_ptr<headless::ScriptedUser> user_;
};

}  // namespace tessmark::testing
