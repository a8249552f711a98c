#include "moving/volume_reads.h"

#include <cstring>

#include "analysis/free_runs.h"
#include "analysis/fs_control.h"
#include "planning/cluster_extents.h"

namespace {

// One bitmap reply: the 16-byte header and 16,368 bytes of bits (130,944
// clusters); one runs reply: 1,023 extents.
constexpr uint32_t kReplyBytes = 16384;

// Appends the free extents among count clusters of bits from firstLcn (bit
// i of byte i/8, least significant first; set = in use).
void AppendClearRuns(const uint8_t* bits, int64_t firstLcn, int64_t count,
                     std::vector<TClusterExtent>* extents) {
  int64_t runStart = -1;  // the first free cluster of the run being read; none
  for (int64_t i = 0; i < count; ++i) {
    // Whole bytes in use are passed at once: most of a full volume.
    if ((i & 7) == 0 && runStart < 0 && i + 8 <= count && bits[i >> 3] == 0xFF) {
      i += 7;
      continue;
    }
    const bool used = (bits[i >> 3] >> (i & 7) & 1) != 0;
    if (!used && runStart < 0) runStart = i;
    if (used && runStart >= 0) {
      extents->push_back(TClusterExtent{firstLcn + runStart, i - runStart});
      runStart = -1;
    }
  }
  if (runStart >= 0) extents->push_back(TClusterExtent{firstLcn + runStart, count - runStart});
}

}  // namespace

bool ReadFreeExtents(TSystemServices& services, THandle volume,
                     std::vector<TClusterExtent>* extents, int64_t* totalClusters) {
  extents->clear();
  alignas(8) static thread_local unsigned char reply[kReplyBytes];
  TStartingLcnInput request = {0};
  for (;;) {
    uintptr_t replyBytes = 0;
    const TNtStatus status = IssueFsControl(services, volume, kFsctlGetVolumeBitmap, &request,
                                            sizeof(request), reply, kReplyBytes, &replyBytes);
    if (!ReplyIsValid(status)) return false;
    TVolumeBitmapHeader header;
    std::memcpy(&header, reply, sizeof(header));
    *totalClusters = header.startingLcn + header.bitmapSize;
    const int64_t count = ClustersInBitmapReply(header.bitmapSize, replyBytes, kReplyBytes);
    AppendClearRuns(reply + sizeof(header), header.startingLcn, count, extents);
    if (status != kStatusBufferOverflow) break;
    // A reply that does not move forward would be asked for again forever.
    if (count <= 0) return false;
    request.startingLcn = header.startingLcn + count;
  }
  // Replies may start below the cluster asked for: overlaps merge here.
  NormalizeExtents(extents, *totalClusters);
  return true;
}

bool ReadStreamRuns(TSystemServices& services, THandle file, std::vector<TFileRun>* runs) {
  runs->clear();
  alignas(8) static thread_local unsigned char reply[kReplyBytes];
  TStartingVcnInput request = {0};
  for (;;) {
    uintptr_t replyBytes = 0;
    const TNtStatus status = IssueFsControl(services, file, kFsctlGetRetrievalPointers, &request,
                                            sizeof(request), reply, kReplyBytes, &replyBytes);
    // A stream without clusters (resident, empty) has no runs to report.
    if (status == kStatusEndOfFile && runs->empty()) return true;
    if (!ReplyIsValid(status)) return false;
    TRetrievalPointersHeader header;
    std::memcpy(&header, reply, sizeof(header));
    const uint32_t fit = (kReplyBytes - sizeof(header)) / sizeof(TRetrievalExtent);
    const uint32_t extents = header.extentCount < fit ? header.extentCount : fit;
    int64_t vcn = header.startingVcn;
    for (uint32_t i = 0; i < extents; ++i) {
      TRetrievalExtent extent;
      std::memcpy(&extent, reply + sizeof(header) + i * sizeof(extent), sizeof(extent));
      if (extent.nextVcn <= vcn) return false;  // a reply that goes backwards is broken
      runs->push_back(TFileRun{vcn, extent.lcn, extent.nextVcn - vcn});
      vcn = extent.nextVcn;
    }
    if (status != kStatusBufferOverflow) return true;
    if (extents == 0) return false;
    request.startingVcn = vcn;
  }
}
