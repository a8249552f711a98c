// Clusters marked used that no file holds: what a run of moves cut off
// between taking its target and pointing the file there (or between that
// and freeing the source) leaves. Counted over bitmaps made here, then over
// real images, where the analysis must find as many as a reader of its own.
#include "platform/linux/ntfs_held_clusters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "planning/drive_stages.h"
#include "planning/volume_summary.h"
#include "platform/linux/ntfs_volume.h"
#include "platform/linux/ntfs_volume_pool.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_bitmap_check.h"
#include "tests/linux/ntfs_record_patch.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"
#include "tools/ntfs_image_builder.h"

namespace {

// A bitmap with the clusters of `used` set, room for `clusters` and the
// bits of its last byte past them.
std::vector<uint8_t> BitmapOf(int64_t clusters, const std::vector<TClusterSpan>& used) {
  std::vector<uint8_t> bits(static_cast<size_t>((clusters + 7) / 8), 0);
  for (const TClusterSpan& span : used) {
    for (int64_t cluster = span.lcn; cluster < span.lcn + span.clusters; ++cluster) {
      if (cluster / 8 < static_cast<int64_t>(bits.size())) bits[cluster / 8] |= 1u << (cluster % 8);
    }
  }
  return bits;
}

TClusterBitmapRead ReadFrom(const std::vector<uint8_t>& bits) {
  return [&bits](int64_t first, size_t bytes, uint8_t* out) {
    if (first < 0 || first + static_cast<int64_t>(bytes) > static_cast<int64_t>(bits.size())) {
      ADD_FAILURE() << "read past the bitmap: " << first << " + " << bytes;
      return false;
    }
    std::memcpy(out, bits.data() + first, bytes);
    return true;
  };
}

struct TCountCase {
  const char* name;
  int64_t clusters;
  std::vector<TClusterSpan> used;  // bits set
  std::vector<TClusterSpan> held;  // as the attributes hold them
  int64_t usedClusters;
  int64_t unheld;
};

TEST(HeldClusters, UsedClustersThatNoSpanHoldsAreCountedExactly) {
  constexpr int64_t kReply = 8388608;  // clusters in a reply of 1 MiB
  const TCountCase cases[] = {
      {"every used cluster held once", 64, {{0, 10}, {20, 5}}, {{20, 5}, {0, 10}}, 15, 0},
      {"a target taken, never pointed at", 64, {{0, 10}, {40, 8}}, {{0, 10}}, 18, 8},
      {"a source pointed away from, never freed", 64, {{0, 16}}, {{0, 4}, {12, 4}}, 16, 8},
      {"shared spans beside unheld ones", 64, {{0, 10}, {30, 3}}, {{0, 6}, {4, 6}}, 13, 3},
      {"held but free counts as nothing", 64, {{0, 5}}, {{0, 10}}, 5, 0},
      {"spans off the volume and past its end; bits past the last cluster",
       50,
       {{45, 11}},
       {{45, 20}, {-1, 10}},
       5,
       0},
      {"an unheld run across replies",
       2 * kReply + 100,
       {{0, kReply + 20}},
       {{0, kReply - 8}, {kReply + 2, 18}},
       kReply + 20,
       10},
  };
  for (const TCountCase& test : cases) {
    SCOPED_TRACE(test.name);
    const std::vector<uint8_t> bits = BitmapOf(test.clusters, test.used);
    EXPECT_EQ(UsedClusters(test.clusters, ReadFrom(bits)), test.usedClusters);
    std::vector<TClusterSpan> held = test.held;
    EXPECT_EQ(UnheldClusters(test.clusters, held, ReadFrom(bits)), test.unheld);
  }
}

TEST(HeldClusters, ABitmapThatCannotBeReadCountsNothing) {
  const TClusterBitmapRead failing = [](int64_t, size_t, uint8_t*) { return false; };
  std::vector<TClusterSpan> held{{0, 4}};
  EXPECT_EQ(UsedClusters(64, failing), -1);
  EXPECT_EQ(UnheldClusters(64, held, failing), -1);
}

// A small volume with a fragmented file, analysed whole.
class NtfsHeldClusters : public testing::Test {
 protected:
  void SetUp() override {
    TNtfsImageBuilder builder;
    TNtfsFormat format;
    format.imageBytes = 32u << 20;
    ASSERT_TRUE(builder.Format(image_, format).ok);
    ASSERT_TRUE(
        builder.MakeFragmentedFile("/big.bin", TContent::Binary(1u << 20, 1), 4, 3, 1500).ok);
    clusters_ = builder.ClusterCount();
    ASSERT_TRUE(builder.Finish().ok);
  }

  // The summary of an analysis of the image as drive D.
  TVolumeSummary Analyse() {
    TFakeWindowSystem windows;
    const std::unique_ptr<TLinuxServices> services = ServicesWithDrive(logs_.Path(), 'D', image_);
    TDriveOptimizer drive('D', *services, windows, kDriveStages);
    drive.RunPipeline();
    EXPECT_EQ(drive.statusText.Get(), "Finished");
    return drive.summary;
  }

  TScratchFolder scratch_;
  TScratchFolder logs_;
  const std::string image_ = scratch_ / "volume.img";
  int64_t clusters_ = 0;
};

TEST_F(NtfsHeldClusters, ClustersMarkedUsedThatNoFileHoldsAreReportedAsTheCheckerFindsThem) {
  const TVolumeSummary clean = Analyse();
  EXPECT_EQ(clean.clustersHeldByNoFile, 0);
  EXPECT_EQ(FormatSummary('D', clean).find("Held by no file"), std::string::npos);

  // Two runs of moves cut off, each leaving a target taken in the free
  // space at the volume's end.
  ASSERT_TRUE(MarkClustersUsed(image_, clusters_ - 100, 37).ok);
  ASSERT_TRUE(MarkClustersUsed(image_, clusters_ - 300, 5).ok);
  const TBitmapCheck check = CheckClusterBitmap(image_);
  ASSERT_TRUE(check.Sound()) << check.Text();
  ASSERT_EQ(check.usedButUnheld, 42);
  const TVolumeSummary left = Analyse();
  EXPECT_EQ(left.clustersHeldByNoFile, 42);
  EXPECT_NE(FormatSummary('D', left).find("  Held by no file:    42 clusters marked in use"),
            std::string::npos)
      << FormatSummary('D', left);
  // They are not free: the free space is smaller by as many.
  EXPECT_EQ(left.freeClusters, clean.freeClusters - 42);
}

// A drive lets its mount's copy of the MFT go once its items are read (the
// memory of a large volume's analysis): the mount still tells what that
// copy found, and an open after it reads the MFT again and answers the same.
TEST_F(NtfsHeldClusters, AMountThatLetsItsMftViewGoStillTellsWhatItFound) {
  ASSERT_TRUE(MarkClustersUsed(image_, clusters_ - 100, 37).ok);
  TNtfsVolumePool pool;
  TNtfsVolume* volume = pool.ForThisThread(image_);
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(volume->ClustersHeldByNoFile(), -1);  // nothing read yet
  volume->ForgetView();                           // nothing to let go
  EXPECT_EQ(volume->ClustersHeldByNoFile(), -1);
  TNtfsItem before;
  ASSERT_TRUE(volume->Open("/big.bin", false, &before));
  ASSERT_GT(before.runs.size(), 1u);  // fragmented on purpose
  EXPECT_EQ(volume->ClustersHeldByNoFile(), 37);
  const size_t damage = volume->Damage().size();

  volume->ForgetView();
  EXPECT_EQ(volume->ClustersHeldByNoFile(), 37);
  EXPECT_EQ(volume->Damage().size(), damage);
  EXPECT_EQ(pool.ViewsRead(), 1);
  TNtfsItem after;
  ASSERT_TRUE(volume->Open("/big.bin", false, &after));
  EXPECT_EQ(pool.ViewsRead(), 2);  // no other mount held it
  EXPECT_EQ(volume->RecordReads(), 0);
  EXPECT_EQ(after.runs, before.runs);
  EXPECT_EQ(after.size, before.size);
  EXPECT_EQ(volume->ClustersHeldByNoFile(), 37);
}

}  // namespace
