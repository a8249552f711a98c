// The system services of the Windows build: each operation is the Win32 call
// it is named after (ANSI versions), with THandle standing for HANDLE. Holds
// no state, so the main thread and every worker use one instance at once.
#pragma once

#include <memory>

#include "platform/system_services.h"

class TWin32Services : public TSystemServices {
 public:
  THandle FindFirst(const char* pattern, TFindData* entry) override;
  bool FindNext(THandle find, TFindData* entry) override;
  void FindEnd(THandle find) override;

  THandle OpenForRead(const char* path, bool backupSemantics) override;
  bool FileSize(THandle file, uint32_t* low, uint32_t* high) override;
  void WaitFor(THandle handle) override;
  void Close(THandle handle) override;

  bool DiskFreeSpaceEx(const char* rootPath) override;
  bool DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) override;
  uint64_t AvailablePhysicalMemory() override;
  void DebugOutput(const char* text) override;
  std::unique_ptr<TReplacementFile> OpenLog(const char* name) override;

  TNtFsControlFile LookUpNtFsControlFile() override;

  THandle StartThread(TThreadProc proc, void* parameter) override;
  void WaitForThreads(const THandle* threads, int count) override;
};
