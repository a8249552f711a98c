// What the program needs of a window system: the start-up resources, the
// message box, the drive thread's part (its window and message loop) and the
// worker's one notice. Win32 implements it with one GUI thread per drive
// (ui/win32); Qt with every window on the GUI thread, whose event loop is the
// final wait (ui/qt). Tests use a recording fake.
#pragma once

#include "platform/system_services.h"

class TDriveOptimizer;

// A top-level or child window: the HWND on Win32, the widget on Qt.
using TWindowHandle = void*;

constexpr unsigned kWmFragmentsReady = 1035;  // WM_USER + 11

class TWindowSystem {
 public:
  virtual ~TWindowSystem() = default;

  // The default GUI font and the fragment view's four brushes, created once
  // before any drive starts and never released.
  virtual void CreateDrawingResources() = 0;
  // Registers the fragment view's window class; false when that fails.
  virtual bool RegisterFragmentViewClass() = 0;
  // MessageBoxA with no owner and MB_OK; returns when it has been closed.
  virtual void ShowMessage(const char* text, const char* caption) = 0;
  // Beyond the described calls: MessageBoxA with the drive window as owner
  // and MB_YESNO; true for Yes. Where nobody can answer (no display) the
  // answer is No, so nothing that needs a Yes ever happens unasked: No by
  // default.
  virtual bool AskYesNo(TWindowHandle /*owner*/, const char* /*text*/, const char* /*caption*/) {
    return false;
  }

  // Starts the drive thread of a drive optimizer (DriveThreadProc) and
  // returns its handle, or InvalidHandle() when it cannot be started.
  virtual THandle StartDriveThread(TDriveOptimizer* optimizer) = 0;
  // Waits until every drive thread of the list has ended: their windows have
  // been closed.
  virtual void WaitForDriveThreads(const THandle* threads, int count) = 0;
  // Releases a drive thread's handle after the wait.
  virtual void CloseDriveThread(THandle thread) = 0;

  // On the drive thread: creates the drive window with its children and
  // 500 ms refresh, and stores their handles in the drive optimizer. The
  // worker starts next; a window system may leave the children to the start
  // of the message loop, so long as no notice of the worker reaches the
  // window before them.
  virtual void CreateDriveWindow(TDriveOptimizer& optimizer) = 0;
  // On the drive thread: the message loop, until the window has been closed.
  // Closing a drive window asks its worker to stop (RequestStop), so the
  // process can end soon after the last window without cutting a worker off.
  virtual void RunMessageLoop(TDriveOptimizer& optimizer) = 0;
  // On the worker: posts WM_FRAGMENTS_READY to the drive window with both
  // parameters 0. The result is ignored (a closed window loses the notice).
  virtual void PostFragmentsReady(TDriveOptimizer& optimizer) = 0;
  // On the worker, once its pipeline has ended, after any notice: tells the
  // drive window that the work is over, so a window that closes itself when
  // done does so at once. A window the user closes needs no such word:
  // nothing by default.
  virtual void PostWorkerFinished(TDriveOptimizer& /*optimizer*/) {}
  // On the main thread, once every drive has ended: a drive's summary where
  // nobody could ask a window for it (a run without a display prints it to
  // standard output). A window shows it on request instead: nothing by
  // default.
  virtual void ReportSummary(const char* /*text*/) {}
};
