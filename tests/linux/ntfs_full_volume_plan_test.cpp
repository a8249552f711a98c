// The volume-aware plan of an NTFS volume with little free space left,
// checked cluster by cluster against the volume's own bitmap: no target on
// a cluster that NTFS uses for what no item lists (its metadata), none
// outside the volume, none on another, and the moves log of the same plan.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "planning/drive_stages.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"
#include "tools/ntfs_image_builder.h"

namespace {

// A 16 MiB volume filled until the allocator refuses even one cluster, with
// fragmented files among the rest.
TBuildStatus BuildFullVolume(const std::string& path) {
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 16ull << 20;
  if (TBuildStatus status = builder.Format(path, format); !status) return status;
  TSplitMix64 random(11);
  for (const char* folder : {"/Program Files", "/Docs", "/Media"}) {
    if (TBuildStatus status = builder.MakeFolder(folder); !status) return status;
  }
  for (int k = 0; k < 12; ++k) {
    const std::string name = "/Docs/frag" + std::to_string(k) + ".doc";
    const TContent content = TContent::Binary(4096 * random.Between(6, 40), k);
    if (TBuildStatus status =
            builder.MakeFragmentedFile(name, content, 3 + k % 4, 2, builder.MftZoneEnd() + 97 * k);
        !status) {
      return status;
    }
  }
  // Files of every zone until the volume is full: a refused file is passed
  // over until even a file of one cluster is refused.
  static const char* const kKinds[] = {"/Program Files/p%d.dll", "/Docs/d%d.txt", "/Media/m%d.mp3",
                                       "/Docs/big%d.dat"};
  for (int k = 0; k < 5000; ++k) {
    char name[64];
    std::snprintf(name, sizeof(name), kKinds[k % 4], k);
    const bool full = k > 0 && k % 50 == 0;  // now and then, try the smallest
    const uint64_t clusters =
        full ? 1 : (k % 4 == 3 ? random.Between(60, 200) : random.Between(1, 24));
    if (!builder.MakeFile(name, TContent::Binary(4096 * clusters, 1000 + k)) && full) break;
  }
  return builder.Finish();
}

TEST(NtfsFullVolumePlan, TargetsAvoidMetadataOnAVolumeWithLittleFreeSpace) {
  TScratchFolder folder;
  const std::string image = folder / "full.img";
  const TBuildStatus built = BuildFullVolume(image);
  ASSERT_TRUE(built.ok) << built.message;
  std::unique_ptr<TLinuxServices> services = ServicesWithDrive(folder.Path(), 'F', image);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('F', *services, windows, kDriveStages);
  drive.RunPipeline();
  ASSERT_NE(drive.root, nullptr);
  const int64_t total = drive.totalClusters;
  ASSERT_GT(total, 0);

  // Clusters in use by the volume's bitmap, and those that listed items
  // hold (NOMOVE items apart, which stay).
  const std::string bitmap = RunTool({"ntfscat", image, "$Bitmap"}).out;
  std::vector<bool> inUse(static_cast<size_t>(total), true);
  for (const TFreeExtent& extent : FreeExtentsFromBitmap(bitmap, total)) {
    for (int64_t c = extent.lcn; c < extent.lcn + extent.length; ++c) {
      inUse[static_cast<size_t>(c)] = false;
    }
  }
  const int64_t freeClusters = std::count(inUse.begin(), inUse.end(), false);
  EXPECT_LT(freeClusters * 10, total) << "the volume is nearly full";
  std::vector<bool> movable(static_cast<size_t>(total), false);
  for (const auto& [path, item] : ItemsByPath(drive.root)) {
    if ((item->flags & kItemNoMove) != 0) continue;
    for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
      for (int64_t c = run->lcn; run->lcn >= 0 && c < run->lcn + run->length; ++c) {
        movable[static_cast<size_t>(c)] = true;
      }
    }
  }
  const TVolumePlan& plan = drive.volumePlan;
  std::vector<bool> taken(static_cast<size_t>(total), false);
  for (const TItemTarget& target : plan.items) {
    const bool stays = (target.item->flags & kItemNoMove) != 0;
    for (int64_t k = 0; k < target.runCount; ++k) {
      const TTargetRun& run = plan.runs[static_cast<size_t>(target.firstRun + k)];
      ASSERT_GE(run.lcn, 0);
      ASSERT_LE(run.lcn + run.length, total);
      for (int64_t c = run.lcn; c < run.lcn + run.length; ++c) {
        EXPECT_FALSE(taken[static_cast<size_t>(c)]) << "two targets at " << c;
        taken[static_cast<size_t>(c)] = true;
        if (!stays) {
          EXPECT_TRUE(!inUse[static_cast<size_t>(c)] || movable[static_cast<size_t>(c)])
              << "a target on metadata at " << c;
        }
      }
    }
  }
  EXPECT_EQ(plan.totals.itemsUnplaced, 0);
  EXPECT_GT(plan.totals.fragmentedBefore, 10);
  EXPECT_GT(plan.totals.itemsToMove, 0);
  const std::string moves = ReadFile(folder / "DirList_Moves.log");
  EXPECT_EQ(std::count(moves.begin(), moves.end(), '\n'), plan.totals.itemsToMove);
  // The plan's totals, for a person reading the test report.
  RecordProperty("itemsToMove", std::to_string(plan.totals.itemsToMove));
  RecordProperty("clustersToMove", std::to_string(plan.totals.clustersToMove));
  RecordProperty("fragmentedBefore", std::to_string(plan.totals.fragmentedBefore));
  RecordProperty("fragmentedAfter", std::to_string(plan.totals.fragmentedAfter));
}

}  // namespace
