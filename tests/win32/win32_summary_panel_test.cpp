// The Win32 summary panel beside the map once the analysis has finished, in
// real windows (wine64 under Xvfb here) over a scripted volume: figures in
// binary units with the cluster size and the exact bytes in their tips, the
// most fragmented files as a list view that sorts by a click on each header
// and selects and scrolls the map to a file when its row is selected, a
// search that selects and outlines the items whose path matches (once typing
// pauses, or at Enter), figures whole in their columns at the window's own
// size, and "Summary..." that hides and shows the panel.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <map>
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
  // At 900 x 600, or with width and height 0 at the window's own place.
  void Analyse(int width = 900, int height = 600) {
    AnalyseInDriveWindow(optimizer, windows, width, height);
    window = static_cast<HWND>(optimizer.mainWindow);
    view = optimizer.fragmentView;
    ASSERT_NE(view, nullptr);
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

TEST_F(Win32SummaryPanel, EnterInTheSearchBoxSearchesAtOnce) {
  Analyse();
  ASSERT_NE(panel, nullptr);
  const TFragmentViewLogic& logic = view->logic;
  // Typed, then Enter, with no pause for the typing's timer.
  SetWindowTextA(panel->search, "\\docs\\");
  SendMessageA(panel->search, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  ASSERT_EQ(logic.Selection().size(), 2u);
  EXPECT_EQ(TextOf(panel->searchResult), "2 items match, outlined on the map");
  // The Enter's character is taken too: the box holds what was typed.
  SendMessageA(panel->search, WM_CHAR, '\r', 0x001C0001);
  EXPECT_EQ(TextOf(panel->search), "\\docs\\");
}

// How wide the ink of text is, pixels from its first to its last column
// of ink: drawn in font alone, with room to spare, and as window shows it
// now within area (its client coordinates) on background.
int InkWidth(const std::vector<COLORREF>& pixels, int width, COLORREF background) {
  int first = width;
  int last = -1;
  for (size_t i = 0; i < pixels.size(); ++i) {
    if (pixels[i] == background) continue;
    const int x = static_cast<int>(i % static_cast<size_t>(width));
    first = std::min(first, x);
    last = std::max(last, x);
  }
  return last < 0 ? 0 : last - first + 1;
}
std::vector<COLORREF> PixelsOf(HDC dc, int width, int height) {
  std::vector<COLORREF> pixels;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) pixels.push_back(GetPixel(dc, x, y));
  return pixels;
}
int InkWidthAlone(const std::string& text, HFONT font) {
  const int width = 600;
  const int height = 30;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP canvas = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previousBitmap = SelectObject(memory, canvas);
  HGDIOBJ previousFont = SelectObject(memory, font);
  RECT all = {0, 0, width, height};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(memory, TRANSPARENT);
  SetTextColor(memory, RGB(0, 0, 0));
  RECT place = {20, 5, width, height};
  DrawTextA(memory, text.c_str(), -1, &place, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
  const int ink = InkWidth(PixelsOf(memory, width, height), width, RGB(255, 255, 255));
  SelectObject(memory, previousFont);
  SelectObject(memory, previousBitmap);
  DeleteObject(canvas);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ink;
}
// The background is the cell's most common colour.
int InkWidthShown(HWND window, const RECT& area) {
  UpdateWindow(window);
  HDC dc = GetDC(window);
  std::vector<COLORREF> pixels;
  std::map<COLORREF, int> counts;
  for (int y = area.top; y < area.bottom; ++y) {
    for (int x = area.left; x < area.right; ++x) {
      pixels.push_back(GetPixel(dc, x, y));
      ++counts[pixels.back()];
    }
  }
  ReleaseDC(window, dc);
  const auto background = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
                            return a.second < b.second;
                          })->first;
  return InkWidth(pixels, area.right - area.left, background);
}

// The figures at the window's own place on a 1024 x 768 screen: every
// value is drawn whole, no glyph of it cut at its column's edge.
TEST_F(Win32SummaryPanel, NoFiguresValueIsClippedAtTheWindowsOwnSize) {
  Analyse(0, 0);
  ASSERT_NE(panel, nullptr);
  HWND figures = panel->figures;
  const auto font = reinterpret_cast<HFONT>(SendMessageA(figures, WM_GETFONT, 0, 0));
  const int rows = static_cast<int>(SendMessageA(figures, LVM_GETITEMCOUNT, 0, 0));
  ASSERT_GE(rows, 10);
  for (int row = 0; row < rows; ++row) {
    const std::string value = CellText(figures, row, 1);
    RECT cell = {};
    cell.top = 1;
    cell.left = LVIR_BOUNDS;
    SendMessageA(figures, LVM_GETSUBITEMRECT, row, reinterpret_cast<LPARAM>(&cell));
    EXPECT_EQ(InkWidthShown(figures, cell), InkWidthAlone(value, font)) << value;
  }
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
