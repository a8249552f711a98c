// Sets of clusters as sorted extents: the volume-aware plan works on these,
// so its memory grows with the number of runs, never with the volume's size.
#pragma once

#include <cstdint>
#include <vector>

#include "model/volume_report.h"

// Sorts extents, drops empty ones, cuts them to [0, limit) and merges those
// that overlap or touch: the result is ascending, disjoint and maximal.
void NormalizeExtents(std::vector<TClusterExtent>* extents, int64_t limit);
// Whether NormalizeExtents would leave extents as they are.
bool AreNormalized(const std::vector<TClusterExtent>& extents, int64_t limit);

// Both arguments normalized; the clusters of from that are not in minus,
// normalized.
std::vector<TClusterExtent> SubtractExtents(const std::vector<TClusterExtent>& from,
                                            const std::vector<TClusterExtent>& minus);

// The clusters of [0, limit) outside the normalized extents.
std::vector<TClusterExtent> ComplementExtents(const std::vector<TClusterExtent>& extents,
                                              int64_t limit);
