// A whole headless run that cannot analyse its drive, as a user at a terminal
// meets it: the reason on standard error, exit status 3.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/linux/linux_services_test_support.h"

namespace {

struct TRun {
  std::string output;  // what the command's standard output gave
  int status;          // its exit status; -1 when it did not exit
};

TRun RunCommand(const std::string& command) {
  TRun run{std::string(), -1};
  FILE* program = popen(command.c_str(), "r");
  if (program == nullptr) return run;
  char chunk[256];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, program)) > 0) run.output.append(chunk, got);
  const int status = pclose(program);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The program built next to the tests, with no display, in folder.
std::string Headless(const std::string& folder, const std::string& environment) {
  return "cd '" + folder +
         "' && env -u DISPLAY -u WAYLAND_DISPLAY -u DISKOPT_SNAPSHOT QT_QPA_PLATFORM=offscreen " +
         environment + " '" DISKOPT_BINARY "'";
}

TEST(FailureProcess, AnUnanalysableDriveSaysWhyOnStandardErrorAndEndsWithThree) {
  TScratchFolder scratch;
  const std::string missing = scratch / "missing.img";
  const TRun run = RunCommand(Headless(scratch.Path(), "DISKOPT_DRIVE_D='" + missing + "'") +
                              " D 2>&1 >/dev/null");
  EXPECT_NE(run.output.find("diskopt: D: the volume could not be opened: DISKOPT_DRIVE_D=" +
                            missing + " names no NTFS image"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.status, 3);
}

TEST(FailureProcess, AMinusMPathThatDoesNotExistSaysSoAndEndsWithThree) {
  TScratchFolder scratch;
  const std::string missing = scratch / "nonexistent";
  // With its separator or without, the path is looked up first, and the
  // system's reason said as this system's tools say it; nothing is counted.
  for (const std::string& path : {missing + "/", missing}) {
    const TRun run = RunCommand(Headless(scratch.Path(), "") + " -m '" + path + "' 2>&1");
    EXPECT_EQ(run.output, "diskopt: " + path + ": No such file or directory\n");
    EXPECT_EQ(run.status, 3);
  }
}

}  // namespace
