#include "moving/best_fit_space.h"

#include <algorithm>
#include <utility>

#include "planning/cluster_extents.h"

TBestFitSpace::TBestFitSpace(const std::vector<TClusterExtent>& extents,
                             const std::vector<TClusterExtent>& given)
    : given_(&given), givenStart_(given.size(), kNone), givenEnd_(given.size(), kNone) {
  // Extents that touch become one: no cluster is then both where one
  // extent starts and where another ends. A layout's are so already.
  std::vector<TClusterExtent> joined;
  if (!AreNormalized(extents, INT64_MAX)) {
    joined = extents;
    NormalizeExtents(&joined, INT64_MAX);
  }
  const std::vector<TClusterExtent>& free = joined.empty() ? extents : joined;
  // The given stretches by position.
  std::vector<std::pair<int64_t, uint32_t>> byLcn;
  byLcn.reserve(given.size());
  for (size_t i = 0; i < given.size(); ++i) {
    if (given[i].length > 0) byLcn.emplace_back(given[i].lcn, static_cast<uint32_t>(i));
  }
  std::sort(byLcn.begin(), byLcn.end());
  startsAt_.assign(2 * byLcn.size(), kNone);
  endsAt_.assign(2 * byLcn.size(), kNone);
  // Each stretch given back makes at most one extent more: no copying.
  extents_.reserve(free.size() + byLcn.size());
  for (const TClusterExtent& extent : free) Insert(extent.lcn, extent.End(), kNone, kNone);
  // Boundaries in one walk along the volume: a stretch starts where the one
  // before it ends, or at a boundary of its own; the extents (extents_ in
  // position order as yet) that end where a stretch starts, or start where
  // it ends, take that boundary.
  uint32_t boundaries = 0;
  int64_t lastEnd = INT64_MIN;
  uint32_t lastEndBoundary = kNone;
  size_t endingAt = 0;    // the first extent that may end at a stretch's start
  size_t startingAt = 0;  // the first extent that may start at a stretch's end
  for (const auto& [lcn, i] : byLcn) {
    const int64_t end = given[i].End();
    givenStart_[i] = lcn == lastEnd ? lastEndBoundary : boundaries++;
    givenEnd_[i] = boundaries++;
    lastEnd = end;
    lastEndBoundary = givenEnd_[i];
    while (endingAt < free.size() && free[endingAt].End() < lcn) ++endingAt;
    if (endingAt < free.size() && free[endingAt].End() == lcn) {
      SetEnd(static_cast<uint32_t>(endingAt), lcn, givenStart_[i]);
    }
    while (startingAt < free.size() && free[startingAt].lcn < end) ++startingAt;
    if (startingAt < free.size() && free[startingAt].lcn == end) {
      SetStart(static_cast<uint32_t>(startingAt), end, givenEnd_[i]);
    }
  }
}

uint32_t TBestFitSpace::BestFit(int64_t clusters) const {
  const auto fit = byLength_.lower_bound(clusters);
  return fit == byLength_.end() ? kNone : fit->second;
}

TClusterExtent TBestFitSpace::Extent(uint32_t extent) const {
  return TClusterExtent{extents_[extent].lcn, extents_[extent].end - extents_[extent].lcn};
}

int64_t TBestFitSpace::Largest() const { return byLength_.empty() ? 0 : byLength_.rbegin()->first; }

void TBestFitSpace::TakeFront(uint32_t index, int64_t clusters) {
  TExtent& extent = extents_[index];
  if (extent.lcn + clusters >= extent.end) {
    Erase(index);
    return;
  }
  // The rest keeps its end. Its new start lies where the extent was free
  // on both sides, so no stretch still in use touches it: none will ask
  // for it.
  Unlink(index);
  SetStart(index, extent.lcn + clusters, kNone);
  Link(index);
}

void TBestFitSpace::Release(size_t given) {
  const uint32_t startSlot = givenStart_[given];
  const uint32_t endSlot = givenEnd_[given];
  if (startSlot == kNone || endSlot == kNone) return;
  const int64_t lcn = (*given_)[given].lcn;
  const int64_t end = (*given_)[given].End();
  uint32_t before = endsAt_[startSlot];
  uint32_t after = startsAt_[endSlot];
  // A stretch given back twice, or one overlapping a free extent, finds
  // neighbours that have moved on: they are not its neighbours.
  if (before != kNone && extents_[before].end != lcn) before = kNone;
  if (after != kNone && extents_[after].lcn != end) after = kNone;
  if (before == kNone && after == kNone) {
    Insert(lcn, end, startSlot, endSlot);
    return;
  }
  // Grows a neighbour in place: the one before keeps its start, the one
  // after its end.
  if (before != kNone) {
    int64_t newEnd = end;
    uint32_t newEndSlot = endSlot;
    if (after != kNone) {
      newEnd = extents_[after].end;
      newEndSlot = extents_[after].endSlot;
      Erase(after);
    }
    Unlink(before);
    SetEnd(before, newEnd, newEndSlot);
    Link(before);
    return;
  }
  Unlink(after);
  SetStart(after, lcn, startSlot);
  Link(after);
}

void TBestFitSpace::Insert(int64_t lcn, int64_t end, uint32_t startSlot, uint32_t endSlot) {
  uint32_t index;
  if (!unused_.empty()) {
    index = unused_.back();
    unused_.pop_back();
  } else {
    index = static_cast<uint32_t>(extents_.size());
    extents_.push_back(TExtent{});
  }
  extents_[index] = TExtent{lcn, end, kNone, kNone, kNone, kNone};
  Link(index);
  SetStart(index, lcn, startSlot);
  SetEnd(index, end, endSlot);
}

void TBestFitSpace::Erase(uint32_t index) {
  Unlink(index);
  SetStart(index, extents_[index].lcn, kNone);
  SetEnd(index, extents_[index].end, kNone);
  unused_.push_back(index);
}

void TBestFitSpace::SetStart(uint32_t index, int64_t lcn, uint32_t slot) {
  TExtent& extent = extents_[index];
  if (extent.startSlot != kNone && startsAt_[extent.startSlot] == index) {
    startsAt_[extent.startSlot] = kNone;
  }
  extent.lcn = lcn;
  extent.startSlot = slot;
  if (slot != kNone) startsAt_[slot] = index;
}

void TBestFitSpace::SetEnd(uint32_t index, int64_t end, uint32_t slot) {
  TExtent& extent = extents_[index];
  if (extent.endSlot != kNone && endsAt_[extent.endSlot] == index) endsAt_[extent.endSlot] = kNone;
  extent.end = end;
  extent.endSlot = slot;
  if (slot != kNone) endsAt_[slot] = index;
}

void TBestFitSpace::Link(uint32_t index) {
  TExtent& extent = extents_[index];
  extent.previous = kNone;
  extent.next = kNone;
  // First in the list of its length.
  const auto [length, created] = byLength_.try_emplace(extent.end - extent.lcn, index);
  if (!created) {
    extent.next = length->second;
    extents_[length->second].previous = index;
    length->second = index;
  }
}

void TBestFitSpace::Unlink(uint32_t index) {
  const TExtent& extent = extents_[index];
  if (extent.next != kNone) extents_[extent.next].previous = extent.previous;
  if (extent.previous != kNone) {
    extents_[extent.previous].next = extent.next;
  } else if (extent.next != kNone) {
    byLength_[extent.end - extent.lcn] = extent.next;
  } else {
    byLength_.erase(extent.end - extent.lcn);
  }
}
