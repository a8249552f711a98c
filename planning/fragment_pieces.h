// How an item's runs lie on the volume: its allocated clusters and the
// physically contiguous pieces they form. Shared by the summary and the
// volume-aware plan, so both count fragments the same way.
#pragma once

#include <cstdint>

#include "model/item.h"

// Clusters of the runs that lie on the volume (lcn >= 0); holes (lcn -1)
// take no room.
int64_t AllocatedClusters(const TFragment* runs);

// Clusters of the runs that the file system has not placed yet
// (kLcnNotPlaced): they will take room, where is not known.
int64_t ClustersNotPlaced(const TFragment* runs);

// The maximal physically contiguous pieces of the allocated runs, in list
// order: a run that starts where the previous allocated run ended joins it,
// whatever holes lie between them in the item. 0 for an item with no
// allocated cluster; more than 1 means the item is fragmented.
int64_t CountPieces(const TFragment* runs);
