// The volume-aware plan: where each item would go so that the layout could
// really be carried out, beside the described zone-relative plan (which it
// reads only through the NOMOVE marks). Plain data in, plain data out.
//
// What stays: clusters in use that no listed item covers (file-system
// metadata, what the scan could not list), the items marked NOMOVE and the
// items moves never touch (WhyItemStays: damage, the root folder's index,
// runs the file system has not placed yet, holes of sparse or compressed
// files).
// Everything else is laid out zone by zone in ascending zone number (zone 0
// with zone 1), in the tree's pre-order within a zone, behind one cursor
// that starts at cluster 0 and only moves forward: each item takes the
// first stretch of usable clusters at or after the cursor that holds all
// its allocated clusters, unless skipping the stretches
// before it would leave too little room for the items still to come; then,
// and where no stretch holds it whole, it is split over the stretches from
// the cursor on. The cursor moves to the end of what the item took. An item
// marked NOMOVE, in one piece, takes its turn too: where the walk would
// have put it where it lies, the cursor moves past it, so that a layout the
// plan made is planned as it lies even when the described plan then marks
// many of its items in place.
//
// Guarantees: targets lie inside the volume, never overlap, never land on
// an unmovable cluster, hold exactly each item's allocated clusters, and the
// moved items of a lower zone never lie after those of a higher zone. They
// rest on the items' runs being disjoint, as on a consistent volume; where
// they are not (a file listed under two names) the items that no longer
// fit keep no target and are counted as unplaced.
#pragma once

#include <cstdint>

#include "model/item.h"
#include "model/volume_report.h"

// Plans the tree of root (zones classified, NOMOVE marks set) on a volume of
// totalClusters clusters whose free extents are the chain at freeExtents.
// Memory grows with items and runs only.
TVolumePlan PlanVolume(const TItem* root, const TFragment* freeExtents, int64_t totalClusters);
