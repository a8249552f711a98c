// Handles that are objects of this program (Linux services and the scripted
// volume), as opposed to Win32 HANDLEs: a THandle is then a THandleObject*,
// and the file-system control entry dispatches on it.
#pragma once

#include <cstdint>

#include "platform/nt_types.h"
#include "platform/system_services.h"

class THandleObject {
 public:
  virtual ~THandleObject() = default;
  // NtFsControlFile on this handle; fills io and returns the status.
  virtual TNtStatus FsControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                              uint32_t outputLength, TIoStatusBlock* io) {
    (void)code, (void)input, (void)inputLength, (void)output, (void)outputLength;
    io->status = kStatusInvalidHandle;
    io->information = 0;
    return kStatusInvalidHandle;
  }
  // GetFileSize; false when the handle has no size.
  virtual bool FileSize(uint32_t* low, uint32_t* high) {
    *low = 0xFFFFFFFFu;
    *high = 0;
    return false;
  }
  // WaitForSingleObject: returns once the handle is signalled.
  virtual void Wait() {}
  // GetFileInformationByHandle's volume and file index; false when the
  // handle has none.
  virtual bool Identity(TFileIdentity* identity) {
    (void)identity;
    return false;
  }
};

// The file-system control request on an object handle: dispatches to the
// handle's FsControl; an empty or invalid handle gets STATUS_INVALID_HANDLE.
TNtStatus ObjectFsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                          uint32_t inputLength, void* output, uint32_t outputLength);
