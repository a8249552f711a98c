#include "analysis/free_runs.h"

#include "platform/nt_types.h"

int64_t ClustersInBitmapReply(int64_t bitmapSize, uintptr_t replyBytes, uint32_t bufferBytes) {
  const int64_t header = sizeof(TVolumeBitmapHeader);
  const int64_t bufferClusters = (static_cast<int64_t>(bufferBytes) - header) * 8;
  int64_t count = bitmapSize < bufferClusters ? bitmapSize : bufferClusters;
  if (replyBytes >= static_cast<uintptr_t>(header) && replyBytes <= bufferBytes) {
    const int64_t returned = (static_cast<int64_t>(replyBytes) - header) * 8;
    if (returned < count) count = returned;
  }
  return count;
}

int64_t AppendFreeRuns(const uint8_t* bits, int64_t startLcn, int64_t count, int64_t scannedTo,
                       TFragmentChain* list) {
  int64_t runStart = -1;  // first cluster of the open run, -1 when none is open
  int64_t runLength = 0;
  auto closeRun = [&]() {
    TFragment* extent = NewFragment(nullptr, 0, runStart, runLength);
    runStart = -1;
    if (extent != nullptr) list->Append(extent);
  };
  for (int64_t i = 0; i < count; ++i) {
    const int64_t cluster = startLcn + i;
    const bool used = ((bits[i >> 3] >> (i & 7)) & 1) != 0;
    if (!used && cluster >= scannedTo) {
      if (runStart < 0) {
        runStart = cluster;
        runLength = 1;
      } else {
        ++runLength;
      }
    } else if (runStart >= 0) {
      closeRun();
    }
  }
  if (runStart >= 0) closeRun();
  return startLcn + count > scannedTo ? startLcn + count : scannedTo;
}
