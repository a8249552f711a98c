#include "planning/volume_plan.h"

#include <algorithm>
#include <array>
#include <climits>
#include <stdexcept>
#include <utility>

#include "model/pre_order.h"
#include "planning/cluster_extents.h"
#include "planning/fragment_pieces.h"
#include "planning/kept_items.h"
#include "planning/zone_slot.h"

namespace {

// A target for every item of root's subtree, in pre-order, each with its
// item only. A plan numbers its items and each item's runs in 32 bits.
std::vector<TItemTarget> PreOrder(const TItem* root) {
  std::vector<TItemTarget> targets;
  for (const TItem* item = root; item != nullptr; item = NextInPreOrder(item, root)) {
    targets.push_back(TItemTarget{item, 0, 0, 0, -1});
  }
  if (targets.size() > static_cast<size_t>(INT32_MAX)) {
    throw std::length_error("a volume plan holds at most 2,147,483,647 items");
  }
  return targets;
}

// Sets each target's sameFileAs: the index of the first item in pre-order
// with the same file identity when it is another name of that file (a hard
// link); -1 else. Folders and items of unknown identity are names of their
// own.
void FindFirstNames(std::vector<TItemTarget>* targets) {
  // Each name's identity and pre-order index, sorted: the names of one file
  // come together, its first name first. One table of 16 bytes a name, given
  // back whole when done, where a hash map took a heap node per file (about
  // 40 MB for a million) that stayed with the process after it was freed.
  std::vector<std::pair<uint64_t, int32_t>> names;
  for (size_t i = 0; i < targets->size(); ++i) {
    const TItem& item = *(*targets)[i].item;
    if (item.fileId == 0 || item.IsFolder()) continue;
    names.emplace_back(item.fileId, static_cast<int32_t>(i));
  }
  std::sort(names.begin(), names.end());
  for (size_t k = 1, first = 0; k < names.size(); ++k) {
    if (names[k].first != names[first].first) {
      first = k;
    } else {
      (*targets)[static_cast<size_t>(names[k].second)].sameFileAs = names[first].second;
    }
  }
}

// Whether an item keeps its place in the plan: marked NOMOVE, or never
// moved (damaged, the root's index, runs not placed yet, holes), so that
// every target the plan gives is one the moves can reach.
bool Stays(const TItem& item) {
  return (item.flags & kItemNoMove) != 0 || WhyItemStays(item) != nullptr;
}

// Whether an item that stays takes its turn in the walk all the same: one
// marked in place, in one piece, which moves could reach. Where the walk
// would have put it where it lies, the cursor goes on after it, as after
// an item placed there. Layouts the plan made themselves mark many items
// in place (they now lie low in their zones); without their turns, the
// items after them would be drawn back into the small gaps the plan left
// for them, and a volume just laid out would be planned anew.
bool TakesTurnInPlace(const TItem& item) {
  return (item.flags & kItemNoMove) != 0 && WhyItemStays(item) == nullptr &&
         CountPieces(item.fragments) == 1;
}

// The first allocated cluster of runs; -1 for none.
int64_t FirstAllocatedLcn(const TFragment* runs) {
  for (const TFragment* run = runs; run != nullptr; run = run->next) {
    if (run->lcn >= 0 && run->length > 0) return run->lcn;
  }
  return -1;
}

void AppendAllocatedRuns(const TFragment* runs, std::vector<TClusterExtent>* extents) {
  for (const TFragment* run = runs; run != nullptr; run = run->next) {
    if (run->lcn >= 0 && run->length > 0) extents->push_back(TClusterExtent{run->lcn, run->length});
  }
}

// The item's allocated clusters where they lie now, as target runs: vcn over
// the allocated clusters, physically contiguous neighbours joined.
void AppendCurrentPlace(const TFragment* runs, std::vector<TTargetRun>* targets, size_t first) {
  int64_t vcn = 0;
  for (const TFragment* run = runs; run != nullptr; run = run->next) {
    if (run->lcn < 0 || run->length <= 0) continue;
    if (targets->size() > first && targets->back().lcn + targets->back().length == run->lcn) {
      targets->back().length += run->length;
    } else {
      targets->push_back(TTargetRun{vcn, run->lcn, run->length});
    }
    vcn += run->length;
  }
}

// Allocated clusters of runs whose target (targets, vcn over allocated
// clusters) is not where they lie now.
int64_t MovedClusters(const TFragment* runs, const TTargetRun* targets, size_t count) {
  int64_t moved = 0;
  int64_t vcn = 0;
  size_t k = 0;
  for (const TFragment* run = runs; run != nullptr; run = run->next) {
    if (run->lcn < 0 || run->length <= 0) continue;
    const int64_t end = vcn + run->length;
    while (k < count && targets[k].vcn + targets[k].length <= vcn) ++k;
    for (size_t m = k; m < count && targets[m].vcn < end; ++m) {
      const int64_t overlap =
          std::min(end, targets[m].vcn + targets[m].length) - std::max(vcn, targets[m].vcn);
      if (run->lcn - vcn != targets[m].lcn - targets[m].vcn) moved += overlap;
    }
    vcn = end;
  }
  return moved;
}

// Each target's moved clusters, and the plan's totals, each file counted
// under its first name only. allocated[i]: the allocated clusters of the
// i-th item, a file's first name; an item with some and no target runs was
// left unplaced.
void CountMoves(TVolumePlan* plan, const std::vector<int64_t>& allocated) {
  for (size_t i = 0; i < plan->items.size(); ++i) {
    TItemTarget& target = plan->items[i];
    if (target.sameFileAs >= 0) {
      target.movedClusters = plan->items[static_cast<size_t>(target.sameFileAs)].movedClusters;
      continue;
    }
    const TItem& item = *target.item;
    const int64_t piecesNow = CountPieces(item.fragments);
    int64_t piecesAfter = piecesNow;
    if (target.runCount == 0 && allocated[i] > 0) {
      ++plan->totals.itemsUnplaced;
    } else {
      piecesAfter = target.runCount;
      target.movedClusters = MovedClusters(item.fragments, plan->runs.data() + target.firstRun,
                                           static_cast<size_t>(target.runCount));
    }
    if (target.Moves()) {
      ++plan->totals.itemsToMove;
      plan->totals.clustersToMove += target.movedClusters;
    }
    if (!item.IsFolder()) {
      if (piecesNow > 1) ++plan->totals.fragmentedBefore;
      if (piecesAfter > 1) ++plan->totals.fragmentedAfter;
    }
  }
}

// The runs the plan's items took since firstRun, as an item's run count.
int32_t RunsSince(const TVolumePlan& plan, int64_t firstRun) {
  const auto count = static_cast<int64_t>(plan.runs.size()) - firstRun;
  if (count > INT32_MAX) {
    throw std::length_error("a volume plan gives an item at most 2,147,483,647 runs");
  }
  return static_cast<int32_t>(count);
}

// The usable clusters (free, or held by an item that may move) as ascending
// disjoint extents, and a cursor over them that only moves forward. A max
// tree over the extents' lengths finds the first one that holds a given
// count in logarithmic time.
class TUsableSpace {
 public:
  explicit TUsableSpace(std::vector<TClusterExtent> extents) : extents_(std::move(extents)) {
    before_.resize(extents_.size() + 1, 0);
    for (size_t k = 0; k < extents_.size(); ++k) before_[k + 1] = before_[k] + extents_[k].length;
    leaves_ = 1;
    while (leaves_ < extents_.size()) leaves_ *= 2;
    longest_.assign(2 * leaves_, 0);
    for (size_t k = 0; k < extents_.size(); ++k) longest_[leaves_ + k] = extents_[k].length;
    for (size_t node = leaves_ - 1; node >= 1; --node) {
      longest_[node] = std::max(longest_[2 * node], longest_[2 * node + 1]);
    }
    index_ = 0;
    cursor_ = extents_.empty() ? 0 : extents_[0].lcn;
  }

  // Usable clusters at or after the cursor.
  int64_t Available() const {
    if (index_ >= extents_.size()) return 0;
    return before_.back() - before_[index_] - (cursor_ - extents_[index_].lcn);
  }

  // The first stretch at or after the cursor that holds count clusters: its
  // extent, its first cluster, and the usable clusters skipped before it.
  bool FindWhole(int64_t count, size_t* extent, int64_t* lcn, int64_t* skipped) const {
    if (index_ >= extents_.size()) return false;
    const int64_t rest = extents_[index_].End() - cursor_;
    if (rest >= count) {
      *extent = index_;
      *lcn = cursor_;
      *skipped = 0;
      return true;
    }
    const size_t found = FirstHolding(index_ + 1, count);
    if (found >= extents_.size()) return false;
    *extent = found;
    *lcn = extents_[found].lcn;
    *skipped = rest + before_[found] - before_[index_ + 1];
    return true;
  }

  // The turn of an item of count clusters kept at lcn (none of them
  // usable): when no stretch from the cursor on before it holds it whole,
  // and passing the usable clusters before it leaves room for the
  // `remaining` clusters still to place, the cursor goes on after it.
  void PassKept(int64_t lcn, int64_t count, int64_t remaining) {
    if (index_ >= extents_.size() || lcn < cursor_) return;
    size_t extent = 0;
    int64_t at = 0;
    int64_t skipped = 0;
    if (FindWhole(count, &extent, &at, &skipped) && at < lcn) return;
    const auto later = [](int64_t point, const TClusterExtent& stretch) {
      return point < stretch.lcn;
    };
    const auto after =
        static_cast<size_t>(std::upper_bound(extents_.begin() + static_cast<std::ptrdiff_t>(index_),
                                             extents_.end(), lcn, later) -
                            extents_.begin());
    const int64_t passed = after < extents_.size()
                               ? before_[after] - before_[index_] - (cursor_ - extents_[index_].lcn)
                               : Available();
    if (Available() - passed < remaining) return;
    index_ = after;
    if (index_ < extents_.size()) cursor_ = extents_[index_].lcn;
  }

  // Takes count clusters at lcn in extent (as FindWhole gave them).
  void TakeWhole(size_t extent, int64_t lcn, int64_t count) {
    index_ = extent;
    cursor_ = lcn + count;
    StepPastFullExtent();
  }

  // Takes count clusters from the cursor on, one target run per extent
  // touched, vcn counting on from vcn. The caller has checked Available().
  void TakeFromCursor(int64_t count, int64_t vcn, std::vector<TTargetRun>* targets) {
    while (count > 0 && index_ < extents_.size()) {
      const int64_t take = std::min(count, extents_[index_].End() - cursor_);
      targets->push_back(TTargetRun{vcn, cursor_, take});
      vcn += take;
      count -= take;
      cursor_ += take;
      StepPastFullExtent();
    }
  }

 private:
  void StepPastFullExtent() {
    if (index_ < extents_.size() && cursor_ >= extents_[index_].End()) {
      ++index_;
      if (index_ < extents_.size()) cursor_ = extents_[index_].lcn;
    }
  }

  // The first extent at or after from whose length is at least count;
  // extents_.size() when there is none.
  size_t FirstHolding(size_t from, int64_t count) const {
    if (from >= extents_.size()) return extents_.size();
    size_t node = leaves_ + from;
    if (longest_[node] < count) {
      // Climb until a right neighbour subtree holds one.
      for (;;) {
        while ((node & 1) != 0) {
          if (node == 1) return extents_.size();
          node >>= 1;
        }
        ++node;
        if (longest_[node] >= count) break;
      }
      while (node < leaves_) {
        node *= 2;
        if (longest_[node] < count) ++node;
      }
    }
    return node - leaves_;
  }

  std::vector<TClusterExtent> extents_;
  std::vector<int64_t> before_;   // before_[k]: clusters of extents_[0..k)
  std::vector<int64_t> longest_;  // max tree: node n covers 2n and 2n + 1; leaves from leaves_
  size_t leaves_;
  size_t index_;    // the extent that holds the cursor; extents_.size() at the end
  int64_t cursor_;  // next usable cluster
};

}  // namespace

TVolumePlan PlanVolume(const TItem* root, const TFragment* freeExtents, int64_t totalClusters) {
  TVolumePlan plan;
  plan.items = PreOrder(root);
  FindFirstNames(&plan.items);
  const std::vector<TItemTarget>& items = plan.items;
  std::vector<int64_t> allocated(items.size());
  std::vector<TClusterExtent> usable;  // free and movable clusters
  std::vector<TClusterExtent> kept;    // clusters of NOMOVE items
  for (const TFragment* extent = freeExtents; extent != nullptr; extent = extent->next) {
    usable.push_back(TClusterExtent{extent->lcn, extent->length});
  }
  std::array<size_t, kZoneSlotLimit + 1> slotStart{};
  int64_t remaining = 0;  // allocated clusters still to place
  // Whether item i has a turn in the walk, once its allocated clusters are
  // counted: every item placed, and the kept ones that take their turn.
  const auto takesTurn = [&](size_t i) {
    const TItem& item = *items[i].item;
    return allocated[i] > 0 && (!Stays(item) || TakesTurnInPlace(item));
  };
  for (size_t i = 0; i < items.size(); ++i) {
    const TItem& item = *items[i].item;
    // Another name of a file is placed with its first name.
    if (items[i].sameFileAs >= 0) continue;
    allocated[i] = AllocatedClusters(item.fragments);
    // An item that is never moved stays where its allocated runs lie.
    const bool stays = Stays(item);
    AppendAllocatedRuns(item.fragments, stays ? &kept : &usable);
    if (takesTurn(i)) ++slotStart[static_cast<size_t>(ZoneSlot(item)) + 1];
    if (!stays) remaining += allocated[i];
  }
  NormalizeExtents(&usable, totalClusters);
  NormalizeExtents(&kept, totalClusters);
  usable = SubtractExtents(usable, kept);
  plan.unmovable = ComplementExtents(usable, totalClusters);

  // The items to place, zone by zone, each zone in pre-order.
  for (size_t slot = 1; slot <= kZoneSlotLimit; ++slot) slotStart[slot] += slotStart[slot - 1];
  std::vector<uint32_t> order(slotStart[kZoneSlotLimit]);
  for (size_t i = 0; i < items.size(); ++i) {
    TItemTarget& target = plan.items[i];
    const TItem& item = *target.item;
    target.firstRun = static_cast<int64_t>(plan.runs.size());
    if (target.sameFileAs >= 0) continue;
    if (takesTurn(i))
      order[slotStart[static_cast<size_t>(ZoneSlot(item))]++] = static_cast<uint32_t>(i);
    if (Stays(item) || allocated[i] == 0) {
      AppendCurrentPlace(item.fragments, &plan.runs, plan.runs.size());
      target.runCount = RunsSince(plan, target.firstRun);
    }
  }

  TUsableSpace space(std::move(usable));
  for (const uint32_t i : order) {
    TItemTarget& target = plan.items[i];
    const int64_t count = allocated[i];
    // The only items in the walk that stay are those marked in place.
    if ((target.item->flags & kItemNoMove) != 0) {
      space.PassKept(FirstAllocatedLcn(target.item->fragments), count, remaining);
      continue;
    }
    target.firstRun = static_cast<int64_t>(plan.runs.size());
    const int64_t available = space.Available();
    if (available < count) {
      remaining -= count;  // unplaced: no runs for its allocated clusters
      continue;
    }
    // Clusters that may be skipped and still leave room for every item to
    // come; negative only when items share clusters.
    const int64_t slack = available - remaining;
    size_t extent = 0;
    int64_t lcn = 0;
    int64_t skipped = 0;
    if (space.FindWhole(count, &extent, &lcn, &skipped) && skipped <= slack) {
      plan.runs.push_back(TTargetRun{0, lcn, count});
      space.TakeWhole(extent, lcn, count);
    } else {
      space.TakeFromCursor(count, 0, &plan.runs);
    }
    target.runCount = RunsSince(plan, target.firstRun);
    remaining -= count;
  }

  // Every name of a file goes where its first name goes.
  for (TItemTarget& target : plan.items) {
    if (target.sameFileAs < 0) continue;
    const TItemTarget& first = plan.items[static_cast<size_t>(target.sameFileAs)];
    target.firstRun = first.firstRun;
    target.runCount = first.runCount;
  }
  CountMoves(&plan, allocated);
  return plan;
}
