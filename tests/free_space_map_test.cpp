#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/host_services.h"
#include "tests/support/pool_exhaustion.h"
#include "tests/support/scripted_volume.h"

namespace {

using TExtents = std::vector<std::pair<int64_t, int64_t>>;  // lcn, length

TExtents Extents(const TDriveOptimizer& drive) {
  TExtents list;
  for (const TFragment* f = drive.freeExtents; f != nullptr; f = f->next) {
    EXPECT_EQ(f->owner, nullptr);
    EXPECT_EQ(f->vcn, 0);
    list.emplace_back(f->lcn, f->length);
  }
  return list;
}

class FreeSpaceMap : public testing::Test {
 protected:
  void SetUp() override { volume.logDirectory = logs.Path(); }
  std::string Log() const { return FileBytes(logs.Path() + "dirlist_free.log"); }
  bool LogExists() const { return FileExists(logs.Path() + "dirlist_free.log"); }
  // A bitmap of count clusters, all in use but those listed.
  void Bitmap(int64_t count, const TExtents& free) {
    volume.bitmap.assign(static_cast<size_t>(count), true);
    for (const auto& extent : free) {
      for (int64_t c = extent.first; c < extent.first + extent.second; ++c) {
        volume.bitmap[static_cast<size_t>(c)] = false;
      }
    }
  }

  THostFolder logs;
  TScriptedVolume volume{'D'};
  TFakeWindowSystem windows;
  TDriveOptimizer drive{'D', volume, windows, kDriveStages};
};

TEST_F(FreeSpaceMap, FiveClusterBitmapAndItsLog) {
  volume.bitmap = {true, false, false, true, false};
  drive.MapFreeSpace();
  EXPECT_EQ(Extents(drive), (TExtents{{1, 2}, {4, 1}}));
  EXPECT_EQ(drive.totalClusters, 5);
  // The log goes in place with the run's other files.
  EXPECT_FALSE(LogExists());
  EXPECT_EQ(drive.output.Commit(), "");
  EXPECT_EQ(Log(), "1\t3\t2\r\n4\t5\t1\r\n");
  EXPECT_EQ(drive.statusText.Get(), "Mapping free space");
  EXPECT_EQ(volume.opened, (std::vector<std::string>{"\\\\.\\D:|plain"}));
}

TEST_F(FreeSpaceMap, RunCrossingAReplyBorderIsListedAsTwoExtents) {
  Bitmap(300000, {{130940, 10}, {261880, 20}});
  drive.MapFreeSpace();
  EXPECT_EQ(Extents(drive), (TExtents{{130940, 4}, {130944, 6}, {261880, 8}, {261888, 12}}));
  EXPECT_EQ(volume.bitmapCalls, 3);
  EXPECT_EQ(drive.totalClusters, 300000);
}

TEST_F(FreeSpaceMap, LastClusterFreeAndBitsPastTheEndIgnored) {
  Bitmap(13, {{12, 1}});
  volume.setBitsPastEnd = false;  // the last byte's bits past cluster 12 read as free
  drive.MapFreeSpace();
  EXPECT_EQ(Extents(drive), (TExtents{{12, 1}}));
}

TEST_F(FreeSpaceMap, FullVolumeWritesAnEmptyLog) {
  Bitmap(1000, {});
  drive.MapFreeSpace();
  EXPECT_EQ(drive.freeExtents, nullptr);
  EXPECT_EQ(drive.totalClusters, 1000);
  EXPECT_EQ(drive.output.Commit(), "");
  EXPECT_TRUE(LogExists());
  EXPECT_EQ(Log(), "");
}

TEST_F(FreeSpaceMap, FirstQueryFailingLeavesNoLogAndNoExtents) {
  Bitmap(100, {{5, 5}});
  volume.bitmapFaults.failAtCall = 0;
  drive.MapFreeSpace();
  EXPECT_EQ(drive.freeExtents, nullptr);
  EXPECT_FALSE(LogExists());
}

TEST_F(FreeSpaceMap, LaterQueryFailingKeepsEarlierExtentsWithoutLog) {
  Bitmap(200000, {{5, 5}, {150000, 5}});
  volume.bitmapFaults.failAtCall = 1;
  drive.MapFreeSpace();
  EXPECT_EQ(Extents(drive), (TExtents{{5, 5}}));
  EXPECT_FALSE(LogExists());
}

TEST_F(FreeSpaceMap, PendingRepliesAreSettledThroughTheStatusBlock) {
  Bitmap(200000, {{0, 3}, {199990, 10}});
  volume.bitmapFaults.pending = true;
  drive.MapFreeSpace();
  EXPECT_EQ(Extents(drive), (TExtents{{0, 3}, {199990, 10}}));
  EXPECT_EQ(volume.waits, 2);
}

TEST_F(FreeSpaceMap, ShortRepliesAreReadOnlyAsFarAsTheyGo) {
  Bitmap(100, {{10, 30}, {90, 10}});
  volume.bitmapFaults.unitsPerReply = 16;
  drive.MapFreeSpace();
  EXPECT_EQ(Extents(drive), (TExtents{{10, 6}, {16, 16}, {32, 8}, {90, 6}, {96, 4}}));
  EXPECT_EQ(volume.bitmapCalls, 7);
}

TEST_F(FreeSpaceMap, ReplyStartingBelowTheAskListsNoRunTwice) {
  Bitmap(300000, {{130000, 2000}, {200000, 5}});
  volume.startBelowBy = 1024;
  drive.MapFreeSpace();
  EXPECT_EQ(Extents(drive), (TExtents{{130000, 944}, {130944, 1056}, {200000, 5}}));
}

TEST_F(FreeSpaceMap, UnopenableVolumeTouchesNothing) {
  volume.volumeOpenFails = true;
  drive.totalClusters = 7;
  drive.MapFreeSpace();
  EXPECT_EQ(drive.freeExtents, nullptr);
  EXPECT_EQ(drive.totalClusters, 7);
  EXPECT_FALSE(LogExists());
  EXPECT_EQ(volume.bitmapCalls, 0);
}

TEST_F(FreeSpaceMap, ExhaustedFragmentPoolListsNothingAndDoesNotCrash) {
  Bitmap(64, {{3, 4}, {20, 1}});
  {
    TFragmentPoolExhaustion exhausted;
    drive.MapFreeSpace();
  }
  EXPECT_EQ(drive.freeExtents, nullptr);
  EXPECT_EQ(drive.totalClusters, 64);
  EXPECT_EQ(Log(), "");
}

}  // namespace
