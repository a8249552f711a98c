// A window system for benchmarks: nobody shows a window there.
#pragma once

#include "platform/window_system.h"

class TNoWindows : public TWindowSystem {
 public:
  void CreateDrawingResources() override {}
  bool RegisterFragmentViewClass() override { return true; }
  void ShowMessage(const char*, const char*) override {}
  THandle StartDriveThread(TDriveOptimizer*) override { return InvalidHandle(); }
  void WaitForDriveThreads(const THandle*, int) override {}
  void CloseDriveThread(THandle) override {}
  void CreateDriveWindow(TDriveOptimizer&) override {}
  void RunMessageLoop(TDriveOptimizer&) override {}
  void PostFragmentsReady(TDriveOptimizer&) override {}
};
