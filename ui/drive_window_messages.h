// How the drive window answers its messages, free of any window system: the
// message numbers it handles and the action each one asks for. The Win32
// window procedure binds each action to its handler.
#pragma once

#include "platform/window_system.h"

constexpr unsigned kWmSize = 5;
constexpr unsigned kWmPaint = 15;
constexpr unsigned kWmClose = 16;
constexpr unsigned kWmTimer = 275;

enum class TDriveWindowAction {
  kLayout,          // lay the children out for the new client size; result 0
  kPaint,           // draw the sunken frame over the client area; result 0
  kClose,           // stop the worker, end the loop, then default processing
  kRefreshTexts,    // show the current statusText and detailText; result 0
  kShowClusterMap,  // the worker's notice: the drive's runs are known; result 0
  kDefault,         // default processing and its result
};

// The action for a message number. Every timer tick refreshes, whatever the
// timer's identifier; the buttons' notifications get default processing.
TDriveWindowAction DriveWindowActionFor(unsigned message);
