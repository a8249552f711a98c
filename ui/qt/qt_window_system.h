// The window system on Qt. Every window lives on the GUI thread, which plays
// each drive thread's part: its drive window, the 500 ms refresh and the
// handler of the worker's notice, which the worker posts as a queued call.
// The process's final wait is the event loop, running until the last drive
// window has closed. Needs the QApplication, made before this object.
#pragma once

#include <cstdio>

#include "platform/window_system.h"

class TQtWindowSystem : public TWindowSystem {
 public:
  // The application's font and the fragment view's colours.
  void CreateDrawingResources() override;
  // Qt has no window class to register: always true.
  bool RegisterFragmentViewClass() override;
  // A modal QMessageBox with an OK button. Offscreen nobody could close it:
  // the caption, ": " and the text go to reports instead, and the message
  // counts as closed at once.
  void ShowMessage(const char* text, const char* caption) override;
  // A modal QMessageBox with Yes and No, No the default. Offscreen the
  // question goes to reports as a message does, and the answer is No.
  bool AskYesNo(TWindowHandle owner, const char* text, const char* caption) override;

  // Runs the drive thread's part on the GUI thread (RunDriveThread opens the
  // window, starts the worker and returns at once) and returns a token for
  // the drive, never InvalidHandle().
  THandle StartDriveThread(TDriveOptimizer* optimizer) override;
  // Runs the event loop until the window of every listed drive has closed
  // and gone; returns at once for none.
  void WaitForDriveThreads(const THandle* threads, int count) override;
  // Releases a token of StartDriveThread.
  void CloseDriveThread(THandle thread) override;

  void CreateDriveWindow(TDriveOptimizer& optimizer) override;
  // Returns at once: the GUI thread's event loop serves every drive window.
  void RunMessageLoop(TDriveOptimizer& optimizer) override;
  // Queues the notice to the drive window; a closed window loses it.
  void PostFragmentsReady(TDriveOptimizer& optimizer) override;
  // Queues the worker's end to the drive window; a closed window loses it.
  void PostWorkerFinished(TDriveOptimizer& optimizer) override;
  // Offscreen, the text goes to reports; in windows the panel shows it.
  void ReportSummary(const char* text) override;

  // Where messages and summaries go offscreen: standard output, unless the
  // export goes there. Set before the first drive starts; the GUI thread
  // alone writes to it.
  FILE* reports = stdout;
};
