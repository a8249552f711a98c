#include "moving/best_fit_space.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "moving/radix_sort.h"
#include "planning/cluster_extents.h"

namespace {

// The indexes of the stretches of given that hold clusters, in the order of
// their first clusters (no two share one: they do not overlap). Sorted
// where they were packed with their positions, so no second list is made.
std::vector<uint64_t> ByPosition(const std::vector<TClusterExtent>& given) {
  int64_t lowest = INT64_MAX;
  int64_t highest = INT64_MIN;
  for (const TClusterExtent& stretch : given) {
    if (stretch.length <= 0) continue;
    lowest = std::min(lowest, stretch.lcn);
    highest = std::max(highest, stretch.lcn);
  }
  std::vector<uint64_t> order;
  if (lowest > highest) return order;
  const int indexBits = BitsFor(given.size() - 1);
  const int lcnBits = BitsFor(static_cast<uint64_t>(highest) - static_cast<uint64_t>(lowest));
  if (lcnBits + indexBits > 64) {
    // Too far apart to pack with their index: compared as pairs.
    std::vector<std::pair<int64_t, uint32_t>> pairs;
    for (size_t i = 0; i < given.size(); ++i) {
      if (given[i].length > 0) pairs.emplace_back(given[i].lcn, static_cast<uint32_t>(i));
    }
    std::sort(pairs.begin(), pairs.end());
    order.reserve(pairs.size());
    for (const auto& pair : pairs) order.push_back(pair.second);
    return order;
  }
  // The distance from the lowest first cluster above the index, in one
  // number.
  order.reserve(given.size());
  for (size_t i = 0; i < given.size(); ++i) {
    if (given[i].length <= 0) continue;
    order.push_back(
        (static_cast<uint64_t>(given[i].lcn) - static_cast<uint64_t>(lowest)) << indexBits | i);
  }
  RadixSort(&order, indexBits, indexBits + lcnBits);
  const uint64_t indexMask = (uint64_t(1) << indexBits) - 1;
  for (uint64_t& key : order) key &= indexMask;
  return order;
}

}  // namespace

TBestFitSpace::TBestFitSpace(const std::vector<TClusterExtent>& extents,
                             const std::vector<TClusterExtent>& given)
    : given_(&given), givenSlots_(given.size(), TSlots{kNone, 0}) {
  // Extents that touch become one: no cluster is then both where one
  // extent starts and where another ends. A layout's are so already.
  std::vector<TClusterExtent> joined;
  if (!AreNormalized(extents, INT64_MAX)) {
    joined = extents;
    NormalizeExtents(&joined, INT64_MAX);
  }
  const std::vector<TClusterExtent>& free = joined.empty() ? extents : joined;
  const std::vector<uint64_t> byLcn = ByPosition(given);
  startsAt_.assign(byLcn.size(), kNone);
  endsAt_.assign(byLcn.size(), kNone);
  // Each stretch given back makes at most one extent more: no copying.
  extents_.reserve(free.size() + byLcn.size());
  for (const TClusterExtent& extent : free) Insert(extent.lcn, extent.End(), kNone, kNone);
  // Ranks and neighbours in one walk along the volume; the extents
  // (extents_ in position order as yet) that end where a stretch starts,
  // or start where it ends, are filed under its rank.
  size_t endingAt = 0;    // the first extent that may end at a stretch's start
  size_t startingAt = 0;  // the first extent that may start at a stretch's end
  for (uint32_t rank = 0; rank < byLcn.size(); ++rank) {
    const size_t i = static_cast<size_t>(byLcn[rank]);
    const int64_t lcn = given[i].lcn;
    const int64_t end = given[i].End();
    givenSlots_[i].rank = rank;
    if (rank > 0) {
      const size_t before = static_cast<size_t>(byLcn[rank - 1]);
      if (given[before].End() == lcn) {
        givenSlots_[before].touches |= kTouchesNext;
        givenSlots_[i].touches |= kTouchesPrevious;
      }
    }
    while (endingAt < free.size() && free[endingAt].End() < lcn) ++endingAt;
    if (endingAt < free.size() && free[endingAt].End() == lcn) {
      SetEnd(static_cast<uint32_t>(endingAt), lcn, rank);
    }
    while (startingAt < free.size() && free[startingAt].lcn < end) ++startingAt;
    if (startingAt < free.size() && free[startingAt].lcn == end) {
      SetStart(static_cast<uint32_t>(startingAt), end, rank);
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
  const TSlots slots = givenSlots_[given];
  if (slots.rank == kNone) return;
  const int64_t lcn = (*given_)[given].lcn;
  const int64_t end = (*given_)[given].End();
  uint32_t before = endsAt_[slots.rank];
  uint32_t after = startsAt_[slots.rank];
  // Where the stretch touches another, what will end (start) there is filed
  // under that one's rank.
  const uint32_t startSlot = (slots.touches & kTouchesPrevious) != 0 ? slots.rank - 1 : kNone;
  const uint32_t endSlot = (slots.touches & kTouchesNext) != 0 ? slots.rank + 1 : kNone;
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
