#include "ui/planned_map.h"

#include <algorithm>

TPlannedMap::TPlannedMap(const TVolumePlan& plan, int64_t totalClusters) {
  stretches.reserve(plan.runs.size() + plan.unmovable.size());
  for (const TClusterExtent& extent : plan.unmovable) {
    stretches.push_back(TStretch{extent.lcn, extent.length, TCellColour::kUnmovable, nullptr});
  }
  // Items that stay are inside the unmovable extents already.
  for (const TItemTarget& target : plan.items) {
    if ((target.item->flags & kItemNoMove) != 0) continue;
    const TCellColour colour = ZoneColour(target.item->Zone());
    for (int64_t i = 0; i < target.runCount; ++i) {
      const TTargetRun& run = plan.runs[static_cast<size_t>(target.firstRun + i)];
      stretches.push_back(TStretch{run.lcn, run.length, colour, target.item});
    }
  }
  // Targets never overlap each other nor the unmovable extents; what lies
  // past the volume's end is not drawn.
  stretches.erase(std::remove_if(stretches.begin(), stretches.end(),
                                 [&](const TStretch& s) {
                                   return s.length <= 0 || s.lcn < 0 || s.lcn >= totalClusters;
                                 }),
                  stretches.end());
  std::sort(stretches.begin(), stretches.end(),
            [](const TStretch& a, const TStretch& b) { return a.lcn < b.lcn; });
  unmovableBefore.reserve(stretches.size() + 1);
  for (const TStretch& stretch : stretches) {
    held[static_cast<int>(stretch.colour)] = true;
    unmovableBefore.push_back(unmovableBefore.back() +
                              (stretch.colour == TCellColour::kUnmovable ? 1 : 0));
  }
}

TPlannedMap::TPlace TPlannedMap::PlaceOf(int64_t first, int64_t end) const {
  const auto byLcn = [](int64_t cluster, const TStretch& s) { return cluster < s.lcn; };
  const auto begin = stretches.begin();
  // Positions up to atFirst start at or before first; those after it up to
  // atLast start inside the stretch asked about.
  const int64_t atFirst = std::upper_bound(begin, stretches.end(), first, byLcn) - begin - 1;
  const int64_t atLast =
      std::upper_bound(begin + (atFirst + 1), stretches.end(), end - 1, byLcn) - begin - 1;
  const bool firstCovered = atFirst >= 0 && stretches[static_cast<size_t>(atFirst)].length >
                                                first - stretches[static_cast<size_t>(atFirst)].lcn;
  const size_t from = static_cast<size_t>(firstCovered ? atFirst : atFirst + 1);
  const size_t to = static_cast<size_t>(atLast + 1);  // exclusive
  if (from >= to) return TPlace{TCellColour::kEmpty, nullptr};
  if (unmovableBefore[to] > unmovableBefore[from]) return TPlace{TCellColour::kUnmovable, nullptr};
  return TPlace{stretches[from].colour, stretches[from].item};
}
