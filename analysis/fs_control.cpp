#include "analysis/fs_control.h"

TNtStatus IssueFsControl(TSystemServices& services, THandle handle, uint32_t code, void* input,
                         uint32_t inputLength, void* output, uint32_t outputLength,
                         uintptr_t* bytesReturned) {
  TIoStatusBlock io = {};
  TNtStatus status =
      services.FsControl(handle, &io, code, input, inputLength, output, outputLength);
  if (status == kStatusPending) {
    services.WaitFor(handle);
    status = io.status;
  }
  *bytesReturned = io.information;
  return status;
}
