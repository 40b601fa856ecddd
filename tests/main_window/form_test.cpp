// Form1 as the operator meets it: the window at start, the server/client
// choice, what Enter and Escape reach, Cancel, and the checks of the
// Compact Database command before any compaction.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <new>
#include <vector>

#include "main_window/form1_fixture.h"

namespace tessmark::testing {
namespace {

using headless::ScriptedUser;
using namespace main_window;

constexpr char kInvalidEntry[] = "Invalid entry. Please enter the Complete path for the catalog.";

TEST_F(Form1Test, StartsAsDesigned) {
  HWND form = form_->hwnd();
  EXPECT_EQ(ScriptedUser::Text(form), "Corvane - Tessmark");
  RECT client;
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, 430);
  EXPECT_EQ(client.bottom, 134);

  struct Expected {
    ControlId id;
    const char* cls;
    const char* text;
  };
  const Expected controls[] = {
      {kLabel1, "Static", "Select path for database: "},
      {kText1, "Edit", ""},
      {kCommand1, "Button", "Browse"},
      {kCommand2, "Button", "Compact Database"},
      {kCommand3, "Button", "Cancel"},
      {kOption1Server, "Button", "Server (qvd.mdb)"},
      {kOption1Client, "Button", "Client (backup.mdb)"},
  };
  std::map<ControlId, RECT> place;  // in Form1's client area
  HWND child = GetWindow(form, GW_CHILD);
  for (const Expected& e : controls) {
    ASSERT_NE(child, nullptr);
    SCOPED_TRACE(e.text);
    EXPECT_EQ(GetDlgCtrlID(child), e.id);
    char cls[16];
    GetClassNameA(child, cls, sizeof cls);
    EXPECT_STREQ(cls, e.cls);
    EXPECT_EQ(ScriptedUser::Text(child), e.text);
    EXPECT_TRUE(ScriptedUser::Visible(child));
    EXPECT_TRUE(ScriptedUser::Enabled(child));
    RECT r;
    GetWindowRect(child, &r);
    POINT top_left{r.left, r.top};
    POINT bottom_right{r.right, r.bottom};
    ScreenToClient(form, &top_left);
    ScreenToClient(form, &bottom_right);
    place[e.id] = RECT{top_left.x, top_left.y, bottom_right.x, bottom_right.y};
    EXPECT_TRUE(top_left.x >= 0 && top_left.y >= 0 && bottom_right.x <= client.right &&
                bottom_right.y <= client.bottom)
        << "wholly inside the window";
    EXPECT_EQ(FontOf(child), "MS Sans Serif -11") << "the forms runtime's font";
    child = GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);

  // What the operator sees: the label, the path box and Browse on one line,
  // the server/client choice below the box, the two commands at the bottom,
  // and no control that takes input covering another.
  const auto left_of = [&](ControlId a, ControlId b) { return place[a].right <= place[b].left; };
  const auto above = [&](ControlId a, ControlId b) { return place[a].bottom <= place[b].top; };
  EXPECT_LT(place[kLabel1].left, place[kText1].left);
  EXPECT_TRUE(left_of(kText1, kCommand1));
  EXPECT_TRUE(above(kText1, kOption1Server) && above(kText1, kOption1Client));
  EXPECT_TRUE(left_of(kOption1Server, kOption1Client));
  EXPECT_TRUE(above(kOption1Server, kCommand2) && above(kOption1Client, kCommand3));
  EXPECT_TRUE(left_of(kCommand2, kCommand3));
  for (const auto& [a, ra] : place) {
    for (const auto& [b, rb] : place) {
      if (a >= b || a == kLabel1) continue;
      const bool apart =
          ra.right <= rb.left || rb.right <= ra.left || ra.bottom <= rb.top || rb.bottom <= ra.top;
      EXPECT_TRUE(apart) << a << " and " << b << " overlap";
    }
  }

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

  // Tab walks the controls in tab order, skipping the label and the option
  // button that is not selected, and comes back to the path box.
  std::vector<HWND> walked;
  for (int i = 0; i < 5; ++i) {
    user().PressKey(VK_TAB, '\t');
    walked.push_back(ScriptedUser::Focus());
  }
  EXPECT_EQ(walked, (std::vector<HWND>{Control(kCommand1), Control(kCommand2), Control(kCommand3),
                                       Control(kOption1Server), Control(kText1)}));
}

TEST_F(Form1Test, GeometryFollowsTheScreensResolution) {
  // Client area and controls (left, top, width, height), in twips.
  const std::pair<ControlId, RECT> designed[] = {
      {kLabel1, {120, 120, 1335, 495}},         {kText1, {1440, 120, 3495, 405}},
      {kCommand1, {5160, 120, 1095, 375}},      {kCommand2, {480, 1080, 2415, 495}},
      {kCommand3, {3360, 1080, 2655, 495}},     {kOption1Server, {1560, 600, 1575, 255}},
      {kOption1Client, {3240, 600, 1815, 255}},
  };
  for (const int dpi : {96, 120, 144}) {
    SCOPED_TRACE(std::to_string(dpi) + " dots per inch");
    StartAgain(dpi);
    const auto px = [dpi](LONG twips) { return MulDiv(twips, dpi, 1440); };
    RECT client;
    GetClientRect(form_->hwnd(), &client);
    EXPECT_EQ(client.right, px(6450));
    EXPECT_EQ(client.bottom, px(2010));
    for (const auto& [id, t] : designed) {
      RECT r;
      GetWindowRect(Control(id), &r);
      POINT at{r.left, r.top};
      ScreenToClient(form_->hwnd(), &at);
      EXPECT_EQ(at.x, px(t.left)) << id;
      EXPECT_EQ(at.y, px(t.top)) << id;
      EXPECT_EQ(r.right - r.left, px(t.right)) << id;
      EXPECT_EQ(r.bottom - r.top, px(t.bottom)) << id;
    }
  }
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

TEST_F(Form1Test, EnterAndEscapeReachNoCommandWhateverHasTheFocus) {
  // None of the push buttons is the default or the cancel button. The
  // system's dialog manager makes a push button that Tab moved the focus to
  // the default one, so the program's own loop has to keep Enter from it;
  // Space still presses a focused button. Run through the program's loop.
  enum Outcome { kNothing, kBrowse, kCompact, kEnd };
  struct Case {
    const char* focus;
    int tabs;           // from the path box
    ControlId clicked;  // with the mouse instead, when not kText1
    UINT key;
    char ch;
    Outcome outcome;
  };
  const Case cases[] = {
      {"path box", 0, kText1, VK_RETURN, '\r', kNothing},
      {"path box", 0, kText1, VK_ESCAPE, 27, kNothing},
      {"Browse", 1, kText1, VK_RETURN, '\r', kNothing},
      {"Browse", 1, kText1, VK_ESCAPE, 27, kNothing},
      {"Browse", 1, kText1, VK_SPACE, ' ', kBrowse},
      {"Compact Database", 2, kText1, VK_RETURN, '\r', kNothing},
      {"Compact Database", 2, kText1, VK_ESCAPE, 27, kNothing},
      {"Compact Database", 2, kText1, VK_SPACE, ' ', kCompact},
      {"Cancel", 3, kText1, VK_RETURN, '\r', kNothing},
      {"Cancel", 3, kText1, VK_ESCAPE, 27, kNothing},
      {"Cancel", 3, kText1, VK_SPACE, ' ', kEnd},
      {"server option", 4, kText1, VK_RETURN, '\r', kNothing},
      {"server option", 4, kText1, VK_ESCAPE, 27, kNothing},
      {"Browse by mouse", 0, kCommand1, VK_RETURN, '\r', kNothing},
      {"Compact Database by mouse", 0, kCommand2, VK_RETURN, '\r', kNothing},
      {"client option by mouse", 0, kOption1Client, VK_RETURN, '\r', kNothing},
      {"client option by mouse", 0, kOption1Client, VK_ESCAPE, 27, kNothing},
  };
  constexpr char kBox[] = "C:\\Data\\qvd.mdb";  // no such file: Compact only complains
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.focus) + (c.key == VK_RETURN   ? ", Enter"
                                         : c.key == VK_ESCAPE ? ", Escape"
                                                              : ", Space"));
    RunWholeProgram();
    ForgetBrowseCalls();
    const auto control = [](ControlId id) {
      return GetDlgItem(FindWindowA(kForm1Class, nullptr), id);
    };
    // What the key found and what it left.
    size_t browse_calls = 0;
    size_t boxes = 0;
    std::string box_before;
    std::string box_after = "(the program ended)";
    user().Then([&] {
      user().Click(control(kText1));
      user().Type(kBox);
    });
    for (int i = 0; i < c.tabs; ++i) user().Then([&] { user().PressKey(VK_TAB, '\t'); });
    if (c.clicked != kText1) user().Then([&] { user().Click(control(c.clicked)); });
    user().Then([&] {
      browse_calls = BrowseCalls().size();
      boxes = headless::MessageBoxes().size();
      box_before = ScriptedUser::Text(control(kText1));
      user().PressKey(c.key, c.ch);
    });
    user().Then([&] { box_after = ScriptedUser::Text(control(kText1)); });
    const bool ended = ScriptedUser::RunUntilInputRunsOut([] { RunProgram(SW_SHOWNORMAL); });
    EXPECT_EQ(ended, c.outcome == kEnd);
    EXPECT_EQ(BrowseCalls().size() - browse_calls, c.outcome == kBrowse ? 1u : 0u);
    const size_t new_boxes = headless::MessageBoxes().size() - boxes;
    EXPECT_EQ(new_boxes, c.outcome == kCompact ? 1u : 0u);
    if (c.outcome == kCompact && new_boxes == 1) {
      EXPECT_EQ(headless::MessageBoxes().back().text, kInvalidEntry);
    }
    if (c.outcome != kEnd) {
      EXPECT_EQ(box_after, box_before) << "the window is still there, its path box unchanged";
    }
  }
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

// The path box failing when the program reads or writes its text: an error
// raised inside a handler's own statements.
std::function<void()> g_text_failure;
LONG_PTR g_edit_proc = 0;
LRESULT CALLBACK FailingPathBox(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (g_text_failure && (msg == WM_GETTEXTLENGTH || msg == WM_GETTEXT || msg == WM_SETTEXT)) {
    g_text_failure();
  }
  return CallWindowProcA(platform::LongToWndProc(g_edit_proc), hwnd, msg, wparam, lparam);
}

TEST_F(Form1Test, AnErrorInBrowseOrAnOptionIsReportedAndEndsTheProgram) {
  // Browse and the option buttons trap no errors: the runtime's own report
  // shows the error and the program ends. Compact Database goes on past a
  // failing statement instead.
  const auto runtime_error = [] { throw platform::RuntimeError(5, "Invalid procedure call"); };
  const auto out_of_memory = [] { throw std::bad_alloc(); };
  const auto unknown = [] { throw 42; };
  struct Case {
    const char* what;
    ControlId clicked;
    std::function<void()> failure;
    const char* box;  // the one message box shown
    bool ends;
  };
  const Case cases[] = {
      {"Browse", kCommand1, runtime_error, "Run-time error '5':\r\n\r\nInvalid procedure call",
       true},
      {"Browse", kCommand1, out_of_memory, "Run-time error '7':\r\n\r\nOut of memory", true},
      {"client option", kOption1Client, runtime_error,
       "Run-time error '5':\r\n\r\nInvalid procedure call", true},
      {"client option", kOption1Client, out_of_memory, "Run-time error '7':\r\n\r\nOut of memory",
       true},
      {"Browse", kCommand1, unknown,
       "Run-time error '30000':\r\n\r\nInternal error: an exception of an unknown kind.", true},
      {"Compact Database", kCommand2, runtime_error, kInvalidEntry, false},
      {"Compact Database", kCommand2, out_of_memory, kInvalidEntry, false},
      {"Compact Database", kCommand2, unknown, kInvalidEntry, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    g_text_failure = nullptr;
    StartAgain();
    EnterPath("C:\\Data\\qvd.mdb");
    g_edit_proc =
        SetWindowLongPtrA(Control(kText1), GWLP_WNDPROC, platform::WndProcToLong(FailingPathBox));
    g_text_failure = c.failure;
    ForgetBrowseCalls();
    EXPECT_TRUE(Click(c.clicked));
    g_text_failure = nullptr;
    ASSERT_EQ(headless::MessageBoxes().size(), 1u);
    const headless::MessageBoxRecord& box = headless::MessageBoxes()[0];
    EXPECT_EQ(box.text, c.box);
    EXPECT_EQ(box.caption, "Tessmark");
    EXPECT_EQ(box.type & MB_ICONMASK, c.ends ? static_cast<UINT>(MB_ICONHAND) : 0u);
    EXPECT_EQ(platform::ProgramEnding(), c.ends);
    EXPECT_TRUE(BrowseCalls().empty()) << "the handler stopped at the failing statement";
  }
  // RandC traps every error, of any kind, in its own box.
  for (const std::function<void()>& failure :
       {std::function<void()>(out_of_memory), std::function<void()>(unknown)}) {
    StartAgain();
    g_edit_proc =
        SetWindowLongPtrA(Control(kText1), GWLP_WNDPROC, platform::WndProcToLong(FailingPathBox));
    g_text_failure = failure;
    form_->RandC();
    g_text_failure = nullptr;
    ASSERT_EQ(headless::MessageBoxes().size(), 1u);
    EXPECT_EQ(headless::MessageBoxes()[0].caption, "RandC");
    EXPECT_FALSE(platform::ProgramEnding());
    EXPECT_EQ(platform::GetMousePointer(), platform::MousePointer::kDefault);
  }
  EXPECT_EQ(headless::MessageBoxes()[0].text,
            "30000 Description: Internal error: an exception of an unknown kind.");
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
