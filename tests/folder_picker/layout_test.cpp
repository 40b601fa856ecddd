// Where the picker puts every control for a given dialog rectangle, and how
// a resizable dialog keeps its layout, its minimum size and its rectangle.
#include "picker_fixture.h"

namespace picker_test {
namespace {

using modBrowseForFolder::BrowseForFolder;

struct Place {
  LONG x, y, w, h;
  bool operator==(const Place&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Place& p) {
  return out << "{" << p.x << ", " << p.y << ", " << p.w << ", " << p.h << "}";
}

class LayoutTest : public PickerTest {
 protected:
  static Place At(HWND child) {
    const RECT r = PlaceIn(PickerState.DialogWnd, child);
    return Place{r.left, r.top, r.right, r.bottom};
  }
  // Snapshot of every managed control, taken while the dialog is open.
  struct Snapshot {
    Place tree, path_box, label, folder_button, ok, cancel, grip, status;
    LONG tree_top = 0;
    RECT dialog{};
  };
  static Snapshot Take() {
    Snapshot s;
    s.tree = At(PickerState.TreeWnd);
    s.path_box = At(PickerState.PathBoxWnd);
    s.label = At(PickerState.PathLabelWnd);
    s.folder_button = At(PickerState.FolderButtonWnd);
    s.ok = At(PickerState.OkWnd);
    s.cancel = At(PickerState.CancelWnd);
    s.grip = At(PickerState.SizeGripWnd);
    s.status = At(PickerState.StatusWnd);
    s.tree_top = PickerState.TreeTop;
    s.dialog = RectOf(PickerState.DialogWnd);
    return s;
  }
  Snapshot ShowAndTake() {
    Snapshot s;
    Then([&s] {
      s = Take();
      user::ClickCancel();
    });
    BrowseForFolder();
    EXPECT_TRUE(ScriptDone());
    return s;
  }
};

TEST_F(LayoutTest, PathBoxAndNewFolderButtonAt320x320) {
  MainWindowOptions();
  const Snapshot s = ShowAndTake();
  // The tree's top is measured from the outer top edge and used as it is.
  EXPECT_GT(s.tree_top, 0);
  EXPECT_EQ(s.tree, (Place{21, s.tree_top, 276, 320 - s.tree_top - 120}));
  EXPECT_EQ(s.path_box, (Place{68, 213, 230, 23}));
  EXPECT_EQ(s.label, (Place{19, 219, 45, 13}));
  EXPECT_EQ(s.folder_button, (Place{224, 249, 75, 23}));
  EXPECT_EQ(s.cancel, (Place{143, 249, 75, 23}));
  EXPECT_EQ(s.ok, (Place{62, 249, 75, 23}));
  EXPECT_EQ(s.status.x, 21);
  EXPECT_EQ(s.status.w, 276);
}

TEST_F(LayoutTest, TheTreeOffsetCountsFromTheOuterTopEdge) {
  MainWindowOptions();
  LONG above_client = 0;
  Then([&] {
    POINT origin{0, 0};
    ClientToScreen(PickerState.DialogWnd, &origin);
    above_client = origin.y - RectOf(PickerState.DialogWnd).top;
    user::ClickCancel();
  });
  BrowseForFolder();
  // The system puts its tree 65 pixels into the client area.
  EXPECT_GT(above_client, 0);
  EXPECT_EQ(PickerState.TreeTop, 65 + above_client);
}

TEST_F(LayoutTest, WithoutPathBoxTheTreeReachesFurtherDown) {
  BrowseOptions.ShowNewFolderButton = kTrue;
  const Snapshot s = ShowAndTake();
  EXPECT_EQ(s.tree.y + s.tree.h, 320 - 81);
  EXPECT_EQ(s.folder_button, (Place{224, 249, 75, 23}));
}

TEST_F(LayoutTest, CheckBoxRowPutsTheBoxAtTheLeft) {
  BrowseOptions.ShowCheckBox = kTrue;
  const Snapshot s = ShowAndTake();
  EXPECT_EQ(s.cancel, (Place{224, 249, 75, 23}));
  EXPECT_EQ(s.ok, (Place{143, 249, 75, 23}));
  EXPECT_EQ(s.folder_button, (Place{20, 249, 110, 23}));
}

TEST_F(LayoutTest, PlainRowHasOkAndCancelOnly) {
  const Snapshot s = ShowAndTake();
  EXPECT_EQ(s.cancel, (Place{224, 249, 75, 23}));
  EXPECT_EQ(s.ok, (Place{143, 249, 75, 23}));
}

TEST_F(LayoutTest, GripStandsAtItsOffsetForTheSystemVersion) {
  BrowseOptions.Resizable = kTrue;
  EXPECT_EQ(ShowAndTake().grip, (Place{296, 276, 16, 16}));
  hl::SetSystemVersion(4, 0, 1381, VER_PLATFORM_WIN32_NT, "");
  EXPECT_EQ(ShowAndTake().grip, (Place{302, 282, 16, 16}));
}

TEST_F(LayoutTest, ResizingRelaysOutAndStopsAt320) {
  MainWindowOptions();
  BrowseOptions.Resizable = kTrue;
  Snapshot large, small;
  RECT after_small{};
  Then([&] {
    user::ResizeDialog(500, 400);
    large = Take();
    user::ResizeDialog(200, 100);
    small = Take();
    after_small = PickerState.DialogRect;
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(large.dialog.right - large.dialog.left, 500);
  EXPECT_EQ(large.path_box, (Place{68, 293, 410, 23}));
  EXPECT_EQ(large.folder_button, (Place{404, 329, 75, 23}));
  EXPECT_EQ(large.grip, (Place{476, 356, 16, 16}));
  EXPECT_EQ(large.tree, (Place{21, large.tree_top, 456, 400 - large.tree_top - 120}));
  EXPECT_EQ(small.dialog.right - small.dialog.left, 320);
  EXPECT_EQ(small.dialog.bottom - small.dialog.top, 320);
  EXPECT_EQ(after_small.right - after_small.left, 320);
  EXPECT_EQ(small.path_box, (Place{68, 213, 230, 23}));
}

TEST_F(LayoutTest, MinMaxQueryChangesOnlyTheMinimumTrackingSize) {
  BrowseOptions.Resizable = kTrue;
  MINMAXINFO info{};
  info.ptReserved = POINT{1, 2};
  info.ptMaxSize = POINT{1000, 700};
  info.ptMaxPosition = POINT{-4, -4};
  info.ptMinTrackSize = POINT{112, 27};
  info.ptMaxTrackSize = POINT{1036, 780};
  Then([&] {
    SendMessageA(PickerState.DialogWnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(info.ptMinTrackSize.x, 320);
  EXPECT_EQ(info.ptMinTrackSize.y, 320);
  EXPECT_EQ(info.ptMaxSize.x, 1000);
  EXPECT_EQ(info.ptMaxSize.y, 700);
  EXPECT_EQ(info.ptMaxPosition.x, -4);
  EXPECT_EQ(info.ptMaxTrackSize.x, 1036);
  EXPECT_EQ(info.ptMaxTrackSize.y, 780);
  EXPECT_EQ(info.ptReserved.y, 2);
}

TEST_F(LayoutTest, DraggingTracksTheRectangleAndKeepsTheLayout) {
  MainWindowOptions();
  BrowseOptions.Resizable = kTrue;
  Snapshot before, after;
  RECT tracked{};
  Then([&] {
    before = Take();
    user::DragDialog(30, 40);
    after = Take();
    tracked = PickerState.DialogRect;
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(tracked.left, before.dialog.left + 30);
  EXPECT_EQ(tracked.top, before.dialog.top + 40);
  EXPECT_EQ(tracked.right - tracked.left, 320);
  EXPECT_EQ(after.path_box, before.path_box);
  EXPECT_EQ(after.folder_button, before.folder_button);
  EXPECT_EQ(after.tree, before.tree);
}

TEST_F(LayoutTest, WithoutResizingTheRectangleIsNotTracked) {
  MainWindowOptions();
  RECT first{}, tracked{};
  Then([&] {
    first = PickerState.DialogRect;
    user::DragDialog(30, 40);
    tracked = PickerState.DialogRect;
    user::ClickCancel();
  });
  BrowseForFolder();
  EXPECT_EQ(tracked.left, first.left);
  EXPECT_EQ(tracked.top, first.top);
}

}  // namespace
}  // namespace picker_test
