// The window system of the Windows build: one GUI thread per drive, each with
// its own drive window and message loop. Holds no state of its own (the
// drawing resources are process-wide), so the main thread, every drive thread
// and every worker use one instance at once.
#pragma once

#include "platform/window_system.h"

class TWin32WindowSystem : public TWindowSystem {
 public:
  void CreateDrawingResources() override;
  bool RegisterFragmentViewClass() override;
  void ShowMessage(const char* text, const char* caption) override;
  // MessageBoxA with MB_YESNO, No the default.
  bool AskYesNo(TWindowHandle owner, const char* text, const char* caption) override;

  THandle StartDriveThread(TDriveOptimizer* optimizer) override;
  void WaitForDriveThreads(const THandle* threads, int count) override;
  void CloseDriveThread(THandle thread) override;

  void CreateDriveWindow(TDriveOptimizer& optimizer) override;
  void RunMessageLoop(TDriveOptimizer& optimizer) override;
  void PostFragmentsReady(TDriveOptimizer& optimizer) override;
  // Posts kWmWorkerFinished to the drive window, so it can run the moves'
  // end and mark its own work over (window_moves.h).
  void PostWorkerFinished(TDriveOptimizer& optimizer) override;
};
