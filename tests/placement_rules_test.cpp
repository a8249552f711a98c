#include "planning/placement_rules.h"

#include <gtest/gtest.h>

#include <cctype>
#include <numeric>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"
#include "tests/support/tree_builder.h"

namespace {

struct TZoneCase {
  const char* name;
  int64_t size;
  bool folder;
  int zone;
};

class ZoneOfItem : public testing::TestWithParam<TZoneCase> {};

TEST_P(ZoneOfItem, FirstMatchingRuleWins) {
  TItem* item = AddItem(nullptr, GetParam().name, GetParam().size, GetParam().folder);
  item->flags |= kItemNoMove;  // other bits survive
  EXPECT_EQ(ZoneOf(*item), GetParam().zone);
  item->SetZone(ZoneOf(*item));
  EXPECT_EQ(item->flags & ~kItemZoneMask, (GetParam().folder ? kItemFolder : 0u) | kItemNoMove);
  ReleaseItem(item);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ZoneOfItem,
    testing::Values(TZoneCase{"SETUP.EXE", 50000000, false, 3},
                    TZoneCase{"report.final.Dll", 1, false, 3}, TZoneCase{".hlp", 1, false, 3},
                    TZoneCase{"Movie.MPEG", 10, false, 8}, TZoneCase{"a.7Z", 10, false, 8},
                    TZoneCase{"backup.zip", int64_t(4) << 30, false, 8},
                    TZoneCase{"notes.txt", 2000000, false, 5},
                    TZoneCase{"notes.txt", 2000001, false, 7},
                    TZoneCase{"archive.tar.gz", 3000000, false, 7},
                    TZoneCase{"lib.dll.bak", 10, false, 5}, TZoneCase{"exe", 10, false, 5},
                    TZoneCase{"name.", 10, false, 5}, TZoneCase{"x.exe1", 10, false, 5},
                    TZoneCase{"x.ex", 10, false, 5}, TZoneCase{"negative", -5, false, 5},
                    TZoneCase{"plugin.AX", 10, false, 3}, TZoneCase{"a.xa", 10, false, 5},
                    TZoneCase{"clip.mpegs", 10, false, 5}, TZoneCase{"b.mpe", 10, false, 5},
                    TZoneCase{"app.exe", 0, true, 1}, TZoneCase{"D:\\", 0, true, 1}),
    [](const testing::TestParamInfo<TZoneCase>& info) {
      std::string name;
      for (const char* c = info.param.name; *c != '\0'; ++c) {
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
      }
      return name + "_" + std::to_string(info.index);
    });

TEST(PlacementRules, ZoneTotalsAddUpAndSkipTheUnusedZones) {
  TScriptedVolume volume;
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  drive.root = AddItem(nullptr, "D:\\", 0, true, {{10, 4}});
  TItem* sub = AddItem(drive.root, "sub", 0, true, {{20, 1}});
  AddItem(sub, "a.exe", 100, false, {{30, 3}});
  AddItem(sub, "b.txt", 100, false, {{40, 2}, {50, 2}});
  AddItem(drive.root, "c.mp3", 100, false, {{60, 7}});
  AddItem(drive.root, "big.iso", 5000000, false, {{70, 9}});
  AddItem(drive.root, "empty", 0, false);
  drive.ClassifyTree(drive.root);
  const int64_t expected[kZoneCount] = {5, 0, 3, 0, 4, 0, 9, 7};
  for (int slot = 0; slot < kZoneCount; ++slot) {
    EXPECT_EQ(drive.zoneClusters[slot], expected[slot]) << "slot " << slot;
  }
  EXPECT_EQ(std::accumulate(drive.zoneClusters, drive.zoneClusters + kZoneCount, int64_t(0)),
            4 + 1 + 3 + 4 + 7 + 9);
}

TEST(PlacementRules, RootAloneCountsInTheFolderZone) {
  TScriptedVolume volume;
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  drive.root = AddItem(nullptr, "D:\\", 0, true, {{0, 6}});
  drive.ApplyRules();
  EXPECT_EQ(drive.zoneClusters[0], 6);
  for (int slot = 1; slot < kZoneCount; ++slot) EXPECT_EQ(drive.zoneClusters[slot], 0);
  EXPECT_EQ(drive.statusText.Get(), "Listing tree");
}

}  // namespace
