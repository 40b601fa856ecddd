// Forms-runtime services over the headless layer: the file search with
// normal attributes, file operations with their runtime errors, message
// boxes, the controls' font and the pointer.
#include "platform/forms_runtime.h"

#include <gtest/gtest.h>

#include "support_ui/ui_fixture.h"

namespace tessmark {
namespace {

using platform::RuntimeError;

class FormsRuntimeTest : public testing::UiTest {};

TEST_F(FormsRuntimeTest, DirFindsOnlyNormalFiles) {
  WriteFile("Data/qvd.mdb", "q");
  WriteFile("Hidden/secret.mdb", "s");
  WriteFile("Hidden/system.mdb", "s");
  WriteFile("Mixed/a.mdb", "a");
  WriteFile("Mixed/b.mdb", "b");
  std::filesystem::create_directories(OnC("Empty/Sub"));
  ASSERT_TRUE(SetFileAttributesA("C:\\Hidden\\secret.mdb", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA("C:\\Hidden\\system.mdb", FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA("C:\\Mixed\\a.mdb", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA("C:\\Data\\qvd.mdb", FILE_ATTRIBUTE_READONLY));

  EXPECT_EQ(platform::Dir("C:\\Data\\qvd.mdb"), "qvd.mdb") << "read-only is still normal";
  EXPECT_EQ(platform::Dir("c:\\data\\QVD.MDB"), "qvd.mdb");
  EXPECT_EQ(platform::Dir("C:\\Data"), "") << "a folder is not a file";
  EXPECT_EQ(platform::Dir("C:\\Data\\"), "qvd.mdb") << "a trailing backslash searches inside";
  EXPECT_EQ(platform::Dir("C:\\Hidden\\secret.mdb"), "");
  EXPECT_EQ(platform::Dir("C:\\Hidden\\system.mdb"), "");
  EXPECT_EQ(platform::Dir("C:\\Hidden\\"), "");
  EXPECT_EQ(platform::Dir("C:\\Mixed\\*.mdb"), "b.mdb") << "the search goes past hidden entries";
  EXPECT_EQ(platform::Dir("C:\\Empty\\"), "");
  EXPECT_EQ(platform::Dir("C:\\Nowhere\\qvd.mdb"), "");
  EXPECT_EQ(platform::Dir("\\Data\\qvd.mdb"), "qvd.mdb") << "the current drive is C:";
}

TEST_F(FormsRuntimeTest, DirRaisesForABadName) {
  try {
    platform::Dir("C:\\Data\\a|b.mdb");
    FAIL() << "no error raised";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 52);
    EXPECT_EQ(e.description(), "Bad file name or number");
  }
}

TEST_F(FormsRuntimeTest, FileOperationsRaiseRuntimeErrors) {
  WriteFile("Data/qvd.mdb", "old");
  WriteFile("Data/qvd1.mdb", "new");
  auto number_of = [](auto&& operation) {
    try {
      operation();
    } catch (const RuntimeError& e) {
      return e.number();
    }
    return 0;
  };
  EXPECT_EQ(number_of([] { platform::Kill("C:\\Data\\gone.mdb"); }), 53);
  EXPECT_EQ(number_of([] { platform::Name("C:\\Data\\qvd1.mdb", "C:\\Data\\qvd.mdb"); }), 58);
  EXPECT_EQ(number_of([] { platform::MkDir("C:\\Data"); }), 58);
  EXPECT_EQ(number_of([] { platform::MkDir("C:\\A\\B"); }), 76);
  headless::FailNextFileOperation(headless::FileOperation::kMove, ERROR_ACCESS_DENIED);
  EXPECT_EQ(number_of([] { platform::MoveReplacing("C:\\Data\\qvd1.mdb", "C:\\Data\\qvd.mdb"); }),
            75);
  EXPECT_EQ(ReadFile("Data/qvd.mdb"), "old");
  EXPECT_EQ(number_of([] { platform::MoveReplacing("C:\\Data\\qvd1.mdb", "C:\\Data\\qvd.mdb"); }),
            0);
  EXPECT_EQ(ReadFile("Data/qvd.mdb"), "new");
  EXPECT_FALSE(Exists("Data/qvd1.mdb"));
}

// The replace step of a compaction reports a full disk and a failing device
// with the numbers the engine uses for them; every other failure keeps the
// runtime's number, and none of them changes either file.
TEST_F(FormsRuntimeTest, ReplaceReportsDiskFailuresWithTheEngineNumbers) {
  WriteFile("Data/qvd.mdb", "old");
  WriteFile("Data/qvd1.mdb", "new");
  struct Case {
    DWORD error;
    int32_t number;
    std::string description_start;
  };
  const Case cases[] = {
      {ERROR_DISK_FULL, 3026,
       "There is not enough space on the disk to put 'C:\\Data\\qvd1.mdb' "
       "in place of 'C:\\Data\\qvd.mdb'"},
      {ERROR_HANDLE_DISK_FULL, 3026, "There is not enough space on the disk"},
      {ERROR_WRITE_FAULT, 3043,
       "Disk or network error while putting 'C:\\Data\\qvd1.mdb' in "
       "place of 'C:\\Data\\qvd.mdb' (system error 29)"},
      {ERROR_READ_FAULT, 3043, "Disk or network error"},
      {ERROR_GEN_FAILURE, 3043, "Disk or network error"},
      {ERROR_IO_DEVICE, 3043, "Disk or network error"},
      {ERROR_CRC, 3043, "Disk or network error"},
      {ERROR_SHARING_VIOLATION, 70, "Permission denied"},
      {ERROR_ACCESS_DENIED, 75, "Path/File access error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("system error " + std::to_string(c.error));
    headless::FailNextFileOperation(headless::FileOperation::kMove, c.error);
    try {
      platform::MoveReplacing("C:\\Data\\qvd1.mdb", "C:\\Data\\qvd.mdb");
      ADD_FAILURE() << "no error raised";
    } catch (const RuntimeError& e) {
      EXPECT_EQ(e.number(), c.number);
      EXPECT_EQ(e.description().rfind(c.description_start, 0), 0u) << e.description();
    }
    EXPECT_EQ(ReadFile("Data/qvd.mdb"), "old");
    EXPECT_EQ(ReadFile("Data/qvd1.mdb"), "new");
  }
  // The runtime's other services keep its own numbers for the same failures.
  auto error_of = [](auto&& operation) {
    try {
      operation();
    } catch (const RuntimeError& e) {
      return std::to_string(e.number()) + " " + e.description();
    }
    return std::string("none");
  };
  headless::FailNextFileOperation(headless::FileOperation::kDelete, ERROR_DISK_FULL);
  EXPECT_EQ(error_of([] { platform::Kill("C:\\Data\\qvd1.mdb"); }),
            "3026 There is not enough space on the disk");
  headless::FailNextFileOperation(headless::FileOperation::kFind, ERROR_GEN_FAILURE);
  EXPECT_EQ(error_of([] { platform::Dir("C:\\Data\\qvd.mdb"); }), "3043 Disk or network error");
  headless::FailNextFileOperation(headless::FileOperation::kCreateDirectory, ERROR_WRITE_FAULT);
  EXPECT_EQ(error_of([] { platform::MkDir("C:\\New"); }), "3043 Disk or network error");
}

TEST_F(FormsRuntimeTest, MessageBoxesCarryTitleAndIcon) {
  platform::MsgBox("plain");
  platform::MsgBox("info", platform::BoxIcon::kInformation, "Browse for Folder");
  platform::MsgBox("stop", platform::BoxIcon::kCritical, "RandC");
  const auto& boxes = headless::MessageBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].caption, "Tessmark");
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(boxes[1].caption, "Browse for Folder");
  EXPECT_EQ(boxes[1].type & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));
  EXPECT_EQ(boxes[2].text, "stop");
  EXPECT_EQ(boxes[2].type & MB_ICONMASK, static_cast<UINT>(MB_ICONHAND));
}

TEST_F(FormsRuntimeTest, FormFontAndTwipsFollowTheScreensResolution) {
  const struct {
    int dpi;
    LONG height;
    int label_width, label_height;  // 1335 by 495 twips
  } cases[] = {{96, -11, 89, 33}, {120, -13, 111, 41}, {144, -16, 134, 50}};
  for (const auto& c : cases) {
    headless::SetScreenDpi(c.dpi);
    EXPECT_EQ(platform::TwipsToPixelsX(1335), c.label_width);
    EXPECT_EQ(platform::TwipsToPixelsY(495), c.label_height);
    HFONT font = platform::CreateFormFont();
    LOGFONTA made{};
    ASSERT_EQ(GetObjectA(font, sizeof made, &made), static_cast<int>(sizeof made));
    EXPECT_STREQ(made.lfFaceName, "MS Sans Serif");
    EXPECT_EQ(made.lfHeight, c.height) << c.dpi << " dots per inch";
    EXPECT_EQ(made.lfWeight, FW_NORMAL);
    EXPECT_EQ(made.lfItalic, 0);
    EXPECT_TRUE(DeleteObject(font));
  }
}

TEST_F(FormsRuntimeTest, PointerAppliesUntilSetAgain) {
  platform::StartProgram();
  EXPECT_FALSE(platform::ApplyMousePointer());
  platform::SetMousePointer(platform::MousePointer::kHourglass);
  EXPECT_TRUE(headless::HourglassShown());
  SetCursor(LoadCursorA(nullptr, IDC_ARROW));  // a window's class cursor
  EXPECT_TRUE(platform::ApplyMousePointer());
  EXPECT_TRUE(headless::HourglassShown());
  platform::SetMousePointer(platform::MousePointer::kDefault);
  EXPECT_FALSE(headless::HourglassShown());
  EXPECT_FALSE(platform::ApplyMousePointer());
}

}  // namespace
}  // namespace tessmark
