#include "platform/linux/fs_control_replies.h"

#include <algorithm>
#include <cstring>

TNtStatus Complete(TIoStatusBlock* io, TNtStatus status, uintptr_t information) {
  io->status = status;
  io->information = information;
  return status;
}

namespace {

// Appends a run whose lcn is a cluster or one of the named negative values,
// merged into a last run that it continues: the next cluster, or a run
// without clusters of the same kind.
void AppendNamedRun(std::vector<TStreamRun>* runs, int64_t lcn, int64_t length) {
  if (length <= 0) return;
  if (!runs->empty()) {
    TStreamRun& last = runs->back();
    const bool sameKind = last.lcn < 0 && lcn == last.lcn;
    const bool continues = last.lcn >= 0 && lcn == last.lcn + last.length;
    if (sameKind || continues) {
      last.length += length;
      return;
    }
  }
  const int64_t vcn = runs->empty() ? 0 : runs->back().vcn + runs->back().length;
  runs->push_back(TStreamRun{vcn, lcn, length});
}

}  // namespace

void AppendRun(std::vector<TStreamRun>* runs, int64_t lcn, int64_t length) {
  AppendNamedRun(runs, lcn < 0 ? kLcnNoClusters : lcn, length);
}

void AppendNotPlacedRun(std::vector<TStreamRun>* runs, int64_t length) {
  AppendNamedRun(runs, kLcnNotPlaced, length);
}

TNtStatus RetrievalPointersReply(const std::vector<TStreamRun>& runs, const void* input,
                                 uint32_t inputLength, void* output, uint32_t outputLength,
                                 TIoStatusBlock* io) {
  TStartingVcnInput request;
  if (input == nullptr || inputLength < sizeof(request)) {
    return Complete(io, kStatusInvalidParameter);
  }
  std::memcpy(&request, input, sizeof(request));
  if (request.startingVcn < 0) return Complete(io, kStatusInvalidParameter);
  // Room for the header and at least one extent, as Windows asks.
  if (output == nullptr ||
      outputLength < sizeof(TRetrievalPointersHeader) + sizeof(TRetrievalExtent)) {
    return Complete(io, kStatusBufferTooSmall);
  }
  if (runs.empty() || request.startingVcn >= runs.back().vcn + runs.back().length) {
    return Complete(io, kStatusEndOfFile);
  }
  // The run holding the VCN asked for: the last one starting at or before it.
  const auto holding =
      std::upper_bound(runs.begin(), runs.end(), request.startingVcn,
                       [](int64_t vcn, const TStreamRun& run) { return vcn < run.vcn; }) -
      1;
  const size_t first = static_cast<size_t>(holding - runs.begin());
  const size_t room = (outputLength - sizeof(TRetrievalPointersHeader)) / sizeof(TRetrievalExtent);
  const size_t count = std::min(room, runs.size() - first);

  auto* bytes = static_cast<unsigned char*>(output);
  const TRetrievalPointersHeader header{static_cast<uint32_t>(count), 0, runs[first].vcn};
  std::memcpy(bytes, &header, sizeof(header));
  for (size_t i = 0; i < count; ++i) {
    const TStreamRun& run = runs[first + i];
    const TRetrievalExtent extent{run.vcn + run.length, run.lcn};
    std::memcpy(bytes + sizeof(header) + i * sizeof(extent), &extent, sizeof(extent));
  }
  const bool more = first + count < runs.size();
  return Complete(io, more ? kStatusBufferOverflow : kStatusSuccess,
                  sizeof(header) + count * sizeof(TRetrievalExtent));
}

TNtStatus VolumeBitmapReply(int64_t clusterCount, const TBitmapReader& read, const void* input,
                            uint32_t inputLength, void* output, uint32_t outputLength,
                            TIoStatusBlock* io) {
  TStartingLcnInput request;
  if (input == nullptr || inputLength < sizeof(request)) {
    return Complete(io, kStatusInvalidParameter);
  }
  std::memcpy(&request, input, sizeof(request));
  if (output == nullptr || outputLength <= sizeof(TVolumeBitmapHeader)) {
    return Complete(io, kStatusBufferTooSmall);
  }
  // The cluster asked for must exist; the reply then starts at the byte
  // that describes it.
  if (request.startingLcn < 0 || request.startingLcn >= clusterCount) {
    return Complete(io, kStatusInvalidParameter);
  }
  const int64_t start = request.startingLcn & ~int64_t{7};
  const int64_t remaining = clusterCount - start;
  const uint64_t neededBytes = static_cast<uint64_t>((remaining + 7) / 8);
  const uint32_t bytes = static_cast<uint32_t>(
      std::min<uint64_t>(outputLength - sizeof(TVolumeBitmapHeader), neededBytes));

  auto* reply = static_cast<unsigned char*>(output);
  uint8_t* bits = reply + sizeof(TVolumeBitmapHeader);
  if (!read(start, bytes, bits)) return Complete(io, kStatusFileCorruptError);
  // The last byte of the volume may describe clusters that do not exist:
  // they are never offered as free.
  const int64_t endInReply = start + int64_t{bytes} * 8;
  for (int64_t cluster = std::max(clusterCount, start); cluster < endInReply; ++cluster) {
    bits[(cluster - start) / 8] |= static_cast<uint8_t>(1u << ((cluster - start) % 8));
  }
  const TVolumeBitmapHeader header{start, remaining};
  std::memcpy(reply, &header, sizeof(header));
  const bool more = bytes < neededBytes;
  return Complete(io, more ? kStatusBufferOverflow : kStatusSuccess,
                  sizeof(header) + uintptr_t{bytes});
}
