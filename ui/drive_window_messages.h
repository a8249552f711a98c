// How the drive window answers its messages, free of any window system: the
// message numbers it handles and the action each one asks for. The Win32
// window procedure binds each action to its handler.
#pragma once

#include "platform/window_system.h"

constexpr unsigned kWmSize = 5;
constexpr unsigned kWmActivate = 6;
constexpr unsigned kWmSetFocus = 7;
constexpr unsigned kWmPaint = 15;
constexpr unsigned kWmDrawItem = 43;
constexpr unsigned kWmClose = 16;
constexpr unsigned kWmNcDestroy = 130;
constexpr unsigned kWmCommand = 273;
constexpr unsigned kWmTimer = 275;
// Beyond the described notice: the worker's end (PostWorkerFinished), posted
// to the drive window with both parameters 0 after any WM_FRAGMENTS_READY.
constexpr unsigned kWmWorkerFinished = 1036;  // WM_USER + 12

enum class TDriveWindowAction {
  kLayout,          // lay the children out for the new client size; result 0
  kPaint,           // draw the sunken frame over the client area; result 0
  kClose,           // stop the worker, end the loop, then default processing
  kRefreshTexts,    // show the current statusText and detailText; result 0
  kShowClusterMap,  // the worker's notice: the drive's runs are known; result 0
  // Beyond the described window:
  kCommand,         // a button's click, the map's "Defragment...": DriveWindowCommandFor; result 0
  kWorkerFinished,  // a worker of the drive has ended; result 0
  kReleaseState,    // the window is gone: release what it kept, then default processing
  kActivate,        // becoming active, the map takes the keys (result 0); else default processing
  kFocusMap,        // the focus goes on to the map (result 0); without one, default processing
  kDrawItem,        // draw an owner-drawn child (the failure notice); result TRUE
  kDefault,         // default processing and its result
};

// The action for a message number. Every timer tick refreshes, whatever the
// timer's identifier.
TDriveWindowAction DriveWindowActionFor(unsigned message);

// Beyond the described children: the "Defragment..." button's text and
// control identifier, which the map's context menu item shares, so that
// either sends WM_COMMAND with it to the drive window. Far above the map's
// own commands (TMapCommand), which the same menu returns.
constexpr const char* kDefragmentLabel = "Defragment...";
constexpr unsigned kDefragmentCommandId = 100;
// The "Optimize layout..." button and menu item, the same way.
constexpr const char* kOptimizeLabel = "Optimize layout...";
constexpr unsigned kOptimizeCommandId = 101;

// What a WM_COMMAND asks of the drive window.
enum class TDriveWindowCommand {
  kNone,        // not the window's: a notification other than a click, or unknown
  kPause,       // the "Pause" button (Pause and Resume while moves run)
  kStop,        // the "Stop" button
  kDefragment,  // the "Defragment..." button or menu item
  kOptimize,    // the "Optimize layout..." button or menu item
};

// The command of WM_COMMAND with identifier (the low word of wParam),
// notification (the high word: BN_CLICKED and menus give 0) and control
// (lParam: the control's handle, none for a menu). The "Pause" and "Stop"
// buttons keep their described identifier 0, so they are told apart by
// their handles, pauseButton and stopButton.
TDriveWindowCommand DriveWindowCommandFor(unsigned identifier, unsigned notification,
                                          TWindowHandle control, TWindowHandle pauseButton,
                                          TWindowHandle stopButton);
