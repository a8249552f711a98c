// The system services of the Windows build: each operation is the Win32 call
// it is named after (ANSI versions), with THandle standing for HANDLE. Its
// only state, the two resolved native entries, is written by the main thread
// before any other thread starts and only read afterwards, so the main thread
// and every worker use one instance at once. Why a thread's last call failed
// is the thread's own, as GetLastError is.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/system_services.h"

class TWin32Services : public TSystemServices {
 public:
  THandle FindFirst(const char* pattern, TFindData* entry) override;
  bool FindNext(THandle find, TFindData* entry) override;
  void FindEnd(THandle find) override;
  bool FolderIdentity(const char* path, TFileIdentity* identity) override;
  bool FileIdentity(THandle file, TFileIdentity* identity) override;

  THandle OpenForRead(const char* path, bool backupSemantics) override;
  bool FileSize(THandle file, uint32_t* low, uint32_t* high) override;
  void WaitFor(THandle handle) override;
  void Close(THandle handle) override;
  THandle OpenVolumeForMoves(char driveLetter) override;
  THandle OpenFileForMoves(THandle volume, const char* path, bool folder) override;
  THandle OpenForRuns(const char* path) override;

  bool DiskFreeSpaceEx(const char* rootPath) override;
  bool DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) override;
  void DebugOutput(const char* text) override;
  std::unique_ptr<TReplacementFile> OpenLog(const char* name) override;

  bool ResolveFsControl() override;
  std::string LastErrorText() override;
  TNtStatus FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                      uint32_t inputLength, void* output, uint32_t outputLength) override;

  THandle StartThread(TThreadProc proc, void* parameter) override;
  void WaitForThreads(const THandle* threads, int count) override;

  std::string TextToUtf8(const char* text) override;

 private:
  // The error code Windows gives for a failed request's status.
  uint32_t DosError(TNtStatus status) const;

  // NtFsControlFile's signature: handle, event, APC routine, APC context,
  // status block, control code, input buffer and length, output buffer and
  // length.
  using TNtFsControlFile = TNtStatus(__stdcall*)(THandle, THandle, void*, void*, TIoStatusBlock*,
                                                 uint32_t, void*, uint32_t, void*, uint32_t);
  using TNtStatusToDosError = unsigned long(__stdcall*)(TNtStatus);
  TNtFsControlFile ntFsControlFile_ = nullptr;        // set by ResolveFsControl
  TNtStatusToDosError ntStatusToDosError_ = nullptr;  // set by ResolveFsControl; may stay none
};
