// The drive window's message dispatch, free of any window system.
#include "ui/drive_window_messages.h"

#include <gtest/gtest.h>

#include "ui/map_commands.h"

namespace {

TEST(DriveWindowMessages, HandledMessagesByTheirPlatformNumbers) {
  EXPECT_EQ(DriveWindowActionFor(5), TDriveWindowAction::kLayout);
  EXPECT_EQ(DriveWindowActionFor(15), TDriveWindowAction::kPaint);
  EXPECT_EQ(DriveWindowActionFor(16), TDriveWindowAction::kClose);
  EXPECT_EQ(DriveWindowActionFor(275), TDriveWindowAction::kRefreshTexts);
  EXPECT_EQ(DriveWindowActionFor(1035), TDriveWindowAction::kShowClusterMap);
  // Beyond the described window: the buttons' clicks and the map's
  // "Defragment...", the worker's end, and the window's last message.
  EXPECT_EQ(DriveWindowActionFor(273), TDriveWindowAction::kCommand);
  EXPECT_EQ(DriveWindowActionFor(1036), TDriveWindowAction::kWorkerFinished);
  EXPECT_EQ(DriveWindowActionFor(130), TDriveWindowAction::kReleaseState);
  // The focus, which the map takes whenever the window has it.
  EXPECT_EQ(DriveWindowActionFor(6), TDriveWindowAction::kActivate);
  EXPECT_EQ(DriveWindowActionFor(7), TDriveWindowAction::kFocusMap);
  // The failure notice, which the window draws itself.
  EXPECT_EQ(DriveWindowActionFor(43), TDriveWindowAction::kDrawItem);
}

TEST(DriveWindowMessages, EverythingElseGetsDefaultProcessing) {
  // WM_DESTROY, WM_KILLFOCUS, WM_ERASEBKGND, WM_SYSCOMMAND, and the user
  // messages next to the notices.
  for (unsigned message : {2u, 8u, 20u, 274u, 1034u, 1037u}) {
    EXPECT_EQ(DriveWindowActionFor(message), TDriveWindowAction::kDefault) << message;
  }
}

TEST(DriveWindowMessages, CommandsByIdentifierNotificationAndControl) {
  int pause = 0;
  int stop = 0;
  int other = 0;
  struct TCase {
    unsigned identifier;
    unsigned notification;
    void* control;
    TDriveWindowCommand command;
  };
  const TCase cases[] = {
      // The described buttons keep identifier 0: their handles tell them apart.
      {0, 0, &pause, TDriveWindowCommand::kPause},
      {0, 0, &stop, TDriveWindowCommand::kStop},
      {0, 0, &other, TDriveWindowCommand::kNone},
      // "Defragment...": its button's click, and the map menu's item (no control).
      {kDefragmentCommandId, 0, &other, TDriveWindowCommand::kDefragment},
      {kDefragmentCommandId, 0, nullptr, TDriveWindowCommand::kDefragment},
      // "Optimize layout...", the same two ways.
      {kOptimizeCommandId, 0, &other, TDriveWindowCommand::kOptimize},
      {kOptimizeCommandId, 0, nullptr, TDriveWindowCommand::kOptimize},
      {kOptimizeCommandId, 6, &other, TDriveWindowCommand::kNone},
      // Notifications other than a click (BN_SETFOCUS 6, BN_KILLFOCUS 7)
      // and accelerators (1) are not commands.
      {0, 6, &pause, TDriveWindowCommand::kNone},
      {0, 7, &stop, TDriveWindowCommand::kNone},
      {kDefragmentCommandId, 1, nullptr, TDriveWindowCommand::kNone},
      // A menu's choice of identifier 0 is no button's click; nor is an
      // unknown identifier.
      {0, 0, nullptr, TDriveWindowCommand::kNone},
      {5, 0, &pause, TDriveWindowCommand::kNone},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(DriveWindowCommandFor(c.identifier, c.notification, c.control, &pause, &stop),
              c.command)
        << c.identifier << " " << c.notification;
  }
}

TEST(DriveWindowMessages, DefragmentCommandIsNoneOfTheMapsCommands) {
  // The map's menu returns both its own commands and the window's two.
  for (const unsigned windowCommand : {kDefragmentCommandId, kOptimizeCommandId}) {
    for (const TMapMenuItem& item : kMapMenu)
      EXPECT_NE(static_cast<unsigned>(item.command), windowCommand) << item.label;
    EXPECT_NE(static_cast<unsigned>(TMapCommand::kClearSelection), windowCommand);
  }
}

}  // namespace
