// What a user asks of the map without a window: zoomed cells take the colour
// that matters most, the scroll range follows the zoom, a cell's tooltip
// names its cluster and item (or free / unlisted space), a click outlines
// every fragment of the item, and the planned view colours the plan's
// targets by zone.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/support/scripted_volume.h"
#include "tests/support/tree_builder.h"
#include "ui/cell_hover.h"
#include "ui/cluster_map.h"
#include "ui/fragment_view_logic.h"
#include "ui/free_space_index.h"
#include "ui/map_colours.h"
#include "ui/planned_map.h"

namespace {

constexpr TCellColour kWhite = TCellColour::kEmpty;
constexpr TCellColour kRed = TCellColour::kFragmented;
constexpr TCellColour kBlue = TCellColour::kLastFragment;
constexpr TCellColour kGrey = TCellColour::kUnmovable;

// A volume of 1,000 clusters shown in a grid of 10 x 10 cells:
//   0 ... 9 free, 10 ... 14 \one.txt (one run), 15 ... 19 unlisted,
//   20 ... 22, 30 ... 31, 40 ... 43 \three.avi (three runs), 50 ... 99 free,
//   100 ... 115 \docs\a.doc, 116 ... 499 unlisted, 500 ... 999 free.
class MapQueriesTest : public testing::Test {
 protected:
  MapQueriesTest() {
    volume.bitmap.assign(1000, false);
    one = AddItem(root, "one.txt", 20000, false, {{10, 5}});
    three = AddItem(root, "three.avi", 36000, false, {{20, 3}, {30, 2}, {40, 4}});
    docs = AddItem(root, "docs", 0, true);
    doc = AddItem(docs, "a.doc", 65536, false, {{100, 16}});
    map.Init(root, false);
    EXPECT_TRUE(map.Build(volume));
    TFragment** tail = &freeChain;
    for (const auto& extent : {std::pair<int64_t, int64_t>{0, 10}, {50, 50}, {500, 500}}) {
      *tail = NewFragment(nullptr, 0, extent.first, extent.second);
      tail = &(*tail)->next;
    }
    freeSpace = TFreeSpaceIndex(freeChain);
    view.OnSize(80, 80);
    view.UpdateScrollBar();
    view.ComputeCells(80, 80);
  }
  ~MapQueriesTest() override {
    ReleaseItem(root);
    ReleaseFragments(freeChain);
  }

  std::string Hover(int cell) const {
    return HoverText(map, freeSpace, paths, view.CellFirstCluster(cell), view.CellEndCluster(cell),
                     zonesKnown);
  }

  TScriptedVolume volume;
  const TUserPaths paths = UserPathsOf('D', TDriveOrigin());  // a drive of the system
  TItem* root = AddItem(nullptr, "D:\\", 0, true);
  TItem* one;
  TItem* three;
  TItem* docs;
  TItem* doc;
  TClusterMap map;
  TFragment* freeChain = nullptr;
  TFreeSpaceIndex freeSpace;
  bool zonesKnown = false;
  TFragmentViewLogic view{&map};
};

struct TZoomCase {
  int64_t clustersPerCell;
  int cell;
  TCellColour colour;
};

TEST_F(MapQueriesTest, ZoomedCellTakesRedOverBlueOverWhite) {
  const TZoomCase cases[] = {
      {1, 0, kWhite},  {1, 10, kBlue}, {1, 20, kRed},  {1, 31, kRed},   {1, 43, kBlue},
      {1, 15, kWhite},  // unlisted space is white too
      {2, 5, kBlue},   {2, 7, kBlue},  {2, 10, kRed},  {2, 11, kRed},   {2, 20, kBlue},
      {2, 22, kWhite}, {4, 2, kBlue},  {4, 3, kBlue},  {4, 4, kWhite},  {4, 5, kRed},
      {4, 7, kRed},    {4, 10, kBlue}, {16, 0, kBlue}, {16, 1, kRed},   {16, 2, kBlue},
      {16, 3, kWhite}, {16, 6, kBlue}, {16, 7, kBlue}, {16, 8, kWhite}, {16, 62, kWhite},
  };
  for (const TZoomCase& c : cases) {
    view.SetClustersPerCell(c.clustersPerCell);
    view.UpdateScrollBar();
    view.ComputeCells(80, 80);
    ASSERT_EQ(view.ClustersPerCell(), c.clustersPerCell);
    EXPECT_EQ(view.CellColour(c.cell), c.colour)
        << c.clustersPerCell << " clusters per cell, cell " << c.cell;
  }
}

TEST_F(MapQueriesTest, ZoomGoesByPowersOfTwoFromOneToTheWholeVolume) {
  // 100 cells hold 1,000 clusters at 16 a cell, not at 8.
  EXPECT_EQ(view.WholeVolumeClustersPerCell(), 16);
  const int64_t expectedOut[] = {2, 4, 8, 16, 16};
  const int expectedRange[] = {50, 25, 12, 6, 6};  // lines of 10 cells
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(view.ZoomOut(), i < 4);
    EXPECT_EQ(view.ClustersPerCell(), expectedOut[i]);
    EXPECT_EQ(view.UpdateScrollBar().maximum, expectedRange[i]);
  }
  view.ComputeCells(80, 80);
  // The whole volume in 63 cells, the last one of 8 clusters.
  EXPECT_EQ(view.CellCount(), 63);
  EXPECT_EQ(view.CellEndCluster(62), 1000);
  for (int i = 0; i < 5; ++i) view.ZoomIn();
  EXPECT_FALSE(view.ZoomIn());
  EXPECT_EQ(view.ClustersPerCell(), 1);
  EXPECT_EQ(view.UpdateScrollBar().maximum, 100);
}

TEST_F(MapQueriesTest, ZoomKeepsTheLineInViewAndScrollsByZoomedLines) {
  const TScrollBarSettings bar = view.UpdateScrollBar();
  // Five lines down: cluster 50 first.
  view.OnVScroll(TScrollRequest::kThumbTrack, TScrollBarState{bar.position, bar.maximum, 5});
  ASSERT_EQ(view.FirstCluster(), 50);
  view.ZoomOut();  // lines of 20 clusters: 50 lies in the line from 40
  EXPECT_EQ(view.FirstCluster(), 40);
  const TScrollBarSettings zoomed = view.UpdateScrollBar();
  EXPECT_EQ(zoomed.position, 2);
  view.ComputeCells(80, 80);
  view.OnVScroll(TScrollRequest::kLineDown, TScrollBarState{2, zoomed.maximum, 2});
  EXPECT_EQ(view.FirstCluster(), 60);
  view.ShowWholeVolume();
  EXPECT_EQ(view.FirstCluster(), 0);
  EXPECT_EQ(view.ClustersPerCell(), 16);
}

struct THoverCase {
  int64_t clustersPerCell;
  int cell;
  const char* text;
};

TEST_F(MapQueriesTest, HoverNamesTheClusterAndWhatLiesThere) {
  const THoverCase cases[] = {
      {1, 10, "Cluster 10\nD:\\one.txt\n20000 bytes, fragment 1 of 1, clusters 10-14"},
      {1, 14, "Cluster 14\nD:\\one.txt\n20000 bytes, fragment 1 of 1, clusters 10-14"},
      {1, 31, "Cluster 31\nD:\\three.avi\n36000 bytes, fragment 2 of 3, clusters 30-31"},
      {1, 43, "Cluster 43\nD:\\three.avi\n36000 bytes, fragment 3 of 3, clusters 40-43"},
      {1, 5, "Cluster 5\nfree"},
      {1, 15, "Cluster 15\nin use by the file system (not listed)"},
      {1, 99, "Cluster 99\nfree"},
      // Zoomed: the item whose colour the cell takes.
      {16, 1, "Clusters 16-31\nD:\\three.avi\n36000 bytes, fragment 1 of 3, clusters 20-22"},
      {16, 6, "Clusters 96-111\nD:\\docs\\a.doc\n65536 bytes, fragment 1 of 1, clusters 100-115"},
      {16, 3, "Clusters 48-63\n14 free, the rest in use by the file system (not listed)"},
      {16, 10, "Clusters 160-175\nin use by the file system (not listed)"},
      {16, 62, "Clusters 992-999\nfree"},
  };
  for (const THoverCase& c : cases) {
    view.SetClustersPerCell(c.clustersPerCell);
    view.ComputeCells(80, 80);
    EXPECT_EQ(Hover(c.cell), c.text) << c.clustersPerCell << " clusters per cell, cell " << c.cell;
  }
}

TEST_F(MapQueriesTest, HoverShowsTheZoneOnceTheTreeIsClassified) {
  three->SetZone(8);
  EXPECT_EQ(Hover(20), "Cluster 20\nD:\\three.avi\n36000 bytes, fragment 1 of 3, clusters 20-22");
  zonesKnown = true;
  EXPECT_EQ(Hover(20),
            "Cluster 20\nD:\\three.avi\n36000 bytes, fragment 1 of 3, clusters 20-22, zone 8");
}

TEST_F(MapQueriesTest, CellUnderAPointIsFoundOnlyWherePainted) {
  const int cases[][3] = {{0, 0, 0},   {7, 7, 0},   {8, 0, 1},  {79, 79, 99},
                          {80, 0, -1}, {-1, 0, -1}, {0, 80, -1}};
  for (const auto& c : cases) EXPECT_EQ(view.CellAt(c[0], c[1]), c[2]) << c[0] << "," << c[1];
  // The whole volume in 63 cells: line 6 ends after its third cell.
  view.ShowWholeVolume();
  view.ComputeCells(80, 80);
  EXPECT_EQ(view.CellAt(16, 48), 62);
  EXPECT_EQ(view.CellAt(24, 48), -1);
  EXPECT_EQ(view.CellAt(0, 56), -1);
}

struct TOutlineCase {
  int cell;
  unsigned sides;
};

TEST_F(MapQueriesTest, ClickOutlinesEveryFragmentOfTheItem) {
  EXPECT_EQ(view.SelectAt(31), three);
  const unsigned top = kOutlineTop, right = kOutlineRight, bottom = kOutlineBottom,
                 left = kOutlineLeft;
  const TOutlineCase cases[] = {
      // Cells 20 ... 22 over 30 ... 31 over 40 ... 43, in lines of ten.
      {20, top | left},
      {21, top},
      {22, top | bottom | right},
      {30, left},
      {31, right},
      {40, bottom | left},
      {43, top | bottom | right},
      {41, bottom},
      {10, 0},
      {23, 0},
      {32, 0},
      {0, 0},
  };
  for (const TOutlineCase& c : cases) EXPECT_EQ(view.OutlineOf(c.cell), c.sides) << c.cell;
  // The outline follows a scroll: recomputed cells keep the selection.
  view.SetFirstCluster(20);
  view.ComputeCells(80, 80);
  EXPECT_EQ(view.OutlineOf(0), top | left);
  EXPECT_EQ(view.OutlineOf(23), top | bottom | right);
  EXPECT_EQ(view.OutlineOf(24), 0u);
  // And a zoom: at 16 clusters a cell the item lies in cells 1 and 2.
  view.ShowWholeVolume();
  view.ComputeCells(80, 80);
  EXPECT_EQ(view.OutlineOf(1), top | bottom | left);
  EXPECT_EQ(view.OutlineOf(2), top | bottom | right);
  EXPECT_EQ(view.OutlineOf(0), 0u);
  EXPECT_EQ(view.OutlineOf(3), 0u);
}

TEST_F(MapQueriesTest, ClickOnFreeSpaceOrEscapeClearsTheSelection) {
  ASSERT_EQ(view.SelectAt(10), one);
  EXPECT_EQ(view.SelectAt(5), nullptr);
  EXPECT_EQ(view.OutlineOf(10), 0u);
  ASSERT_EQ(view.SelectAt(10), one);
  view.ClearSelection();
  EXPECT_EQ(view.Selected(), nullptr);
  EXPECT_EQ(view.OutlineOf(10), 0u);
  EXPECT_EQ(view.SelectAt(-1), nullptr);
}

// Items chosen by the summary panel's table or search: all outlined, and
// the map scrolled to the first where it is out of view, at any zoom.
TEST_F(MapQueriesTest, ItemsChosenOutsideTheMapAreAllOutlinedAndTheFirstScrolledTo) {
  const unsigned top = kOutlineTop, right = kOutlineRight, bottom = kOutlineBottom,
                 left = kOutlineLeft;
  view.SelectItems({one, doc});
  EXPECT_EQ(view.Selected(), one);
  EXPECT_EQ(view.Selection().size(), 2u);
  EXPECT_EQ(view.OutlineOf(10), top | bottom | left);
  EXPECT_EQ(view.OutlineOf(14), top | bottom | right);
  EXPECT_EQ(view.OutlineOf(20), 0u);  // three.avi is not chosen
  // one.txt is in view: nothing moves.
  EXPECT_FALSE(view.ShowItem(one));
  EXPECT_EQ(view.FirstCluster(), 0);
  // a.doc at 100 ... 115 lies below the 100 clusters shown: its line comes first.
  EXPECT_TRUE(view.ShowItem(doc));
  EXPECT_EQ(view.FirstCluster(), 100);
  view.UpdateScrollBar();
  view.ComputeCells(80, 80);
  EXPECT_EQ(view.OutlineOf(0), top | left);
  EXPECT_EQ(view.OutlineOf(15), bottom | right);
  EXPECT_FALSE(view.ShowItem(doc));
  // At 4 clusters a cell a line holds 40 clusters: one.txt's line starts at 0.
  view.SetClustersPerCell(4);
  view.SetFirstCluster(400);
  EXPECT_TRUE(view.ShowItem(one));
  EXPECT_EQ(view.FirstCluster(), 0);
  // An item with no cluster on the volume cannot be shown.
  EXPECT_FALSE(view.ShowItem(docs));
  EXPECT_FALSE(view.ShowItem(nullptr));
  view.SelectItems({});
  EXPECT_EQ(view.Selected(), nullptr);
  view.ComputeCells(80, 80);
  EXPECT_EQ(view.OutlineOf(2), 0u);
}

// A plan by hand: one.txt (zone 5) moves to 10 ... 14 after clusters 0 ... 9
// that stay; three.avi (zone 8) moves to 15 ... 23; a.doc is in place
// (NOMOVE) at 100 ... 115, inside the unmovable extents.
TVolumePlan HandPlan(TItem* root, TItem* one, TItem* three, TItem* doc) {
  one->SetZone(5);
  three->SetZone(8);
  doc->SetZone(5);
  doc->flags |= kItemNoMove;
  TVolumePlan plan;
  plan.runs = {{0, 10, 5}, {0, 15, 9}, {0, 100, 16}};
  plan.items = {{root, 0, 0, 0, false, -1},
                {one, 0, 1, 5, false, -1},
                {three, 1, 1, 9, false, -1},
                {doc, 2, 1, 0, false, -1}};
  plan.unmovable = {{0, 10}, {100, 16}, {600, 4}};
  return plan;
}

TEST_F(MapQueriesTest, PlannedViewColoursTargetsByZoneAndWhatStaysGrey) {
  const TVolumePlan plan = HandPlan(root, one, three, doc);
  const TPlannedMap planned(plan, 1000);
  EXPECT_FALSE(view.SetMode(TMapMode::kPlanned));  // no plan yet
  view.SetPlannedMap(&planned);
  ASSERT_TRUE(view.SetMode(TMapMode::kPlanned));
  const TZoomCase cases[] = {
      {1, 0, kGrey},          {1, 9, kGrey},          {1, 10, ZoneColour(5)},
      {1, 14, ZoneColour(5)}, {1, 15, ZoneColour(8)}, {1, 23, ZoneColour(8)},
      {1, 24, kWhite},        {16, 0, kGrey},                          // grey over zone 5
      {16, 1, ZoneColour(8)}, {16, 2, kWhite},        {16, 6, kGrey},  // a.doc stays
      {16, 37, kGrey},                                                 // 592 ... 607
      {16, 38, kWhite},
  };
  for (const TZoomCase& c : cases) {
    view.SetClustersPerCell(c.clustersPerCell);
    view.ComputeCells(80, 80);
    EXPECT_EQ(view.CellColour(c.cell), c.colour)
        << c.clustersPerCell << " clusters per cell, cell " << c.cell;
  }
  // No outline in the planned view; back to now, the described colours.
  view.SetClustersPerCell(1);
  EXPECT_EQ(view.SelectAt(10), nullptr);
  ASSERT_TRUE(view.SetMode(TMapMode::kNow));
  view.ComputeCells(80, 80);
  EXPECT_EQ(view.CellColour(10), kBlue);
  EXPECT_EQ(view.CellColour(0), kWhite);
}

TEST_F(MapQueriesTest, PlannedHoverNamesTheItemMovedThereOrWhatStays) {
  const TVolumePlan plan = HandPlan(root, one, three, doc);
  const TPlannedMap planned(plan, 1000);
  const std::pair<std::pair<int64_t, int64_t>, const char*> cases[] = {
      {{5, 6}, "Cluster 5\nafter the plan: stays (file-system data, or an item already in place)"},
      {{12, 13}, "Cluster 12\nafter the plan: D:\\one.txt, zone 5"},
      {{23, 24}, "Cluster 23\nafter the plan: D:\\three.avi, zone 8"},
      {{24, 25}, "Cluster 24\nafter the plan: free"},
      {{105, 106},
       "Cluster 105\nafter the plan: stays (file-system data, or an item already in place)"},
      {{16, 32}, "Clusters 16-31\nafter the plan: D:\\three.avi, zone 8"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PlannedHoverText(planned, paths, c.first.first, c.first.second), c.second)
        << c.first.first;
  }
}

TEST(MapColoursTest, EveryColourOfAViewIsItsOwnAndTheLegendNamesIt) {
  for (int a = 0; a < kCellColourCount; ++a) {
    for (int b = a + 1; b < kCellColourCount; ++b) {
      EXPECT_FALSE(RgbOf(static_cast<TCellColour>(a)) == RgbOf(static_cast<TCellColour>(b)))
          << a << " and " << b;
    }
  }
  EXPECT_EQ(RgbOf(kRed), (TRgb{255, 0, 0}));
  EXPECT_EQ(RgbOf(kBlue), (TRgb{63, 63, 255}));
  EXPECT_EQ(RgbOf(kWhite), (TRgb{255, 255, 255}));
  const std::string now = LegendText(TMapMode::kNow);
  EXPECT_NE(now.find("red (255, 0, 0)"), std::string::npos) << now;
  EXPECT_NE(now.find("blue (63, 63, 255)"), std::string::npos) << now;
  EXPECT_NE(now.find("white (255, 255, 255)"), std::string::npos) << now;
  const std::string planned = LegendText(TMapMode::kPlanned);
  for (int zone = 1; zone <= 8; ++zone) {
    EXPECT_NE(planned.find("zone " + std::to_string(zone)), std::string::npos) << planned;
  }
  EXPECT_EQ(ZoneColour(0), ZoneColour(1));
}

// The index's answer for a stretch equals what a walk over every cluster of
// it finds, on random layouts of one-, two- and three-run files.
TEST(MostTellingFragmentTest, EqualsAWalkOverEveryClusterOfTheStretch) {
  std::mt19937 random(7);
  for (int layout = 0; layout < 20; ++layout) {
    TScriptedVolume volume;
    volume.bitmap.assign(3000, false);
    TItem* root = AddItem(nullptr, "D:\\", 0, true);
    int64_t cursor = 0;
    for (int file = 0; cursor < 2900; ++file) {
      TItem* item = AddItem(root, ("f" + std::to_string(file)).c_str(), 1, false);
      const int runs = 1 + static_cast<int>(random() % 3);
      TFragment** tail = &item->fragments;
      for (int r = 0; r < runs && cursor < 2900; ++r) {
        cursor += random() % 20;
        const int64_t length = 1 + random() % 15;
        *tail = NewFragment(item, item->clusters, cursor, length);
        item->clusters += length;
        tail = &(*tail)->next;
        cursor += length;
      }
    }
    TClusterMap map;
    map.Init(root, false);
    ASSERT_TRUE(map.Build(volume));
    for (int query = 0; query < 300; ++query) {
      const int64_t first = random() % 3000;
      const int64_t end = std::min<int64_t>(3000, first + 1 + random() % 64);
      TCellColour walked = kWhite;
      for (int64_t c = first; c < end; ++c) {
        const TFragment* f = map.FindFragment(c);
        if (f == nullptr || f->lcn + f->length <= c) continue;
        if (CellColourOf(f) == kRed) walked = kRed;
        if (walked == kWhite) walked = kBlue;
      }
      const TFragment* found = map.MostTellingFragment(first, end);
      ASSERT_EQ(CellColourOf(found), walked) << "layout " << layout << ", " << first << "-" << end;
      if (found != nullptr) {
        EXPECT_LT(found->lcn, end);
        EXPECT_GT(found->lcn + found->length, first);
      }
    }
    // A screen of cells at once gives what each cell's own look-up gives.
    for (const int64_t perCell : {1, 3, 16, 64}) {
      const int64_t first = random() % 100;
      const int count = static_cast<int>((3000 - first + perCell - 1) / perCell);
      std::vector<const TFragment*> cells(static_cast<size_t>(count));
      map.MostTellingFragments(first, perCell, 3000, count, cells.data());
      for (int i = 0; i < count; ++i) {
        const int64_t from = first + i * perCell;
        ASSERT_EQ(cells[static_cast<size_t>(i)],
                  map.MostTellingFragment(from, std::min<int64_t>(from + perCell, 3000)))
            << "layout " << layout << ", " << perCell << " a cell, cell " << i;
      }
    }
    ReleaseItem(root);
  }
}

}  // namespace
