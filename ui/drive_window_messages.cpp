#include "ui/drive_window_messages.h"

TDriveWindowAction DriveWindowActionFor(unsigned message) {
  switch (message) {
    case kWmSize:
      return TDriveWindowAction::kLayout;
    case kWmPaint:
      return TDriveWindowAction::kPaint;
    case kWmClose:
      return TDriveWindowAction::kClose;
    case kWmTimer:
      return TDriveWindowAction::kRefreshTexts;
    case kWmFragmentsReady:
      return TDriveWindowAction::kShowClusterMap;
    case kWmCommand:
      return TDriveWindowAction::kCommand;
    case kWmWorkerFinished:
      return TDriveWindowAction::kWorkerFinished;
    case kWmNcDestroy:
      return TDriveWindowAction::kReleaseState;
    case kWmActivate:
      return TDriveWindowAction::kActivate;
    case kWmSetFocus:
      return TDriveWindowAction::kFocusMap;
    case kWmDrawItem:
      return TDriveWindowAction::kDrawItem;
    default:
      return TDriveWindowAction::kDefault;
  }
}

TDriveWindowCommand DriveWindowCommandFor(unsigned identifier, unsigned notification,
                                          TWindowHandle control, TWindowHandle pauseButton,
                                          TWindowHandle stopButton) {
  // BN_CLICKED and a menu's choice; a button's focus and the like are not
  // clicks.
  if (notification != 0) return TDriveWindowCommand::kNone;
  if (identifier == kDefragmentCommandId) return TDriveWindowCommand::kDefragment;
  if (identifier == kOptimizeCommandId) return TDriveWindowCommand::kOptimize;
  if (identifier != 0 || control == nullptr) return TDriveWindowCommand::kNone;
  if (control == pauseButton) return TDriveWindowCommand::kPause;
  if (control == stopButton) return TDriveWindowCommand::kStop;
  return TDriveWindowCommand::kNone;
}
