// What a user is told when a drive cannot be analysed: the stage label still
// ends on "Finished", the status bar says what failed and why, and the run
// ends with status 3.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/program.h"
#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
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
      // Every log that failed is named.
      {"logs", [](TScriptedVolume& v) { v.logDirectory.clear(); },
       "the log C:\\dirlist_free.log could not be written: the scripted volume refused; the log "
       "C:\\DirList_rules.log could not be written: the scripted volume refused; the log "
       "c:\\DirList_Optimized.log could not be written: the scripted volume refused; the log "
       "C:\\DirList_Moves.log could not be written: the scripted volume refused"},
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

// A volume whose threads run to their end before the one that started them
// goes on, as a thread started ahead may well do.
class TThreadsAheadVolume : public TScriptedVolume {
 public:
  TThreadsAheadVolume() : TScriptedVolume('D') {}
  THandle StartThread(TThreadProc proc, void* parameter) override {
    THandle thread = TScriptedVolume::StartThread(proc, parameter);
    static_cast<THandleObject*>(thread)->Wait();
    return thread;
  }
};

// The moves log and the export are written on a thread beside the listing
// of the rules and optimized logs; whichever ends first, the files that
// could not be written are named in one order.
TEST_F(FailureReasons, LogsThatCannotBeWrittenAreNamedInOneOrderWhicheverThreadEndsFirst) {
  TThreadsAheadVolume ahead;
  ahead.AddFile("D:\\a.txt", 3, {{1, 5}});
  ahead.bitmap = volume.bitmap;
  TDriveOptimizer drive('D', ahead, windows, kDriveStages);
  drive.RunPipeline();
  EXPECT_EQ(drive.FailureReason(),
            "the log C:\\dirlist_free.log could not be written: the scripted volume refused; the "
            "log C:\\DirList_rules.log could not be written: the scripted volume refused; the log "
            "c:\\DirList_Optimized.log could not be written: the scripted volume refused; the log "
            "C:\\DirList_Moves.log could not be written: the scripted volume refused");
}

// The logs are put in place, or found unwritable, only when the run ends.
TEST_F(FailureReasons, TheFirstFailureIsTheOneShown) {
  volume.Node("D:\\").openFails = true;
  volume.logDirectory.clear();
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  drive.RunPipeline();
  EXPECT_EQ(drive.FailureReason(),
            "the root folder could not be opened: the scripted volume refused");
}

// A run whose files do not all fit puts none of them in place: the logs
// under the fixed names then all describe the previous run, never two.
TEST_F(FailureReasons, ALogThatCannotBeWrittenKeepsEveryFileOfTheRunBack) {
  const char* const names[] = {"dirlist_free.log", "DirList_rules.log", "DirList_Optimized.log",
                               "DirList_Moves.log"};
  for (const std::string failing :
       {"C:\\dirlist_free.log", "C:\\DirList_rules.log", "C:\\DirList_Moves.log"}) {
    THostFolder folder;
    for (const char* name : names) std::ofstream(folder.Path() + name) << "old " << name;
    TScriptedVolume scripted{'D'};
    scripted.AddFile("D:\\a.txt", 3, {{1, 5}});
    scripted.bitmap = volume.bitmap;
    scripted.logDirectory = folder.Path();
    scripted.logWritesFail = failing;
    TDriveOptimizer drive('D', scripted, windows, kDriveStages);
    drive.RunPipeline();
    EXPECT_EQ(drive.FailureReason(), "the log " + failing +
                                         " could not be written: " + std::strerror(EBADF) +
                                         "; no other file of this run was put in place either");
    // Every old log whole, and no new file left beside them.
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
      ++files;
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(FileBytes(entry.path().string()), "old " + name) << failing;
    }
    EXPECT_EQ(files, std::size(names)) << failing;
  }
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
