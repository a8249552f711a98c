// The summary's numbers: fragments as physically contiguous pieces, free
// stretches as a user counts them, the most fragmented files, and the text.
#include "planning/volume_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "planning/fragment_pieces.h"
#include "tests/support/tree_builder.h"

namespace {

TFragment* Chain(const std::vector<std::pair<int64_t, int64_t>>& runs, TItem* owner = nullptr) {
  TFragment* head = nullptr;
  TFragment** tail = &head;
  int64_t vcn = 0;
  for (const auto& run : runs) {
    *tail = NewFragment(owner, owner == nullptr ? 0 : vcn, run.first, run.second);
    tail = &(*tail)->next;
    vcn += run.second;
  }
  return head;
}

struct TPiecesCase {
  const char* name;
  std::vector<std::pair<int64_t, int64_t>> runs;  // lcn, length
  int64_t pieces;
  int64_t allocated;
};

TEST(FragmentPieces, PiecesAreThePhysicallyContiguousStretches) {
  const TPiecesCase cases[] = {
      {"no runs (resident or empty)", {}, 0, 0},
      {"only a hole", {{-1, 16}}, 0, 0},
      {"one run", {{100, 4}}, 1, 4},
      {"two runs that continue each other", {{100, 2}, {102, 2}}, 1, 4},
      {"a hole between contiguous runs", {{100, 2}, {-1, 30}, {102, 2}}, 1, 4},
      {"a hole at either end", {{-1, 3}, {100, 2}, {-1, 5}}, 1, 2},
      {"a compressed file's holes between far runs", {{100, 2}, {-1, 14}, {300, 2}}, 2, 4},
      {"a run before the previous one", {{200, 2}, {100, 2}}, 2, 4},
      {"the third run back at the first's end", {{100, 2}, {500, 1}, {102, 1}}, 3, 4},
  };
  for (const TPiecesCase& c : cases) {
    TFragment* runs = Chain(c.runs);
    EXPECT_EQ(CountPieces(runs), c.pieces) << c.name;
    EXPECT_EQ(AllocatedClusters(runs), c.allocated) << c.name;
    ReleaseFragments(runs);
  }
}

class VolumeSummaryTest : public testing::Test {
 protected:
  void TearDown() override {
    ReleaseItem(root);
    ReleaseFragments(free);
  }
  TItem* root = nullptr;
  TFragment* free = nullptr;
};

TEST_F(VolumeSummaryTest, CountsItemsFragmentsAndFreeStretches) {
  root = AddItem(nullptr, "D:\\", 0, true, {{0, 1}});
  TItem* docs = AddItem(root, "docs", 0, true, {{1, 1}, {40, 1}});  // a folder: not a file
  AddItem(docs, "a.txt", 10, false, {{2, 1}});
  AddItem(docs, "b.txt", 10, false, {{3, 1}, {50, 1}, {60, 1}});
  AddItem(root, "sparse.bin", 10, false, {{4, 1}, {-1, 10}, {5, 1}});
  AddItem(root, "empty.txt", 0, false);
  TItem* planned = AddItem(root, "c.txt", 10, false, {{70, 2}, {80, 2}});
  planned->planned = NewFragment(planned, 0, 0, 4);
  planned->flags |= kItemNoMove;
  // 10..19 and 20..29 are one stretch handed over in two extents.
  free = Chain({{10, 10}, {20, 10}, {45, 5}, {90, 10}});
  TVolumePlanTotals plan;
  plan.itemsToMove = 3;
  const TVolumeSummary summary = SummarizeVolume(root, free, 100, plan);
  EXPECT_EQ(summary.items, 7);
  EXPECT_EQ(summary.files, 5);
  EXPECT_EQ(summary.folders, 2);
  EXPECT_EQ(summary.fragmentedFiles, 2);  // b.txt and c.txt; sparse.bin is one piece
  EXPECT_EQ(summary.fragments, 1 + 3 + 1 + 0 + 2);
  EXPECT_EQ(summary.mostFragmented,
            (std::vector<TFragmentedFile>{{"\\docs\\b.txt", 3}, {"\\c.txt", 2}}));
  EXPECT_EQ(summary.freeClusters, 35);
  EXPECT_EQ(summary.freeExtents, 3);
  EXPECT_EQ(summary.largestFreeExtent, 20);
  EXPECT_DOUBLE_EQ(summary.FreeOutsideLargestPercent(), 100.0 * 15 / 35);
  EXPECT_DOUBLE_EQ(summary.FragmentedFilesPercent(), 40.0);
  EXPECT_EQ(summary.itemsPlanned, 1);
  EXPECT_EQ(summary.itemsInPlace, 1);
  EXPECT_EQ(summary.plan.itemsToMove, 3);
  EXPECT_EQ(summary.unmovableFiles, 1) << "sparse.bin, whose holes are never moved";
  EXPECT_DOUBLE_EQ(summary.AverageFragmentsPerFile(), 7.0 / 5);
}

// Defragmenting is recommended above 10% of files fragmented, not at it.
TEST(VolumeSummaryFigures, DefragmentingIsRecommendedAboveOneFileInTen) {
  const struct {
    int64_t files;
    int64_t fragmented;
    bool recommended;
  } cases[] = {{0, 0, false}, {10, 1, false}, {100, 10, false}, {100, 11, true},
               {9, 1, true},  {1, 1, true},   {1000, 101, true}};
  for (const auto& c : cases) {
    TVolumeSummary summary;
    summary.files = c.files;
    summary.fragmentedFiles = c.fragmented;
    EXPECT_EQ(summary.DefragRecommended(), c.recommended) << c.fragmented << " of " << c.files;
  }
}

TEST_F(VolumeSummaryTest, TheTenMostFragmentedComeFirstTiesInListingOrder) {
  root = AddItem(nullptr, "D:\\", 0, true);
  // File k has k + 1 pieces for k < 12; then two more with 12 pieces.
  for (int k = 0; k < 14; ++k) {
    const int pieces = k < 12 ? k + 1 : 12;
    TItem* file = AddItem(root, ("f" + std::to_string(k)).c_str(), 1, false);
    std::vector<std::pair<int64_t, int64_t>> runs;
    for (int p = 0; p < pieces; ++p) runs.emplace_back(1000 * k + 10 * p, 1);
    file->fragments = Chain(runs, file);
  }
  const TVolumeSummary summary = SummarizeVolume(root, nullptr, 20000, TVolumePlanTotals{});
  std::vector<TFragmentedFile> expected = {{"\\f11", 12}, {"\\f12", 12}, {"\\f13", 12}};
  for (int k = 10; k >= 4; --k) expected.push_back({"\\f" + std::to_string(k), k + 1});
  EXPECT_EQ(summary.mostFragmented, expected);
  EXPECT_EQ(summary.fragmentedFiles, 13);
  EXPECT_EQ(summary.freeExtents, 0);
  EXPECT_DOUBLE_EQ(summary.FreeOutsideLargestPercent(), 0.0);
}

TEST(VolumeSummaryText, NamesEveryFigure) {
  TVolumeSummary summary;
  summary.items = 7;
  summary.files = 5;
  summary.folders = 2;
  summary.fragmentedFiles = 2;
  summary.fragments = 7;
  summary.mostFragmented = {{"\\docs\\b.txt", 3}, {"\\c.txt", 2}};
  summary.totalClusters = 100;
  summary.freeClusters = 35;
  summary.freeExtents = 3;
  summary.largestFreeExtent = 20;
  summary.itemsPlanned = 6;
  summary.itemsInPlace = 1;
  summary.plan = TVolumePlanTotals{4, 9, 2, 0, 0};
  EXPECT_EQ(
      FormatSummary('D', summary),
      "Drive D: summary\n"
      "  Items:              7 (5 files, 2 folders)\n"
      "  Fragmented files:   2 (40.0% of files), 7 fragments in all files\n"
      "  Most fragmented:\n"
      "             3  \\docs\\b.txt\n"
      "             2  \\c.txt\n"
      "  Clusters:           100, 35 free in 3 extents\n"
      "  Largest free extent: 20 clusters (42.9% of free space lies outside it)\n"
      "  Zone plan:          6 items planned, 1 in place\n"
      "  Volume plan:        4 items to move (9 clusters); fragmented files 2 now, 0 after\n");
}

}  // namespace
