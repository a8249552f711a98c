// A mark on each cluster of a stretch of the volume, a bit each, for a
// question asked of every stretch a step frees: whether it lies in a place
// still to be filled. A search of the places' list costs two or three cache
// misses a stretch; these bits, an eighth of a byte a cluster, mostly sit
// in the cache. Clusters outside the stretch are never marked.
#pragma once

#include <cstdint>
#include <vector>

class TClusterMarks {
 public:
  TClusterMarks() = default;
  // Clusters [base, limit) may be marked; none is at first.
  TClusterMarks(int64_t base, int64_t limit);

  // Marks [lcn, end) (marked true) or clears its marks.
  void Set(int64_t lcn, int64_t end, bool marked);
  // The first cluster of [lcn, end) whose mark is `marked`; end if none.
  int64_t Next(int64_t lcn, int64_t end, bool marked) const;

 private:
  int64_t base_ = 0;
  int64_t limit_ = 0;
  std::vector<uint64_t> words_;  // bit i of word w: cluster base_ + 64 * w + i
};
