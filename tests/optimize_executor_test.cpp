// Carrying out the zone layout on a scripted volume: files that hold each
// other's places are parted through free space, a file in the way goes
// straight to its own place, a target another program takes makes the rest
// be scheduled anew, a stop leaves a parked file whole for a second run to
// finish, and a file another program holds is left with its reason. Each
// ends with the volume's clusters never shared and never free under a file.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "moving/move_executor.h"
#include "tests/support/scripted_volume.h"

namespace {

using TRuns = std::vector<TFileRun>;

// 128 clusters; 0-9 hold the volume's own structures. Files are added with
// their place; the layout handed to the engine is read from the volume as
// it lies at that moment.
class OptimizeExecutor : public testing::Test {
 protected:
  void SetUp() override {
    volume.bitmap.assign(128, false);
    volume.TakeClusters(0, 10);
    volume.moveFaults.beforeMove = [this](int call, const TMoveFileData& request) {
      // A run that loops instead of ending is stopped, so the test fails
      // rather than hangs.
      if (call > 50) progress.Stop();
      if (changeVolume) changeVolume(call, request);
    };
  }
  // A file of one run of clusters at lcn whose place is placeLcn.
  void AddFile(const std::string& name, int64_t lcn, int64_t clusters, int64_t placeLcn) {
    volume.AddFile("D:\\" + name, clusters * 4096, {{clusters, lcn}});
    volume.TakeClusters(lcn, clusters);
    places["\\" + name] = TRuns{{0, placeLcn, clusters}};
  }
  // Runs of the file at listingPath as they lie now.
  TRuns RunsNow(const std::string& listingPath) {
    TRuns runs;
    int64_t vcn = 0;
    for (const TScriptedRun& run : volume.Node("D:" + listingPath).runs) {
      runs.push_back(TFileRun{vcn, run.lcn, run.nextVcn - vcn});
      vcn = run.nextVcn;
    }
    return runs;
  }
  // The layout of every file added, as the volume holds it now. The free
  // extents are read again by the engine.
  TMoveLayout LayoutNow() {
    TMoveLayout layout;
    layout.driveLetter = 'D';
    layout.totalClusters = 128;
    layout.clusterBytes = 4096;
    for (const auto& file : places) {
      layout.files.push_back(TMovableFile{file.first, volume.Node("D:" + file.first).fileId,
                                          TMoveStream::kData, RunsNow(file.first), ""});
      layout.places.push_back(file.second);
    }
    return layout;
  }
  void Optimize() { done = CarryOutOptimize(volume, LayoutNow(), nullptr, progress); }

  bool AtPlace(const std::string& listingPath) {
    return RunsNow(listingPath) == places[listingPath];
  }
  std::string LeftBecause(const std::string& listingPath) {
    for (const TFileLeft& left : done.left) {
      if (left.listingPath == listingPath) return left.reason;
    }
    return std::string();
  }
  // Every cluster of every file lies in one file only and is marked used.
  void ExpectSoundVolume() {
    std::map<int64_t, std::string> owner;
    for (const auto& file : places) {
      for (const TFileRun& run : RunsNow(file.first)) {
        for (int64_t lcn = run.lcn; lcn < run.lcn + run.length; ++lcn) {
          EXPECT_TRUE(owner.emplace(lcn, file.first).second)
              << file.first << " shares cluster " << lcn << " with " << owner[lcn];
          EXPECT_TRUE(volume.bitmap[static_cast<size_t>(lcn)]) << file.first << " on free " << lcn;
        }
      }
    }
  }

  TScriptedVolume volume{'D'};
  TMoveProgress progress;
  TMovesDone done;
  std::map<std::string, TRuns> places;  // by listing path
  std::function<void(int, const TMoveFileData&)> changeVolume;
};

TEST_F(OptimizeExecutor, EveryFileReachesItsPlaceParkingOnlyWhatACycleNeeds) {
  const struct {
    const char* what;
    std::vector<std::vector<int64_t>> files;  // lcn, clusters, place
    int64_t parked;
  } cases[] = {
      {"two files in each other's places", {{20, 8, 30}, {30, 8, 20}}, 8},
      {"three files in a ring", {{20, 4, 24}, {24, 4, 28}, {28, 4, 20}}, 4},
      {"a file in the way goes straight to its free place", {{20, 8, 40}, {40, 8, 60}}, 0},
  };
  for (const auto& c : cases) {
    SetUp();
    places.clear();
    progress.Restart();
    char name[] = "a.bin";
    for (const std::vector<int64_t>& file : c.files) {
      AddFile(name, file[0], file[1], file[2]);
      ++name[0];
    }
    Optimize();
    EXPECT_EQ(done.failure, "") << c.what;
    EXPECT_TRUE(done.left.empty()) << c.what << ": " << LeftBecause("\\a.bin");
    EXPECT_EQ(done.filesMoved, static_cast<int64_t>(c.files.size())) << c.what;
    for (const auto& file : places) EXPECT_TRUE(AtPlace(file.first)) << c.what << " " << file.first;
    EXPECT_EQ(done.clustersParked, c.parked) << c.what;
    EXPECT_EQ(done.clustersMoved, done.clustersNeeded + done.clustersParked) << c.what;
    EXPECT_EQ(progress.filesDone.load(), done.filesMoved) << c.what;
    ExpectSoundVolume();
    for (const auto& file : places) volume.Remove("D:" + file.first);
  }
}

TEST_F(OptimizeExecutor, ATargetTakenByAnotherProgramLeavesThatFileAndTheRestIsScheduledAnew) {
  // \a.bin goes first (its place comes first) and finds it taken; \b.bin
  // and \c.bin hold each other's places and are parted afterwards on the
  // free space read again.
  AddFile("a.bin", 100, 4, 12);
  AddFile("b.bin", 20, 8, 30);
  AddFile("c.bin", 30, 8, 20);
  int bitmapReadsAtRefusal = 0;
  changeVolume = [&](int call, const TMoveFileData& request) {
    if (call != 0) return;
    volume.TakeClusters(request.startingLcn, request.clusterCount);
    bitmapReadsAtRefusal = volume.bitmapCalls;
  };
  Optimize();
  EXPECT_NE(LeftBecause("\\a.bin").find("the target clusters are in use"), std::string::npos)
      << LeftBecause("\\a.bin");
  EXPECT_EQ(RunsNow("\\a.bin"), (TRuns{{0, 100, 4}}));
  EXPECT_GT(volume.bitmapCalls, bitmapReadsAtRefusal) << "the free space is read again";
  EXPECT_TRUE(AtPlace("\\b.bin"));
  EXPECT_TRUE(AtPlace("\\c.bin"));
  EXPECT_EQ(done.filesMoved, 2);
  ExpectSoundVolume();
}

TEST_F(OptimizeExecutor, AStopLeavesAParkedFileWholeAndASecondRunFinishes) {
  AddFile("a.bin", 20, 8, 30);
  AddFile("b.bin", 30, 8, 20);
  changeVolume = [&](int call, const TMoveFileData&) {
    if (call == 0) progress.Stop();
  };
  Optimize();
  EXPECT_TRUE(done.stopped);
  EXPECT_EQ(done.stepsDone, 1);
  EXPECT_EQ(done.filesMoved, 0);
  // Whichever of the two the schedule parted the cycle with lies whole out
  // of both places; the other has not moved.
  const TRuns a = RunsNow("\\a.bin");
  const TRuns b = RunsNow("\\b.bin");
  const bool aParked = !(a == TRuns{{0, 20, 8}});
  const TRuns& parked = aParked ? a : b;
  ASSERT_EQ(parked.size(), 1u) << "whole, out of the way";
  EXPECT_TRUE(parked.front().lcn >= 38 || parked.front().lcn + 8 <= 20) << parked.front().lcn;
  EXPECT_EQ(aParked ? b : a, aParked ? (TRuns{{0, 30, 8}}) : (TRuns{{0, 20, 8}}));
  ExpectSoundVolume();

  changeVolume = nullptr;
  progress.Restart();
  Optimize();
  EXPECT_FALSE(done.stopped);
  EXPECT_TRUE(done.left.empty()) << LeftBecause("\\a.bin") << LeftBecause("\\b.bin");
  EXPECT_TRUE(AtPlace("\\a.bin"));
  EXPECT_TRUE(AtPlace("\\b.bin"));
  EXPECT_EQ(done.clustersParked, 0) << "the cycle was parted by the first run";
  ExpectSoundVolume();
}

TEST_F(OptimizeExecutor, AFileLeftIsMovedOutOfTwoPlacesInTurnAndNamedOnceAsLeft) {
  // \a.bin's place holds the volume's own clusters, so it is left; it lies
  // across the places of \b.bin and \c.bin, and is moved out of each in
  // turn, with \b.bin's moves between.
  AddFile("a.bin", 20, 8, 4);
  AddFile("b.bin", 40, 4, 20);
  AddFile("c.bin", 50, 4, 24);
  Optimize();
  EXPECT_EQ(done.failure, "");
  ASSERT_EQ(done.left.size(), 1u) << done.left.back().listingPath << ": "
                                  << done.left.back().reason;
  EXPECT_EQ(LeftBecause("\\a.bin"),
            "its place holds clusters of the file system, which cannot move");
  EXPECT_TRUE(AtPlace("\\b.bin"));
  EXPECT_TRUE(AtPlace("\\c.bin"));
  EXPECT_EQ(done.filesMoved, 2);
  EXPECT_EQ(progress.filesDone.load(), done.filesMoved);
  EXPECT_EQ(done.clustersParked, 8);
  int64_t kept = 0;
  for (const TFileRun& run : RunsNow("\\a.bin")) {
    kept += run.length;
    EXPECT_TRUE(run.lcn >= 28) << "out of both places: " << run.lcn;
  }
  EXPECT_EQ(kept, 8);
  ExpectSoundVolume();
}

TEST_F(OptimizeExecutor, AFileLeftBeforeASurpriseIsStillMovedOutOfTheWayWhenScheduledAnew) {
  // \c.bin's place comes first and another program takes it: the rest is
  // scheduled anew before \a.bin, left (its place holds the volume's own
  // clusters), has moved out of \b.bin's place. Scheduled anew it is still
  // a file that may move, not clusters of the file system, so \b.bin gets
  // there.
  AddFile("a.bin", 20, 8, 4);
  AddFile("b.bin", 40, 8, 20);
  AddFile("c.bin", 100, 4, 12);
  changeVolume = [&](int call, const TMoveFileData& request) {
    if (call == 0) volume.TakeClusters(request.startingLcn, request.clusterCount);
  };
  Optimize();
  EXPECT_TRUE(AtPlace("\\b.bin")) << LeftBecause("\\b.bin");
  EXPECT_EQ(LeftBecause("\\a.bin"),
            "its place holds clusters of the file system, which cannot move");
  EXPECT_NE(LeftBecause("\\c.bin").find("the target clusters are in use"), std::string::npos)
      << LeftBecause("\\c.bin");
  EXPECT_EQ(done.left.size(), 2u) << "each file left is named once";
  EXPECT_EQ(done.filesMoved, 1);
  EXPECT_LE(progress.filesDone.load(), progress.filesTotal.load());
  ExpectSoundVolume();
}

TEST_F(OptimizeExecutor, AFileAnotherProgramHoldsIsLeftWithItsReasonAndTheOthersReachTheirPlaces) {
  AddFile("a.bin", 100, 4, 12);
  AddFile("b.bin", 20, 8, 30);
  AddFile("c.bin", 30, 8, 20);
  volume.Node("D:\\a.bin").lockedForMoves = true;
  Optimize();
  EXPECT_NE(LeftBecause("\\a.bin").find("being used by another process"), std::string::npos)
      << LeftBecause("\\a.bin");
  EXPECT_EQ(RunsNow("\\a.bin"), (TRuns{{0, 100, 4}}));
  EXPECT_TRUE(AtPlace("\\b.bin"));
  EXPECT_TRUE(AtPlace("\\c.bin"));
  EXPECT_EQ(done.filesMoved, 2);
  ExpectSoundVolume();
}

}  // namespace
