#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"

namespace {

// Records the order of the stages and lets each leave a chosen outcome.
struct TOutcome {
  bool makeRoot = true;
  bool makeFreeExtent = true;
  bool removeRoot = false;
};

TOutcome outcome;
std::vector<std::string> calls;
std::vector<std::string> textsAtOptimize;

char* Copy(const char* text) {
  char* copy = static_cast<char*>(std::malloc(std::strlen(text) + 1));
  std::strcpy(copy, text);
  return copy;
}

void ScanStage(TDriveOptimizer& drive) {
  calls.push_back("scan");
  if (outcome.makeRoot) drive.root = NewItem(nullptr, Copy("D:\\"), 0, kItemFolder);
}
void MapStage(TDriveOptimizer& drive) {
  calls.push_back("map");
  if (outcome.makeFreeExtent) drive.freeExtents = NewFragment(nullptr, 0, 10, 5);
}
void FillStage(TDriveOptimizer& drive) {
  calls.push_back("fill");
  if (outcome.removeRoot) {
    ReleaseItem(drive.root);
    drive.root = nullptr;
  }
}
void OptimizeStage(TDriveOptimizer& drive) {
  calls.push_back("optimize");
  textsAtOptimize = {drive.statusText.Get(), drive.detailText.Get()};
  drive.statusText.Set("Listing tree");
}

const TPipelineStages kInjected = {ScanStage, MapStage, FillStage, OptimizeStage, nullptr};

struct TPipelineCase {
  const char* name;
  TOutcome outcome;
  std::vector<std::string> stages;
  int notices;
};

class PipelineFrame : public testing::TestWithParam<TPipelineCase> {};

TEST_P(PipelineFrame, SkipsWhatNeedsAMissingResultAndEndsFinished) {
  TScriptedVolume volume;
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  outcome = GetParam().outcome;
  calls.clear();
  drive.RunPipeline(kInjected);
  EXPECT_EQ(calls, GetParam().stages);
  EXPECT_EQ(windows.noticesPosted, GetParam().notices);
  EXPECT_EQ(drive.statusText.Get(), "Finished");
  EXPECT_EQ(drive.detailText.Get(), "Finished");
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PipelineFrame,
    testing::Values(
        TPipelineCase{"NoRoot", {false, true, false}, {"scan"}, 0},
        TPipelineCase{"NoFreeExtents", {true, false, false}, {"scan", "map"}, 0},
        TPipelineCase{"RootRemovedByRetrieval", {true, true, true}, {"scan", "map", "fill"}, 1},
        TPipelineCase{"Complete", {true, true, false}, {"scan", "map", "fill", "optimize"}, 1}),
    [](const testing::TestParamInfo<TPipelineCase>& info) { return std::string(info.param.name); });

TEST(DriveOptimizer, ConstructionLeavesEmptyTextsAndZeroTables) {
  TScriptedVolume volume;
  TFakeWindowSystem windows;
  TDriveOptimizer drive('e', volume, windows, kDriveStages);
  EXPECT_EQ(drive.driveLetter, 'e');
  EXPECT_EQ(drive.statusText.Get(), "");
  EXPECT_EQ(drive.detailText.Get(), "");
  EXPECT_EQ(drive.root, nullptr);
  EXPECT_EQ(drive.freeExtents, nullptr);
  EXPECT_EQ(drive.clusterMap, nullptr);
  EXPECT_EQ(drive.fragmentView, nullptr);
  EXPECT_EQ(drive.mainWindow, nullptr);
  EXPECT_EQ(drive.totalClusters, 0);
  for (int zone = 0; zone < kZoneCount; ++zone) {
    EXPECT_EQ(drive.zoneCursor[zone], 0);
    EXPECT_EQ(drive.zoneClusters[zone], 0);
    EXPECT_EQ(drive.zoneFreeCursor[zone], nullptr);
  }
}

TEST(DriveOptimizer, OptimizingStageStartsWithItsOwnTexts) {
  TScriptedVolume volume;
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  outcome = TOutcome{};
  drive.RunPipeline(TPipelineStages{ScanStage, MapStage, FillStage,
                                    [](TDriveOptimizer& d) { d.OptimizeTree(); }, nullptr});
  EXPECT_EQ(drive.statusText.Get(), "Finished");
  EXPECT_EQ(windows.noticesPosted, 1);
}

TEST(DriveOptimizer, StopRequestSkipsTheRemainingStages) {
  TScriptedVolume volume;
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  outcome = TOutcome{};
  calls.clear();
  drive.RequestStop();
  drive.RunPipeline(kInjected);
  EXPECT_EQ(calls, (std::vector<std::string>{"scan"}));
  EXPECT_EQ(drive.statusText.Get(), "Stopped");
  EXPECT_EQ(drive.detailText.Get(), "Stopped before the end: no log was written");
}

// A stage that throws (memory ran out for a table) ends the drive with a
// reason; nothing leaves the worker, so the other drives go on.
TEST(DriveOptimizer, AStageThatThrowsEndsTheDriveWithAReason) {
  struct TThrowCase {
    void (*fill)(TDriveOptimizer&);
    const char* reason;
  };
  const TThrowCase cases[] = {
      {[](TDriveOptimizer&) { throw std::bad_alloc(); },
       "there was not enough memory to go on with the analysis"},
      {[](TDriveOptimizer&) { throw std::runtime_error("a thread could not start"); },
       "the analysis could not go on: a thread could not start"},
      {[](TDriveOptimizer&) { throw 7; }, "the analysis could not go on"},
  };
  for (const TThrowCase& test : cases) {
    TScriptedVolume volume;
    TFakeWindowSystem windows;
    TDriveOptimizer drive('D', volume, windows, kDriveStages);
    outcome = TOutcome{};
    EXPECT_NO_THROW(
        drive.RunPipeline(TPipelineStages{ScanStage, MapStage, test.fill, OptimizeStage, nullptr}));
    EXPECT_EQ(drive.statusText.Get(), "Finished");
    EXPECT_EQ(drive.FailureReason(), test.reason);
    EXPECT_EQ(drive.detailText.Get(), test.reason);
  }
}

// The real stages on a volume that cannot be opened: the scan runs, the
// free-space map finds nothing, no notice is posted, and the status bar says
// why.
TEST(DriveOptimizer, UnreadableVolumeEndsAfterTheFreeSpaceMap) {
  TScriptedVolume volume('D');
  volume.AddFile("D:\\a.txt", 3, {{1, 500}});
  volume.volumeOpenFails = true;
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  drive.RunPipeline();
  ASSERT_NE(drive.root, nullptr);
  EXPECT_NE(drive.root->firstChild, nullptr);
  EXPECT_EQ(drive.freeExtents, nullptr);
  EXPECT_EQ(windows.noticesPosted, 0);
  EXPECT_EQ(drive.statusText.Get(), "Finished");
  EXPECT_EQ(drive.detailText.Get(), "the volume could not be opened: the scripted volume refused");
}

}  // namespace
