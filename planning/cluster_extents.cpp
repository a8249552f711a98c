#include "planning/cluster_extents.h"

#include <algorithm>

void NormalizeExtents(std::vector<TClusterExtent>* extents, int64_t limit) {
  std::vector<TClusterExtent>& list = *extents;
  std::sort(list.begin(), list.end(),
            [](const TClusterExtent& a, const TClusterExtent& b) { return a.lcn < b.lcn; });
  size_t kept = 0;
  for (const TClusterExtent& extent : list) {
    const int64_t first = std::max<int64_t>(extent.lcn, 0);
    const int64_t end = std::min(extent.End(), limit);
    if (extent.length <= 0 || first >= end) continue;
    if (kept > 0 && first <= list[kept - 1].End()) {
      TClusterExtent& last = list[kept - 1];
      last.length = std::max(last.End(), end) - last.lcn;
    } else {
      list[kept++] = TClusterExtent{first, end - first};
    }
  }
  list.resize(kept);
}

bool AreNormalized(const std::vector<TClusterExtent>& extents, int64_t limit) {
  int64_t end = -1;  // the cluster after the previous extent; none yet
  for (const TClusterExtent& extent : extents) {
    if (extent.length <= 0 || extent.lcn <= end || extent.lcn < 0 || extent.End() > limit) {
      return false;
    }
    end = extent.End();
  }
  return true;
}

std::vector<TClusterExtent> SubtractExtents(const std::vector<TClusterExtent>& from,
                                            const std::vector<TClusterExtent>& minus) {
  std::vector<TClusterExtent> result;
  size_t m = 0;
  for (const TClusterExtent& extent : from) {
    int64_t start = extent.lcn;
    const int64_t end = extent.End();
    while (m < minus.size() && minus[m].End() <= start) ++m;
    // Each removed stretch inside this extent cuts it; m stays on the last
    // one that may reach into the next extent.
    for (size_t k = m; k < minus.size() && minus[k].lcn < end; ++k) {
      if (minus[k].lcn > start) result.push_back(TClusterExtent{start, minus[k].lcn - start});
      start = std::max(start, minus[k].End());
    }
    if (start < end) result.push_back(TClusterExtent{start, end - start});
  }
  return result;
}

std::vector<TClusterExtent> ComplementExtents(const std::vector<TClusterExtent>& extents,
                                              int64_t limit) {
  return SubtractExtents(std::vector<TClusterExtent>{{0, limit}}, extents);
}
