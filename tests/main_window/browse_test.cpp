// The Browse command, BrowseFolders and StripNulls, with a stand-in for
// the picker that records its options and answers as the operator would.
#include <gtest/gtest.h>

#include "main_window/form1_fixture.h"

namespace tessmark::testing {
namespace {

using namespace main_window;
namespace picker = modBrowseForFolder;

class BrowseTest : public Form1Test {};

TEST_F(BrowseTest, ChosenFolderFillsThePathBoxAndOptions) {
  QueueBrowseResult("C:\\Data");
  ASSERT_TRUE(Click(kCommand1));
  EXPECT_EQ(PathBox(), "C:\\Data\\qvd.mdb");
  EXPECT_EQ(form_->SelectedFolder, "C:\\Data");
  ASSERT_TRUE(Click(kOption1Client));
  EXPECT_EQ(PathBox(), "C:\\Data\\backup.mdb");

  ASSERT_EQ(BrowseCalls().size(), 1u);
  const picker::BrowseOptionsRecord& o = BrowseCalls()[0];
  EXPECT_EQ(o.Title, "Select Catalog");
  EXPECT_EQ(o.Prompt, "Select the folder containing backup.mdb");
  EXPECT_EQ(o.InitialFolder, "");
  EXPECT_EQ(o.CheckBoxCaption, "Include Subfolders");
  EXPECT_EQ(o.OkCaption, "OK");
  EXPECT_EQ(o.CancelCaption, "Cancel");
  EXPECT_EQ(o.NewFolderCaption, "New Folder");
  EXPECT_EQ(o.RootFolder, 0);
  EXPECT_EQ(o.Resizable, picker::kFalse);
  EXPECT_EQ(o.CenterOnScreen, picker::kFalse);
  EXPECT_EQ(o.LargeSize, picker::kFalse);
  EXPECT_EQ(o.FullScreen, picker::kFalse);
  EXPECT_EQ(o.ShowNewFolderButton, picker::kTrue);
  EXPECT_EQ(o.ShowCheckBox, picker::kTrue);
  EXPECT_EQ(o.ShowEditBox, picker::kFalse);
  EXPECT_EQ(o.ShowPathBox, picker::kTrue);
  EXPECT_EQ(o.ShowStatusText, picker::kTrue);
  EXPECT_EQ(o.IncludeFiles, picker::kFalse);
  EXPECT_EQ(o.OwnerWindow, form_->hwnd());

  // The prompt does not follow the selected database; the start folder is
  // the path box's text.
  QueueBrowseResult("C:\\Other");
  ASSERT_TRUE(Click(kCommand1));
  ASSERT_EQ(BrowseCalls().size(), 2u);
  EXPECT_EQ(BrowseCalls()[1].Prompt, "Select the folder containing backup.mdb");
  EXPECT_EQ(BrowseCalls()[1].InitialFolder, "C:\\Data") << "the folder of the named file";
  EXPECT_EQ(PathBox(), "C:\\Other\\backup.mdb");
}

TEST_F(BrowseTest, EveryCallRewritesTheOptions) {
  picker::BrowseOptions.Title = "stale";
  picker::BrowseOptions.Resizable = picker::kTrue;
  picker::BrowseOptions.IncludeFiles = picker::kTrue;
  picker::BrowseOptions.RootFolder = 17;
  picker::BrowseOptions.SubfoldersChecked = 1;
  std::string folder = "C:\\Start";
  form_->BrowseFolders(*form_, folder, "T", "P");
  ASSERT_EQ(BrowseCalls().size(), 1u);
  EXPECT_EQ(BrowseCalls()[0].Title, "T");
  EXPECT_EQ(BrowseCalls()[0].Prompt, "P");
  EXPECT_EQ(BrowseCalls()[0].InitialFolder, "C:\\Start");
  EXPECT_EQ(BrowseCalls()[0].Resizable, picker::kFalse);
  EXPECT_EQ(BrowseCalls()[0].IncludeFiles, picker::kFalse);
  EXPECT_EQ(BrowseCalls()[0].RootFolder, 0);
  EXPECT_EQ(BrowseCalls()[0].SubfoldersChecked, 1) << "left to the picker";
  EXPECT_EQ(folder, "C:\\Start") << "cancel keeps the start value";
}

TEST_F(BrowseTest, CancelKeepsWhatThePathBoxHeld) {
  // Nothing typed: nothing changes.
  ASSERT_TRUE(Click(kCommand1));
  EXPECT_EQ(PathBox(), "");
  EXPECT_EQ(form_->SelectedFolder, "");

  // A typed folder is taken as the folder.
  EnterPath("C:\\Data");
  ASSERT_TRUE(Click(kCommand1));
  EXPECT_EQ(PathBox(), "C:\\Data\\qvd.mdb");
  // A path that already names the database gives its folder back, instead
  // of the file name being appended a second time.
  ASSERT_TRUE(Click(kCommand1));
  EXPECT_EQ(BrowseCalls().back().InitialFolder, "C:\\Data");
  EXPECT_EQ(PathBox(), "C:\\Data\\qvd.mdb");
  EnterPath("C:\\backup.mdb");
  ASSERT_TRUE(Click(kCommand1));
  EXPECT_EQ(BrowseCalls().back().InitialFolder, "C:\\");
  EXPECT_EQ(PathBox(), "C:\\qvd.mdb");
}

TEST_F(BrowseTest, FolderAndFileAreJoinedWithOneBackslash) {
  QueueBrowseResult("C:\\");
  ASSERT_TRUE(Click(kCommand1));
  EXPECT_EQ(PathBox(), "C:\\qvd.mdb");
  ASSERT_TRUE(Click(kOption1Client));
  EXPECT_EQ(PathBox(), "C:\\backup.mdb");
}

TEST_F(BrowseTest, NulCharactersAreRemovedFromTheResult) {
  QueueBrowseResult(std::string("C:\\Da\0ta\0\0", 10));
  ASSERT_TRUE(Click(kCommand1));
  EXPECT_EQ(form_->SelectedFolder, "C:\\Data");
  EXPECT_EQ(PathBox(), "C:\\Data\\qvd.mdb");

  std::string start("C:\\In\0", 6);
  form_->BrowseFolders(*form_, start, "t", "p");  // cancelled
  EXPECT_EQ(start, "C:\\In");
}

TEST_F(BrowseTest, StripNulls) {
  EXPECT_EQ(form_->StripNulls(std::string("a\0b", 3)), "ab");
  EXPECT_EQ(form_->StripNulls("abc"), "abc");
  EXPECT_EQ(form_->StripNulls(""), "");
  EXPECT_EQ(form_->StripNulls(std::string("\0\0", 2)), "");
}

}  // namespace
}  // namespace tessmark::testing
