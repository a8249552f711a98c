// The free extents of a drive as a sorted array with running sums, so that
// the clusters free in any stretch are counted by two look-ups: the map's
// hover text tells free clusters from clusters the file system uses without
// listing them.
#pragma once

#include <cstdint>
#include <vector>

#include "model/item.h"
#include "model/volume_report.h"

class TFreeSpaceIndex {
 public:
  TFreeSpaceIndex() = default;
  // From the chain of free extents in ascending lcn (may be none), as the
  // free-space map leaves it; neighbours that touch are merged.
  explicit TFreeSpaceIndex(const TFragment* freeExtents);

  // Free clusters among [first, end).
  int64_t FreeClustersIn(int64_t first, int64_t end) const;

 private:
  // The free clusters before first: whole extents, and the part of the one
  // that holds first.
  int64_t FreeBefore(int64_t cluster) const;

  std::vector<TClusterExtent> extents;    // ascending, disjoint
  std::vector<int64_t> freeBefore = {0};  // clusters in the extents before each; one more entry
};
