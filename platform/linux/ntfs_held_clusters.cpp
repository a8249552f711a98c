#include "platform/linux/ntfs_held_clusters.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr size_t kReplyBytes = 1u << 20;
constexpr int64_t kReplyClusters = 8 * static_cast<int64_t>(kReplyBytes);

// The bits set in [from, to) of bits (bit b of byte n is bit 8n + b).
int64_t CountSetBits(const uint8_t* bits, int64_t from, int64_t to) {
  int64_t count = 0;
  // Single bits up to a whole byte, whole words, whole bytes, single bits.
  for (; from < to && from % 8 != 0; ++from) count += (bits[from / 8] >> (from % 8)) & 1;
  int64_t byte = from / 8;
  const int64_t endByte = to / 8;
  for (; byte + 8 <= endByte; byte += 8) {
    uint64_t word;
    std::memcpy(&word, bits + byte, sizeof word);
    count += __builtin_popcountll(word);
  }
  for (; byte < endByte; ++byte) count += __builtin_popcount(bits[byte]);
  for (int64_t bit = std::max(from, endByte * 8); bit < to; ++bit) {
    count += (bits[bit / 8] >> (bit % 8)) & 1;
  }
  return count;
}

// Calls counted(firstCluster, endCluster, bits) for every reply of the
// bitmap in turn; false when one cannot be read.
template <typename Counted>
bool ForEachReply(int64_t clusters, const TClusterBitmapRead& read, Counted counted) {
  const std::unique_ptr<uint8_t[]> reply(new uint8_t[kReplyBytes]);
  for (int64_t first = 0; first < clusters; first += kReplyClusters) {
    const int64_t end = std::min(clusters, first + kReplyClusters);
    const auto bytes = static_cast<size_t>((end - first + 7) / 8);
    if (!read(first / 8, bytes, reply.get())) return false;
    counted(first, end, reply.get());
  }
  return true;
}

}  // namespace

int64_t UsedClusters(int64_t clusters, const TClusterBitmapRead& read) {
  int64_t used = 0;
  const bool whole =
      ForEachReply(clusters, read, [&](int64_t first, int64_t end, const uint8_t* bits) {
        used += CountSetBits(bits, 0, end - first);
      });
  return whole ? used : -1;
}

int64_t UnheldClusters(int64_t clusters, std::vector<TClusterSpan>& held,
                       const TClusterBitmapRead& read) {
  // The spans merged into disjoint ones in cluster order, then each reply's used clusters less
  // those the spans cover.
  std::sort(held.begin(), held.end(),
            [](const TClusterSpan& a, const TClusterSpan& b) { return a.lcn < b.lcn; });
  size_t merged = 0;
  for (const TClusterSpan& span : held) {
    const int64_t within = ClustersWithin(clusters, span);
    if (within == 0) continue;
    const int64_t lcn = span.lcn;
    const int64_t end = lcn + within;
    if (merged > 0 && lcn <= held[merged - 1].lcn + held[merged - 1].clusters) {
      TClusterSpan& last = held[merged - 1];
      last.clusters = std::max(last.clusters, end - last.lcn);
    } else {
      held[merged++] = TClusterSpan{lcn, end - lcn};
    }
  }
  held.resize(merged);
  int64_t unheld = 0;
  size_t next = 0;  // the first merged span that may reach into the reply
  const bool whole =
      ForEachReply(clusters, read, [&](int64_t first, int64_t end, const uint8_t* bits) {
        unheld += CountSetBits(bits, 0, end - first);
        while (next < merged && held[next].lcn + held[next].clusters <= first) ++next;
        for (size_t i = next; i < merged && held[i].lcn < end; ++i) {
          const int64_t from = std::max(first, held[i].lcn);
          const int64_t to = std::min(end, held[i].lcn + held[i].clusters);
          unheld -= CountSetBits(bits, from - first, to - first);
        }
      });
  return whole ? unheld : -1;
}
