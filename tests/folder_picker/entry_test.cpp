// The picker's entry and the dialog it shows: options written back, flags,
// owner, the returned text.
#include "picker_fixture.h"

namespace picker_test {
namespace {

using modBrowseForFolder::BrowseForFolder;
using modBrowseForFolder::kFalse;

class EntryTest : public PickerTest {};

TEST_F(EntryTest, OkReturnsExactlyTheSelectedPath) {
  MakeFolder("Data\\Sub");
  Then([] { user::SelectFolder("c:\\data\\sub"); });
  Then([] { user::ClickOk(); });
  const std::string chosen = BrowseForFolder();
  EXPECT_EQ(chosen, "C:\\Data\\Sub");
  EXPECT_EQ(chosen.find('\0'), std::string::npos);
  EXPECT_TRUE(ScriptDone());
  EXPECT_TRUE(LastDialog().accepted);
}

TEST_F(EntryTest, CancelReturnsEmptyText) {
  MakeFolder("Data");
  Then([] { user::SelectFolder("C:\\Data"); });
  Then([] { user::ClickCancel(); });
  EXPECT_EQ(BrowseForFolder(), "");
}

TEST_F(EntryTest, OkOnAVirtualItemReturnsEmptyText) {
  Then([] { user::SelectVirtualItem("Recycle Bin"); });
  Then([] { user::ClickOk(); });
  EXPECT_EQ(BrowseForFolder(), "");
  EXPECT_TRUE(LastDialog().accepted);
}

TEST_F(EntryTest, DefaultsAreWrittenBackAndSeenByTheNextCall) {
  Then([] { user::ClickCancel(); });
  BrowseForFolder();
  EXPECT_EQ(BrowseOptions.Title, "Browse for Folder");
  EXPECT_EQ(BrowseOptions.Prompt, "Select a folder");
  EXPECT_EQ(BrowseOptions.InitialFolder, "c:\\");
  EXPECT_EQ(BrowseOptions.OkCaption, "OK");
  EXPECT_EQ(BrowseOptions.CancelCaption, "Cancel");
  EXPECT_EQ(BrowseOptions.OwnerWindow, GetDesktopWindow());
  EXPECT_EQ(LastDialog().prompt, "Select a folder");
  EXPECT_EQ(LastDialog().owner, GetDesktopWindow());

  std::string caption;
  Then([&] {
    caption = TextOf(hl::OpenBrowseDialog());
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(caption, "Browse for Folder");
}

TEST_F(EntryTest, AnOwnerThatIsNoLongerAWindowIsReplacedByTheDesktop) {
  HWND gone =
      CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  DestroyWindow(gone);
  BrowseOptions.OwnerWindow = gone;
  Then([] { user::ClickCancel(); });
  BrowseForFolder();
  EXPECT_EQ(BrowseOptions.OwnerWindow, GetDesktopWindow());
  EXPECT_EQ(LastDialog().owner, GetDesktopWindow());
}

TEST_F(EntryTest, DialogFlagsFollowTheOptions) {
  struct Case {
    bool edit, status, files;
    UINT flags;
  };
  for (const Case c :
       {Case{false, false, false, 32}, Case{false, true, false, 36}, Case{true, false, false, 48},
        Case{true, true, false, 52}, Case{true, true, true, 16436}}) {
    BrowseOptions.ShowEditBox = c.edit ? kTrue : kFalse;
    BrowseOptions.ShowStatusText = c.status ? kTrue : kFalse;
    BrowseOptions.IncludeFiles = c.files ? kTrue : kFalse;
    Then([] { user::ClickCancel(); });
    BrowseForFolder();
    EXPECT_EQ(LastDialog().flags, c.flags);
  }
}

TEST_F(EntryTest, FilesCanBeChosenWhenIncluded) {
  MakeFile("Data\\qvd.mdb");
  BrowseOptions.IncludeFiles = kTrue;
  Then([] { user::SelectFolder("C:\\Data\\qvd.mdb"); });
  Then([] { user::ClickOk(); });
  EXPECT_EQ(BrowseForFolder(), "C:\\Data\\qvd.mdb");
}

}  // namespace
}  // namespace picker_test
