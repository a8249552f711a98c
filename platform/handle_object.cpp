#include "platform/handle_object.h"

TNtFsControlFile resolvedNtFsControlFile = nullptr;

TNtStatus DISKOPT_NTAPI ObjectNtFsControlFile(THandle handle, THandle event, void* apcRoutine,
                                              void* apcContext, TIoStatusBlock* io, uint32_t code,
                                              void* input, uint32_t inputLength, void* output,
                                              uint32_t outputLength) {
  // No event or APC is ever passed: completion is reported through io and,
  // for STATUS_PENDING, by signalling the handle itself.
  (void)event, (void)apcRoutine, (void)apcContext;
  if (handle == nullptr || handle == InvalidHandle()) {
    io->status = kStatusInvalidHandle;
    io->information = 0;
    return kStatusInvalidHandle;
  }
  return static_cast<THandleObject*>(handle)->FsControl(code, input, inputLength, output,
                                                        outputLength, io);
}
