// The layout that carries out the volume-aware plan: every file the plan
// moves, once however many names it has, with its place over the stream's
// real VCNs (a sparse file's holes take no room in the plan but keep their
// VCNs); what stays is not among them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "moving/move_layout.h"
#include "planning/volume_plan.h"
#include "tests/support/tree_builder.h"

namespace {

using TRuns = std::vector<TFileRun>;

TEST(PlaceOverRealVcns, APlanTargetLandsOnTheStreamsAllocatedVcnsAroundItsHoles) {
  const struct {
    const char* what;
    TRuns runs;
    std::vector<TTargetRun> target;
    TRuns place;
  } cases[] = {
      {"no hole: pieces become one run", {{0, 80, 4}, {4, 90, 4}}, {{0, 6, 8}}, {{0, 6, 8}}},
      {"a hole keeps its VCNs",
       {{0, 80, 4}, {4, -1, 10}, {14, 90, 4}},
       {{0, 6, 8}},
       {{0, 6, 4}, {14, 10, 4}}},
      {"a target in two runs across a hole",
       {{0, 80, 4}, {4, -1, 10}, {14, 90, 4}},
       {{0, 20, 2}, {2, 30, 6}},
       {{0, 20, 2}, {2, 30, 2}, {14, 32, 4}}},
      {"a leading hole", {{0, -1, 5}, {5, 40, 3}}, {{0, 10, 3}}, {{5, 10, 3}}},
      {"unplaced runs (lcn -2) are no clusters", {{0, 7, 2}, {2, -2, 3}}, {{0, 1, 2}}, {{0, 1, 2}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PlaceOverRealVcns(c.runs, c.target.data(), c.target.size()), c.place) << c.what;
  }
}

class LayoutFromPlanTest : public testing::Test {
 protected:
  void TearDown() override {
    ReleaseItem(root);
    ReleaseFragments(free);
  }
  TItem* Zoned(TItem* parent, const char* name, bool folder, int zone,
               std::initializer_list<std::pair<int64_t, int64_t>> runs) {
    TItem* item = AddItem(parent, name, 0, folder, runs);
    item->SetZone(zone);
    return item;
  }
  const TMovableFile* FileAt(const TMoveLayout& layout, const std::string& path) {
    for (const TMovableFile& file : layout.files) {
      if (file.listingPath == path) return &file;
    }
    return nullptr;
  }
  TItem* root = nullptr;
  TFragment* free = nullptr;
};

TEST_F(LayoutFromPlanTest, HoldsEveryFileThePlanMovesOnceWithItsPlaceAndNothingThatStays) {
  // Clusters 2..39 are free; the rest holds the items below or the file
  // system. The plan fills from cluster 0: \inplace (already there), \docs's
  // index, then \a.txt (also named \b.txt); \keep.txt is marked NOMOVE, and
  // \sparse.dat, whose holes are never moved, stays too.
  root = AddItem(nullptr, "D:\\", 0, true);
  root->SetZone(1);
  Zoned(root, "inplace", true, 1, {{0, 2}});
  Zoned(root, "docs", true, 1, {{60, 2}, {70, 2}});
  Zoned(root, "sparse.dat", false, 5, {{80, 4}, {-1, 10}, {90, 4}});
  TItem* a = Zoned(root, "a.txt", false, 5, {{50, 3}});
  TItem* b = Zoned(root, "b.txt", false, 5, {{50, 3}});
  a->fileId = b->fileId = 77;
  TItem* keep = Zoned(root, "keep.txt", false, 5, {{40, 2}});
  keep->flags |= kItemNoMove;
  free = NewFragment(nullptr, 0, 2, 38);
  const TVolumePlan plan = PlanVolume(root, free, 100);

  const TMoveLayout layout = LayoutFromPlan('D', plan, free, 100, 4096);
  EXPECT_EQ(layout.driveLetter, 'D');
  EXPECT_EQ(layout.totalClusters, 100);
  EXPECT_EQ(layout.clusterBytes, 4096u);
  EXPECT_EQ(layout.freeExtents, (std::vector<TClusterExtent>{{2, 38}}));
  ASSERT_EQ(layout.files.size(), 2u)
      << "the root, \\inplace, \\keep.txt, \\sparse.dat and \\b.txt are not moved";
  ASSERT_EQ(layout.places.size(), 2u);
  EXPECT_EQ(layout.files[0].listingPath, "\\docs");
  EXPECT_EQ(layout.files[1].listingPath, "\\a.txt");

  const TMovableFile& docs = layout.files[0];
  EXPECT_EQ(docs.stream, TMoveStream::kFolderIndex);
  EXPECT_EQ(docs.runs, (TRuns{{0, 60, 2}, {2, 70, 2}}));
  EXPECT_EQ(layout.places[0], (TRuns{{0, 2, 4}}));
  EXPECT_EQ(docs.notMovable, "");

  const TMovableFile& linked = layout.files[1];
  EXPECT_EQ(linked.fileId, 77u);
  EXPECT_EQ(layout.places[1], (TRuns{{0, 6, 3}})) << "placed once, under its first name";
  EXPECT_EQ(FileAt(layout, "\\sparse.dat"), nullptr);
  EXPECT_EQ(FileAt(layout, "\\b.txt"), nullptr);
  EXPECT_EQ(FileAt(layout, "\\keep.txt"), nullptr);
  EXPECT_EQ(FileAt(layout, "\\inplace"), nullptr);
}

TEST_F(LayoutFromPlanTest, AVolumeAlreadyLaidOutAsPlannedHasNothingToMove) {
  root = AddItem(nullptr, "D:\\", 0, true);
  root->SetZone(1);
  Zoned(root, "tool.exe", false, 3, {{0, 3}});
  Zoned(root, "note.txt", false, 5, {{3, 2}});
  free = NewFragment(nullptr, 0, 5, 11);
  const TVolumePlan plan = PlanVolume(root, free, 16);
  EXPECT_TRUE(LayoutFromPlan('D', plan, free, 16, 4096).files.empty());
}

}  // namespace
