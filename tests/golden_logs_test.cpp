// The three logs of a small scripted drive, compared byte for byte with the
// files checked in under tests/golden/. Both builds must write these bytes.
#include <gtest/gtest.h>

#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"

namespace {

void BuildGoldenVolume(TScriptedVolume& volume) {
  volume.bitmap.assign(80, true);
  for (int free : {4, 5, 6, 7, 25, 26, 70, 71, 72, 79})
    volume.bitmap[static_cast<size_t>(free)] = false;
  volume.Node("D:\\").runs = {{2, 0}};
  volume.AddFile("D:\\setup.exe", 12000, {{3, 10}});
  volume.AddFolder("D:\\docs");
  volume.AddFile("D:\\docs\\readme.txt", 1000, {{1, 20}});
  volume.AddFile("D:\\docs\\report 100%.txt", 6000, {{1, 21}, {2, 45}});
  volume.AddFolder("D:\\media").runs = {{1, 2}};
  volume.AddFile("D:\\media\\movie.avi", 20000, {{4, 30}, {6, 40}});
  volume.AddFile("D:\\big.iso", 5000000, {{10, 50}});
  volume.AddFile("D:\\sparse.dat", 16384, {{2, 60}, {4, -1}});
  volume.AddFile("D:\\empty.txt", 0, {});
  volume.AddFile("D:\\locked.txt", 10, {{1, 23}}).openFails = true;
}

TEST(GoldenLogs, SmallDriveWritesTheCheckedInLogs) {
  THostFolder logs;
  TScriptedVolume volume('D');
  volume.logDirectory = logs.Path();
  BuildGoldenVolume(volume);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  drive.RunPipeline();
  ASSERT_EQ(drive.statusText.Get(), "Finished");
  const std::string golden = std::string(DISKOPT_SOURCE_DIR) + "/tests/golden/";
  for (const char* name : {"dirlist_free.log", "DirList_rules.log", "DirList_Optimized.log"}) {
    const std::string expected = FileBytes(golden + name);
    ASSERT_FALSE(expected.empty()) << "missing golden file " << golden + name;
    EXPECT_EQ(FileBytes(logs.Path() + name), expected) << name;
  }
}

// The volume-aware plan's moves log of the same drive, also checked in:
// the moves that a person has read and found sound for this layout.
TEST(GoldenLogs, SmallDriveWritesTheCheckedInMovesLog) {
  THostFolder logs;
  TScriptedVolume volume('D');
  volume.logDirectory = logs.Path();
  BuildGoldenVolume(volume);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  drive.RunPipeline();
  ASSERT_EQ(drive.statusText.Get(), "Finished");
  const std::string golden = std::string(DISKOPT_SOURCE_DIR) + "/tests/golden/DirList_Moves.log";
  const std::string expected = FileBytes(golden);
  ASSERT_FALSE(expected.empty()) << "missing golden file " << golden;
  EXPECT_EQ(FileBytes(logs.Path() + "DirList_Moves.log"), expected);
}

}  // namespace
