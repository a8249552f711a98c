// What a user asks of a finished analysis, in numbers: items, fragmented
// files, free space and both plans' totals, and its text for a terminal.
#pragma once

#include <cstdint>
#include <string>

#include "model/item.h"
#include "model/volume_report.h"

// Counts the tree of root (may be none) and the free extents (ascending lcn)
// of a volume of totalClusters clusters, with the volume-aware plan's totals.
// With the plan's targets (in the tree's pre-order), a file's other names
// (hard links) are not counted again.
TVolumeSummary SummarizeVolume(const TItem* root, const TFragment* freeExtents,
                               int64_t totalClusters, const TVolumePlanTotals& plan,
                               const std::vector<TItemTarget>* targets = nullptr);

// The summary as lines of text for standard output ("\n" line ends).
std::string FormatSummary(char driveLetter, const TVolumeSummary& summary);
