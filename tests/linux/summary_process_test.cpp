// A whole headless run that analyses its drive prints the drive's summary on
// standard output once the work is over.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_volume_test_image.h"

namespace {

// Needs the program built next to the tests.
TEST(SummaryProcess, AHeadlessRunPrintsEachDrivesSummaryOnStandardOutput) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  TScratchFolder scratch;
  const std::string command = "cd '" + scratch.Path() +
                              "' && env -u DISPLAY -u WAYLAND_DISPLAY -u DISKOPT_SNAPSHOT "
                              "QT_QPA_PLATFORM=offscreen DISKOPT_DRIVE_D='" +
                              image.path + "' '" DISKOPT_BINARY "' D 2>/dev/null";
  const TCommandResult finished = RunCommand(command);
  const std::string& output = finished.output;
  const int status = finished.status;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  // The letter stands for the image, which the summary names.
  EXPECT_EQ(output.rfind(
                "Drive D: summary\n  Analysed:           " + image.path + ", an NTFS volume\n", 0),
            0u)
      << output;
  for (const char* line : {"  Items:", "  Fragmented files:", "  Largest free extent:",
                           "  Zone plan:", "  Volume plan:"}) {
    EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
  }
}

}  // namespace
