// Form1 as the operator meets it: the window at start, the server/client
// choice, the keys that must do nothing, Cancel, and the checks of the
// Compact Database command before any compaction.
#include <gtest/gtest.h>

#include <vector>

#include "main_window/form1_fixture.h"

namespace tessmark::testing {
namespace {

using headless::ScriptedUser;
using namespace main_window;

constexpr char kInvalidEntry[] = "Invalid entry. Please enter the Complete path for the catalog.";

struct Expected {
  ControlId id;
  const char* cls;
  const char* text;
  int left, top, width, height;  // pixels in Form1's client area
};

TEST_F(Form1Test, StartsAsDesigned) {
  HWND form = form_->hwnd();
  EXPECT_EQ(ScriptedUser::Text(form), "Corvane - Tessmark");
  RECT client;
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, 430);
  EXPECT_EQ(client.bottom, 134);

  // Tab order is the creation order, label first.
  const Expected controls[] = {
      {kLabel1, "Static", "Select path for database: ", 8, 8, 89, 33},
      {kText1, "Edit", "", 96, 8, 233, 27},
      {kCommand1, "Button", "Browse", 344, 8, 73, 25},
      {kCommand2, "Button", "Compact Database", 32, 72, 161, 33},
      {kCommand3, "Button", "Cancel", 224, 72, 177, 33},
      {kOption1Server, "Button", "Server (qvd.mdb)", 104, 40, 105, 17},
      {kOption1Client, "Button", "Client (backup.mdb)", 216, 40, 121, 17},
  };
  HWND child = GetWindow(form, GW_CHILD);
  for (const Expected& e : controls) {
    ASSERT_NE(child, nullptr);
    SCOPED_TRACE(e.text);
    EXPECT_EQ(GetDlgCtrlID(child), e.id);
    char cls[16];
    GetClassNameA(child, cls, sizeof cls);
    EXPECT_STREQ(cls, e.cls);
    EXPECT_EQ(ScriptedUser::Text(child), e.text);
    RECT r;
    GetWindowRect(child, &r);
    POINT p{r.left, r.top};
    ScreenToClient(form, &p);
    EXPECT_EQ(p.x, e.left);
    EXPECT_EQ(p.y, e.top);
    EXPECT_EQ(r.right - r.left, e.width);
    EXPECT_EQ(r.bottom - r.top, e.height);
    EXPECT_TRUE(ScriptedUser::Visible(child));
    EXPECT_TRUE(ScriptedUser::Enabled(child));
    EXPECT_EQ(FontOf(child), "MS Sans Serif -11") << "the forms runtime's font";
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);

  for (ControlId id : {kCommand1, kCommand2, kCommand3}) {
    EXPECT_EQ(GetWindowLongA(Control(id), GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON)
        << "no default button";
  }
  EXPECT_TRUE(ScriptedUser::Checked(Control(kOption1Server)));
  EXPECT_FALSE(ScriptedUser::Checked(Control(kOption1Client)));
  EXPECT_EQ(ScriptedUser::Focus(), Control(kText1));
  EXPECT_EQ(PathBox(), "");
  EXPECT_EQ(form_->SelectedFolder, "");
  EXPECT_TRUE(headless::MessageBoxes().empty()) << "no code runs on load";
  EXPECT_FALSE(ScriptedUser::ProgramEnded());
}

TEST_F(Form1Test, OptionsComposeThePathFromTheSelectedFolder) {
  // Before any Browse the folder is empty.
  ASSERT_TRUE(Click(kOption1Client));
  EXPECT_FALSE(ScriptedUser::Checked(Control(kOption1Server))) << "one group of two";
  EXPECT_EQ(PathBox(), "\\backup.mdb");
  ASSERT_TRUE(Click(kOption1Server));
  EXPECT_FALSE(ScriptedUser::Checked(Control(kOption1Client)));
  EXPECT_EQ(PathBox(), "\\qvd.mdb");

  // Whatever the operator typed is replaced.
  form_->SelectedFolder = "C:\\Data";
  EnterPath("D:\\Elsewhere\\other.mdb");
  ASSERT_TRUE(Click(kOption1Client));
  EXPECT_EQ(PathBox(), "C:\\Data\\backup.mdb");
  EnterPath("typed");
  ASSERT_TRUE(Click(kOption1Server));
  EXPECT_EQ(PathBox(), "C:\\Data\\qvd.mdb");
  EXPECT_EQ(form_->SelectedFolder, "C:\\Data");

  // Clicking the button that is already selected selects nothing new.
  EnterPath("typed");
  ASSERT_TRUE(Click(kOption1Server));
  EXPECT_EQ(PathBox(), "typed");
}

TEST_F(Form1Test, EnterAndEscapeTriggerNoCommand) {
  WriteFile("Data\\qvd.mdb", "an ordinary file");
  EnterPath("C:\\Data\\qvd.mdb");
  const auto before = Files();
  user().PressKey(VK_RETURN, '\r');
  user().PressKey(VK_ESCAPE, 27);
  ASSERT_TRUE(Click(kCommand1));  // leaves the focus on a push button
  ForgetBrowseCalls();
  user().PressKey(VK_ESCAPE, 27);
  EXPECT_TRUE(headless::MessageBoxes().empty());
  EXPECT_TRUE(BrowseCalls().empty());
  EXPECT_EQ(Files(), before);
  EXPECT_TRUE(IsWindow(form_->hwnd()));
  EXPECT_FALSE(ScriptedUser::ProgramEnded());
}

TEST_F(Form1Test, CancelEndsAtOnceEvenWithAValidPath) {
  RunWholeProgram();
  WriteFile("Data\\qvd.mdb", "an ordinary file");
  const auto before = Files();
  user().Then([&] {
    HWND form = FindWindowA(kForm1Class, nullptr);
    ASSERT_NE(form, nullptr);
    SetFocus(GetDlgItem(form, kText1));
    user().Type("C:\\Data\\qvd.mdb");
  });
  user().Then([&] {
    HWND form = FindWindowA(kForm1Class, nullptr);
    // Both clicks are queued before the program sees either; only the first runs.
    user().Click(GetDlgItem(form, kCommand3));
    user().Click(GetDlgItem(form, kCommand2));
  });
  EXPECT_TRUE(ScriptedUser::RunUntilInputRunsOut([] { RunProgram(SW_SHOWNORMAL); }))
      << "the program must end without further input";
  EXPECT_TRUE(ScriptedUser::ProgramEnded());
  EXPECT_EQ(FindWindowA(kForm1Class, nullptr), nullptr);
  EXPECT_TRUE(headless::MessageBoxes().empty());
  EXPECT_EQ(Files(), before);
}

TEST_F(Form1Test, CompactDatabaseRejectsWhatIsNotAnOrdinaryFile) {
  WriteFile("Data\\qvd.mdb", "an ordinary file");
  WriteFile("Data\\hidden.mdb", "h");
  WriteFile("Data\\system.mdb", "s");
  WriteFile("Data\\notes.txt", "n");
  std::filesystem::create_directories(OnC("Empty\\Sub"));
  ASSERT_TRUE(SetFileAttributesA("C:\\Data\\hidden.mdb", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA("C:\\Data\\system.mdb", FILE_ATTRIBUTE_SYSTEM));
  const auto before = Files();

  const char* entries[] = {"",
                           "C:\\Data",
                           "C:\\Data\\hidden.mdb",
                           "C:\\Data\\system.mdb",
                           "C:\\Data\\missing.mdb",
                           "C:\\Nowhere\\qvd.mdb",
                           "C:\\Data\\*.xls",
                           "C:\\Empty\\"};
  size_t boxes = 0;
  for (const char* entry : entries) {
    SCOPED_TRACE(entry);
    EnterPath(entry);
    ASSERT_TRUE(Click(kCommand2));
    ASSERT_EQ(headless::MessageBoxes().size(), ++boxes);
    const auto& box = headless::MessageBoxes().back();
    EXPECT_EQ(box.text, kInvalidEntry);
    EXPECT_EQ(box.caption, "Tessmark");
    EXPECT_EQ(box.type, static_cast<UINT>(MB_OK)) << "OK only, no icon";
    EXPECT_EQ(box.owner, form_->hwnd());
    EXPECT_EQ(ScriptedUser::Focus(), Control(kText1)) << "focus back in the path box";
    EXPECT_EQ(PathBox(), entry);
    EXPECT_FALSE(ScriptedUser::Hourglass());
  }
  EXPECT_EQ(Files(), before);
#if !TESSMARK_REAL_ENGINE
  EXPECT_TRUE(CompactCalls().empty());
#endif
  EXPECT_TRUE(IsWindow(form_->hwnd()));
}

TEST_F(Form1Test, FolderWithBackslashIsSearchedInsideAndThenTried) {
  WriteFile("Data\\qvd.mdb", "an ordinary file");
  const auto before = Files();
  EnterPath("C:\\Data\\");
  ASSERT_TRUE(Click(kCommand2));
  // The folder holds a file, so the compaction is attempted on the folder
  // path itself, which the engine refuses.
  ASSERT_EQ(headless::MessageBoxes().size(), 1u);
  const auto& box = headless::MessageBoxes().back();
  EXPECT_EQ(box.caption, "RandC");
  EXPECT_EQ(box.type & MB_ICONMASK, static_cast<UINT>(MB_ICONHAND));
  EXPECT_NE(box.text.find(" Description: "), std::string::npos);
#if !TESSMARK_REAL_ENGINE
  ASSERT_EQ(CompactCalls().size(), 1u);
  EXPECT_EQ(CompactCalls()[0].source, OnC("Data").string());
#endif
  EXPECT_EQ(Files(), before);
  EXPECT_TRUE(IsWindow(form_->hwnd()));
}

TEST_F(Form1Test, FailingSearchStillCallsRandCWhichReportsIt) {
  EnterPath("C:\\Data\\a|b.mdb");
  ASSERT_TRUE(Click(kCommand2));
  ASSERT_EQ(headless::MessageBoxes().size(), 1u);
  EXPECT_EQ(headless::MessageBoxes()[0].text, "52 Description: Bad file name or number");
  EXPECT_EQ(headless::MessageBoxes()[0].caption, "RandC");
  EXPECT_FALSE(ScriptedUser::Hourglass());
  EXPECT_TRUE(IsWindow(form_->hwnd()));
}

}  // namespace
}  // namespace tessmark::testing
