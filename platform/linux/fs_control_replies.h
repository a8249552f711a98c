// The replies of the two file-system control requests, laid out and split
// exactly as Windows lays them out and splits them, for every handle kind of
// the Linux services: NTFS files and volumes, host files and volumes.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "model/item.h"
#include "platform/nt_types.h"

// Statuses Windows gives these requests besides those of nt_types.h.
constexpr TNtStatus kStatusInvalidDeviceRequest = static_cast<TNtStatus>(0xC0000010u);
constexpr TNtStatus kStatusBufferTooSmall = static_cast<TNtStatus>(0xC0000023u);

// One run of a stream: `length` clusters from virtual cluster `vcn`, at
// logical cluster `lcn`, or with no clusters on the volume when lcn is
// kLcnNoClusters, or not yet placed when it is kLcnNotPlaced (model/item.h).
struct TStreamRun {
  int64_t vcn;
  int64_t lcn;  // clusters from 0, kLcnNoClusters or kLcnNotPlaced
  int64_t length;

  bool operator==(const TStreamRun& other) const {
    return vcn == other.vcn && lcn == other.lcn && length == other.length;
  }
};

// Appends a run of `length` clusters at `lcn` (any negative lcn meaning no
// clusters) after the runs already in `runs`, which it continues in VCN.
// Merged into the last run where it continues it: the next LCN, or no
// clusters after no clusters, as Windows reports one run for them.
void AppendRun(std::vector<TStreamRun>* runs, int64_t lcn, int64_t length);

// Appends a run of `length` clusters that the file system has not placed
// yet (kLcnNotPlaced), merged into a last run of the same kind only.
void AppendNotPlacedRun(std::vector<TStreamRun>* runs, int64_t length);

// FSCTL_GET_RETRIEVAL_POINTERS over `runs` (merged, contiguous from VCN 0):
// the runs from the one holding the requested VCN on, as many as fit in
// outputLength; STATUS_BUFFER_OVERFLOW while more remain, STATUS_END_OF_FILE
// when there are no runs or the VCN lies past them. io->information gets the
// bytes written.
TNtStatus RetrievalPointersReply(const std::vector<TStreamRun>& runs, const void* input,
                                 uint32_t inputLength, void* output, uint32_t outputLength,
                                 TIoStatusBlock* io);

// Reads `bytes` bytes of the cluster bitmap from the byte describing
// cluster firstCluster (a multiple of 8) into out; bit i of byte j set for a
// cluster in use. False when the bitmap cannot be read.
using TBitmapReader = std::function<bool(int64_t firstCluster, uint32_t bytes, uint8_t* out)>;

// FSCTL_GET_VOLUME_BITMAP over a volume of clusterCount clusters: the start
// rounded down to a multiple of 8, BitmapSize the clusters from there to the
// end, as many bitmap bytes as fit, bits past the last cluster set (never
// reported free); STATUS_BUFFER_OVERFLOW when the rest does not fit,
// STATUS_INVALID_PARAMETER for a start at or past the end. io->information
// gets the bytes written.
TNtStatus VolumeBitmapReply(int64_t clusterCount, const TBitmapReader& read, const void* input,
                            uint32_t inputLength, void* output, uint32_t outputLength,
                            TIoStatusBlock* io);

// Fills io with status and information and returns status.
TNtStatus Complete(TIoStatusBlock* io, TNtStatus status, uintptr_t information = 0);
