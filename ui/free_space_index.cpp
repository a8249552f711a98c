#include "ui/free_space_index.h"

#include <algorithm>

#include "planning/cluster_extents.h"

TFreeSpaceIndex::TFreeSpaceIndex(const TFragment* freeExtents) {
  for (const TFragment* extent = freeExtents; extent != nullptr; extent = extent->next) {
    extents.push_back(TClusterExtent{extent->lcn, extent->length});
  }
  NormalizeExtents(&extents, INT64_MAX);
  freeBefore.reserve(extents.size() + 1);
  for (const TClusterExtent& extent : extents)
    freeBefore.push_back(freeBefore.back() + extent.length);
}

int64_t TFreeSpaceIndex::FreeBefore(int64_t cluster) const {
  const auto after =
      std::upper_bound(extents.begin(), extents.end(), cluster,
                       [](int64_t c, const TClusterExtent& extent) { return c < extent.lcn; });
  const size_t count = static_cast<size_t>(after - extents.begin());
  if (count == 0) return 0;
  const TClusterExtent& last = extents[count - 1];
  return freeBefore[count - 1] + std::min(cluster, last.End()) - last.lcn;
}

int64_t TFreeSpaceIndex::FreeClustersIn(int64_t first, int64_t end) const {
  return first < end ? FreeBefore(end) - FreeBefore(first) : 0;
}
