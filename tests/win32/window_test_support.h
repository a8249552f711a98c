// What the tests of the Win32 windows share: the process-wide resources made
// once as the process entry makes them, the message pump of the test's
// thread, and the geometry of child windows.
#pragma once

#include <windows.h>

#include <array>
#include <functional>

#include "ui/drive_window_layout.h"

// The drawing resources, made on the first call.
void MakeDrawingResourcesOnce();
// Registers the fragment view class on the first call; the first call's
// result, every time.
bool RegisterFragmentViewClassOnce();

// Dispatches whatever the thread's queue holds, quit messages included.
void DispatchPending();
// Dispatches the thread's messages as they come (timer ticks included) until
// done() holds, at most timeoutMs milliseconds; whether it held.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);

// A child's rectangle in its parent's client coordinates.
TRect PlaceOf(HWND child);
// Where the map goes in driveWindow's client area as it is now (the
// layout's fragment view).
TRect MapAreaOf(HWND driveWindow);
// x, y, width and height, to compare rectangles in one expectation.
std::array<int, 4> Corners(const TRect& rect);
// How many windows are below window, at any depth.
int ChildCount(HWND window);
