// The drive window's message dispatch, free of any window system.
#include "ui/drive_window_messages.h"

#include <gtest/gtest.h>

namespace {

TEST(DriveWindowMessages, HandledMessagesByTheirPlatformNumbers) {
  EXPECT_EQ(DriveWindowActionFor(5), TDriveWindowAction::kLayout);
  EXPECT_EQ(DriveWindowActionFor(15), TDriveWindowAction::kPaint);
  EXPECT_EQ(DriveWindowActionFor(16), TDriveWindowAction::kClose);
  EXPECT_EQ(DriveWindowActionFor(275), TDriveWindowAction::kRefreshTexts);
  EXPECT_EQ(DriveWindowActionFor(1035), TDriveWindowAction::kShowClusterMap);
}

TEST(DriveWindowMessages, EverythingElseGetsDefaultProcessing) {
  // WM_DESTROY, WM_ERASEBKGND, WM_COMMAND (the buttons' clicks), WM_SYSCOMMAND,
  // and the user messages next to the notice.
  for (unsigned message : {2u, 20u, 273u, 274u, 1034u, 1036u}) {
    EXPECT_EQ(DriveWindowActionFor(message), TDriveWindowAction::kDefault) << message;
  }
}

}  // namespace
