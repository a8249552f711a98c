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
    default:
      return TDriveWindowAction::kDefault;
  }
}
