// What the Qt window tests share: one QApplication on the offscreen platform
// for the whole test program, system services that refuse everything (the
// test plays the worker by publishing its texts itself), and waiting on the
// event loop.
#pragma once

#include <functional>

#include "platform/system_services.h"

// Makes the test program's QApplication on the offscreen platform once; it
// lasts until every test has run.
void EnsureQtApplication();

// Processes events, deferred deletions included, until done() holds or
// timeoutMs milliseconds have passed; whether done() held.
bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs);

// Every call fails. StartThread starts nothing, so no worker runs and the
// drive's texts are what the test publishes.
class TRefusingServices : public TSystemServices {
 public:
  THandle FindFirst(const char*, TFindData*) override { return InvalidHandle(); }
  bool FindNext(THandle, TFindData*) override { return false; }
  void FindEnd(THandle) override {}
  THandle OpenForRead(const char*, bool) override { return InvalidHandle(); }
  bool FileSize(THandle, uint32_t*, uint32_t*) override { return false; }
  void WaitFor(THandle) override {}
  void Close(THandle) override {}
  bool DiskFreeSpaceEx(const char*) override { return false; }
  bool DiskFreeSpace(const char*, TDiskGeometry*) override { return false; }
  void DebugOutput(const char*) override {}
  std::unique_ptr<TReplacementFile> OpenLog(const char*) override { return nullptr; }
  bool FolderIdentity(const char*, TFileIdentity*) override { return false; }
  bool ResolveFsControl() override { return false; }
  std::string LastErrorText() override { return "refused"; }
  TNtStatus FsControl(THandle, TIoStatusBlock*, uint32_t, void*, uint32_t, void*,
                      uint32_t) override {
    return kStatusNotSupported;
  }
  THandle StartThread(TThreadProc, void*) override { return InvalidHandle(); }
  void WaitForThreads(const THandle*, int) override {}
};
