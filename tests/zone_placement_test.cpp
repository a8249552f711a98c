#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "drive/drive_optimizer.h"
#include "model/record_pool.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/pool_exhaustion.h"
#include "tests/support/scripted_volume.h"
#include "tests/support/tree_builder.h"

namespace {

using TRun = std::tuple<int64_t, int64_t, int64_t>;  // vcn, lcn, length

std::vector<TRun> Planned(const TItem* item) {
  std::vector<TRun> runs;
  for (const TFragment* f = item->planned; f != nullptr; f = f->next) {
    EXPECT_EQ(f->owner, item);
    runs.emplace_back(f->vcn, f->lcn, f->length);
  }
  return runs;
}

class ZonePlacement : public testing::Test {
 protected:
  TScriptedVolume volume;
  TFakeWindowSystem windows;
  TDriveOptimizer drive{'D', volume, windows, kDriveStages};
};

TEST_F(ZonePlacement, ItemsOfAZoneFollowEachOtherInTreeOrder) {
  drive.root = AddItem(nullptr, "D:\\", 0, true);
  TItem* a = AddItem(drive.root, "a.txt", 1, false, {{900, 10}});
  TItem* b = AddItem(drive.root, "b.txt", 1, false);
  TItem* c = AddItem(drive.root, "c.txt", 1, false, {{950, 5}});
  drive.ClassifyTree(drive.root);
  drive.PlanZones(drive.root);
  EXPECT_EQ(Planned(a), (std::vector<TRun>{{0, 0, 10}}));
  EXPECT_EQ(Planned(b), std::vector<TRun>{});
  EXPECT_EQ(Planned(c), (std::vector<TRun>{{0, 10, 5}}));
  EXPECT_EQ(drive.zoneCursor[4], 15);
  for (int slot : {1, 2, 3, 5, 6, 7}) EXPECT_EQ(drive.zoneCursor[slot], 0) << slot;
}

TEST_F(ZonePlacement, EveryZoneStartsAtClusterZero) {
  drive.root = AddItem(nullptr, "D:\\", 0, true, {{500, 4}});
  TItem* program = AddItem(drive.root, "p.exe", 1, false, {{600, 3}});
  drive.ClassifyTree(drive.root);
  drive.PlanZones(drive.root);
  EXPECT_EQ(Planned(drive.root), (std::vector<TRun>{{0, 0, 4}}));
  EXPECT_EQ(Planned(program), (std::vector<TRun>{{0, 0, 3}}));
}

struct TInPlaceCase {
  const char* name;
  std::vector<std::pair<int64_t, int64_t>> runs;  // lcn, length
  bool noMove;
};

TEST_F(ZonePlacement, InPlaceTestReadsOnlyWhereTheSingleRunStarts) {
  const TInPlaceCase cases[] = {
      {"StartsInside", {{100, 60}}, true},
      {"StartsAtTheTotal", {{150, 1}}, false},
      {"TwoRunsBelow", {{1, 1}, {3, 1}}, false},
      {"NoClustersOnTheVolume", {{-1, 5}}, true},
      {"NoRuns", {}, false},
  };
  for (const TInPlaceCase& c : cases) {
    TScriptedVolume scripted;
    TDriveOptimizer local('D', scripted, windows, kDriveStages);
    local.root = AddItem(nullptr, "D:\\", 0, true);
    TItem* item = AddItem(local.root, "f.txt", 1, false);
    TFragment* tail = nullptr;
    for (const auto& run : c.runs) {
      TFragment* f = NewFragment(item, item->clusters, run.first, run.second);
      (tail == nullptr ? item->fragments : tail->next) = f;
      tail = f;
      item->clusters += run.second;
      ++item->fragmentCount;
    }
    local.ClassifyTree(local.root);
    local.zoneClusters[4] = 150;
    local.PlanZones(local.root);
    local.MarkItemsInPlace(local.root);
    EXPECT_EQ((item->flags & kItemNoMove) != 0, c.noMove) << c.name;
    if (c.noMove) {
      EXPECT_EQ(Planned(item), (std::vector<TRun>{{0, c.runs[0].first, c.runs[0].second}}))
          << c.name;
    }
    EXPECT_EQ(local.zoneCursor[4], item->clusters) << c.name;
  }
}

TEST_F(ZonePlacement, EmptyZonesKeepTheirCursorAtZero) {
  drive.root = AddItem(nullptr, "D:\\", 0, true);
  drive.ClassifyTree(drive.root);
  drive.PlanZones(drive.root);
  for (int slot = 0; slot < kZoneCount; ++slot) EXPECT_EQ(drive.zoneCursor[slot], 0);
  EXPECT_EQ(drive.root->planned, nullptr);
}

// With the fragment pool unable to give a record, items get no planned run
// but the cursor still moves past their clusters.
TEST_F(ZonePlacement, ExhaustedFragmentPoolStillAdvancesTheCursor) {
  drive.root = AddItem(nullptr, "D:\\", 0, true);
  TItem* a = AddItem(drive.root, "a.txt", 1, false, {{10, 4}});
  TItem* b = AddItem(drive.root, "b.txt", 1, false, {{20, 6}});
  drive.ClassifyTree(drive.root);
  {
    TFragmentPoolExhaustion exhausted;
    drive.PlanZones(drive.root);
  }
  EXPECT_EQ(a->planned, nullptr);
  EXPECT_EQ(b->planned, nullptr);
  EXPECT_EQ(drive.zoneCursor[4], 10);
}

}  // namespace
