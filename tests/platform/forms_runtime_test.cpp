// Forms-runtime services over the headless layer: the file search with
// normal attributes, file operations with their runtime errors, message
// boxes and the pointer.
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
