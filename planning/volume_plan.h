// The volume-aware plan: where each item would go so that the layout could
// really be carried out, beside the described zone-relative plan (which it
// reads only through the NOMOVE marks). Plain data in, plain data out.
//
// What stays: clusters in use that no listed item covers (file-system
// metadata, what the scan could not list) and the items marked NOMOVE.
// Everything else is laid out zone by zone in ascending zone number (zone 0
// with zone 1), in the tree's pre-order within a zone, behind one cursor
// that starts at cluster 0 and only moves forward: each item takes the
// first stretch of usable clusters at or after the cursor that holds all
// its allocated clusters (holes take no room), unless skipping the stretches
// before it would leave too little room for the items still to come; then,
// and where no stretch holds it whole, it is split over the stretches from
// the cursor on. The cursor moves to the end of what the item took.
//
// Guarantees: targets lie inside the volume, never overlap, never land on
// an unmovable cluster, hold exactly each item's allocated clusters, and the
// moved items of a lower zone never lie after those of a higher zone. They
// rest on the items' runs being disjoint, as on a consistent volume; where
// they are not (a file listed under two names) the items that no longer
// fit keep no target and are counted as unplaced.
#pragma once

#include <cstdint>
#include <vector>

#include "model/item.h"
#include "planning/cluster_extents.h"

// One run of an item's target; vcn counts the item's allocated clusters
// from 0 (holes left out), lcn and length are clusters.
struct TTargetRun {
  int64_t vcn;
  int64_t lcn;
  int64_t length;
};

// The target of one item. The item is not owned.
struct TItemTarget {
  const TItem* item;
  int64_t firstRun;       // index of its first run in TVolumePlan::runs
  int64_t runCount;       // 0 for an item without allocated clusters (or unplaced)
  int64_t movedClusters;  // allocated clusters whose target differs from where they are
  bool unplaced;          // no room was left for it (overlapping runs only)

  bool Moves() const { return movedClusters > 0; }
};

struct TVolumePlanTotals {
  int64_t itemsToMove = 0;
  int64_t clustersToMove = 0;    // clusters whose place changes
  int64_t fragmentedBefore = 0;  // files in more than one piece now
  int64_t fragmentedAfter = 0;   // files in more than one piece after the plan
  int64_t itemsUnplaced = 0;     // 0 on a consistent volume
};

struct TVolumePlan {
  std::vector<TItemTarget> items;         // every item of the tree, in pre-order
  std::vector<TTargetRun> runs;           // the items' targets, each item's together
  std::vector<TClusterExtent> unmovable;  // normalized
  TVolumePlanTotals totals;
};

// Plans the tree of root (zones classified, NOMOVE marks set) on a volume of
// totalClusters clusters whose free extents are the chain at freeExtents.
// Memory grows with items and runs only.
TVolumePlan PlanVolume(const TItem* root, const TFragment* freeExtents, int64_t totalClusters);
