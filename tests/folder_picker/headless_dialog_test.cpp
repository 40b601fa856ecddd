// The headless folder-browse dialog itself, driven through SHBrowseForFolderA
// with a callback of the test's own: what the picker relies on the system
// dialog to do.
#include <cstring>

#include "picker_fixture.h"

namespace picker_test {
namespace {

struct Notification {
  UINT msg;
  std::string path;  // of the item a selection change carries
  int depth;         // nesting of the callback
};

std::vector<Notification> g_notes;
int g_depth = 0;
std::function<void(HWND)> g_on_init;

int CALLBACK Recorder(HWND hwnd, UINT msg, LPARAM lparam, LPARAM) {
  ++g_depth;
  char path[MAX_PATH] = {};
  if (msg == BFFM_SELCHANGED) {
    SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lparam), path);
  }
  g_notes.push_back({msg, path, g_depth});
  if (msg == BFFM_INITIALIZED && g_on_init) g_on_init(hwnd);
  --g_depth;
  return 0;
}

class HeadlessDialogTest : public PickerTest {
 protected:
  void SetUp() override {
    PickerTest::SetUp();
    g_notes.clear();
    g_on_init = nullptr;
    MakeFolder("Data\\Sub");
    MakeFile("Data\\qvd.mdb");
  }
  // Shows the dialog; returns the path of the item it gave back, or
  // "(none)" when it gave none.
  std::string Browse(UINT flags, LPCITEMIDLIST root = nullptr) {
    BROWSEINFOA info{};
    info.hwndOwner = nullptr;
    info.pidlRoot = root;
    info.lpszTitle = "Pick one";
    info.ulFlags = flags;
    info.lpfn = Recorder;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (chosen == nullptr) return "(none)";
    char path[MAX_PATH] = {};
    const BOOL ok = SHGetPathFromIDListA(chosen, path);
    CoTaskMemFree(chosen);
    return ok ? std::string(path) : std::string("(no path)");
  }
  static std::vector<std::string> ChildClasses(HWND dialog) {
    std::vector<std::string> classes;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
      char name[32] = {};
      GetClassNameA(c, name, sizeof name);
      classes.push_back(name);
    }
    return classes;
  }
};

TEST_F(HeadlessDialogTest, ChildrenComeInTemplateOrder) {
  std::vector<std::string> plain, full;
  std::string title;
  g_on_init = [&](HWND d) {
    plain = ChildClasses(d);
    title = TextOf(GetWindow(GetWindow(GetWindow(d, GW_CHILD), GW_HWNDNEXT), GW_HWNDNEXT));
  };
  Then([] { user::ClickCancel(); });
  EXPECT_EQ(Browse(BIF_VALIDATE), "(none)");
  EXPECT_EQ(plain, (std::vector<std::string>{"Button", "Button", "Static", "SysTreeView32"}));
  EXPECT_EQ(title, "Pick one");

  g_on_init = [&](HWND d) { full = ChildClasses(d); };
  Then([] { user::ClickCancel(); });
  Browse(BIF_VALIDATE | BIF_STATUSTEXT | BIF_EDITBOX);
  EXPECT_EQ(full, (std::vector<std::string>{"Button", "Button", "Static", "Static", "Edit",
                                            "SysTreeView32"}));
}

TEST_F(HeadlessDialogTest, RunsOnlyWhileOleIsStarted) {
  // The fixture started OLE once; further starts only count, and OLE ends
  // with the last matching end.
  EXPECT_EQ(hl::OleDepth(), 1);
  EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
  OleUninitialize();
  Then([] { user::ClickCancel(); });
  EXPECT_EQ(Browse(BIF_VALIDATE), "(none)");
  OleUninitialize();
  EXPECT_EQ(hl::OleDepth(), 0);
  EXPECT_THROW(Browse(BIF_VALIDATE), std::logic_error);
  EXPECT_EQ(hl::BrowseDialogs().size(), 1u) << "no dialog without a single-threaded apartment";
  EXPECT_EQ(OleInitialize(nullptr), S_OK);
  Then([] { user::ClickCancel(); });
  EXPECT_EQ(Browse(BIF_VALIDATE), "(none)");
  EXPECT_TRUE(ScriptDone());
}

TEST_F(HeadlessDialogTest, InitialisedOnceHiddenThenShown) {
  bool visible_at_init = true;
  g_on_init = [&](HWND d) { visible_at_init = IsWindowVisible(d) != FALSE; };
  bool visible_later = false;
  Then([&] {
    visible_later = IsWindowVisible(hl::OpenBrowseDialog()) != FALSE;
    user::ClickCancel();
  });
  Browse(BIF_VALIDATE);
  ASSERT_EQ(g_notes.size(), 1u);  // classic style selects nothing by itself
  EXPECT_EQ(g_notes[0].msg, static_cast<UINT>(BFFM_INITIALIZED));
  EXPECT_FALSE(visible_at_init);
  EXPECT_TRUE(visible_later);
}

TEST_F(HeadlessDialogTest, SelectionRequestsNotifyBeforeTheyReturn) {
  std::vector<LRESULT> answers;
  std::size_t notes_after_request = 0;
  g_on_init = [&](HWND d) {
    answers.push_back(
        SendMessageA(d, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>("c:\\DATA\\sub")));
    notes_after_request = g_notes.size();
    // A path that does not exist, a file while files are not shown, and a
    // null path change nothing.
    answers.push_back(
        SendMessageA(d, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>("c:\\Nowhere")));
    answers.push_back(
        SendMessageA(d, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>("c:\\Data\\qvd.mdb")));
    answers.push_back(SendMessageA(d, BFFM_SETSELECTIONA, TRUE, 0));
  };
  Then([] { user::ClickOk(); });
  EXPECT_EQ(Browse(BIF_VALIDATE), "C:\\Data\\Sub");
  EXPECT_EQ(answers, (std::vector<LRESULT>{0, 0, 0, 0}));
  ASSERT_EQ(notes_after_request, 2u);
  ASSERT_EQ(g_notes.size(), 2u);
  EXPECT_EQ(g_notes[1].msg, static_cast<UINT>(BFFM_SELCHANGED));
  EXPECT_EQ(g_notes[1].path, "C:\\Data\\Sub");
  EXPECT_EQ(g_notes[1].depth, 2);  // nested in the initialisation
}

TEST_F(HeadlessDialogTest, FilesAreItemsOnlyWhenIncluded) {
  Then([] { EXPECT_THROW(user::SelectFolder("C:\\Data\\qvd.mdb"), std::logic_error); });
  Then([] { user::ClickCancel(); });
  Browse(BIF_VALIDATE);
  Then([] {
    user::SelectFolder("C:\\Data\\qvd.mdb");
    user::ClickOk();
  });
  EXPECT_EQ(Browse(BIF_VALIDATE | BIF_BROWSEINCLUDEFILES), "C:\\Data\\qvd.mdb");
}

TEST_F(HeadlessDialogTest, StatusTextAndEditBoxShowWhatTheyAreGiven) {
  std::string status, edit;
  g_on_init = [](HWND d) {
    SendMessageA(d, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>("working"));
  };
  Then([&] {
    user::SelectFolder("C:\\Data\\Sub");
    status = TextOf(LastDialog().status_static);
    edit = TextOf(LastDialog().edit);
    user::ClickCancel();
  });
  Browse(BIF_VALIDATE | BIF_STATUSTEXT | BIF_EDITBOX);
  EXPECT_EQ(status, "working");
  EXPECT_EQ(edit, "Sub");
}

TEST_F(HeadlessDialogTest, OkWithoutASelectionGivesTheDesktopWhichHasNoPath) {
  Then([] { user::ClickOk(); });
  EXPECT_EQ(Browse(BIF_VALIDATE), "(no path)");
  Then([] {
    user::SelectVirtualItem("Recycle Bin");
    user::ClickOk();
  });
  EXPECT_EQ(Browse(BIF_VALIDATE), "(no path)");
}

TEST_F(HeadlessDialogTest, CancelClickedByMessageEndsTheDialog) {
  Then([] { SendMessageA(LastDialog().cancel, BM_CLICK, 0, 0); });
  EXPECT_EQ(Browse(BIF_VALIDATE), "(none)");
  EXPECT_FALSE(IsWindow(LastDialog().dialog));
}

TEST_F(HeadlessDialogTest, OnlyAClickCommandEndsIt) {
  Then([] {
    // A notification other than a click from the OK button changes nothing.
    SendMessageA(LastDialog().dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_SETFOCUS),
                 reinterpret_cast<LPARAM>(LastDialog().ok));
  });
  Then([] { user::ClickCancel(); });
  EXPECT_EQ(Browse(BIF_VALIDATE), "(none)");
  EXPECT_TRUE(ScriptDone());
}

TEST_F(HeadlessDialogTest, ASpecialRootKeepsTheDrivesOut) {
  LPITEMIDLIST root = nullptr;
  ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_BITBUCKET, &root), S_OK);
  Then([] { EXPECT_THROW(user::SelectFolder("C:\\Data"), std::logic_error); });
  Then([] {
    user::SelectVirtualItem("Recycle Bin");
    user::ClickOk();
  });
  EXPECT_EQ(Browse(BIF_VALIDATE, root), "(no path)");
  CoTaskMemFree(root);
  EXPECT_TRUE(LastDialog().has_root);
  EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, 0x7777, &root), E_INVALIDARG);
}

TEST_F(HeadlessDialogTest, TheOwnerIsDisabledWhileTheDialogIsOpen) {
  const HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                                     nullptr, nullptr, nullptr, nullptr);
  bool enabled_while_open = true;
  Then([&] {
    enabled_while_open = IsWindowEnabled(owner) != FALSE;
    user::ClickCancel();
  });
  BROWSEINFOA info{};
  info.hwndOwner = owner;
  info.ulFlags = BIF_VALIDATE;
  EXPECT_EQ(SHBrowseForFolderA(&info), nullptr);
  EXPECT_FALSE(enabled_while_open);
  EXPECT_TRUE(IsWindowEnabled(owner));
  EXPECT_EQ(LastDialog().owner, owner);

  // The desktop as owner is left enabled, and an owner that was disabled
  // already stays so.
  bool desktop_enabled = false;
  Then([&] {
    desktop_enabled = IsWindowEnabled(GetDesktopWindow()) != FALSE;
    user::ClickCancel();
  });
  info.hwndOwner = GetDesktopWindow();
  SHBrowseForFolderA(&info);
  EXPECT_TRUE(desktop_enabled);
  EnableWindow(owner, FALSE);
  Then([] { user::ClickCancel(); });
  info.hwndOwner = owner;
  SHBrowseForFolderA(&info);
  EXPECT_FALSE(IsWindowEnabled(owner));
}

}  // namespace
}  // namespace picker_test
