#include "platform/handle_object.h"

TNtStatus ObjectFsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                          uint32_t inputLength, void* output, uint32_t outputLength) {
  // Completion is reported through io and, for STATUS_PENDING, by
  // signalling the handle itself.
  if (handle == nullptr || handle == InvalidHandle()) {
    io->status = kStatusInvalidHandle;
    io->information = 0;
    return kStatusInvalidHandle;
  }
  return static_cast<THandleObject*>(handle)->FsControl(code, input, inputLength, output,
                                                        outputLength, io);
}
