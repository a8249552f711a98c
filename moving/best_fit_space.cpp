#include "moving/best_fit_space.h"

#include "planning/cluster_extents.h"

namespace {

constexpr int64_t kEmptyKey = INT64_MIN;

}  // namespace

TBestFitSpace::TPositionTable::TPositionTable(size_t entries) { Resize(entries); }

void TBestFitSpace::TPositionTable::Resize(size_t entries) {
  // At most half full: probes stay short.
  size_t capacity = 16;
  int shift = 60;
  while (capacity < 2 * entries) {
    capacity *= 2;
    --shift;
  }
  std::vector<TSlot> slots(capacity, TSlot{kEmptyKey, kNone, 0});
  slots.swap(slots_);
  mask_ = capacity - 1;
  shift_ = shift;
  count_ = 0;
  for (const TSlot& slot : slots) {
    if (slot.key != kEmptyKey) Insert(slot.key, slot.extent, slot.end != 0);
  }
}

size_t TBestFitSpace::TPositionTable::Home(int64_t key) const {
  // Fibonacci hashing: nearby clusters land far apart.
  return static_cast<size_t>((static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> shift_) &
         mask_;
}

uint32_t TBestFitSpace::TPositionTable::Find(int64_t key, bool end) const {
  for (size_t slot = Home(key);; slot = (slot + 1) & mask_) {
    if (slots_[slot].key == key)
      return (slots_[slot].end != 0) == end ? slots_[slot].extent : kNone;
    if (slots_[slot].key == kEmptyKey) return kNone;
  }
}

void TBestFitSpace::TPositionTable::Insert(int64_t key, uint32_t extent, bool end) {
  if (2 * (count_ + 1) > slots_.size()) Resize(2 * (count_ + 1));
  size_t slot = Home(key);
  while (slots_[slot].key != kEmptyKey && slots_[slot].key != key) slot = (slot + 1) & mask_;
  if (slots_[slot].key == kEmptyKey) ++count_;
  slots_[slot] = TSlot{key, extent, end ? 1u : 0u};
}

void TBestFitSpace::TPositionTable::Erase(int64_t key) {
  size_t slot = Home(key);
  while (slots_[slot].key != key) {
    if (slots_[slot].key == kEmptyKey) return;
    slot = (slot + 1) & mask_;
  }
  // Shifts back every later entry of the probe chain that the hole would
  // hide from its home.
  for (size_t next = (slot + 1) & mask_; slots_[next].key != kEmptyKey; next = (next + 1) & mask_) {
    const size_t home = Home(slots_[next].key);
    const bool movable =
        slot <= next ? (home <= slot || home > next) : (home <= slot && home > next);
    if (movable) {
      slots_[slot] = slots_[next];
      slot = next;
    }
  }
  slots_[slot] = TSlot{kEmptyKey, kNone, 0};
  --count_;
}

TBestFitSpace::TBestFitSpace(std::vector<TClusterExtent> extents)
    : byPosition_(2 * extents.size()) {
  // Extents that touch become one: no cluster is then both where one
  // extent starts and where another ends.
  NormalizeExtents(&extents, INT64_MAX);
  extents_.reserve(extents.size());
  for (const TClusterExtent& extent : extents) Insert(extent.lcn, extent.End());
}

bool TBestFitSpace::BestFit(int64_t clusters, TClusterExtent* found) const {
  const auto fit = byLength_.lower_bound(clusters);
  if (fit == byLength_.end()) return false;
  const TExtent& extent = extents_[fit->second];
  *found = TClusterExtent{extent.lcn, extent.end - extent.lcn};
  return true;
}

int64_t TBestFitSpace::Largest() const { return byLength_.empty() ? 0 : byLength_.rbegin()->first; }

void TBestFitSpace::TakeFront(int64_t lcn, int64_t clusters) {
  const uint32_t index = byPosition_.Find(lcn, false);
  if (index == kNone) return;
  TExtent& extent = extents_[index];
  if (lcn + clusters >= extent.end) {
    Erase(index);
    return;
  }
  // The rest keeps its end: only its start and its length change.
  Unlink(index);
  byPosition_.Erase(lcn);
  extent.lcn = lcn + clusters;
  byPosition_.Insert(extent.lcn, index, false);
  Link(index);
}

void TBestFitSpace::Release(int64_t lcn, int64_t end) {
  if (end <= lcn) return;
  const uint32_t before = byPosition_.Find(lcn, true);
  const uint32_t after = byPosition_.Find(end, false);
  if (before == kNone && after == kNone) {
    Insert(lcn, end);
    return;
  }
  // Grows a neighbour in place: the one before keeps its start, the one
  // after its end.
  if (before != kNone) {
    const int64_t newEnd = after != kNone ? extents_[after].end : end;
    if (after != kNone) Erase(after);
    Unlink(before);
    byPosition_.Erase(lcn);
    extents_[before].end = newEnd;
    byPosition_.Insert(newEnd, before, true);
    Link(before);
    return;
  }
  Unlink(after);
  byPosition_.Erase(end);
  extents_[after].lcn = lcn;
  byPosition_.Insert(lcn, after, false);
  Link(after);
}

void TBestFitSpace::Insert(int64_t lcn, int64_t end) {
  uint32_t index;
  if (!unused_.empty()) {
    index = unused_.back();
    unused_.pop_back();
  } else {
    index = static_cast<uint32_t>(extents_.size());
    extents_.push_back(TExtent{});
  }
  extents_[index] = TExtent{lcn, end, kNone, kNone};
  Link(index);
  byPosition_.Insert(lcn, index, false);
  byPosition_.Insert(end, index, true);
}

void TBestFitSpace::Erase(uint32_t index) {
  Unlink(index);
  byPosition_.Erase(extents_[index].lcn);
  byPosition_.Erase(extents_[index].end);
  unused_.push_back(index);
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
