// What a Windows user is told when a drive cannot be analysed: the system's
// own words for the error, with the cure where one is known.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/win32/win32_services.h"
#include "tests/support/fake_window_system.h"

namespace {

TEST(Win32FailureTexts, TheSystemsWordsWithTheCureWhereOneIsKnown) {
  TWin32Services services;
  const struct {
    DWORD error;
    bool cure;
  } cases[] = {
      {ERROR_ACCESS_DENIED, true},
      {ERROR_PRIVILEGE_NOT_HELD, true},
      {ERROR_FILE_NOT_FOUND, false},
      {ERROR_NOT_SUPPORTED, false},
  };
  const std::string cure = " Run diskopt as administrator.";
  for (const auto& c : cases) {
    SetLastError(c.error);
    const std::string text = services.LastErrorText();
    EXPECT_GT(text.size(), c.cure ? cure.size() : 0) << c.error;
    EXPECT_EQ(text.find('\n'), std::string::npos) << c.error;
    const bool ends = text.size() >= cure.size() &&
                      text.compare(text.size() - cure.size(), cure.size(), cure) == 0;
    EXPECT_EQ(ends, c.cure) << c.error << ": " << text;
  }
}

// Wine opens the volume but answers the bitmap request with
// STATUS_NOT_SUPPORTED: the status bar says so in the system's words.
TEST(Win32FailureTexts, AVolumeWithoutABitmapSaysItsFreeSpaceCouldNotBeRead) {
  TWin32Services services;
  ASSERT_TRUE(services.ResolveFsControl());
  TFakeWindowSystem windows;
  TDriveOptimizer drive('C', services, windows, kDriveStages);
  drive.MapFreeSpace();
  const std::string prefix = "its free space could not be read: ";
  const std::string reason = drive.FailureReason();
  EXPECT_EQ(reason.compare(0, prefix.size(), prefix), 0) << reason;
  EXPECT_GT(reason.size(), prefix.size()) << reason;
}

}  // namespace
