// The file-system control requests of the analysis stages, issued through the
// system services, with STATUS_PENDING settled through the IO status
// block after waiting on the handle.
#pragma once

#include <cstdint>

#include "platform/nt_types.h"
#include "platform/system_services.h"

// Issues one request on handle and returns its settled status: after
// STATUS_PENDING, waits on the handle and takes the status of the IO status
// block. bytesReturned receives the reply's length in bytes as the status
// block reports it (0 when the platform did not say).
TNtStatus IssueFsControl(TSystemServices& services, THandle handle, uint32_t code, void* input,
                         uint32_t inputLength, void* output, uint32_t outputLength,
                         uintptr_t* bytesReturned);

// Whether a settled status leaves a valid reply: success, or more to follow.
inline bool ReplyIsValid(TNtStatus status) {
  return status == kStatusSuccess || status == kStatusBufferOverflow;
}
