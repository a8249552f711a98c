// Clusters the cluster bitmap marks in use that no attribute holds: what a
// run of moves leaves when it is cut off between marking its target used
// and pointing the file there, or between that and freeing the source. The
// data of every file is whole then; the clusters are only lost to use
// until chkdsk /f frees them, and the next analysis says how many.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Clusters [lcn, lcn + clusters) that one attribute holds.
struct TClusterSpan {
  int64_t lcn;
  int64_t clusters;
};

// Reads `bytes` bytes of the cluster bitmap, from its byte `first`, into
// out (bit b of byte n is cluster 8n + b); false when they cannot be read.
using TClusterBitmapRead = std::function<bool(int64_t first, size_t bytes, uint8_t* out)>;

// The clusters of a volume's `clusters` the bitmap marks used; -1 when it
// cannot be read. Read in replies of 1 MiB (8,388,608 clusters).
int64_t UsedClusters(int64_t clusters, const TClusterBitmapRead& read);

// The clusters of span that lie on a volume of `clusters` clusters; none
// for a negative lcn (a run not on the volume: sparse, not yet placed).
inline int64_t ClustersWithin(int64_t clusters, const TClusterSpan& span) {
  if (span.lcn < 0 || span.lcn >= clusters) return 0;
  return span.clusters < clusters - span.lcn ? span.clusters : clusters - span.lcn;
}

// How many of a volume's `clusters` clusters the bitmap marks used that no
// span of held covers; -1 when the bitmap cannot be read. held comes in any
// order, and its spans may overlap (a cross-link), reach past the volume or
// lie off it (a negative lcn);
// it is sorted and merged in place (its memory is the caller's). When every
// used cluster is held once and nothing more, UsedClusters equals the sum
// of ClustersWithin over held, and this pass is not needed.
int64_t UnheldClusters(int64_t clusters, std::vector<TClusterSpan>& held,
                       const TClusterBitmapRead& read);
