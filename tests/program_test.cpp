#include "app/program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/windows_usage.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"

namespace {

class ProgramRun : public testing::Test {
 protected:
  TScriptedVolume volume{'D'};
  TFakeWindowSystem windows;
};

TEST_F(ProgramRun, MissingNativeEntryEndsWithCodeOneBeforeAnythingElse) {
  volume.missingNtFsControlFile = true;
  TProgram program(volume, windows);
  EXPECT_EQ(program.Run("diskopt C"), 1);
  EXPECT_EQ(windows.events,
            (std::vector<std::string>{"message:Error:Could not find NtFsControlFile entry point in "
                                      "NTDLL.DLL\n"}));
}

TEST_F(ProgramRun, FailedClassRegistrationEndsWithCodeTwo) {
  windows.failRegistration = true;
  TProgram program(volume, windows);
  EXPECT_EQ(program.Run("diskopt C"), 2);
  EXPECT_EQ(windows.events,
            (std::vector<std::string>{"resources", "register",
                                      "message:Error:Could not initialize fragment viewer\n"}));
  EXPECT_TRUE(windows.drivesStarted.empty());
}

TEST_F(ProgramRun, DrivesStartInArgumentOrderAndAreAllWaitedFor) {
  TProgram program(volume, windows);
  // C and c are no drives of the scripted volume, which has no bitmap either.
  EXPECT_EQ(program.Run("diskopt C -O D c:\\"), kExitNotAnalysed);
  EXPECT_EQ(windows.drivesStarted, (std::vector<char>{'C', 'D', 'c'}));
  EXPECT_EQ(windows.threadsWaitedFor.size(), 3u);
  EXPECT_EQ(windows.events.back(), "close:c");
}

TEST_F(ProgramRun, NoDriveArgumentsMeansNothingToWaitFor) {
  for (const char* line :
       {"diskopt", "diskopt -x C", "diskopt - C", "diskopt \"\"", "diskopt -o"}) {
    TFakeWindowSystem quiet;
    TProgram program(volume, quiet);
    EXPECT_EQ(program.Run(line), 0) << line;
    EXPECT_TRUE(quiet.drivesStarted.empty()) << line;
    EXPECT_EQ(quiet.events.back(), "wait:0") << line;
  }
}

// "/?" and "--help" anywhere show the usage and start nothing, status 0;
// inside quotes, glued to more, or as another switch they are no request.
TEST_F(ProgramRun, HelpShowsTheUsageInAMessageAndStartsNothing) {
  const std::string usage = std::string("message:") + kUsageCaption + ":" + WindowsUsage();
  for (const char* line : {"diskopt /?", "diskopt --help", "diskopt C /?", "diskopt -o --help D"}) {
    TFakeWindowSystem asked;
    TProgram program(volume, asked);
    EXPECT_EQ(program.Run(line), 0) << line;
    EXPECT_EQ(asked.events, (std::vector<std::string>{usage})) << line;
    EXPECT_TRUE(asked.drivesStarted.empty()) << line;
  }
  for (const char* line : {"diskopt \"/? \"", "diskopt --helpme", "diskopt -? C", "diskopt /?x"}) {
    EXPECT_FALSE(AsksForHelp(line)) << line;
  }
  EXPECT_FALSE(AsksForHelp("/? C")) << "the program's own name is never a request";
  EXPECT_NE(std::string(WindowsUsage()).find("--defragment"), std::string::npos);
}

TEST_F(ProgramRun, ReportComesBeforeTheDriveThatFollowsIt) {
  volume.AddFolder("D:\\a");
  volume.AddFile("D:\\a\\x.txt", 1, {});
  volume.AddFile("D:\\a\\y.txt", 1, {});
  TProgram program(volume, windows);
  // The volume has no bitmap: the drive is not analysed.
  EXPECT_EQ(program.Run("diskopt -m D:\\ -o D"), kExitNotAnalysed);
  ASSERT_GE(windows.events.size(), 4u);
  EXPECT_EQ(windows.events[2],
            "message:info:Files: 2 (0 K)\nFolders: 1 (0 K)\n\nFile names: 10 (0 K)\nFolder "
            "names: 1 (0 K)");
  EXPECT_EQ(windows.events[3], "drive:D");
}

TEST_F(ProgramRun, DriveRunsItsPipelineOnTheGivenServices) {
  volume.AddFile("D:\\a.txt", 3, {{1, 500}});
  volume.volumeOpenFails = true;  // the free-space map ends the pipeline
  TProgram program(volume, windows);
  EXPECT_EQ(program.Run("diskopt D"), kExitNotAnalysed);
  ASSERT_GE(volume.opened.size(), 1u);
  EXPECT_EQ(volume.opened[0], "\\\\.\\D:|plain");
}

TEST_F(ProgramRun, WindowClosedEarlyStopsTheWorkerBeforeExit) {
  windows.closeAtOnce = true;
  for (int i = 0; i < 300; ++i) volume.AddFolder("D:\\f" + std::to_string(i));
  // A volume the drive can analyse whole, whenever the stop reaches it.
  volume.bitmap.assign(64, false);
  THostFolder logs;
  volume.logDirectory = logs.Path();
  TProgram program(volume, windows);
  EXPECT_EQ(program.Run("diskopt D D D"), 0);  // returns only once every worker has ended
  EXPECT_TRUE(program.drives.empty());
}

TEST(DriveThreadList, KeepsArgumentOrder) {
  TScriptedVolume volume;
  TFakeWindowSystem windows;
  TProgram program(volume, windows);
  std::vector<THandle> handles;
  for (uintptr_t i = 1; i <= 21; ++i) {
    handles.push_back(reinterpret_cast<THandle>(i));
    program.AddDriveThread(handles.back());
  }
  EXPECT_EQ(program.driveThreads, handles);
}

TEST_F(ProgramRun, ElevenDrivesGrowTheListTwiceAndAllAreWaitedFor) {
  TProgram program(volume, windows);
  EXPECT_EQ(program.Run("diskopt A B C D E F G H I J K"), kExitNotAnalysed);
  EXPECT_EQ(windows.drivesStarted,
            (std::vector<char>{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K'}));
  EXPECT_EQ(windows.threadsWaitedFor.size(), 11u);
}

}  // namespace
