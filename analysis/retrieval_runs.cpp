#include "analysis/retrieval_runs.h"

#include <cstring>

#include "platform/nt_types.h"

TRetrievalReply AppendRetrievalRuns(const unsigned char* reply, uint32_t bufferBytes, TItem* owner,
                                    TFragmentChain* runs) {
  TRetrievalPointersHeader header;
  std::memcpy(&header, reply, sizeof(header));
  const uint32_t maxExtents =
      (bufferBytes - sizeof(TRetrievalPointersHeader)) / sizeof(TRetrievalExtent);
  const uint32_t count = header.extentCount < maxExtents ? header.extentCount : maxExtents;
  const unsigned char* extents = reply + sizeof(TRetrievalPointersHeader);
  int64_t previous = header.startingVcn;
  for (uint32_t i = 0; i < count; ++i) {
    TRetrievalExtent extent;
    std::memcpy(&extent, extents + i * sizeof(TRetrievalExtent), sizeof(extent));
    TFragment* run = NewFragment(owner, previous, extent.lcn, extent.nextVcn - previous);
    if (run != nullptr) runs->Append(run);
    previous = extent.nextVcn;
  }
  return TRetrievalReply{header.startingVcn, previous, count};
}
