#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "analysis/free_runs.h"
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

// What the free-space stage leaves of one volume.
struct TStageResult {
  TExtents extents;
  int64_t totalClusters = 0;
  std::string log;
  std::string failure;
  int bitmapCalls = 0;
  int extentCalls = 0;
};

// The stage on a volume of count clusters, free where listed, its free
// space read as extents (asExtents) or as bitmap replies.
TStageResult MapVolume(int64_t count, const TExtents& free, bool asExtents) {
  THostFolder logs;
  TScriptedVolume volume{'D'};
  volume.logDirectory = logs.Path();
  volume.freeSpaceAsExtents = asExtents;
  volume.bitmap.assign(static_cast<size_t>(count), true);
  for (const auto& [first, clusters] : free) {
    for (int64_t c = first; c < first + clusters; ++c)
      volume.bitmap[static_cast<size_t>(c)] = false;
  }
  TFakeWindowSystem windows;
  TDriveOptimizer drive{'D', volume, windows, kDriveStages};
  drive.MapFreeSpace();
  TStageResult result;
  result.extents = Extents(drive);
  result.totalClusters = drive.totalClusters;
  result.failure = drive.FailureReason();
  EXPECT_EQ(drive.output.Commit(), "");
  result.log = FileBytes(logs.Path() + "dirlist_free.log");
  result.bitmapCalls = volume.bitmapCalls;
  result.extentCalls = volume.freeExtentCalls;
  return result;
}

// Free space given as extents lists the very extents, total and log that
// the bitmap replies of 130,944 clusters give, with no bitmap asked for:
// stretches across many reply ends, ending or starting right at one, one
// cluster either side of one, the volume's last cluster, a full volume, and
// many small stretches.
TEST(FreeSpaceAsExtents, SameExtentsTotalAndLogAsTheBitmapReplies) {
  constexpr int64_t kReply = 130944;
  std::mt19937 random(22);
  TExtents scattered;
  for (int64_t at = 7; at < 700000; at += 1 + random() % 3000) {
    const int64_t clusters = 1 + random() % 400;
    if (at + clusters > 700000) break;
    scattered.emplace_back(at, clusters);
    at += clusters;
  }
  const struct {
    const char* name;
    int64_t count;
    TExtents free;
  } cases[] = {
      {"all free across seven reply ends", 1000000, {{0, 1000000}}},
      {"ending and starting at reply ends", 4 * kReply + 5, {{100, kReply - 100}, {2 * kReply, 9}}},
      {"one cluster either side of a reply end", 2 * kReply, {{kReply - 1, 1}, {kReply + 1, 1}}},
      {"runs over a reply end by one", 3 * kReply, {{kReply - 1, 2}, {2 * kReply - 2, 3}}},
      {"last cluster of an odd-sized volume", 13, {{12, 1}}},
      {"to the end past reply ends", 3 * kReply + 3, {{kReply / 2, 2 * kReply + kReply / 2 + 3}}},
      {"full volume", 300000, {}},
      {"many small stretches", 700000, scattered},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TStageResult bits = MapVolume(c.count, c.free, false);
    const TStageResult extents = MapVolume(c.count, c.free, true);
    EXPECT_EQ(extents.extents, bits.extents);
    EXPECT_EQ(extents.totalClusters, c.count);
    EXPECT_EQ(bits.totalClusters, c.count);
    EXPECT_EQ(extents.log, bits.log);
    EXPECT_EQ(extents.failure, bits.failure);
    EXPECT_EQ(extents.bitmapCalls, 0);
    EXPECT_EQ(extents.extentCalls, 1);
    EXPECT_EQ(bits.extentCalls, 0);
  }
  // The cases do what they say: reply ends cut the extents.
  EXPECT_EQ(MapVolume(1000000, {{0, 1000000}}, true).extents.size(), 8u);
  EXPECT_EQ(MapVolume(300000, {}, true).failure,
            "the volume has no free cluster: no runs were read");
}

// Stretches as the services might give them, touching, overlapping or
// reaching past the volume's end, are listed as the bitmap of the same free
// clusters reads reply by reply.
TEST(FreeSpaceAsExtents, TouchingOverlappingAndOverlongStretchesReadAsTheirBitmap) {
  constexpr int64_t kReply = 1000;  // small replies: many ends in few clusters
  const struct {
    const char* name;
    TFreeSpaceExtents space;
  } cases[] = {
      {"touching", {5000, {{10, 5}, {15, 20}, {35, 1}, {999, 1}, {1000, 1}}}},
      {"overlapping", {5000, {{10, 50}, {20, 5}, {40, 100}, {1990, 30}, {2000, 5}}}},
      {"past the end", {2500, {{2400, 50}, {2450, 1000000}}}},
      {"corrupt length", {2500, {{2499, INT64_MAX}}}},
      {"empty stretches", {3000, {{0, 0}, {5, 0}, {6, 2}, {3000, 4}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bits(static_cast<size_t>((c.space.clusterCount + 7) / 8), 0xFF);
    for (const auto& [first, clusters] : c.space.free) {
      for (int64_t at = first; at < c.space.clusterCount && at - first < clusters; ++at) {
        bits[static_cast<size_t>(at / 8)] &= static_cast<uint8_t>(~(1u << (at % 8)));
      }
    }
    TFragmentChain fromBits;
    int64_t scannedTo = 0;
    for (int64_t start = 0; start < c.space.clusterCount; start += kReply) {
      const int64_t count = std::min(kReply, c.space.clusterCount - start);
      scannedTo = AppendFreeRuns(bits.data() + start / 8, start, count, scannedTo, &fromBits);
    }
    TFragmentChain fromStretches;
    AppendFreeStretches(c.space, kReply, &fromStretches);
    TExtents expected;
    for (const TFragment* f = fromBits.head; f != nullptr; f = f->next) {
      expected.emplace_back(f->lcn, f->length);
    }
    TExtents listed;
    for (const TFragment* f = fromStretches.head; f != nullptr; f = f->next) {
      EXPECT_EQ(f->owner, nullptr);
      listed.emplace_back(f->lcn, f->length);
    }
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(listed, expected);
    ReleaseFragments(fromBits.head);
    ReleaseFragments(fromStretches.head);
  }
}

}  // namespace
