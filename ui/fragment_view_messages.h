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
constexpr unsigned kWmMouseMove = 512;
constexpr unsigned kWmContextMenu = 123;
constexpr unsigned kWmKeyDown = 256;
constexpr unsigned kWmChar = 258;
constexpr unsigned kWmMouseWheel = 522;

enum class TFragmentViewAction {
  kForgetWindow,  // WM_DESTROY: the window is gone, the object stays; result 0
  kSize,          // OnSize, then UpdateScrollBar; result 0
  kPaint,         // ComputeCells if dirty, then paint off screen; result 0
  kScroll,        // OnVScroll with the low word of wParam; result 0
  kIgnore,        // the left button's release: nothing, not passed on; result 0
  kSelect,        // left click: select the item of the cell, take the keys; result 0
  kHover,         // the mouse moved: the tooltip follows the cell; result 0
  kContextMenu,   // the map's menu at the mouse; result 0
  kKey,           // a key pressed: the arrows, Page Up / Down, Home, End scroll; result 0
  kCharacter,     // a typed key: zoom, plan, summary, legend, Escape; result 0
  kWheel,         // with Ctrl: zoom; otherwise default processing
  kCommand,       // a command of the map's menu; result 0
  kDefault,       // default processing and its result
};

TFragmentViewAction FragmentViewActionFor(unsigned message);
