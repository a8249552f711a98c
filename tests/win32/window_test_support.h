// What the tests of the Win32 windows share: the process-wide resources made
// once as the process entry makes them, the message pump of the test's
// thread, and the geometry of child windows.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <set>
#include <string>

#include "ui/drive_window_layout.h"

class TDriveOptimizer;
class TWin32WindowSystem;

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
// Every colour window shows in area (its client coordinates), read from the
// screen after any pending paint.
std::set<COLORREF> ColoursIn(HWND window, const RECT& area);
// The text of part of a status bar.
std::string StatusPartText(HWND statusBar, int part);

// Opens optimizer's drive window (then sized width x height at 0, 0 unless
// both are 0: its own place), then plays on the test's thread the worker of
// an analysis that ends well: the tree, the free space, the map's notice,
// the plan and the summary, "Finished" and the worker's end, each message
// dispatched as it comes.
void AnalyseInDriveWindow(TDriveOptimizer& optimizer, TWin32WindowSystem& windows, int width = 0,
                          int height = 0);
