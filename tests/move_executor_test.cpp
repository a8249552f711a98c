// The defragmentation of a scripted drive, analysis and moves, when the
// volume does not go along: a target taken between reading the free space
// and moving, a file another program holds, files that grow or go away,
// moves the file system does not carry out, no administrator rights. Each
// ends with every file either moved whole or left with its reason, the
// volume's clusters never shared, and the run over.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "moving/defragment_stage.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"

namespace {

// Clusters 0-9 hold the volume's own structures; three fragmented files lie
// among free extents: b.bin (6 clusters, 3 pieces), a.bin (4, 2) and c.bin
// (3, 2), moved in that order (largest first).
class MoveExecutor : public testing::Test {
 protected:
  void SetUp() override {
    volume.logDirectory = logs.Path();
    volume.bitmap.assign(128, false);
    volume.TakeClusters(0, 10);
    AddFile("D:\\a.bin", {{2, 10}, {4, 20}});
    AddFile("D:\\b.bin", {{2, 30}, {4, 34}, {6, 38}});
    AddFile("D:\\c.bin", {{1, 44}, {3, 47}});
    // A run that loops instead of ending is stopped, so the test fails
    // rather than hangs.
    volume.moveFaults.beforeMove = [this](int call, const TMoveFileData& request) {
      if (call > 50) drive.moves.Stop();
      if (changeVolume) changeVolume(call, request);
    };
  }
  void AddFile(const std::string& path, std::vector<TScriptedRun> runs) {
    volume.AddFile(path, runs.back().nextVcn * 4096, runs);
    for (size_t i = 0; i < runs.size(); ++i) {
      const int64_t start = i == 0 ? 0 : runs[i - 1].nextVcn;
      volume.TakeClusters(runs[i].lcn, runs[i].nextVcn - start);
    }
  }

  // Analyses and defragments the drive.
  void Defragment() { drive.RunPipeline(kDefragmentStages); }

  // Pieces of a file as it now lies: physically contiguous runs.
  int Pieces(const std::string& path) {
    int pieces = 0;
    int64_t start = 0, nextLcn = -1;
    for (const TScriptedRun& run : volume.Node(path).runs) {
      if (run.lcn != nextLcn) ++pieces;
      nextLcn = run.lcn + (run.nextVcn - start);
      start = run.nextVcn;
    }
    return pieces;
  }
  // Every cluster of every file lies in one file only, is marked used, and
  // is none of the clusters given (taken by another program).
  void ExpectSoundVolume(const std::set<int64_t>& foreign = {}) {
    std::map<int64_t, std::string> owner;
    for (const char* path : {"D:\\a.bin", "D:\\b.bin", "D:\\c.bin"}) {
      if (!Exists(path)) continue;
      int64_t start = 0;
      for (const TScriptedRun& run : volume.Node(path).runs) {
        for (int64_t lcn = run.lcn; lcn < run.lcn + (run.nextVcn - start); ++lcn) {
          EXPECT_TRUE(owner.emplace(lcn, path).second)
              << path << " shares cluster " << lcn << " with " << owner[lcn];
          EXPECT_TRUE(volume.bitmap[static_cast<size_t>(lcn)]) << path << " on free " << lcn;
          EXPECT_EQ(foreign.count(lcn), 0u) << path << " on a taken cluster " << lcn;
        }
        start = run.nextVcn;
      }
    }
  }
  bool Exists(const std::string& path) {
    const THandle handle = volume.OpenForRead(path.c_str(), false);
    volume.Close(handle);
    return handle != InvalidHandle();
  }
  // Why the run left the file at listingPath; empty when it did not.
  std::string LeftBecause(const std::string& listingPath) {
    for (const TFileLeft& left : drive.movesDone.left) {
      if (left.listingPath == listingPath) return left.reason;
    }
    return std::string();
  }

  THostFolder logs;
  TScriptedVolume volume{'D'};
  TFakeWindowSystem windows;
  TDriveOptimizer drive{'D', volume, windows, kDefragmentStages};
  std::function<void(int, const TMoveFileData&)> changeVolume;  // the test's own hook
};

TEST_F(MoveExecutor, EveryFragmentedFileEndsWholeWhenNothingInterferes) {
  Defragment();
  EXPECT_EQ(drive.movesDone.failure, "");
  EXPECT_EQ(drive.movesDone.filesMoved, 3);
  for (const char* path : {"D:\\a.bin", "D:\\b.bin", "D:\\c.bin"}) EXPECT_EQ(Pieces(path), 1);
  EXPECT_EQ(volume.moveCalls, 3);
  ExpectSoundVolume();
}

TEST_F(MoveExecutor, ATargetTakenBeforeItsMoveLeavesThatFileAndTheOthersMoveOnTheFreeSpaceOfNow) {
  std::set<int64_t> taken;
  int bitmapReadsAtRefusal = 0;
  changeVolume = [&](int call, const TMoveFileData& request) {
    if (call != 0) return;
    volume.TakeClusters(request.startingLcn, request.clusterCount);
    for (uint32_t i = 0; i < request.clusterCount; ++i) taken.insert(request.startingLcn + i);
    bitmapReadsAtRefusal = volume.bitmapCalls;
  };
  Defragment();
  EXPECT_NE(LeftBecause("\\b.bin").find("the target clusters are in use"), std::string::npos)
      << LeftBecause("\\b.bin");
  EXPECT_EQ(Pieces("D:\\b.bin"), 3);
  EXPECT_GT(volume.bitmapCalls, bitmapReadsAtRefusal) << "the free space is read again";
  EXPECT_EQ(Pieces("D:\\a.bin"), 1);
  EXPECT_EQ(Pieces("D:\\c.bin"), 1);
  EXPECT_EQ(volume.moveCalls, 3);
  ExpectSoundVolume(taken);
  EXPECT_NE(drive.movesDone.failure.find("the target clusters are in use"), std::string::npos)
      << drive.movesDone.failure;
  // The journal says which step failed and why.
  const std::string journal = FileBytes(logs.Path() + "DirList_Applied.log");
  EXPECT_NE(journal.find("\\b.bin\t$DATA"), std::string::npos) << journal;
  EXPECT_NE(journal.find("failed: the target clusters are in use"), std::string::npos) << journal;
}

TEST_F(MoveExecutor, AFileAnotherProgramHoldsIsLeftWithItsReasonAndTheRestMove) {
  volume.Node("D:\\a.bin").lockedForMoves = true;
  Defragment();
  EXPECT_NE(LeftBecause("\\a.bin").find("being used by another process"), std::string::npos)
      << LeftBecause("\\a.bin");
  EXPECT_EQ(Pieces("D:\\a.bin"), 2);
  EXPECT_EQ(Pieces("D:\\b.bin"), 1);
  EXPECT_EQ(Pieces("D:\\c.bin"), 1);
  EXPECT_EQ(volume.moveCalls, 2) << "no request names the held file";
  ExpectSoundVolume();
}

TEST_F(MoveExecutor, FilesThatGrewOrWentAwaySinceTheAnalysisAreLeftUntouched) {
  // While the first file moves, another program appends to a.bin and
  // deletes c.bin.
  changeVolume = [&](int call, const TMoveFileData&) {
    if (call != 0) return;
    volume.GrowFile("D:\\a.bin", 100, 2);
    volume.Remove("D:\\c.bin");
  };
  Defragment();
  EXPECT_EQ(Pieces("D:\\b.bin"), 1);
  EXPECT_NE(LeftBecause("\\a.bin").find("changed"), std::string::npos) << LeftBecause("\\a.bin");
  EXPECT_EQ(volume.Node("D:\\a.bin").runs.size(), 3u) << "its runs as the other program left them";
  EXPECT_NE(LeftBecause("\\c.bin").find("cannot find"), std::string::npos)
      << LeftBecause("\\c.bin");
  EXPECT_EQ(volume.moveCalls, 1);
  ExpectSoundVolume();
}

TEST_F(MoveExecutor, MovesTheFileSystemDoesNotSupportEndTheRunWithTheReason) {
  volume.moveFaults.notSupported = true;
  Defragment();
  EXPECT_NE(drive.movesDone.failure.find("does not move clusters"), std::string::npos)
      << drive.movesDone.failure;
  EXPECT_NE(drive.FailureReason().find("does not move clusters"), std::string::npos);
  EXPECT_FALSE(drive.movesDone.stopped) << "the run ended by itself";
  EXPECT_EQ(drive.movesDone.filesMoved, 0);
  EXPECT_EQ(drive.movesDone.left.size(), 3u);
  EXPECT_LE(volume.moveCalls, 3) << "each file is tried once at most";
  EXPECT_EQ(Pieces("D:\\a.bin"), 2);
  EXPECT_EQ(Pieces("D:\\b.bin"), 3);
  ExpectSoundVolume();
}

TEST_F(MoveExecutor, WithoutAdministratorRightsNothingIsOpenedForMovesAndTheCureIsSaid) {
  volume.moveFaults.volumeOpenDenied = true;
  Defragment();
  EXPECT_FALSE(drive.movesDone.started);
  EXPECT_NE(drive.movesDone.failure.find("could not be opened for moves"), std::string::npos)
      << drive.movesDone.failure;
  EXPECT_NE(drive.FailureReason().find("Run diskopt as administrator"), std::string::npos)
      << drive.FailureReason();
  EXPECT_EQ(volume.moveCalls, 0);
  for (const std::string& open : volume.opened) {
    EXPECT_TRUE(open == "\\\\.\\D:|moves" || open.find("|moves") == std::string::npos) << open;
  }
  EXPECT_EQ(Pieces("D:\\b.bin"), 3);
}

}  // namespace
