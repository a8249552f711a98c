// Clusters that items claim but the volume cannot give them, free of any
// I/O: clusters claimed by two items (a cross-link, or one item claiming
// them twice; never two names of one file, which share its fileId), and
// clusters an item claims that the cluster bitmap calls free. Checked once
// every item's runs are read.
#pragma once

#include <cstdint>
#include <vector>

#include "model/item.h"

struct TClaimConflict {
  TItem* item;       // not owned
  TItem* other;      // the other claimant (not owned); none: free in the bitmap
  int64_t lcn;       // the first cluster where the conflict shows
  int64_t clusters;  // clusters in conflict, over the whole item (or pair)
};

// The conflicts of the allocated runs of root's tree with each other and
// with the free extents (ascending lcn, chained by next): one per pair of
// items that share clusters, one per item that claims free ones, in the
// order of their first cluster. Memory grows with the runs, not with the
// volume's size.
std::vector<TClaimConflict> FindClaimConflicts(TItem* root, const TFragment* freeExtents);
