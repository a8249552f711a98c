// The Win32 summary panel beside the map once the analysis has finished, in
// real windows (wine64 under Xvfb here) over a scripted volume: figures in
// binary units with the cluster size and the exact bytes in their tips, the
// most fragmented files as a list view that sorts by a click on each header
// and selects and scrolls the map to a file when its row is selected, a
// search that selects and outlines the items whose path matches, and
// "Summary..." that hides and shows the panel.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/scripted_volume.h"
#include "tests/support/summary_volume.h"
#include "tests/win32/window_test_support.h"
#include "ui/win32/fragment_view.h"
#include "ui/win32/summary_panel.h"
#include "ui/win32/win32_window_system.h"

namespace {

std::string CellText(HWND list, int row, int column) {
  char text[512] = {};
  LVITEMA item = {};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

std::vector<std::string> PathsShown(HWND list) {
  std::vector<std::string> paths;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int row = 0; row < count; ++row) paths.push_back(CellText(list, row, 0));
  return paths;
}

std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

BOOL CALLBACK FindPanel(HWND child, LPARAM found) {
  TSummaryPanel* panel = SummaryPanelOf(child);
  if (panel == nullptr) return TRUE;
  *reinterpret_cast<TSummaryPanel**>(found) = panel;
  return FALSE;
}

class Win32SummaryPanel : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterFragmentViewClassOnce());
    PopulateSummaryVolume(volume);
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    DispatchPending();
  }

  // The drive window, then the worker of an analysis that ends well played
  // on the test's thread: the tree, the free space, the map's notice, the
  // plan and the summary, "Finished" and the worker's end.
  void Analyse() {
    windows.CreateDriveWindow(optimizer);
    window = static_cast<HWND>(optimizer.mainWindow);
    ASSERT_NE(window, nullptr);
    SetWindowPos(window, nullptr, 0, 0, 900, 600, SWP_NOZORDER | SWP_NOACTIVATE);
    optimizer.CreateMemoryTree();
    optimizer.MapFreeSpace();
    optimizer.FillMemoryTree();
    windows.PostFragmentsReady(optimizer);
    DispatchPending();
    ASSERT_NE(optimizer.fragmentView, nullptr);
    view = optimizer.fragmentView;
    optimizer.OptimizeTree();
    optimizer.statusText.Set("Finished");
    windows.PostWorkerFinished(optimizer);
    DispatchPending();
    EnumChildWindows(window, FindPanel, reinterpret_cast<LPARAM>(&panel));
    ASSERT_NE(panel, nullptr);
    UpdateWindow(window);
  }

  TScriptedVolume volume{'D'};
  TWin32WindowSystem windows;
  TDriveOptimizer optimizer{'D', volume, windows, kDriveStages};
  HWND window = nullptr;
  TFragmentView* view = nullptr;
  TSummaryPanel* panel = nullptr;
};

TEST_F(Win32SummaryPanel, PanelBesideTheMapShowsTheFiguresInBinaryUnits) {
  Analyse();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(IsWindowVisible(panel->window));
  // Right of the map, in the map's rows, sharing the map's place.
  const TRect map = PlaceOf(view->window);
  const TRect side = PlaceOf(panel->window);
  EXPECT_GT(side.x, map.x + map.width);
  EXPECT_EQ(side.y, map.y);
  EXPECT_EQ(side.height, map.height);
  EXPECT_EQ(side.x + side.width, MapAreaOf(window).x + MapAreaOf(window).width);
  EXPECT_EQ(CellText(panel->figures, 0, 0), "Cluster size");
  EXPECT_EQ(CellText(panel->figures, 0, 1), "4.0 KiB");
  EXPECT_EQ(CellText(panel->figures, 1, 0), "Volume size");
  EXPECT_EQ(CellText(panel->figures, 1, 1), "781.2 MiB");
  // The row's tip holds the exact figures.
  char tip[128] = {};
  NMLVGETINFOTIPA ask = {};
  ask.hdr.hwndFrom = panel->figures;
  ask.hdr.code = LVN_GETINFOTIPA;
  ask.pszText = tip;
  ask.cchTextMax = sizeof tip;
  ask.iItem = 1;
  SendMessageA(panel->window, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&ask));
  EXPECT_STREQ(tip, "819,200,000 bytes in 200,000 clusters");
  // "Summary..." hides the panel and the map takes its place back; again
  // shows it.
  SendMessageA(view->window, WM_COMMAND, static_cast<WPARAM>(TMapCommand::kSummary), 0);
  EXPECT_FALSE(IsWindowVisible(panel->window));
  EXPECT_EQ(Corners(PlaceOf(view->window)), Corners(MapAreaOf(window)));
  SendMessageA(view->window, WM_COMMAND, static_cast<WPARAM>(TMapCommand::kSummary), 0);
  EXPECT_TRUE(IsWindowVisible(panel->window));
  EXPECT_EQ(Corners(PlaceOf(view->window)), Corners(map));
}

TEST_F(Win32SummaryPanel, SelectingARowSelectsTheFileAndScrollsTheMapToIt) {
  Analyse();
  ASSERT_NE(panel, nullptr);
  HWND files = panel->files;
  ASSERT_EQ(PathsShown(files),
            (std::vector<std::string>{"D:\\docs\\big.iso", "D:\\three.avi", "D:\\docs\\far.log"}));
  EXPECT_EQ(CellText(files, 0, 1), "32.0 KiB");
  EXPECT_EQ(CellText(files, 0, 2), "4");
  const TFragmentViewLogic& logic = view->logic;
  ASSERT_EQ(logic.FirstCluster(), 0);
  const auto select = [&](int row) {
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(files, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&state));
    UpdateWindow(view->window);
  };
  select(2);
  ASSERT_NE(logic.Selected(), nullptr);
  EXPECT_STREQ(logic.Selected()->name, "far.log");
  // far.log's first cluster, 150,000, is now in the map's first line, and
  // the scroll bar stands there too.
  const int64_t line = logic.Columns() * logic.ClustersPerCell();
  EXPECT_EQ(logic.FirstCluster(), 150000 / line * line);
  EXPECT_NE(logic.OutlineOf(static_cast<int>(150000 - logic.FirstCluster())), 0u);
  SCROLLINFO bar = {};
  bar.cbSize = sizeof bar;
  bar.fMask = SIF_POS;
  GetScrollInfo(view->window, SB_VERT, &bar);
  EXPECT_EQ(bar.nPos, static_cast<int>(150000 / line / logic.Scale()));
  // Back up to three.avi, whose first piece is at 200.
  select(1);
  EXPECT_STREQ(logic.Selected()->name, "three.avi");
  EXPECT_EQ(logic.FirstCluster(), 200 / line * line);
}

TEST_F(Win32SummaryPanel, ClickingEachHeaderOrdersTheRowsAndAgainReversesThem) {
  Analyse();
  ASSERT_NE(panel, nullptr);
  HWND files = panel->files;
  HWND header = reinterpret_cast<HWND>(SendMessageA(files, LVM_GETHEADER, 0, 0));
  const auto clickHeader = [&](int column) {
    RECT r;
    SendMessageA(header, HDM_GETITEMRECT, column, reinterpret_cast<LPARAM>(&r));
    const LPARAM point = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    SendMessageA(header, WM_LBUTTONDOWN, MK_LBUTTON, point);
    SendMessageA(header, WM_LBUTTONUP, 0, point);
  };
  const std::vector<std::string> byPath = {"D:\\docs\\big.iso", "D:\\docs\\far.log",
                                           "D:\\three.avi"};
  const std::vector<std::string> bySize = {"D:\\docs\\far.log", "D:\\docs\\big.iso",
                                           "D:\\three.avi"};
  const std::vector<std::string> byFragments = {"D:\\docs\\far.log", "D:\\three.avi",
                                                "D:\\docs\\big.iso"};
  const auto reversed = [](std::vector<std::string> paths) {
    return std::vector<std::string>(paths.rbegin(), paths.rend());
  };
  // A path first ascends; sizes and fragment counts first descend.
  const struct {
    int column;
    std::vector<std::string> paths;
  } clicks[] = {
      {0, byPath}, {0, reversed(byPath)},      {1, reversed(bySize)},
      {1, bySize}, {2, reversed(byFragments)}, {2, byFragments},
  };
  for (const auto& click : clicks) {
    clickHeader(click.column);
    EXPECT_EQ(PathsShown(files), click.paths) << click.column;
  }
  // The sizes and counts move with their rows.
  EXPECT_EQ(CellText(files, 0, 1), "16.0 KiB");
  EXPECT_EQ(CellText(files, 0, 2), "2");
}

TEST_F(Win32SummaryPanel, SearchSelectsAndOutlinesEveryItemWhosePathMatches) {
  Analyse();
  ASSERT_NE(panel, nullptr);
  const TFragmentViewLogic& logic = view->logic;
  // Typed: the search runs once the typing pauses.
  SetWindowTextA(panel->search, ".AVI");
  ASSERT_TRUE(PumpUntil([&] { return logic.Selection().size() == 1; }, 3000));
  EXPECT_STREQ(logic.Selected()->name, "three.avi");
  EXPECT_EQ(TextOf(panel->searchResult), "1 item matches, outlined on the map");
  UpdateWindow(view->window);
  EXPECT_NE(logic.OutlineOf(200), 0u);
  EXPECT_NE(logic.OutlineOf(403), 0u);
  EXPECT_EQ(logic.OutlineOf(100), 0u);

  SetWindowTextA(panel->search, "\\docs\\");
  ASSERT_TRUE(PumpUntil([&] { return logic.Selection().size() == 2; }, 3000));
  std::vector<std::string> names;
  for (const TItem* item : logic.Selection()) names.emplace_back(item->name);
  EXPECT_EQ(names, (std::vector<std::string>{"big.iso", "far.log"}));
  EXPECT_EQ(TextOf(panel->searchResult), "2 items match, outlined on the map");

  SetWindowTextA(panel->search, "nothing");
  ASSERT_TRUE(PumpUntil([&] { return logic.Selection().empty(); }, 3000));
  EXPECT_EQ(TextOf(panel->searchResult), "No item's path holds that.");
}

TEST_F(Win32SummaryPanel, AStoppedAnalysisHasNoPanel) {
  windows.CreateDriveWindow(optimizer);
  window = static_cast<HWND>(optimizer.mainWindow);
  optimizer.CreateMemoryTree();
  optimizer.FillMemoryTree();
  windows.PostFragmentsReady(optimizer);
  DispatchPending();
  ASSERT_NE(optimizer.fragmentView, nullptr);
  optimizer.RequestStop();
  optimizer.statusText.Set("Stopped");
  windows.PostWorkerFinished(optimizer);
  DispatchPending();
  EnumChildWindows(window, FindPanel, reinterpret_cast<LPARAM>(&panel));
  EXPECT_EQ(panel, nullptr);
}

// Not part of the unit run: run by hand to photograph the window (see
// tests/win32/window_screenshot.sh). The panel after a search for "\docs\"
// with far.log's row then selected; prints "drawn", then keeps the window
// open until it is closed.
TEST_F(Win32SummaryPanel, DISABLED_ShowsThePanelAndASelectionUntilClosed) {
  Analyse();
  ASSERT_NE(panel, nullptr);
  SetWindowTextA(panel->search, "\\docs\\");
  PumpUntil([&] { return view->logic.Selection().size() == 2; }, 3000);
  LVITEMA state = {};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageA(panel->files, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
  SendMessageA(window, WM_TIMER, 1, 0);
  UpdateWindow(window);
  std::printf("drawn\n");
  std::fflush(stdout);
  windows.RunMessageLoop(optimizer);
}

}  // namespace
