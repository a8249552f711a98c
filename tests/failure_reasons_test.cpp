// What a user is told when a drive cannot be analysed: the stage label still
// ends on "Finished", the status bar says what failed and why, and the run
// ends with status 3.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/program.h"
#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"

namespace {

// A volume the drive analyses whole: one file, free space, a log folder.
class FailureReasons : public testing::Test {
 protected:
  void SetUp() override {
    volume.AddFile("D:\\a.txt", 3, {{1, 5}});
    volume.bitmap.assign(16, false);
    volume.bitmap[5] = true;
    volume.logDirectory = logs.Path();
  }

  THostFolder logs;
  TScriptedVolume volume{'D'};
  TFakeWindowSystem windows;
};

TEST_F(FailureReasons, EachStageThatCannotWorkSaysWhatFailedInsteadOfFinished) {
  const struct {
    const char* name;
    std::function<void(TScriptedVolume&)> spoil;
    std::string reason;  // empty: the drive is analysed
  } cases[] = {
      {"analysed", [](TScriptedVolume&) {}, ""},
      {"volume", [](TScriptedVolume& v) { v.volumeOpenFails = true; },
       "the volume could not be opened: the scripted volume refused"},
      {"bitmap", [](TScriptedVolume& v) { v.bitmapFaults.failAtCall = 0; },
       "its free space could not be read: the scripted volume refused"},
      {"full", [](TScriptedVolume& v) { v.bitmap.assign(16, true); },
       "the volume has no free cluster: no runs were read"},
      {"root", [](TScriptedVolume& v) { v.Node("D:\\").openFails = true; },
       "the root folder could not be opened: the scripted volume refused"},
      {"logs", [](TScriptedVolume& v) { v.logDirectory.clear(); },
       "the log C:\\dirlist_free.log could not be written: the scripted volume refused"},
  };
  for (const auto& c : cases) {
    TScriptedVolume scripted{'D'};
    scripted.AddFile("D:\\a.txt", 3, {{1, 5}});
    scripted.bitmap = volume.bitmap;
    scripted.logDirectory = volume.logDirectory;
    c.spoil(scripted);
    TDriveOptimizer drive('D', scripted, windows, kDriveStages);
    drive.RunPipeline();
    EXPECT_EQ(drive.statusText.Get(), "Finished") << c.name;
    EXPECT_EQ(drive.FailureReason(), c.reason) << c.name;
    EXPECT_EQ(drive.detailText.Get(), c.reason.empty() ? "Finished" : c.reason) << c.name;
  }
}

TEST_F(FailureReasons, TheFirstFailureIsTheOneShown) {
  volume.Node("D:\\").openFails = true;
  volume.logDirectory.clear();
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  drive.RunPipeline();
  EXPECT_EQ(drive.FailureReason(),
            "the log C:\\dirlist_free.log could not be written: the scripted volume refused");
}

TEST_F(FailureReasons, ExitStatusIsThreeWhenAnyDriveOrPathFails) {
  volume.AddFolder("D:\\docs");
  const struct {
    const char* line;
    int status;
  } cases[] = {
      {"diskopt D", 0},
      {"diskopt -m D:\\docs\\", 0},
      {"diskopt D E", kExitNotAnalysed},  // E is no drive at all
      {"diskopt -m D:\\missing\\", kExitNotAnalysed},
  };
  for (const auto& c : cases) {
    TFakeWindowSystem quiet;
    TProgram program(volume, quiet);
    EXPECT_EQ(program.Run(c.line), c.status) << c.line;
  }
}

TEST_F(FailureReasons, MissingFolderIsSaidInsteadOfCountedAsZeros) {
  TProgram program(volume, windows);
  program.Run("diskopt -m D:\\missing\\");
  EXPECT_EQ(windows.events,
            (std::vector<std::string>{
                "resources", "register",
                "message:Error:D:\\missing\\ could not be listed: the scripted volume refused",
                "wait:0"}));
}

}  // namespace
