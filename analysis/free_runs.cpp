#include "analysis/free_runs.h"

#include <algorithm>
#include <cstring>

#include "platform/nt_types.h"

namespace {

// The 64 bits of eight bitmap bytes, cluster k of them at bit k: one load
// on the little-endian machines both builds run on.
uint64_t Word(const uint8_t* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

// The first bit from `from` on, below count, that is set (set true) or
// clear; count when there is none. Bits up to a word boundary one by one,
// then whole words: a word that holds nothing sought is passed in one step,
// so a volume of 8G clusters in long runs is 128M loads, and the bit sought
// in a word is found by counting its trailing zeros. Bytes past the last
// of the count bits are never read.
int64_t NextBit(const uint8_t* bits, int64_t from, int64_t count, bool set) {
  const auto isSought = [&](int64_t bit) {
    return (((bits[bit >> 3] >> (bit & 7)) & 1) != 0) == set;
  };
  for (; from < count && (from & 63) != 0; ++from) {
    if (isSought(from)) return from;
  }
  const uint64_t flip = set ? 0 : ~uint64_t{0};  // makes the bits sought ones
  for (; count - from >= 64; from += 64) {
    const uint64_t sought = Word(bits + (from >> 3)) ^ flip;
    if (sought != 0) return from + __builtin_ctzll(sought);
  }
  for (; from < count; ++from) {
    if (isSought(from)) return from;
  }
  return count;
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
  // Clusters below scannedTo were scanned with an earlier reply: the scan
  // starts past them.
  int64_t i = scannedTo > startLcn ? std::min(count, scannedTo - startLcn) : 0;
  while (i < count) {
    const int64_t free = NextBit(bits, i, count, false);
    if (free >= count) break;
    const int64_t used = NextBit(bits, free, count, true);
    TFragment* extent = NewFragment(nullptr, 0, startLcn + free, used - free);
    if (extent != nullptr) list->Append(extent);
    i = used;
  }
  return startLcn + count > scannedTo ? startLcn + count : scannedTo;
}

namespace {

// Appends the free clusters [from, end) as extents cut at reply ends.
void AppendCut(int64_t from, int64_t end, int64_t replyClusters, TFragmentChain* list) {
  while (from < end) {
    const int64_t to = std::min(end, (from / replyClusters + 1) * replyClusters);
    TFragment* extent = NewFragment(nullptr, 0, from, to - from);
    if (extent != nullptr) list->Append(extent);
    from = to;
  }
}

}  // namespace

void AppendFreeStretches(const TFreeSpaceExtents& space, int64_t replyClusters,
                         TFragmentChain* list) {
  if (replyClusters <= 0) return;
  // The stretch being gathered, [from, end): the bitmap shows stretches
  // that touch as one run of clear bits.
  int64_t from = 0;
  int64_t end = 0;
  for (const auto& [first, clusters] : space.free) {
    const int64_t start = std::max<int64_t>(first, 0);
    // Clipped to the volume, without overflowing on a corrupt length.
    const int64_t stop =
        clusters > space.clusterCount - first ? space.clusterCount : first + clusters;
    if (start >= stop) continue;
    if (start > end) {
      AppendCut(from, end, replyClusters, list);
      from = start;
    }
    end = std::max(end, stop);
  }
  AppendCut(from, end, replyClusters, list);
}
