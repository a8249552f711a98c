#include "moving/best_fit_space.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "planning/cluster_extents.h"

namespace {

// The indexes of the stretches of given that hold clusters, in the order of
// their first clusters (no two share one: they do not overlap).
std::vector<uint32_t> ByPosition(const std::vector<TClusterExtent>& given) {
  int64_t lowest = INT64_MAX;
  int64_t highest = INT64_MIN;
  for (const TClusterExtent& stretch : given) {
    if (stretch.length <= 0) continue;
    lowest = std::min(lowest, stretch.lcn);
    highest = std::max(highest, stretch.lcn);
  }
  std::vector<uint32_t> order;
  if (lowest > highest) return order;
  int indexBits = 0;
  while (indexBits < 32 && (uint64_t(1) << indexBits) < given.size()) ++indexBits;
  int lcnBits = 0;
  const uint64_t span = static_cast<uint64_t>(highest) - static_cast<uint64_t>(lowest);
  while (lcnBits < 64 && (span >> lcnBits) != 0) ++lcnBits;
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
  // number, sorted by its bits eleven at a time from the lowest: a pass
  // reads and writes each number once, where a comparison sort would read
  // it some twenty times.
  std::vector<uint64_t> keys;
  keys.reserve(given.size());
  for (size_t i = 0; i < given.size(); ++i) {
    if (given[i].length <= 0) continue;
    keys.push_back(
        (static_cast<uint64_t>(given[i].lcn) - static_cast<uint64_t>(lowest)) << indexBits | i);
  }
  std::vector<uint64_t> sorted(keys.size());
  constexpr int kDigitBits = 11;
  for (int shift = indexBits; shift < indexBits + lcnBits; shift += kDigitBits) {
    size_t counts[(1 << kDigitBits) + 1] = {};
    for (const uint64_t key : keys) ++counts[((key >> shift) & ((1 << kDigitBits) - 1)) + 1];
    for (size_t digit = 1; digit <= (1 << kDigitBits); ++digit) counts[digit] += counts[digit - 1];
    for (const uint64_t key : keys)
      sorted[counts[(key >> shift) & ((1 << kDigitBits) - 1)]++] = key;
    keys.swap(sorted);
  }
  order.resize(keys.size());
  const uint64_t indexMask = (uint64_t(1) << indexBits) - 1;
  for (size_t k = 0; k < keys.size(); ++k) order[k] = static_cast<uint32_t>(keys[k] & indexMask);
  return order;
}

}  // namespace

TBestFitSpace::TBestFitSpace(const std::vector<TClusterExtent>& extents,
                             const std::vector<TClusterExtent>& given)
    : given_(&given), givenSlots_(given.size(), TSlots{kNone, kNone}) {
  // Extents that touch become one: no cluster is then both where one
  // extent starts and where another ends. A layout's are so already.
  std::vector<TClusterExtent> joined;
  if (!AreNormalized(extents, INT64_MAX)) {
    joined = extents;
    NormalizeExtents(&joined, INT64_MAX);
  }
  const std::vector<TClusterExtent>& free = joined.empty() ? extents : joined;
  const std::vector<uint32_t> byLcn = ByPosition(given);
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
  for (const uint32_t i : byLcn) {
    const int64_t lcn = given[i].lcn;
    const int64_t end = given[i].End();
    TSlots& slots = givenSlots_[i];
    slots.start = lcn == lastEnd ? lastEndBoundary : boundaries++;
    slots.end = boundaries++;
    lastEnd = end;
    lastEndBoundary = slots.end;
    while (endingAt < free.size() && free[endingAt].End() < lcn) ++endingAt;
    if (endingAt < free.size() && free[endingAt].End() == lcn) {
      SetEnd(static_cast<uint32_t>(endingAt), lcn, slots.start);
    }
    while (startingAt < free.size() && free[startingAt].lcn < end) ++startingAt;
    if (startingAt < free.size() && free[startingAt].lcn == end) {
      SetStart(static_cast<uint32_t>(startingAt), end, slots.end);
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
  const uint32_t startSlot = givenSlots_[given].start;
  const uint32_t endSlot = givenSlots_[given].end;
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
