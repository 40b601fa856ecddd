// The picker's path and window helpers: splitting paths, the existence test
// (drive roots above all), cutting system strings, the version test, and
// reading a window's text.
#include "picker_fixture.h"

namespace picker_test {
namespace {

using modBrowseForFolder::GetWindowString;
using modBrowseForFolder::IsVersion5OrLater;
using modBrowseForFolder::LastPathPart;
using modBrowseForFolder::ParentPath;
using modBrowseForFolder::PathExists;
using modBrowseForFolder::TrimAtNull;

TEST(PathSplitting, LastPathPartKeepsThreeCharacterTextsWhole) {
  EXPECT_EQ(LastPathPart("c:\\"), "c:\\");
  EXPECT_EQ(LastPathPart("a\\b"), "a\\b");
  EXPECT_EQ(LastPathPart("c:\\Data\\Sub"), "Sub");
  EXPECT_EQ(LastPathPart("Data"), "Data");
  EXPECT_EQ(LastPathPart("c:\\Data\\"), "");
}

TEST(PathSplitting, ParentPathDropsTheLastComponentAndItsBackslash) {
  EXPECT_EQ(ParentPath("c:\\Data\\Sub"), "c:\\Data");
  EXPECT_EQ(ParentPath("c:\\Data"), "c:");
  EXPECT_EQ(ParentPath("c:\\"), "c:");
  EXPECT_EQ(ParentPath("Data"), "");
}

TEST(PathSplitting, TrimAtNullCutsAtTheFirstNul) {
  std::string buffer = "c:\\Data";
  buffer.resize(260, '\0');
  EXPECT_EQ(TrimAtNull(buffer), "c:\\Data");
  EXPECT_EQ(TrimAtNull("plain"), "plain");
  EXPECT_EQ(TrimAtNull(std::string("\0abc", 4)), "");
}

class PathExistsTest : public PickerTest {};

TEST_F(PathExistsTest, DriveRootsAreLookedUpInTheDriveList) {
  EXPECT_TRUE(PathExists("c:\\"));
  EXPECT_TRUE(PathExists("C:\\"));
  EXPECT_FALSE(PathExists("q:\\"));
}

TEST_F(PathExistsTest, DriveRootsAreFoundWithSixteenOrMoreDrives) {
  // Sixteen drives need 65 characters of drive list, one more than the
  // first request offers.
  for (char letter = 'D'; letter <= 'Z'; ++letter) {
    const fs::path folder = drive_c_ / (std::string("drive-") + letter);
    fs::create_directories(folder);
    hl::MapDrive(letter, folder);
  }
  EXPECT_TRUE(PathExists("c:\\"));
  EXPECT_TRUE(PathExists("z:\\"));
  EXPECT_TRUE(PathExists("P:\\"));
  hl::UnmapDrive('Q');
  EXPECT_FALSE(PathExists("q:\\"));
}

TEST_F(PathExistsTest, OnlyALetterNamesADriveRoot) {
  // Every entry of the drive list holds ":" and "\", so a search of the list
  // for them would find any drive.
  EXPECT_FALSE(PathExists(":\\"));
  EXPECT_FALSE(PathExists("::\\"));
  EXPECT_FALSE(PathExists("\\:\\"));
  EXPECT_FALSE(PathExists("c:\\Data\\d:\\"));
}

TEST_F(PathExistsTest, FilesFoldersAndPatterns) {
  MakeFolder("Data\\Sub");
  MakeFile("Data\\qvd.mdb");
  EXPECT_TRUE(PathExists("c:\\Data"));
  EXPECT_TRUE(PathExists("C:\\DATA\\sub"));
  EXPECT_TRUE(PathExists("c:\\Data\\qvd.mdb"));
  EXPECT_TRUE(PathExists("c:\\Data\\*.mdb"));
  EXPECT_FALSE(PathExists("c:\\Data\\*.txt"));
  EXPECT_FALSE(PathExists("c:\\Data\\"));  // callers strip the backslash first
  EXPECT_FALSE(PathExists("c:\\Nowhere"));
  EXPECT_FALSE(PathExists(""));
}

TEST_F(PathExistsTest, IsVersion5OrLaterFollowsTheMajorVersion) {
  hl::SetSystemVersion(5, 0, 2195, VER_PLATFORM_WIN32_NT, "");
  EXPECT_TRUE(IsVersion5OrLater());
  hl::SetSystemVersion(4, 0, 1381, VER_PLATFORM_WIN32_NT, "Service Pack 6");
  EXPECT_FALSE(IsVersion5OrLater());
  hl::SetSystemVersion(6, 1, 7601, VER_PLATFORM_WIN32_NT, "");
  EXPECT_TRUE(IsVersion5OrLater());
}

TEST_F(PathExistsTest, GetWindowStringReadsTheWholeText) {
  const std::string long_text(300, 'x');
  HWND edit = CreateWindowExA(0, "EDIT", long_text.c_str(), WS_POPUP, 0, 0, 10, 10, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(GetWindowString(edit), long_text);
  SetWindowTextA(edit, "");
  EXPECT_EQ(GetWindowString(edit), "");
}

}  // namespace
}  // namespace picker_test
