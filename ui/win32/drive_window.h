// The drive window on Win32: a top-level window with two push buttons, a
// stage label, a status bar and a 500 ms refresh, created and served by the
// drive's own thread. Its geometry is ui/drive_window_layout's, its message
// dispatch ui/drive_window_messages'.
//
// Beyond the described window: "Pause" and "Stop" act on the drive's work
// (ui/work_controls: Stop ends it at the next item, and the stage label
// says "Stopped"; Pause holds it until pressed again, reading "Resume"
// meanwhile; both are disabled once the work is done); beside other drives'
// windows the window takes a place of its own (ui/window_placement); while
// an analysis runs, a progress bar in the status bar (ui/work_progress: busy
// with the items scanned beside it, then the items read of the total and
// the time left), the path staying in the status line; the map's selected
// item and its zoom and view in parts of the status bar; and the
// "Defragment..." and "Optimize layout..." buttons (and the map's menu
// items), offered once the drive is analysed, which ask first and run the
// moves of their kind on a worker of the drive (ui/window_moves); while they
// run the map follows the files, and when they end the window analyses the
// drive anew.
#pragma once

class TDriveOptimizer;

// On the drive thread: creates the drive window and its children, stores
// their handles in the drive optimizer, places and sizes the window and starts the
// refresh timer. When the window itself cannot be made, asks the worker to
// stop and posts the quit message, so the drive thread ends instead of
// waiting for a window nobody can close.
void CreateWin32DriveWindow(TDriveOptimizer& optimizer);
