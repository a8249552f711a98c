// A window system that records what the program asks of it, for tests of the
// entry, the command line and the pipeline. Drive threads are real threads
// that run RunDriveThread; the message loop waits until the test closes the
// drive's window or its worker has finished.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drive/drive_optimizer.h"
#include "platform/window_system.h"

class TFakeWindowSystem : public TWindowSystem {
 public:
  ~TFakeWindowSystem() override;

  void CreateDrawingResources() override;
  bool RegisterFragmentViewClass() override;
  void ShowMessage(const char* text, const char* caption) override;
  THandle StartDriveThread(TDriveOptimizer* optimizer) override;
  void WaitForDriveThreads(const THandle* threads, int count) override;
  void CloseDriveThread(THandle thread) override;
  void CreateDriveWindow(TDriveOptimizer& optimizer) override;
  void RunMessageLoop(TDriveOptimizer& optimizer) override;
  void PostFragmentsReady(TDriveOptimizer& optimizer) override;
  void ReportSummary(const char* text) override { summaries.push_back(text); }

  // Set before the run: the class registration fails; drives' windows close
  // at once (the loop returns without waiting for the worker).
  bool failRegistration = false;
  bool closeAtOnce = false;

  // What happened, in order; guarded by lock.
  std::mutex lock;
  std::vector<std::string> events;     // "resources", "register", "message:<caption>:<text>", ...
  std::vector<std::string> summaries;  // the texts ReportSummary was given, in order
  std::vector<char> drivesStarted;     // drive letters in start order
  std::vector<THandle> threadsWaitedFor;  // the list handed to WaitForDriveThreads
  int noticesPosted = 0;

 private:
  struct TDriveThread {
    std::thread thread;
    TDriveOptimizer* optimizer;
  };
  std::vector<TDriveThread*> threads;  // owned
};
