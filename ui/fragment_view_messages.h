// How the fragment view answers its messages, free of any window system: the
// message numbers it handles and the action each one asks for. The Win32
// window procedure binds each action to its handler.
#pragma once

#include "ui/drive_window_messages.h"

// Message numbers the view handles, beyond those of drive_window_messages.h.
constexpr unsigned kWmDestroy = 2;
constexpr unsigned kWmVScroll = 277;
constexpr unsigned kWmLButtonDown = 513;
constexpr unsigned kWmLButtonUp = 514;

enum class TFragmentViewAction {
  kForgetWindow,  // WM_DESTROY: the window is gone, the object stays; result 0
  kSize,          // OnSize, then UpdateScrollBar; result 0
  kPaint,         // ComputeCells if dirty, then paint off screen; result 0
  kScroll,        // OnVScroll with the low word of wParam; result 0
  kIgnore,        // mouse clicks: nothing, not passed on; result 0
  kDefault,       // default processing and its result
};

TFragmentViewAction FragmentViewActionFor(unsigned message);
