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

TEST_F(BrowseTest, ABoxNamingAFileKeepsItOnCancel) {
  std::filesystem::create_directories(OnC("Data"));
  std::filesystem::create_directories(OnC("Backups.2020"));
  WriteFile("Data\\catalog", "a file without an extension");
  struct Case {
    bool client;
    const char* box;
    const char* chosen;  // "" cancels
    const char* initial_folder;
    const char* box_after;
    const char* selected_folder;
  };
  const Case cases[] = {
      // Nothing typed: nothing changes.
      {false, "", "", "", "", ""},
      // A folder, existing or not, is taken as the folder.
      {false, "C:\\Data", "", "C:\\Data", "C:\\Data\\qvd.mdb", "C:\\Data"},
      {true, "C:\\Nowhere", "", "C:\\Nowhere", "C:\\Nowhere\\backup.mdb", "C:\\Nowhere"},
      {false, "C:\\Backups.2020", "", "C:\\Backups.2020", "C:\\Backups.2020\\qvd.mdb",
       "C:\\Backups.2020"},
      {false, "C:\\Backups.2021", "", "C:\\Backups.2021", "C:\\Backups.2021\\qvd.mdb",
       "C:\\Backups.2021"},
      // A file, existing or ending in .mdb, starts the picker in its
      // folder and is left as it was on Cancel, whichever option is selected.
      {false, "C:\\Data\\qvd.mdb", "", "C:\\Data", "C:\\Data\\qvd.mdb", "C:\\Data"},
      {true, "C:\\Data\\qvd.mdb", "", "C:\\Data", "C:\\Data\\qvd.mdb", "C:\\Data"},
      {false, "C:\\Data\\other.mdb", "", "C:\\Data", "C:\\Data\\other.mdb", "C:\\Data"},
      {false, "C:\\Data\\Old.MDB", "", "C:\\Data", "C:\\Data\\Old.MDB", "C:\\Data"},
      {false, "C:\\Data\\catalog", "", "C:\\Data", "C:\\Data\\catalog", "C:\\Data"},
      {true, "C:\\backup.mdb", "", "C:\\", "C:\\backup.mdb", "C:\\"},
      // OK on a folder composes it with the selected database, also when it
      // is the folder of the file the box named.
      {true, "C:\\Data\\qvd.mdb", "C:\\Other", "C:\\Data", "C:\\Other\\backup.mdb", "C:\\Other"},
      {true, "C:\\Data\\qvd.mdb", "C:\\Data", "C:\\Data", "C:\\Data\\backup.mdb", "C:\\Data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.box) + (c.client ? " (client)" : " (server)"));
    form_->SelectedFolder = "C:\\Before";
    ASSERT_TRUE(Click(c.client ? kOption1Client : kOption1Server));
    EnterPath(c.box);
    ForgetBrowseCalls();
    QueueBrowseResult(c.chosen);
    ASSERT_TRUE(Click(kCommand1));
    ASSERT_EQ(BrowseCalls().size(), 1u);
    EXPECT_EQ(BrowseCalls()[0].InitialFolder, c.initial_folder);
    EXPECT_EQ(PathBox(), c.box_after);
    EXPECT_EQ(form_->SelectedFolder, c.selected_folder);
  }
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
