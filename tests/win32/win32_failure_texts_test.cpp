// What a Windows user is told when a drive cannot be analysed: the system's
// own words for the error, with the cure where one is known.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/win32/win32_error_text.h"
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

// Windows turns a refused move's status into an error code that may say
// something else: a target taken meanwhile (STATUS_ALREADY_COMMITTED) would
// read as a lack of rights.
TEST(Win32FailureTexts, ARefusedMoveIsToldByItsStatusNotByTheErrorWindowsMakesOfIt) {
  constexpr TNtStatus kStatusDiskFull = static_cast<TNtStatus>(0xC000007Fu);
  const struct {
    TNtStatus status;
    DWORD dosError;  // what RtlNtStatusToDosError gives for it
    const char* words;
    bool cure;  // the rights' cure is told
  } cases[] = {
      {kStatusAlreadyCommitted, ERROR_ACCESS_DENIED, "the target clusters are in use", false},
      {kStatusAccessDenied, ERROR_ACCESS_DENIED, "run diskopt as administrator", true},
      {kStatusNotSupported, ERROR_NOT_SUPPORTED, "does not move clusters", false},
      {kStatusInvalidParameter, ERROR_INVALID_PARAMETER, "refused the move", false},
      {kStatusDiskFull, ERROR_DISK_FULL, "", false},
  };
  for (const auto& c : cases) {
    const std::string text = Win32MoveRefusalText(c.status, c.dosError);
    const std::string expected = *c.words != '\0' ? c.words : Win32ErrorText(c.dosError);
    EXPECT_NE(text.find(expected), std::string::npos) << std::hex << c.status << ": " << text;
    EXPECT_EQ(text.find("administrator") != std::string::npos, c.cure) << text;
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
