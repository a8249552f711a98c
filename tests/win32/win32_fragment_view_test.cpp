// The Win32 fragment view over a scripted volume, drawn into real windows
// (wine64 under Xvfb here): made on the drive window's notice where the drive
// window puts it and laid out with the window from the next resize on;
// painted in the cell colours over the background, read back pixel by pixel;
// scrolled through its scroll bar as the platform keeps it; and left without
// a window, but still there, when its window goes; its keys work with no
// click first, Ctrl + wheel zooms about the mouse, and the status bar says
// the zoom and the view; "Save picture" saves the map alone as a BMP file.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/file_bytes.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"
#include "tests/win32/window_test_support.h"
#include "ui/cluster_map.h"
#include "ui/drive_window_layout.h"
#include "ui/win32/fragment_view.h"
#include "ui/win32/win32_window_system.h"

namespace {

const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kBlue = RGB(63, 63, 255);
const COLORREF kWhite = RGB(255, 255, 255);

COLORREF Background() { return GetSysColor(COLOR_BTNFACE); }

// A volume of 200,000 clusters: one file in one run at 100, one in three runs
// at 200, 300 and 400, one with a stretch of no clusters before its run at
// 500, and one at 8, in the first line of every grid.
void Populate(TScriptedVolume& volume) {
  volume.bitmap.assign(200000, false);
  for (int cluster : {8, 100, 200, 300, 400, 500}) volume.bitmap[cluster] = true;
  volume.AddFile("D:\\one.txt", 40960, {{10, 100}});
  volume.AddFile("D:\\three.avi", 36864, {{3, 200}, {5, 300}, {9, 400}});
  volume.AddFile("D:\\sparse.dat", 24576, {{4, -1}, {6, 500}});
  volume.AddFile("D:\\first.bin", 32768, {{8, 8}});
}

// Adds 240 files after cluster 600 for a fuller picture: every third file in
// one run, the others in two or three, their later runs laid after every
// file's first run, so the red runs of a file lie well before its blue one.
void AddPictureFiles(TScriptedVolume& volume) {
  std::vector<std::vector<TScriptedRun>> runs(240);
  int64_t cursor = 600;
  for (int round = 0; round < 3; ++round) {
    for (int file = 0; file < 240; ++file) {
      if (file % 3 < round) continue;
      const int64_t length = 3 + (file * 7 + round * 5) % 12;
      const int64_t lcn = cursor + (file * 11 + round) % 5;
      const int64_t vcn = runs[file].empty() ? 0 : runs[file].back().nextVcn;
      runs[file].push_back(TScriptedRun{vcn + length, lcn});
      for (int64_t c = lcn; c < lcn + length; ++c) volume.bitmap[c] = true;
      cursor = lcn + length;
    }
  }
  for (int file = 0; file < 240; ++file) {
    char name[32];
    std::snprintf(name, sizeof name, "D:\\picture%03d.bin", file);
    volume.AddFile(name, runs[file].back().nextVcn * 4096, runs[file]);
  }
}

HWND AsWindow(TWindowHandle handle) { return static_cast<HWND>(handle); }

TRect ClientOf(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  return TRect{0, 0, client.right, client.bottom};
}

// What the window now shows at x, y of its client area, after any pending
// paint.
COLORREF PixelAt(HWND window, int x, int y) {
  UpdateWindow(window);
  HDC dc = GetDC(window);
  const COLORREF pixel = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return pixel;
}

// The middle of the cell that shows cluster while cluster first is in the
// first cell; the grid's lines are as wide as the cells that fit the client
// width.
COLORREF ClusterPixel(HWND view, int64_t first, int64_t cluster) {
  const int64_t columns = ClientOf(view).width / 8;
  const int64_t index = cluster - first;
  return PixelAt(view, static_cast<int>(index % columns) * 8 + 4,
                 static_cast<int>(index / columns) * 8 + 4);
}

SCROLLINFO ScrollBarOf(HWND view) {
  SCROLLINFO scroll = {};
  scroll.cbSize = sizeof scroll;
  scroll.fMask = SIF_ALL;
  GetScrollInfo(view, SB_VERT, &scroll);
  return scroll;
}

bool ScrollBarEnabled(HWND view) {
  SCROLLBARINFO bar = {};
  bar.cbSize = sizeof bar;
  GetScrollBarInfo(view, OBJID_VSCROLL, &bar);
  return (bar.rgstate[0] & STATE_SYSTEM_UNAVAILABLE) == 0;
}

LRESULT Scroll(HWND view, int request) {
  return SendMessageA(view, WM_VSCROLL, MAKEWPARAM(request, 0), 0);
}

// A drive whose tree has been read, with its drive window; the notice is
// handled as the drive thread's loop would handle it.
class Win32FragmentViewInDriveWindow : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterFragmentViewClassOnce());
    Populate(volume);
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    DispatchPending();
  }

  // As the worker does before its notice: the tree, the free space, the runs.
  void OpenDrive() {
    optimizer.CreateMemoryTree();
    optimizer.MapFreeSpace();
    optimizer.FillMemoryTree();
    windows.CreateDriveWindow(optimizer);
    window = AsWindow(optimizer.mainWindow);
    ASSERT_NE(window, nullptr);
    DispatchPending();
  }
  void Notify() {
    windows.PostFragmentsReady(optimizer);
    DispatchPending();
  }
  HWND ViewWindow() const {
    return optimizer.fragmentView != nullptr ? optimizer.fragmentView->window : nullptr;
  }

  TScriptedVolume volume{'D'};
  TWin32WindowSystem windows;
  TDriveOptimizer optimizer{'D', volume, windows, kDriveStages};
  HWND window = nullptr;
};

TEST_F(Win32FragmentViewInDriveWindow, NoticeBuildsTheMapAndMakesTheViewAtItsFirstPlace) {
  OpenDrive();
  ASSERT_EQ(optimizer.fragmentView, nullptr);
  UpdateWindow(window);
  // Only the notice, so that the repaint it asks for is still pending.
  windows.PostFragmentsReady(optimizer);
  MSG notice;
  ASSERT_TRUE(PeekMessageA(&notice, window, kWmFragmentsReady, kWmFragmentsReady, PM_REMOVE));
  EXPECT_EQ(DispatchMessageA(&notice), 0);

  ASSERT_NE(optimizer.clusterMap, nullptr);
  EXPECT_EQ(optimizer.clusterMap->totalClusters, 200000);
  EXPECT_EQ(volume.debugOutput, "Total sectors: 1600000\n");
  ASSERT_NE(optimizer.fragmentView, nullptr);
  const TFragmentView& view = *optimizer.fragmentView;
  EXPECT_EQ(view.clusterMap, optimizer.clusterMap);
  EXPECT_EQ(view.driveOptimizer, &optimizer);
  HWND viewWindow = view.window;
  ASSERT_TRUE(IsWindow(viewWindow));
  EXPECT_EQ(GetParent(viewWindow), window);
  EXPECT_EQ(GetDlgCtrlID(viewWindow), 0);
  char className[64] = {};
  GetClassNameA(viewWindow, className, sizeof className);
  EXPECT_STREQ(className, "TFragmentView");
  const LONG_PTR style = GetWindowLongPtrA(viewWindow, GWL_STYLE);
  EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_VSCROLL), WS_CHILD | WS_VISIBLE | WS_VSCROLL);
  EXPECT_EQ(GetWindowLongPtrA(viewWindow, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, WS_EX_CLIENTEDGE);

  const TRect client = ClientOf(window);
  const TRect first = InitialFragmentViewRect(client.width, client.height);
  const TRect place = PlaceOf(viewWindow);
  EXPECT_EQ(place.x, 4);
  EXPECT_EQ(place.y, 58);
  EXPECT_EQ(place.width, first.width);
  EXPECT_EQ(place.height, first.height);

  // The whole drive window is to be repainted.
  RECT update;
  ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
  EXPECT_EQ(update.left, 0);
  EXPECT_EQ(update.top, 0);
  EXPECT_EQ(update.right, client.width);
  EXPECT_EQ(update.bottom, client.height);

  // The size posted on creation reaches the view: its grid follows its client.
  DispatchPending();
  const TRect viewClient = ClientOf(viewWindow);
  EXPECT_EQ(view.logic.Columns(), viewClient.width / 8);
  // The legend strip takes the bottom of the client area.
  EXPECT_EQ(view.logic.Rows(), view.LegendTop() / 8);
  EXPECT_LT(view.LegendTop(), viewClient.height);
  EXPECT_EQ(ClusterPixel(viewWindow, 0, 0), kWhite);
  EXPECT_EQ(ClusterPixel(viewWindow, 0, 8), kBlue);
  EXPECT_EQ(ClusterPixel(viewWindow, 0, 200), kRed);
}

TEST_F(Win32FragmentViewInDriveWindow, FromTheNextResizeOnTheViewFollowsTheLayout) {
  OpenDrive();
  Notify();
  HWND viewWindow = ViewWindow();
  ASSERT_NE(viewWindow, nullptr);
  MoveWindow(window, 10, 10, 700, 500, TRUE);
  DispatchPending();
  EXPECT_EQ(Corners(PlaceOf(viewWindow)), Corners(MapAreaOf(window)));
  // The view took its new size: the scroll range counts lines of its width.
  EXPECT_EQ(ScrollBarOf(viewWindow).nMax, 200000 / (ClientOf(viewWindow).width / 8));
}

TEST_F(Win32FragmentViewInDriveWindow, VolumeThatCannotBeQueriedGetsNoMapAndNoView) {
  volume.geometryFails = true;
  OpenDrive();
  ASSERT_NE(optimizer.root, nullptr);
  Notify();
  EXPECT_EQ(optimizer.clusterMap, nullptr);
  EXPECT_EQ(optimizer.fragmentView, nullptr);
  // The buttons, the label and the status bar with its progress bar.
  EXPECT_EQ(ChildCount(window), 7);
}

TEST_F(Win32FragmentViewInDriveWindow, ClosingTheWindowLeavesTheViewWithoutAWindow) {
  OpenDrive();
  Notify();
  HWND viewWindow = ViewWindow();
  ASSERT_NE(viewWindow, nullptr);
  const TFragmentView* view = optimizer.fragmentView;
  EXPECT_NE(view->windowMoves, nullptr);
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(viewWindow));
  EXPECT_EQ(optimizer.fragmentView, view);
  EXPECT_EQ(view->window, nullptr);
  // The window's moves went with it: the view no longer offers them.
  EXPECT_EQ(view->windowMoves, nullptr);
  EXPECT_NE(optimizer.clusterMap, nullptr);
  windows.RunMessageLoop(optimizer);  // returns on the quit message
}

// Not part of the unit run: tests/win32/fragment_view_screenshot.sh runs it
// to photograph a drawn fragment view. Prints the screen position and the
// colour of the cells of a few clusters, then "drawn", then keeps the window
// open until it is closed.
TEST_F(Win32FragmentViewInDriveWindow, DISABLED_ShowsADrawnViewUntilClosed) {
  AddPictureFiles(volume);
  OpenDrive();
  optimizer.statusText.Set("Finished");
  optimizer.detailText.Set("Finished");
  // A refresh tick now rather than in 500 ms: the picture shows the texts.
  SendMessageA(window, WM_TIMER, 1, 0);
  Notify();
  HWND viewWindow = ViewWindow();
  ASSERT_NE(viewWindow, nullptr);
  UpdateWindow(window);
  const int columns = ClientOf(viewWindow).width / 8;
  const struct {
    int64_t cluster;
    COLORREF colour;
  } probes[] = {{0, kWhite}, {8, kBlue}, {200, kRed}, {400, kBlue}};
  for (const auto& probe : probes) {
    ASSERT_EQ(ClusterPixel(viewWindow, 0, probe.cluster), probe.colour);
    POINT centre = {static_cast<int>(probe.cluster % columns) * 8 + 4,
                    static_cast<int>(probe.cluster / columns) * 8 + 4};
    ClientToScreen(viewWindow, &centre);
    std::printf("cell %ld %ld %02x%02x%02x\n", centre.x, centre.y, GetRValue(probe.colour),
                GetGValue(probe.colour), GetBValue(probe.colour));
  }
  std::printf("drawn\n");
  std::fflush(stdout);
  windows.RunMessageLoop(optimizer);
  EXPECT_FALSE(IsWindow(window));
}

// A view made directly, over a map of the scripted volume, in a plain
// top-level window, at a client size chosen to leave margins narrower than a
// cell.
class Win32FragmentView : public testing::Test {
 protected:
  // One parent for the suite: under Wine without a window manager every
  // top-level window costs seconds to take down, a child window nothing.
  static void SetUpTestSuite() {
    parent = CreateWindowExA(0, "STATIC", "fragment view test", WS_POPUP | WS_VISIBLE, 0, 0, 900,
                             600, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  }
  static void TearDownTestSuite() {
    DestroyWindow(parent);
    DispatchPending();
  }
  void SetUp() override {
    ASSERT_TRUE(RegisterFragmentViewClassOnce());
    ASSERT_NE(parent, nullptr);
    Populate(volume);
  }
  void TearDown() override {
    if (view != nullptr && view->window != nullptr) DestroyWindow(view->window);
    DispatchPending();
    ReleaseFragmentView(view);
  }

  // The tree and its map, then a view whose client area is exactly
  // clientWidth x clientHeight pixels, sized and painted.
  void MakeView(int clientWidth, int clientHeight) {
    optimizer.CreateMemoryTree();
    optimizer.FillMemoryTree();
    map.Init(optimizer.root, false);
    ASSERT_TRUE(map.Build(volume));
    view = CreateFragmentView(parent, 0, 0, 200, 200, &map, &optimizer);
    ASSERT_NE(view, nullptr);
    Resize(clientWidth, clientHeight);
  }
  void Resize(int clientWidth, int clientHeight) {
    RECT outer;
    GetWindowRect(view->window, &outer);
    const TRect client = ClientOf(view->window);
    MoveWindow(view->window, 0, 0, clientWidth + (outer.right - outer.left) - client.width,
               clientHeight + (outer.bottom - outer.top) - client.height, TRUE);
    DispatchPending();
    ASSERT_EQ(ClientOf(view->window).width, clientWidth);
    ASSERT_EQ(ClientOf(view->window).height, clientHeight);
  }

  TScriptedVolume volume{'D'};
  TWin32WindowSystem windows;
  TDriveOptimizer optimizer{'D', volume, windows, kDriveStages};
  TClusterMap map;
  TFragmentView* view = nullptr;
  static HWND parent;
};

HWND Win32FragmentView::parent = nullptr;

// 60 columns and 30 rows, with 5 pixels to the right and 3 below.
constexpr int kClientWidth = 60 * 8 + 5;
constexpr int kClientHeight = 30 * 8 + 3;

TEST_F(Win32FragmentView, CellsShowTheRunsInTheirColoursOverTheBackground) {
  MakeView(kClientWidth, kClientHeight);
  HWND w = view->window;
  EXPECT_EQ(ClusterPixel(w, 0, 0), kWhite);
  EXPECT_EQ(ClusterPixel(w, 0, 7), kWhite);
  EXPECT_EQ(ClusterPixel(w, 0, 8), kBlue);
  EXPECT_EQ(ClusterPixel(w, 0, 15), kBlue);
  EXPECT_EQ(ClusterPixel(w, 0, 99), kWhite);
  EXPECT_EQ(ClusterPixel(w, 0, 100), kBlue);
  EXPECT_EQ(ClusterPixel(w, 0, 109), kBlue);
  EXPECT_EQ(ClusterPixel(w, 0, 110), kWhite);
  // Three runs: the first two red, the last blue.
  EXPECT_EQ(ClusterPixel(w, 0, 200), kRed);
  EXPECT_EQ(ClusterPixel(w, 0, 202), kRed);
  EXPECT_EQ(ClusterPixel(w, 0, 203), kWhite);
  EXPECT_EQ(ClusterPixel(w, 0, 300), kRed);
  EXPECT_EQ(ClusterPixel(w, 0, 301), kRed);
  EXPECT_EQ(ClusterPixel(w, 0, 400), kBlue);
  EXPECT_EQ(ClusterPixel(w, 0, 403), kBlue);
  EXPECT_EQ(ClusterPixel(w, 0, 404), kWhite);
  // A stretch with no clusters shows nowhere; the run after it is the last.
  EXPECT_EQ(ClusterPixel(w, 0, 500), kBlue);
  EXPECT_EQ(ClusterPixel(w, 0, 502), kWhite);

  // Cells fill their 8 x 8 pixels and touch: cluster 100 is column 40 of
  // line 1, cluster 101 the next column.
  EXPECT_EQ(PixelAt(w, 320, 8), kBlue);
  EXPECT_EQ(PixelAt(w, 327, 15), kBlue);
  EXPECT_EQ(PixelAt(w, 328, 8), kBlue);
  EXPECT_EQ(PixelAt(w, 319, 8), kWhite);
  // The margins narrower than a cell show the background.
  EXPECT_EQ(PixelAt(w, 480, 4), Background());
  EXPECT_EQ(PixelAt(w, kClientWidth - 1, 4), Background());
  EXPECT_EQ(PixelAt(w, 4, 240), Background());
  EXPECT_EQ(PixelAt(w, 4, kClientHeight - 1), Background());
}

TEST_F(Win32FragmentView, ScrollBarAfterResizeCountsLinesOfTheGrid) {
  MakeView(kClientWidth, kClientHeight);
  SCROLLINFO bar = ScrollBarOf(view->window);
  EXPECT_EQ(bar.nMin, 0);
  EXPECT_EQ(bar.nMax, 200000 / 60);
  EXPECT_EQ(bar.nPage, 30u);
  EXPECT_EQ(bar.nPos, 0);
  EXPECT_TRUE(ScrollBarEnabled(view->window));

  Resize(100 * 8, 20 * 8);
  bar = ScrollBarOf(view->window);
  EXPECT_EQ(bar.nMax, 2000);
  EXPECT_EQ(bar.nPage, 20u);
}

TEST_F(Win32FragmentView, VolumeShorterThanTheViewDisablesTheScrollBar) {
  // 1,000 clusters are 16 lines of 60, fewer than the 30 rows.
  volume.bitmap.resize(1000);
  MakeView(kClientWidth, kClientHeight);
  // Disabled, not hidden.
  EXPECT_FALSE(ScrollBarEnabled(view->window));
  EXPECT_NE(GetWindowLongPtrA(view->window, GWL_STYLE) & WS_VSCROLL, 0);
  EXPECT_EQ(ScrollBarOf(view->window).nMax, 16);
  // Below the end of the volume the view shows the background.
  EXPECT_EQ(ClusterPixel(view->window, 0, 999), kWhite);
  EXPECT_EQ(ClusterPixel(view->window, 0, 1000), Background());
  EXPECT_EQ(ClusterPixel(view->window, 0, 1080), Background());
}

TEST_F(Win32FragmentView, LineDownMovesTheFirstCellOneLine) {
  MakeView(kClientWidth, kClientHeight);
  EXPECT_EQ(Scroll(view->window, SB_LINEDOWN), 0);
  EXPECT_EQ(view->logic.FirstCluster(), 60);
  EXPECT_EQ(ScrollBarOf(view->window).nPos, 1);
  // Cluster 100 moved up one line, to column 40 of line 0.
  EXPECT_EQ(PixelAt(view->window, 40 * 8 + 4, 4), kBlue);
  EXPECT_EQ(ClusterPixel(view->window, 60, 100), kBlue);
  EXPECT_EQ(ClusterPixel(view->window, 60, 200), kRed);
  EXPECT_EQ(ClusterPixel(view->window, 60, 60), kWhite);
}

TEST_F(Win32FragmentView, ReleasedThumbEndOfScrollingAndUnknownCodesStay) {
  MakeView(kClientWidth, kClientHeight);
  Scroll(view->window, SB_LINEDOWN);
  for (int code : {SB_THUMBPOSITION, SB_ENDSCROLL, 99}) {
    Scroll(view->window, code);
    EXPECT_EQ(view->logic.FirstCluster(), 60) << code;
    EXPECT_EQ(ScrollBarOf(view->window).nPos, 1) << code;
  }
}

TEST_F(Win32FragmentView, LargeVolumeScrollsTwoLinesPerUnit) {
  // 3,000,000 clusters are 50,000 lines of 60: the range is halved once.
  volume.bitmap.resize(3000000);
  MakeView(kClientWidth, kClientHeight);
  EXPECT_EQ(ScrollBarOf(view->window).nMax, 25000);
  EXPECT_EQ(ScrollBarOf(view->window).nPage, 15u);
  Scroll(view->window, SB_LINEDOWN);
  EXPECT_EQ(view->logic.FirstCluster(), 120);
  EXPECT_EQ(ScrollBarOf(view->window).nPos, 1);
  EXPECT_EQ(ClusterPixel(view->window, 120, 200), kRed);
  EXPECT_EQ(ClusterPixel(view->window, 120, 119 + 60), kWhite);
}

TEST_F(Win32FragmentView, BottomShowsTheVolumesEndWhileTheBarKeepsItsLastPosition) {
  MakeView(kClientWidth, kClientHeight);
  const int maximum = 200000 / 60;
  Scroll(view->window, SB_BOTTOM);
  EXPECT_EQ(view->logic.FirstCluster(), int64_t{60} * maximum);
  // The platform holds the position to the last one a page allows.
  EXPECT_EQ(ScrollBarOf(view->window).nPos, maximum - 30 + 1);
  // 20 clusters remain, the rest of the line and the lines below are
  // background.
  EXPECT_EQ(PixelAt(view->window, 19 * 8 + 4, 4), kWhite);
  EXPECT_EQ(PixelAt(view->window, 20 * 8 + 4, 4), Background());
  EXPECT_EQ(PixelAt(view->window, 4, 8 + 4), Background());

  // The next step starts from the position the platform kept.
  Scroll(view->window, SB_LINEUP);
  EXPECT_EQ(ScrollBarOf(view->window).nPos, maximum - 30);
  EXPECT_EQ(view->logic.FirstCluster(), int64_t{60} * (maximum - 30));

  Scroll(view->window, SB_PAGEUP);
  EXPECT_EQ(ScrollBarOf(view->window).nPos, maximum - 60);
  Scroll(view->window, SB_TOP);
  EXPECT_EQ(ScrollBarOf(view->window).nPos, 0);
  EXPECT_EQ(view->logic.FirstCluster(), 0);
  EXPECT_EQ(ClusterPixel(view->window, 0, 8), kBlue);
}

TEST_F(Win32FragmentView, DestroyedWindowLeavesTheViewWithoutAWindow) {
  MakeView(kClientWidth, kClientHeight);
  HWND viewWindow = view->window;
  Scroll(viewWindow, SB_LINEDOWN);
  ASSERT_TRUE(DestroyWindow(viewWindow));
  EXPECT_EQ(view->window, nullptr);
  // The object and its state stay.
  EXPECT_EQ(view->logic.FirstCluster(), 60);
  EXPECT_EQ(view->clusterMap, &map);
}

TEST_F(Win32FragmentView, WindowOutlivingItsViewGetsDefaultProcessing) {
  MakeView(kClientWidth, kClientHeight);
  HWND viewWindow = view->window;
  ReleaseFragmentView(view);
  view = nullptr;
  Scroll(viewWindow, SB_LINEDOWN);
  EXPECT_EQ(ScrollBarOf(viewWindow).nPos, 0);
  InvalidateRect(viewWindow, nullptr, FALSE);
  UpdateWindow(viewWindow);
  EXPECT_FALSE(GetUpdateRect(viewWindow, nullptr, FALSE));
  DestroyWindow(viewWindow);
}

// The point of the cell that shows cluster at the view's zoom, dx, dy
// within the cell.
POINT CellPoint(const TFragmentView& view, int64_t cluster, int dx = 4, int dy = 4) {
  const TFragmentViewLogic& logic = view.logic;
  const int64_t index = (cluster - logic.FirstCluster()) / logic.ClustersPerCell();
  return POINT{static_cast<int>(index % logic.Columns()) * 8 + dx,
               static_cast<int>(index / logic.Columns()) * 8 + dy};
}

COLORREF CellPixel(const TFragmentView& view, int64_t cluster, int dx = 4, int dy = 4) {
  const POINT point = CellPoint(view, cluster, dx, dy);
  return PixelAt(view.window, point.x, point.y);
}

TEST_F(Win32FragmentViewInDriveWindow, TooltipFollowsTheCellUnderTheMouse) {
  OpenDrive();
  optimizer.MapFreeSpace();
  Notify();
  ASSERT_NE(optimizer.fragmentView, nullptr);
  const TFragmentView& view = *optimizer.fragmentView;
  ASSERT_NE(view.tooltip, nullptr);
  UpdateWindow(view.window);
  const std::pair<int64_t, const char*> cases[] = {
      {100, "Cluster 100\nD:\\one.txt\n40960 bytes, fragment 1 of 1, clusters 100-109"},
      {301, "Cluster 301\nD:\\three.avi\n36864 bytes, fragment 2 of 3, clusters 300-301"},
      {50, "Cluster 50\nfree"},
  };
  for (const auto& c : cases) {
    const POINT point = CellPoint(view, c.first);
    SendMessageA(view.window, WM_MOUSEMOVE, 0, MAKELPARAM(point.x, point.y));
    EXPECT_EQ(view.ToolTipText(), c.second) << c.first;
    // The control holds the same text.
    char text[256] = {};
    TOOLINFOA tool = {};
    tool.cbSize = sizeof tool;
    tool.hwnd = view.window;
    tool.uId = reinterpret_cast<UINT_PTR>(view.window);
    tool.lpszText = text;
    SendMessageA(view.tooltip, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
    EXPECT_STREQ(text, c.second) << c.first;
  }
}

TEST_F(Win32FragmentViewInDriveWindow,
       ClickPaintsEveryFragmentInTheSelectionsColourAndEscapeClears) {
  OpenDrive();
  Notify();
  ASSERT_NE(optimizer.fragmentView, nullptr);
  const TFragmentView& view = *optimizer.fragmentView;
  UpdateWindow(view.window);
  const POINT click = CellPoint(view, 401);
  SendMessageA(view.window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(click.x, click.y));
  ASSERT_NE(view.logic.Selected(), nullptr);
  EXPECT_STREQ(view.logic.Selected()->name, "three.avi");
  // Every pixel of every cell of its runs, not an outline.
  const COLORREF yellow = RGB(255, 216, 0);
  const int64_t runs[][2] = {{200, 202}, {300, 301}, {400, 403}};
  for (const auto& run : runs) {
    EXPECT_EQ(CellPixel(view, run[0], 0, 4), yellow) << run[0];
    EXPECT_EQ(CellPixel(view, run[1], 7, 4), yellow) << run[1];
    EXPECT_EQ(CellPixel(view, run[0], 4, 0), yellow) << run[0];
    EXPECT_EQ(CellPixel(view, run[0], 4, 4), yellow) << run[0];
  }
  EXPECT_EQ(CellPixel(view, 203), kWhite);
  EXPECT_EQ(CellPixel(view, 100, 0, 4), kBlue);  // another item's run
  SendMessageA(view.window, WM_CHAR, 27, 0);     // Escape
  EXPECT_EQ(view.logic.Selected(), nullptr);
  EXPECT_EQ(CellPixel(view, 200, 0, 4), kRed);
}

TEST_F(Win32FragmentViewInDriveWindow, CtrlWheelAndKeysZoomWithTheScrollRange) {
  OpenDrive();
  Notify();
  ASSERT_NE(optimizer.fragmentView, nullptr);
  const TFragmentView& view = *optimizer.fragmentView;
  UpdateWindow(view.window);
  const int range = ScrollBarOf(view.window).nMax;
  // A wheel without Ctrl scrolls as before; with it, the zoom changes.
  SendMessageA(view.window, WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, static_cast<WORD>(-120)), 0);
  EXPECT_EQ(view.logic.ClustersPerCell(), 2);
  SendMessageA(view.window, WM_CHAR, '-', 0);
  EXPECT_EQ(view.logic.ClustersPerCell(), 4);
  UpdateWindow(view.window);
  EXPECT_EQ(ScrollBarOf(view.window).nMax, 200000 / (view.logic.Columns() * 4));
  EXPECT_LT(ScrollBarOf(view.window).nMax, range / 2);
  // Cells of four clusters: red over blue over white.
  EXPECT_EQ(CellPixel(view, 8), kBlue);
  EXPECT_EQ(CellPixel(view, 200), kRed);
  EXPECT_EQ(CellPixel(view, 400), kBlue);
  EXPECT_EQ(CellPixel(view, 404), kWhite);
  SendMessageA(view.window, WM_CHAR, '+', 0);
  SendMessageA(view.window, WM_CHAR, '+', 0);
  EXPECT_EQ(view.logic.ClustersPerCell(), 1);
  EXPECT_EQ(ScrollBarOf(view.window).nMax, range);
  // Before the worker has finished there is no plan to show.
  SendMessageA(view.window, WM_COMMAND, static_cast<WPARAM>(TMapCommand::kTogglePlan), 0);
  EXPECT_EQ(view.logic.Mode(), TMapMode::kNow);
}

// The status bar's part for the map's zoom and view.
std::string ViewStateOf(const TDriveOptimizer& optimizer) {
  char text[128] = {};
  SendMessageA(AsWindow(optimizer.statusBar), SB_GETTEXTA, 4, reinterpret_cast<LPARAM>(text));
  return text;
}

// The map has the keyboard focus whenever its window is active, with no
// click first: the keys sent to the focus scroll and zoom it, and a click on
// a button leaves the focus with it.
TEST_F(Win32FragmentViewInDriveWindow, KeysScrollAndZoomWithoutAClick) {
  OpenDrive();
  ASSERT_EQ(GetActiveWindow(), window);
  Notify();
  ASSERT_NE(optimizer.fragmentView, nullptr);
  const TFragmentView& view = *optimizer.fragmentView;
  EXPECT_EQ(GetFocus(), view.window);
  // Away to another window and back: the map has the keys again.
  HWND other = CreateWindowExA(0, "STATIC", "other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                               100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(other, nullptr);
  SetActiveWindow(other);
  EXPECT_NE(GetFocus(), view.window);
  SetActiveWindow(window);
  DestroyWindow(other);
  DispatchPending();
  ASSERT_EQ(GetActiveWindow(), window);
  EXPECT_EQ(GetFocus(), view.window);
  UpdateWindow(view.window);

  const auto press = [&](int key) {
    SendMessageA(GetFocus(), WM_KEYDOWN, key, 0);
    UpdateWindow(view.window);
  };
  const int64_t line = view.logic.Columns();
  const int64_t page = view.logic.Rows() * line;
  press(VK_DOWN);
  EXPECT_EQ(view.logic.FirstCluster(), line);
  press(VK_NEXT);
  EXPECT_EQ(view.logic.FirstCluster(), line + page);
  press(VK_UP);
  EXPECT_EQ(view.logic.FirstCluster(), page);
  press(VK_PRIOR);
  EXPECT_EQ(view.logic.FirstCluster(), 0);
  press(VK_END);
  EXPECT_EQ(view.logic.FirstCluster(), 200000 / line * line);
  press(VK_HOME);
  EXPECT_EQ(view.logic.FirstCluster(), 0);
  EXPECT_EQ(ScrollBarOf(view.window).nPos, 0);
  SendMessageA(GetFocus(), WM_CHAR, '-', 0);
  EXPECT_EQ(view.logic.ClustersPerCell(), 2);
  SendMessageA(GetFocus(), WM_CHAR, '=', 0);
  EXPECT_EQ(view.logic.ClustersPerCell(), 1);
  // A button clicked hands the keys back to the map.
  SendMessageA(AsWindow(optimizer.pauseButton), BM_CLICK, 0, 0);
  EXPECT_EQ(GetFocus(), view.window);
  press(VK_DOWN);
  EXPECT_EQ(view.logic.FirstCluster(), line);
}

// Ctrl + wheel zooms about the mouse (its point on the screen): the cluster
// under it stays under it, out and back in; the status bar's own part says
// the zoom and the view.
TEST_F(Win32FragmentViewInDriveWindow, CtrlWheelKeepsTheClusterUnderTheMouse) {
  OpenDrive();
  // A size of its own, whatever place the window was given among others: at
  // 8 clusters per cell the map must still not hold the whole volume.
  SetWindowPos(window, nullptr, 0, 0, 640, 480, SWP_NOZORDER | SWP_NOACTIVATE);
  Notify();
  ASSERT_NE(optimizer.fragmentView, nullptr);
  const TFragmentView& view = *optimizer.fragmentView;
  UpdateWindow(view.window);
  EXPECT_EQ(ViewStateOf(optimizer), "1 cluster per cell, volume now");
  const TFragmentViewLogic& logic = view.logic;
  const int64_t page = logic.Rows() * logic.Columns();
  ASSERT_LT(page * 8 * 3, 200000) << logic.Rows() << " x " << logic.Columns();
  // Pages down to the volume's middle, so it leaves room on every side.
  for (int i = 0; i < 200 && logic.FirstCluster() + page < 100000; ++i)
    Scroll(view.window, SB_PAGEDOWN);
  ASSERT_GE(logic.FirstCluster() + page, 100000);
  UpdateWindow(view.window);
  // A cluster that is a multiple of 8, in column 21, line 11 of the grid.
  int64_t cluster = logic.FirstCluster() + 11 * logic.Columns() + 21;
  cluster -= cluster % 8;
  const POINT point = CellPoint(view, cluster);
  const auto wheel = [&](int delta) {
    // Where the point is on the screen now: the window manager may still
    // move a new window about.
    POINT onScreen = point;
    ClientToScreen(view.window, &onScreen);
    SendMessageA(view.window, WM_MOUSEWHEEL, MAKEWPARAM(MK_CONTROL, static_cast<WORD>(delta)),
                 MAKELPARAM(onScreen.x, onScreen.y));
    UpdateWindow(view.window);
    const int cell = logic.CellAt(point.x, point.y);
    EXPECT_GE(cell, 0);
    EXPECT_LE(logic.CellFirstCluster(cell), cluster) << logic.ClustersPerCell();
    EXPECT_GT(logic.CellEndCluster(cell), cluster) << logic.ClustersPerCell();
  };
  for (int i = 0; i < 3; ++i) wheel(-120);
  EXPECT_EQ(logic.ClustersPerCell(), 8);
  EXPECT_EQ(ViewStateOf(optimizer), "8 clusters per cell, volume now");
  for (int i = 0; i < 3; ++i) wheel(120);
  EXPECT_EQ(logic.ClustersPerCell(), 1);
  EXPECT_EQ(logic.CellFirstCluster(logic.CellAt(point.x, point.y)), cluster);
  EXPECT_EQ(ViewStateOf(optimizer), "1 cluster per cell, volume now");
  // The described text keeps the rest of the bar: the widest part, the
  // progress, the selection (none) and the zoom beside it.
  int edges[5] = {};
  ASSERT_EQ(
      SendMessageA(AsWindow(optimizer.statusBar), SB_GETPARTS, 5, reinterpret_cast<LPARAM>(edges)),
      5);
  EXPECT_GE(edges[0], ClientOf(AsWindow(optimizer.statusBar)).width / 3);
  EXPECT_EQ(edges[3], edges[2]);  // no selection, no room
}

// A BMP file's width, height (negative: top-down rows) and the blue, green
// and red of its 32-bit pixel at x, y.
struct TBmp {
  int32_t width = 0;
  int32_t height = 0;
  std::string bytes;
  COLORREF PixelAt(int x, int y) const {
    const size_t at = 54 + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 4;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes.at(at + i)); };
    return RGB(byte(2), byte(1), byte(0));
  }
};

TBmp ReadBmp(const std::string& path) {
  TBmp bmp;
  bmp.bytes = FileBytes(path);
  if (bmp.bytes.size() < 54 || bmp.bytes.compare(0, 2, "BM") != 0) return bmp;
  std::memcpy(&bmp.width, bmp.bytes.data() + 18, 4);
  std::memcpy(&bmp.height, bmp.bytes.data() + 22, 4);
  return bmp;
}

// "Save picture" saves the map's cells as drawn, not the drive window with
// its buttons nor the scroll bar, even where another window covers the map,
// and adds ".bmp" to a name that does not end so.
TEST_F(Win32FragmentViewInDriveWindow, SavePictureWritesTheBmpOfTheMapAloneWithTheExtensionAdded) {
  THostFolder folder;
  volume.logDirectory = folder.Path();
  OpenDrive();
  Notify();
  ASSERT_NE(optimizer.fragmentView, nullptr);
  TFragmentView& view = *optimizer.fragmentView;
  // Off the screen, where no copy of the screen could show the map: the
  // picture must be drawn on its own. (A covering window made and destroyed
  // at once can make Wine's X driver fail on a window already gone.)
  SetWindowPos(window, nullptr, -5000, -5000, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(view.SaveMapPicture("C:\\volume map"), "");
  const TBmp picture = ReadBmp(folder.Path() + "/volume map.bmp");
  // The cells' part of the client area: not the legend strip under them.
  const TRect client = ClientOf(view.window);
  const int cellsHeight = view.LegendTop();
  EXPECT_EQ(picture.width, client.width);
  EXPECT_EQ(picture.height, -cellsHeight);
  ASSERT_EQ(picture.bytes.size(), 54u + size_t{4} * client.width * cellsHeight);
  const int columns = view.logic.Columns();
  EXPECT_EQ(picture.PixelAt(100 % columns * 8 + 4, 100 / columns * 8 + 4), kBlue);
  EXPECT_EQ(picture.PixelAt(200 % columns * 8 + 4, 200 / columns * 8 + 4), kRed);
  EXPECT_EQ(picture.PixelAt(4, 4), kWhite);
  // A name that ends in .bmp, in any case, keeps it.
  EXPECT_EQ(view.SaveMapPicture("C:\\map.BMP"), "");
  EXPECT_EQ(ReadBmp(folder.Path() + "/map.BMP").width, client.width);
  EXPECT_FALSE(FileExists(folder.Path() + "/map.BMP.bmp"));
}

}  // namespace
