// What the map's tooltip says about a cell: its cluster (or clusters, when
// zoomed out), and the item there with its path, size, which of its
// fragments it is, that fragment's clusters and its zone; or that the
// clusters are free, or in use by the file system without being listed.
// Found through the cluster map index and the free-space index, never by a
// walk over the volume.
#pragma once

#include <cstdint>
#include <string>

#include "drive/user_paths.h"

class TClusterMap;
class TFreeSpaceIndex;
class TPlannedMap;

// The tooltip of the cell showing clusters [first, end) (first < end), items
// named by their paths as paths shows them. zonesKnown: the worker has
// classified the tree (its zones no longer change), so the item's zone may
// be read and shown.
std::string HoverText(const TClusterMap& map, const TFreeSpaceIndex& freeSpace,
                      const TUserPaths& paths, int64_t first, int64_t end, bool zonesKnown);

// The tooltip of a cell of the picture after the plan: the item moved there
// with its zone, or that the clusters stay, or are free.
std::string PlannedHoverText(const TPlannedMap& planned, const TUserPaths& paths, int64_t first,
                             int64_t end);
