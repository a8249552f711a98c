// The fragment view without a window: grid size, scroll range and scale,
// scroll requests, the cells and their colours, and the reuse of the cell
// array.
#include <gtest/gtest.h>

#include <cstdint>

#include "tests/support/scripted_volume.h"
#include "tests/support/tree_builder.h"
#include "ui/cluster_map.h"
#include "ui/fragment_view_logic.h"
#include "ui/fragment_view_messages.h"

namespace {

// A map of a volume with no run on it: only its size matters.
TClusterMap EmptyMap(int64_t totalClusters) {
  TClusterMap map;
  map.Init(nullptr, false);
  map.totalClusters = totalClusters;
  return map;
}

// A view of client size width x height after its first resize.
TFragmentViewLogic SizedView(const TClusterMap& map, int width, int height) {
  TFragmentViewLogic view(&map);
  view.OnSize(width, height);
  view.UpdateScrollBar();
  return view;
}

TScrollBarState StateOf(const TScrollBarSettings& settings) {
  return TScrollBarState{settings.position, settings.maximum, settings.position};
}

struct TSizeCase {
  int width;
  int height;
  int sizeColumns;  // after OnSize, for the scroll range
  int sizeRows;
  int cellColumns;  // after ComputeCells, for the cells and scrolling
  int cellRows;
};

class FragmentViewSizeTest : public testing::TestWithParam<TSizeCase> {};

TEST_P(FragmentViewSizeTest, ResizeKeepsMinimumsThatTheCellsDoNot) {
  const TSizeCase& c = GetParam();
  const TClusterMap map = EmptyMap(1000000);
  TFragmentViewLogic view(&map);
  view.OnSize(c.width, c.height);
  EXPECT_EQ(view.Columns(), c.sizeColumns);
  EXPECT_EQ(view.Rows(), c.sizeRows);
  EXPECT_TRUE(view.Dirty());
  view.ComputeCells(c.width, c.height);
  EXPECT_FALSE(view.Dirty());
  EXPECT_EQ(view.Columns(), c.cellColumns);
  EXPECT_EQ(view.Rows(), c.cellRows);
  EXPECT_EQ(view.CellCount(), c.cellColumns * c.cellRows);
  EXPECT_EQ(view.CellCapacity(), c.cellColumns * c.cellRows);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FragmentViewSizeTest,
                         testing::Values(TSizeCase{800, 400, 100, 50, 100, 50},
                                         TSizeCase{807, 415, 100, 51, 100, 51},
                                         TSizeCase{40, 400, 10, 50, 5, 50},
                                         TSizeCase{79, 7, 10, 1, 9, 0},
                                         TSizeCase{0, 0, 10, 1, 0, 0}));

TEST(FragmentViewTest, NarrowViewScrollsByTheColumnsThatFit) {
  const TClusterMap map = EmptyMap(1000000);
  TFragmentViewLogic view(&map);
  view.OnSize(40, 400);
  const TScrollBarSettings bar = view.UpdateScrollBar();
  // The range counts lines of 10 clusters ...
  EXPECT_EQ(bar.maximum, 100000 / 4);
  EXPECT_EQ(view.Scale(), 4);
  view.ComputeCells(40, 400);
  // ... but a line down moves a unit of lines of the 5 columns shown.
  view.OnVScroll(TScrollRequest::kLineDown, StateOf(bar));
  EXPECT_EQ(view.FirstCluster(), 5 * 4);
}

struct TScrollBarCase {
  int64_t totalClusters;
  int width;
  int height;
  int64_t firstCluster;
  TScrollBarSettings expected;
  int64_t scale;
};

class FragmentViewScrollBarTest : public testing::TestWithParam<TScrollBarCase> {};

TEST_P(FragmentViewScrollBarTest, RangeIsHalvedWithTheScaleDoubled) {
  const TScrollBarCase& c = GetParam();
  const TClusterMap map = EmptyMap(c.totalClusters);
  TFragmentViewLogic view(&map);
  view.SetFirstCluster(c.firstCluster);
  view.OnSize(c.width, c.height);
  const TScrollBarSettings bar = view.UpdateScrollBar();
  EXPECT_EQ(bar.enabled, c.expected.enabled);
  EXPECT_EQ(bar.minimum, c.expected.minimum);
  EXPECT_EQ(bar.maximum, c.expected.maximum);
  EXPECT_EQ(bar.page, c.expected.page);
  EXPECT_EQ(bar.position, c.expected.position);
  EXPECT_EQ(view.Scale(), c.scale);
  EXPECT_EQ(view.LineCount(), c.expected.maximum);
  EXPECT_EQ(view.TopLine(), c.expected.position);
  EXPECT_EQ(view.PageLines(), c.expected.page);
  // The first cell keeps its cluster.
  EXPECT_EQ(view.FirstCluster(), c.firstCluster);
}

INSTANTIATE_TEST_SUITE_P(Volumes, FragmentViewScrollBarTest,
                         testing::Values(
                             // 10^5 lines of 100 clusters: a quarter of that, 4 lines a unit.
                             TScrollBarCase{10000000, 800, 400, 0, {true, 0, 25000, 12, 0}, 4},
                             TScrollBarCase{1000000, 800, 400, 0, {true, 0, 10000, 50, 0}, 1},
                             // 0x8000 lines are kept, one more are halved.
                             TScrollBarCase{3276800, 800, 400, 0, {true, 0, 32768, 50, 0}, 1},
                             TScrollBarCase{3276900, 800, 400, 0, {true, 0, 16384, 25, 0}, 2},
                             // Fewer lines than rows: disabled; as many: enabled.
                             TScrollBarCase{4999, 800, 400, 0, {false, 0, 49, 50, 0}, 1},
                             TScrollBarCase{5000, 800, 400, 0, {true, 0, 50, 50, 0}, 1},
                             // A page halved to nothing is one unit.
                             TScrollBarCase{10000000, 80, 8, 0, {true, 0, 31250, 1, 0}, 32},
                             // The position follows the first cluster, halved with the range.
                             TScrollBarCase{
                                 10000000, 800, 400, 1000050, {true, 0, 25000, 12, 2500}, 4},
                             // After a narrowing the first cluster need not start a line.
                             TScrollBarCase{1000000, 400, 400, 1234, {true, 0, 20000, 50, 24}, 1}));

struct TScrollCase {
  const char* name;
  TScrollRequest request;
  int position;       // P, before
  int trackPosition;  // where a dragged thumb is
  int expected;       // Q
};

class FragmentViewScrollTest : public testing::TestWithParam<TScrollCase> {};

// 10^7 clusters in 100 columns and 50 rows: range 25000 units of 4 lines.
TEST_P(FragmentViewScrollTest, RequestMovesByUnitsHeldToTheRange) {
  const TScrollCase& c = GetParam();
  const TClusterMap map = EmptyMap(10000000);
  TFragmentViewLogic view = SizedView(map, 800, 400);
  view.ComputeCells(800, 400);
  const int position =
      view.OnVScroll(c.request, TScrollBarState{c.position, 25000, c.trackPosition});
  EXPECT_EQ(position, c.expected);
  EXPECT_EQ(view.FirstCluster(), int64_t{400} * c.expected);
  EXPECT_TRUE(view.Dirty());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, FragmentViewScrollTest,
    testing::Values(TScrollCase{"LineDown", TScrollRequest::kLineDown, 0, 0, 1},
                    TScrollCase{"LineUp", TScrollRequest::kLineUp, 10, 0, 9},
                    TScrollCase{"LineUpAtTop", TScrollRequest::kLineUp, 0, 0, 0},
                    TScrollCase{"LineDownAtBottom", TScrollRequest::kLineDown, 25000, 0, 25000},
                    // A page is the 50 visible lines as units, not the page of 12.
                    TScrollCase{"PageDown", TScrollRequest::kPageDown, 100, 0, 150},
                    TScrollCase{"PageUp", TScrollRequest::kPageUp, 100, 0, 50},
                    TScrollCase{"PageUpNearTop", TScrollRequest::kPageUp, 20, 0, 0},
                    TScrollCase{"PageDownNearBottom", TScrollRequest::kPageDown, 24990, 0, 25000},
                    TScrollCase{"ThumbTrack", TScrollRequest::kThumbTrack, 3, 777, 777},
                    TScrollCase{"Top", TScrollRequest::kTop, 500, 0, 0},
                    TScrollCase{"Bottom", TScrollRequest::kBottom, 500, 0, 25000},
                    TScrollCase{"Stay", TScrollRequest::kStay, 42, 777, 42}),
    [](const testing::TestParamInfo<TScrollCase>& info) { return info.param.name; });

TEST(FragmentViewTest, BottomShowsTheVolumeEndAndOnlyBackground) {
  const TClusterMap map = EmptyMap(10000000);
  TFragmentViewLogic view = SizedView(map, 800, 400);
  const TScrollBarSettings bar = view.UpdateScrollBar();
  EXPECT_EQ(view.OnVScroll(TScrollRequest::kBottom, StateOf(bar)), 25000);
  EXPECT_EQ(view.FirstCluster(), 10000000);
  view.ComputeCells(800, 400);
  EXPECT_EQ(view.CellCount(), 0);
}

TEST(FragmentViewTest, CellsStopAtTheVolumeEnd) {
  const TClusterMap map = EmptyMap(1000000);
  TFragmentViewLogic view = SizedView(map, 800, 400);
  view.SetFirstCluster(1000000 - 30);
  view.ComputeCells(800, 400);
  EXPECT_EQ(view.CellCount(), 30);
  view.SetFirstCluster(1000000 + 400);
  view.ComputeCells(800, 400);
  EXPECT_EQ(view.CellCount(), 0);
}

TEST(FragmentViewTest, CellsAreLaidOutLineAfterLineWithoutGaps) {
  const TClusterMap map = EmptyMap(1000000);
  TFragmentViewLogic view = SizedView(map, 800, 400);
  view.ComputeCells(800, 400);
  // Index, then x and y of its cell's top left corner; every cell is 8 x 8.
  const int cases[][3] = {{0, 0, 0}, {99, 792, 0}, {100, 0, 8}, {4999, 792, 392}};
  for (const auto& c : cases) {
    const TRect cell = view.CellRect(c[0]);
    EXPECT_EQ(cell.x, c[1]) << c[0];
    EXPECT_EQ(cell.y, c[2]) << c[0];
    EXPECT_EQ(cell.width, 8);
    EXPECT_EQ(cell.height, 8);
  }
}

class FragmentViewCellsTest : public testing::Test {
 protected:
  ~FragmentViewCellsTest() override { ReleaseItem(root); }

  void Build() {
    volume.bitmap.assign(totalClusters, false);
    map.Init(root, false);
    ASSERT_TRUE(map.Build(volume));
  }

  TScriptedVolume volume;
  TItem* root = AddItem(nullptr, "D:\\", 0, true);
  size_t totalClusters = 1000;
  TClusterMap map;
};

TEST_F(FragmentViewCellsTest, OneFragmentIsBlueEveryOtherButTheLastRedFreeWhite) {
  TItem* single = AddItem(root, "one.txt", 1, false, {{10, 5}});
  TItem* split = AddItem(root, "three.avi", 1, false, {{20, 3}, {30, 2}, {40, 4}});
  Build();
  TFragmentViewLogic view = SizedView(map, 800, 400);
  view.ComputeCells(800, 400);
  ASSERT_EQ(view.CellCount(), 1000);
  const TFragment* first = split->fragments;
  for (int i = 0; i < view.CellCount(); ++i) {
    const TFragment* expected = nullptr;
    TCellColour colour = TCellColour::kEmpty;
    if (i >= 10 && i < 15) {
      expected = single->fragments;
      colour = TCellColour::kLastFragment;
    } else if (i >= 20 && i < 23) {
      expected = first;
      colour = TCellColour::kFragmented;
    } else if (i >= 30 && i < 32) {
      expected = first->next;
      colour = TCellColour::kFragmented;
    } else if (i >= 40 && i < 44) {
      expected = first->next->next;
      colour = TCellColour::kLastFragment;
    }
    EXPECT_EQ(view.Cells()[i], expected) << i;
    EXPECT_EQ(view.CellColour(i), colour) << i;
  }
}

TEST_F(FragmentViewCellsTest, CellsFollowTheFirstClusterAfterAScroll) {
  TItem* file = AddItem(root, "f.bin", 1, false, {{95, 10}});
  Build();
  TFragmentViewLogic view = SizedView(map, 80, 80);  // 10 columns, 10 rows
  const TScrollBarSettings bar = view.UpdateScrollBar();
  view.ComputeCells(80, 80);
  view.OnVScroll(TScrollRequest::kLineDown, StateOf(bar));
  view.ComputeCells(80, 80);
  ASSERT_EQ(view.FirstCluster(), 10);
  EXPECT_EQ(view.Cells()[84], nullptr);
  EXPECT_EQ(view.Cells()[85], file->fragments);
  EXPECT_EQ(view.Cells()[94], file->fragments);
  EXPECT_EQ(view.Cells()[95], nullptr);
}

TEST_F(FragmentViewCellsTest, RunPastTheVolumeEndIsDrawnUpToTheEnd) {
  totalClusters = 100;
  TItem* file = AddItem(root, "f.bin", 1, false, {{90, 50}});
  Build();
  TFragmentViewLogic view = SizedView(map, 800, 400);
  view.ComputeCells(800, 400);
  ASSERT_EQ(view.CellCount(), 100);
  EXPECT_EQ(view.Cells()[89], nullptr);
  EXPECT_EQ(view.Cells()[99], file->fragments);
  // The rest of the new array is none.
  for (int i = 100; i < view.CellCapacity(); ++i) ASSERT_EQ(view.Cells()[i], nullptr) << i;
}

struct TReuseCase {
  int width;
  int height;
  bool reallocated;
  int capacity;
};

TEST(FragmentViewTest, CellsAreReallocatedOnlyWhenTooSmallOrSixteenTimesTooLarge) {
  const TClusterMap map = EmptyMap(100000000);
  TFragmentViewLogic view = SizedView(map, 800, 400);
  view.ComputeCells(800, 400);
  ASSERT_EQ(view.CellCapacity(), 5000);
  // Each step from the one before.
  const TReuseCase steps[] = {
      {400, 400, false, 5000},  // 2,500 cells fit
      {800, 408, true, 5100},   // one line more does not
      {200, 204, false, 5100},  // 625 cells: 5,100 is not above 16 x 625
      {128, 128, true, 256},    // 256 cells: 5,100 is above 16 x 256
      {32, 32, false, 256},     // 16 cells: exactly 16 times as many is kept
      {40, 24, true, 15},       // 15 cells: 256 is above 16 x 15
      {0, 0, true, 0},          // no cell fits: anything is too large
  };
  for (const TReuseCase& step : steps) {
    const void* before = view.Cells();
    view.ComputeCells(step.width, step.height);
    EXPECT_EQ(view.Cells() != before, step.reallocated) << step.width << "x" << step.height;
    EXPECT_EQ(view.CellCapacity(), step.capacity) << step.width << "x" << step.height;
  }
}

TEST(FragmentViewTest, MessagesByTheirPlatformNumbers) {
  struct TCase {
    unsigned message;
    TFragmentViewAction action;
  };
  const TCase cases[] = {
      {2, TFragmentViewAction::kForgetWindow},
      {5, TFragmentViewAction::kSize},
      {15, TFragmentViewAction::kPaint},
      {277, TFragmentViewAction::kScroll},
      {513, TFragmentViewAction::kSelect},
      {514, TFragmentViewAction::kIgnore},
      {512, TFragmentViewAction::kHover},
      {123, TFragmentViewAction::kContextMenu},
      {256, TFragmentViewAction::kKey},
      {258, TFragmentViewAction::kCharacter},
      {522, TFragmentViewAction::kWheel},
      {273, TFragmentViewAction::kCommand},
      // WM_CREATE, WM_ERASEBKGND, WM_LBUTTONDBLCLK, WM_HSCROLL, WM_RBUTTONUP
      // (whose default processing sends WM_CONTEXTMENU), WM_KEYUP
      {1, TFragmentViewAction::kDefault},
      {20, TFragmentViewAction::kDefault},
      {515, TFragmentViewAction::kDefault},
      {276, TFragmentViewAction::kDefault},
      {517, TFragmentViewAction::kDefault},
      {257, TFragmentViewAction::kDefault},
  };
  for (const TCase& c : cases) EXPECT_EQ(FragmentViewActionFor(c.message), c.action) << c.message;
}

}  // namespace
