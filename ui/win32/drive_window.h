// The drive window on Win32: a top-level window with two push buttons, a
// stage label, a status bar and a 500 ms refresh, created and served by the
// drive's own thread. Its geometry is ui/drive_window_layout's, its message
// dispatch ui/drive_window_messages'.
//
// Beyond the described window: a "Defragment..." button (and the map's menu
// item), offered once the drive is analysed, which asks first and runs the
// moves on a worker of the drive (ui/window_moves); while they run "Pause"
// and "Stop" act on them and the map follows the files, and when they end
// the window analyses the drive anew.
#pragma once

class TDriveOptimizer;

// On the drive thread: creates the drive window and its children, stores
// their handles in the drive optimizer, sizes the window and starts the
// refresh timer. When the window itself cannot be made, asks the worker to
// stop and posts the quit message, so the drive thread ends instead of
// waiting for a window nobody can close.
void CreateWin32DriveWindow(TDriveOptimizer& optimizer);
