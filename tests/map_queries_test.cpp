// What a user asks of the map without a window: zoomed cells take the colour
// that matters most, the scroll range follows the zoom, a cell's tooltip
// names its cluster and item (or free / unlisted space), a click outlines
// every fragment of the item, and the planned view colours the plan's
// targets by zone.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/scripted_volume.h"
#include "tests/support/tree_builder.h"
#include "ui/cell_hover.h"
#include "ui/cluster_map.h"
#include "ui/fragment_view_logic.h"
#include "ui/free_space_index.h"
#include "ui/map_colours.h"
#include "ui/map_legend.h"
#include "ui/map_session.h"
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
  // Every chosen item is painted in the selection's colour, not the first only.
  EXPECT_EQ(view.PaintedColour(10), TCellColour::kSelected);
  EXPECT_NE(view.PaintedColour(20), TCellColour::kSelected);
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
  EXPECT_EQ(view.PaintedColour(0), TCellColour::kSelected);  // a.doc, the second chosen
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
  plan.items = {{root, 0, 0, 0, -1}, {one, 0, 5, 1, -1}, {three, 1, 9, 1, -1}, {doc, 2, 0, 1, -1}};
  plan.unmovable = {{0, 10}, {100, 16}, {600, 4}};
  return plan;
}

// Once a cell shows several clusters, those that no item lists and that are
// not free (15 ... 19, 23 ... 29, 32 ... 39, 44 ... 49, 116 ... 499) get
// a colour of their own; at one cluster a cell they stay the described
// white, and a cell with any listed cluster keeps red or blue.
TEST_F(MapQueriesTest, ZoomedCellsOfSpaceNoItemListsHaveTheirOwnColour) {
  constexpr TCellColour kUnlisted = TCellColour::kUnlisted;
  view.SetFreeSpace(&freeSpace);
  const TZoomCase cases[] = {
      {1, 15, kWhite},     {1, 45, kWhite},  {1, 0, kWhite},     {2, 8, kUnlisted},
      {2, 7, kBlue},       {2, 4, kWhite},   {2, 25, kWhite},    {4, 4, kUnlisted},
      {4, 12, kUnlisted},  // 48 ... 51: two unlisted, two free
      {4, 13, kWhite},     {4, 5, kRed},     {16, 3, kUnlisted}, {16, 8, kUnlisted},
      {16, 31, kUnlisted}, {16, 32, kWhite}, {16, 62, kWhite},   {16, 6, kBlue},
  };
  for (const TZoomCase& c : cases) {
    view.SetClustersPerCell(c.clustersPerCell);
    view.ComputeCells(80, 80);
    ASSERT_EQ(view.ClustersPerCell(), c.clustersPerCell);
    EXPECT_EQ(view.CellColour(c.cell), c.colour)
        << c.clustersPerCell << " clusters per cell, cell " << c.cell;
  }
}

// A selected item's cells, and only those, are painted in the selection's
// colour, at one cluster a cell and zoomed out; what lies there stays its
// CellColour, and clearing the selection paints the described colours.
TEST_F(MapQueriesTest, SelectionPaintsExactlyTheItemsCells) {
  view.SetFreeSpace(&freeSpace);
  ASSERT_EQ(view.SelectAt(21), three);
  for (const int64_t clusters : {1, 4, 16}) {
    view.SetClustersPerCell(clusters);
    view.ComputeCells(80, 80);
    for (int cell = 0; cell < view.CellCount(); ++cell) {
      bool holdsThree = false;
      for (const TFragment* run = three->fragments; run != nullptr; run = run->next) {
        holdsThree |= run->lcn < view.CellEndCluster(cell) &&
                      run->lcn + run->length > view.CellFirstCluster(cell);
      }
      EXPECT_EQ(view.PaintedColour(cell) == TCellColour::kSelected, holdsThree)
          << clusters << " clusters per cell, cell " << cell;
      if (!holdsThree) {
        EXPECT_EQ(view.PaintedColour(cell), view.CellColour(cell));
      }
    }
  }
  view.SetClustersPerCell(1);
  view.ComputeCells(80, 80);
  EXPECT_EQ(view.CellColour(20), kRed);
  EXPECT_EQ(view.CellColour(43), kBlue);
  view.ClearSelection();
  EXPECT_EQ(view.PaintedColour(20), kRed);
}

TEST_F(MapQueriesTest, StatusBarNamesTheSelectedItemWithItsSizeAndFragments) {
  const auto text = [](const TItem* item) { return SelectedItemText(item, ListingPath(item)); };
  ASSERT_EQ(view.SelectAt(21), three);
  EXPECT_EQ(text(view.Selected()), "\\three.avi, 35.2 KiB, 3 fragments");
  ASSERT_EQ(view.SelectAt(12), one);
  EXPECT_EQ(text(view.Selected()), "\\one.txt, 19.5 KiB, 1 fragment");
  view.SetFirstCluster(100);
  view.ComputeCells(80, 80);
  ASSERT_EQ(view.SelectAt(0), doc);
  EXPECT_EQ(text(view.Selected()), "\\docs\\a.doc, 64.0 KiB, 1 fragment");
}

// The legend lists exactly the colours the view paints, in each state a
// user can bring it to: the described view, zoomed out with space no item
// lists, with a selection, and after the plan.
TEST_F(MapQueriesTest, LegendListsEveryColourTheViewPaints) {
  view.SetFreeSpace(&freeSpace);
  const TVolumePlan plan = HandPlan(root, one, three, doc);
  const TPlannedMap planned(plan, 1000);
  view.SetPlannedMap(&planned);
  struct TState {
    int64_t clustersPerCell;
    int select;  // the cell clicked; -1 for none
    TMapMode mode;
    size_t entries;
    bool allShown;  // every colour listed shows on this screen
  };
  const TState states[] = {
      {1, -1, TMapMode::kNow, 3, true},
      {16, -1, TMapMode::kNow, 4, true},
      {1, 12, TMapMode::kNow, 4, true},
      {16, 0, TMapMode::kNow, 5, true},
      {1, -1, TMapMode::kPlanned, 4, true},
      // Zone 5's target shares its cell with grey, which wins there.
      {16, -1, TMapMode::kPlanned, 4, false},
  };
  for (const TState& state : states) {
    view.SetMode(state.mode);
    view.SetClustersPerCell(state.clustersPerCell);
    view.ComputeCells(80, 80);
    view.SelectAt(state.select);
    view.ComputeCells(80, 80);
    std::set<TCellColour> painted;
    for (int cell = 0; cell < view.CellCount(); ++cell) painted.insert(view.PaintedColour(cell));
    std::set<TCellColour> listed;
    for (const TLegendEntry& entry : LegendEntries(view)) listed.insert(entry.colour);
    EXPECT_TRUE(std::includes(listed.begin(), listed.end(), painted.begin(), painted.end()))
        << state.clustersPerCell << " clusters per cell, cell " << state.select;
    if (state.allShown) {
      EXPECT_EQ(painted, listed) << state.clustersPerCell;
    }
    EXPECT_EQ(LegendEntries(view).size(), state.entries);
  }
  // The planned view names the zones as the rules do.
  const std::string text = LegendMessage(view);
  EXPECT_NE(text.find("zone 5: small files"), std::string::npos) << text;
  EXPECT_NE(text.find("zone 8: archives and media"), std::string::npos) << text;
  EXPECT_EQ(text.find("zone 3"), std::string::npos) << text;
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

// The strip's entries, as either shell measures them, wrap onto the next
// line where the next would pass the strip's right margin; one too wide for
// any line keeps a line of its own; the height counts whole lines.
TEST(MapLegendPlaces, EntriesWrapAtTheStripsWidthAndTheHeightCountsTheirLines) {
  struct TCase {
    std::vector<int> widths;
    int stripWidth;
    std::vector<std::pair<int, int>> places;  // x, line
    int height;                               // lines of 20 pixels
  };
  const int lineHeight = LegendLineHeight(17);
  ASSERT_EQ(lineHeight, 20);
  ASSERT_EQ(LegendLineHeight(5), kLegendSwatchSize + kLegendMargin);
  ASSERT_EQ(LegendEntryWidth(50), 50 + kLegendSwatchSize + kLegendGap);
  const TCase cases[] = {
      // All on one line: 3, then 3 + 100 + 14, then 117 + 80 + 14.
      {{100, 80, 40}, 400, {{3, 0}, {117, 0}, {211, 0}}, 1 * 20 + 3},
      // 211 + 40 passes 240 - 3: the third starts line 1.
      {{100, 80, 40}, 240, {{3, 0}, {117, 0}, {3, 1}}, 2 * 20 + 3},
      // Exactly to the right margin still fits.
      {{100, 80}, 3 + 100 + 14 + 80 + 3, {{3, 0}, {117, 0}}, 20 + 3},
      // Too wide for any line: alone on its lines, never an empty line.
      {{500, 10, 500}, 200, {{3, 0}, {3, 1}, {3, 2}}, 3 * 20 + 3},
      {{}, 200, {}, 0},
  };
  for (const TCase& c : cases) {
    const std::vector<TLegendPlace> places = LegendPlaces(c.widths, c.stripWidth);
    std::vector<std::pair<int, int>> got;
    for (const TLegendPlace& place : places) got.emplace_back(place.x, place.line);
    EXPECT_EQ(got, c.places) << c.stripWidth;
    EXPECT_EQ(LegendHeight(places, lineHeight), c.height) << c.stripWidth;
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
  TClusterMap map;
  TFragmentViewLogic view(&map);
  const std::string now = LegendMessage(view);
  EXPECT_NE(now.find("red (255, 0, 0)"), std::string::npos) << now;
  EXPECT_NE(now.find("blue (63, 63, 255)"), std::string::npos) << now;
  EXPECT_NE(now.find("white (255, 255, 255)"), std::string::npos) << now;
  TVolumePlan plan;
  for (int zone = 1; zone <= 8; ++zone) plan.unmovable.push_back({zone * 10, 1});
  TPlannedMap planned(plan, 100);
  view.SetPlannedMap(&planned);
  ASSERT_TRUE(view.SetMode(TMapMode::kPlanned));
  const std::string plannedText = LegendMessage(view);
  EXPECT_NE(plannedText.find("grey (96, 96, 96)"), std::string::npos) << plannedText;
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
