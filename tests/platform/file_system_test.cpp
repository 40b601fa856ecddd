// The headless file system as Windows shows it to the program and picker:
// drive strings, directory searches with wildcards and attributes, and the
// file operations with their Windows errors.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "platform/win32.h"
#include "support_ui/ui_fixture.h"

namespace tessmark {
namespace {

class FileSystemTest : public testing::UiTest {
 protected:
  // Names a search finds, with "/" appended to folders and "!" to hidden entries.
  std::set<std::string> Search(const std::string& pattern, DWORD* error = nullptr) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      if (error != nullptr) *error = GetLastError();
      return names;
    }
    do {
      std::string name = data.cFileName;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) name += "/";
      if (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) name += "!";
      names.insert(name);
    } while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));
    return names;
  }
};

TEST_F(FileSystemTest, LogicalDriveStringsFollowTheBufferRules) {
  headless::MapDrive('d', OnC(""));
  char buffer[64];
  std::memset(buffer, ' ', sizeof buffer);
  ASSERT_EQ(GetLogicalDriveStringsA(64, buffer), 8u);
  EXPECT_EQ(std::string(buffer, 9), std::string("C:\\\0D:\\\0\0", 9));

  // Too small by one: the size needed comes back and the buffer is untouched.
  std::memset(buffer, ' ', sizeof buffer);
  EXPECT_EQ(GetLogicalDriveStringsA(8, buffer), 9u);
  EXPECT_EQ(buffer[0], ' ');
  EXPECT_EQ(GetLogicalDriveStringsA(9, buffer), 8u);
  EXPECT_EQ(GetLogicalDriveStringsA(0, nullptr), 9u);
}

TEST_F(FileSystemTest, SearchesMatchWildcardsWithoutRegardToCase) {
  WriteFile("Data/qvd.mdb", "q");
  WriteFile("Data/Backup.MDB", "b");
  WriteFile("Data/notes.txt", "n");
  WriteFile("Data/README", "r");
  std::filesystem::create_directories(OnC("Data/Old.mdb"));

  EXPECT_EQ(Search("C:\\Data\\*.mdb"),
            (std::set<std::string>{"qvd.mdb", "Backup.MDB", "Old.mdb/"}));
  EXPECT_EQ(Search("c:\\DATA\\?VD.MDB"), (std::set<std::string>{"qvd.mdb"}));
  EXPECT_EQ(Search("C:\\Data\\*.*"), (std::set<std::string>{"./", "../", "qvd.mdb", "Backup.MDB",
                                                            "notes.txt", "README", "Old.mdb/"}));
  EXPECT_EQ(Search("C:/Data/README"), (std::set<std::string>{"README"}));
  EXPECT_EQ(Search("C:\\Data\\README."), (std::set<std::string>{"README"}))
      << "a trailing dot is dropped from a name";
  // The root has no "." and "..".
  EXPECT_EQ(Search("C:\\*"), (std::set<std::string>{"Data/"}));
}

TEST_F(FileSystemTest, SearchFailuresCarryTheWindowsErrors) {
  WriteFile("Data/qvd.mdb", "q");
  DWORD error = 0;
  EXPECT_TRUE(Search("C:\\Data\\missing.mdb", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(Search("C:\\Nowhere\\qvd.mdb", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(Search("C:\\Data\\", &error).empty()) << "a folder path with its backslash";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(Search("Q:\\qvd.mdb", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(Search("C:\\Data\\a|b.mdb", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_TRUE(Search("C:\\Da*a\\qvd.mdb", &error).empty()) << "wildcards only in the last name";
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST_F(FileSystemTest, PathsWithoutARootStartFromTheDrivesCurrentFolder) {
  WriteFile("Data/qvd.mdb", "q");
  std::filesystem::create_directories(OnC("drive-d/Stuff/Inner"));
  headless::MapDrive('D', OnC("drive-d"));
  using Names = std::set<std::string>;
  DWORD error = 0;
  // At first the current folder is C:\ and every drive's is its root: a bare
  // drive names a root, in which a search has no name to look for.
  EXPECT_TRUE(Search("d:", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Search("Data"), Names{"Data/"});
  EXPECT_EQ(Search("\\Data\\qvd.mdb"), Names{"qvd.mdb"});
  EXPECT_EQ(Search("d:Stuff"), Names{"Stuff/"});

  headless::SetCurrentFolder("D:\\Stuff\\");
  EXPECT_EQ(Search("d:"), Names{"Stuff/"}) << "the drive's current folder itself";
  EXPECT_EQ(Search("D:Inner"), Names{"Inner/"});
  EXPECT_EQ(Search("Inner"), Names{"Inner/"});
  EXPECT_EQ(Search("..\\Stuff"), Names{"Stuff/"});
  EXPECT_EQ(Search("\\Stuff"), Names{"Stuff/"}) << "the root of the current folder's drive";
  EXPECT_EQ(Search("c:Data"), Names{"Data/"}) << "another drive's current folder is its root";
  EXPECT_TRUE(Search("Data", &error).empty());
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_NE(GetFileAttributesA("d:") & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST_F(FileSystemTest, AttributesLiveBesideTheFilesAndMoveWithThem) {
  WriteFile("Data/qvd.mdb", "q");
  ASSERT_TRUE(SetFileAttributesA("C:\\Data\\QVD.mdb", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Search("C:\\Data\\*"), (std::set<std::string>{"./", "../", "qvd.mdb!"}));
  EXPECT_EQ(GetFileAttributesA("C:\\Data") & FILE_ATTRIBUTE_DIRECTORY,
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));

  ASSERT_TRUE(MoveFileExA("C:\\Data\\qvd.mdb", "C:\\Data\\moved.mdb", 0));
  EXPECT_EQ(GetFileAttributesA("C:\\Data\\moved.mdb") & FILE_ATTRIBUTE_HIDDEN,
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
  // A new file under the old name does not inherit them.
  WriteFile("Data/qvd.mdb", "new");
  EXPECT_EQ(GetFileAttributesA("C:\\Data\\qvd.mdb") & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST_F(FileSystemTest, MoveReplacesOnlyWhenAskedTo) {
  WriteFile("Data/qvd.mdb", "old");
  WriteFile("Data/qvd1.mdb", "compacted");
  EXPECT_FALSE(MoveFileExA("C:\\Data\\qvd1.mdb", "C:\\Data\\qvd.mdb", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(ReadFile("Data/qvd.mdb"), "old");

  ASSERT_TRUE(SetFileAttributesA("C:\\Data\\qvd.mdb", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(MoveFileExA("C:\\Data\\qvd1.mdb", "C:\\Data\\qvd.mdb", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileA("C:\\Data\\qvd.mdb"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_TRUE(SetFileAttributesA("C:\\Data\\qvd.mdb", FILE_ATTRIBUTE_NORMAL));

  ASSERT_TRUE(MoveFileExA("C:\\Data\\qvd1.mdb", "C:\\Data\\qvd.mdb",
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
  EXPECT_EQ(ReadFile("Data/qvd.mdb"), "compacted");
  EXPECT_FALSE(Exists("Data/qvd1.mdb"));

  EXPECT_FALSE(MoveFileExA("C:\\Data\\gone.mdb", "C:\\Data\\x.mdb", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(MoveFileExA("C:\\Data\\qvd.mdb", "C:\\Nowhere\\x.mdb", 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FileSystemTest, DirectoriesAndInjectedFaults) {
  EXPECT_TRUE(CreateDirectoryA("C:\\New", nullptr));
  EXPECT_FALSE(CreateDirectoryA("C:\\new", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryA("C:\\Missing\\Sub", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  WriteFile("New/a.mdb", "a");
  headless::FailNextFileOperation(headless::FileOperation::kDelete, ERROR_SHARING_VIOLATION,
                                  "a.MDB");
  EXPECT_FALSE(DeleteFileA("C:\\New\\a.mdb"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(Exists("New/a.mdb")) << "a failed call changes nothing";
  EXPECT_TRUE(DeleteFileA("C:\\New\\a.mdb")) << "the fault fires once";
  EXPECT_FALSE(Exists("New/a.mdb"));
}

TEST_F(FileSystemTest, HookSeesEveryFileCallOnceAndCanFailIt) {
  WriteFile("Data/qvd.mdb", "old");
  WriteFile("Data/qvd1.mdb", "new");
  std::vector<std::string> calls;
  DWORD answer = ERROR_SUCCESS;
  headless::SetFileOperationHook([&](headless::FileOperation op, const std::string& path) {
    calls.push_back(std::to_string(static_cast<int>(op)) + " " + path);
    return answer;
  });
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA("C:\\Data\\qvd.mdb", &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  FindClose(find);
  answer = ERROR_DISK_FULL;
  EXPECT_FALSE(MoveFileExA("C:\\Data\\qvd1.mdb", "C:\\Data\\qvd.mdb", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
  EXPECT_EQ(ReadFile("Data/qvd.mdb"), "old") << "a failed call changes nothing";
  EXPECT_EQ(ReadFile("Data/qvd1.mdb"), "new");
  answer = ERROR_GEN_FAILURE;
  EXPECT_EQ(FindFirstFileA("C:\\Data\\qvd.mdb", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
  EXPECT_FALSE(DeleteFileA("C:\\Data\\qvd1.mdb"));
  EXPECT_FALSE(CreateDirectoryA("C:\\Other", nullptr));
  EXPECT_FALSE(Exists("Other"));
  // A queued fault fires first and spares the hook its call.
  answer = ERROR_SUCCESS;
  headless::FailNextFileOperation(headless::FileOperation::kDelete, ERROR_SHARING_VIOLATION);
  EXPECT_FALSE(DeleteFileA("C:\\Data\\qvd1.mdb"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(calls, (std::vector<std::string>{"0 C:\\Data\\qvd.mdb", "2 C:\\Data\\qvd1.mdb",
                                             "0 C:\\Data\\qvd.mdb", "1 C:\\Data\\qvd1.mdb",
                                             "3 C:\\Other"}));
  headless::Reset();
  headless::MapDrive('C', drive_c_);
  EXPECT_TRUE(DeleteFileA("C:\\Data\\qvd1.mdb")) << "Reset removes the hook";
  EXPECT_EQ(calls.size(), 5u);
}

TEST_F(FileSystemTest, VersionNeedsTheRightRecordSize) {
  headless::SetSystemVersion(4, 10, 2222, VER_PLATFORM_WIN32_WINDOWS, " A ");
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info - 1;
  EXPECT_FALSE(GetVersionExA(&info));
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  EXPECT_EQ(info.dwMajorVersion, 4u);
  EXPECT_EQ(info.dwMinorVersion, 10u);
  EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
  EXPECT_STREQ(info.szCSDVersion, " A ");
}

}  // namespace
}  // namespace tessmark
