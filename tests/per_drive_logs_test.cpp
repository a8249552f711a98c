// Several drives in one run each keep their own copy of every log beside the
// fixed names, which the last drive to write them wins.
#include <gtest/gtest.h>

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

TEST(PerDriveLogs, OwnNamesCarryTheLetterBeforeTheExtension) {
  TScriptedVolume volume;
  TFakeWindowSystem windows;
  const struct {
    char letter;
    bool perDrive;
    const char* fixed;
    std::vector<std::string> names;
  } cases[] = {
      {'D', false, "C:\\dirlist_free.log", {"C:\\dirlist_free.log"}},
      {'D', true, "C:\\dirlist_free.log", {"C:\\dirlist_free.log", "C:\\dirlist_free-D.log"}},
      {'e',
       true,
       "c:\\DirList_Optimized.log",
       {"c:\\DirList_Optimized.log", "c:\\DirList_Optimized-e.log"}},
      // A character that cannot stand in a file name is written as its code.
      {'*', true, "C:\\DirList_rules.log", {"C:\\DirList_rules.log", "C:\\DirList_rules-2A.log"}},
  };
  for (const auto& c : cases) {
    TDriveOptimizer drive(c.letter, volume, windows, kDriveStages);
    drive.perDriveLogs = c.perDrive;
    EXPECT_EQ(drive.LogNames(c.fixed), c.names) << c.letter;
  }
}

TEST(PerDriveLogs, OnlyARunOfSeveralDrivesWritesThem) {
  for (const char* line : {"diskopt D", "diskopt D D"}) {
    THostFolder logs;
    TScriptedVolume volume{'D'};
    volume.AddFile("D:\\a.txt", 3, {{1, 5}});
    volume.bitmap.assign(16, false);
    volume.bitmap[5] = true;  // a.txt's cluster
    volume.logDirectory = logs.Path();
    TFakeWindowSystem windows;
    TProgram program(volume, windows);
    EXPECT_EQ(program.Run(line), 0) << line;
    const bool several = std::string(line) == "diskopt D D";
    // Each analysed drive's summary once the run is over, in argument order.
    EXPECT_EQ(windows.summaries.size(), several ? 2u : 1u) << line;
    for (const std::string& summary : windows.summaries) {
      EXPECT_EQ(summary.rfind("Drive D: summary\n", 0), 0u) << summary;
    }
    for (const char* name : {"dirlist_free", "DirList_rules", "DirList_Optimized"}) {
      const std::string fixed = logs.Path() + name + ".log";
      const std::string own = logs.Path() + name + "-D.log";
      ASSERT_TRUE(FileExists(fixed)) << line << " " << name;
      EXPECT_EQ(FileExists(own), several) << line << " " << name;
      // Both drives analysed the same volume: each copy is whole.
      if (several) {
        EXPECT_EQ(FileBytes(own), FileBytes(fixed)) << name;
      }
    }
  }
}

}  // namespace
