// The free space of host-folder drives handed to the free-space stage as
// extents: on loop-mounted ext4, XFS and btrfs images, the stage lists the
// same extents, volume size and log as when it reads the bitmap replies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/drive_table.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/mounted_image.h"
#include "tests/support/fake_window_system.h"

namespace {

// Blocks of 1 KiB, so that the 300 MiB image takes three replies of the
// bitmap (307,200 clusters); btrfs has blocks of the page's size only.
const TFileSystemKind kExt4SmallBlocks = {
    "ext4_1k", {"mkfs.ext4", "-q", "-F", "-b", "1024"}, {"e2fsck", "-fn"}};
const TFileSystemKind kXfsSmallBlocks = {
    "xfs_1k", {"mkfs.xfs", "-q", "-f", "-b", "size=1024"}, {"xfs_repair", "-n"}};

// The services of the Linux build, but for a volume's free space as
// extents: every volume answers the bitmap request only.
class TBitmapOnlyServices : public TLinuxServices {
 public:
  using TLinuxServices::TLinuxServices;
  bool VolumeFreeExtents(THandle /*volume*/, TFreeSpaceExtents* /*space*/) override {
    return false;
  }
};

struct TStageResult {
  std::vector<std::pair<int64_t, int64_t>> extents;  // lcn, length
  int64_t totalClusters = 0;
  std::string log;
  std::string failure;
};

// The free-space stage of the folder root mapped to L:, with its log in a
// scratch folder mapped to C:.
template <class TServices>
TStageResult MapFolder(const std::string& root) {
  TScratchFolder logs;
  TDriveTable drives;
  drives.Map('C', logs.Path());
  drives.Map('L', root);
  TStageResult result;
  // The services hold the folder open while they live: they go before the
  // image is unmounted.
  TServices services(drives);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('L', services, windows, kDriveStages);
  drive.MapFreeSpace();
  for (const TFragment* extent = drive.freeExtents; extent != nullptr; extent = extent->next) {
    result.extents.emplace_back(extent->lcn, extent->length);
  }
  result.totalClusters = drive.totalClusters;
  result.failure = drive.FailureReason();
  EXPECT_EQ(drive.output.Commit(), "");
  result.log = ReadFile(logs / "dirlist_free.log");
  return result;
}

using HostFreeExtents = TMountedImageTest;

TEST_P(HostFreeExtents, TheStageListsWhatTheBitmapRepliesList) {
  const std::string root = volume_->MountPoint();
  // Files of many sizes, a third removed again, so that free space lies
  // in holes among them and in the stretch after them.
  for (int i = 0; i < 60; ++i) {
    WriteFile(root + "/f" + std::to_string(i), std::string((i % 17 + 1) * 53000, 'a' + i % 26));
  }
  for (int i = 0; i < 60; i += 3) std::filesystem::remove(root + "/f" + std::to_string(i));
  sync();

  const TStageResult asExtents = MapFolder<TLinuxServices>(root);
  const TStageResult asBits = MapFolder<TBitmapOnlyServices>(root);
  EXPECT_EQ(asExtents.failure, "");
  EXPECT_EQ(asBits.failure, "");
  EXPECT_GT(asExtents.extents.size(), 1u);
  EXPECT_EQ(asExtents.extents, asBits.extents);
  EXPECT_EQ(asExtents.totalClusters, asBits.totalClusters);
  EXPECT_FALSE(asExtents.log.empty());
  EXPECT_EQ(asExtents.log, asBits.log);
}

INSTANTIATE_TEST_SUITE_P(FileSystems, HostFreeExtents,
                         ::testing::Values(&kExt4SmallBlocks, &kXfsSmallBlocks, &kBtrfs), KindName);

}  // namespace
