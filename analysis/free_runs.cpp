#include "analysis/free_runs.h"

#include "platform/nt_types.h"

namespace {

// The 64 bits of eight bitmap bytes, cluster k of them at bit k.
uint64_t Word(const uint8_t* bytes) {
  uint64_t word = 0;
  for (int k = 7; k >= 0; --k) word = (word << 8) | bytes[k];
  return word;
}

}  // namespace

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
    // 64 clusters alike (all in use, or all free and not scanned before)
    // are taken at once: a volume of 8G clusters is 128M steps, not 8G.
    if ((i & 63) == 0 && count - i >= 64 && cluster >= scannedTo) {
      const uint64_t word = Word(bits + (i >> 3));
      if (word == ~uint64_t{0} || word == 0) {
        if (word != 0) {
          if (runStart >= 0) closeRun();
        } else if (runStart < 0) {
          runStart = cluster;
          runLength = 64;
        } else {
          runLength += 64;
        }
        i += 63;
        continue;
      }
    }
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
