#include "analysis/claim_conflicts.h"

#include <algorithm>
#include <map>
#include <utility>

#include "model/pre_order.h"

namespace {

// One allocated run: [lcn, end) of item.
struct TClaim {
  int64_t lcn;
  int64_t end;
  TItem* item;
};

std::vector<TClaim> AllocatedRuns(TItem* root) {
  std::vector<TClaim> claims;
  for (const TItem* item = root; item != nullptr; item = NextInPreOrder(item, root)) {
    for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
      if (run->lcn >= 0 && run->length > 0) {
        claims.push_back(TClaim{run->lcn, run->lcn + run->length, run->owner});
      }
    }
  }
  return claims;
}

// Adds clusters at lcn to the conflict of key, made in order of first sight.
void Count(std::map<std::pair<TItem*, TItem*>, size_t>* index, std::vector<TClaimConflict>* found,
           TItem* item, TItem* other, int64_t lcn, int64_t clusters) {
  // A pair is one conflict whichever of the two was met first.
  const auto reversed = index->find(std::make_pair(other, item));
  if (other != nullptr && reversed != index->end()) {
    (*found)[reversed->second].clusters += clusters;
    return;
  }
  const auto known = index->emplace(std::make_pair(item, other), found->size());
  if (known.second) {
    found->push_back(TClaimConflict{item, other, lcn, clusters});
  } else {
    (*found)[known.first->second].clusters += clusters;
  }
}

}  // namespace

std::vector<TClaimConflict> FindClaimConflicts(TItem* root, const TFragment* freeExtents) {
  std::vector<TClaim> claims = AllocatedRuns(root);
  // Stable: runs that start together stay in the tree's order, so the same
  // tree always names the same pairs.
  std::stable_sort(claims.begin(), claims.end(),
                   [](const TClaim& a, const TClaim& b) { return a.lcn < b.lcn; });
  std::vector<TClaimConflict> found;
  std::map<std::pair<TItem*, TItem*>, size_t> index;
  // The run reaching furthest so far: any run that starts before its end
  // shares clusters with it.
  const TClaim* furthest = nullptr;
  const TFragment* free = freeExtents;
  for (const TClaim& claim : claims) {
    // Two names of one file (hard links) claim its clusters alike.
    const bool sameFile = furthest != nullptr && furthest->item != claim.item &&
                          claim.item->fileId != 0 && claim.item->fileId == furthest->item->fileId;
    if (furthest != nullptr && claim.lcn < furthest->end && !sameFile) {
      Count(&index, &found, furthest->item, claim.item, claim.lcn,
            std::min(claim.end, furthest->end) - claim.lcn);
    }
    if (furthest == nullptr || claim.end > furthest->end) furthest = &claim;
    // Free extents that end at or before this run cannot meet a later one.
    while (free != nullptr && free->lcn + free->length <= claim.lcn) free = free->next;
    for (const TFragment* extent = free; extent != nullptr && extent->lcn < claim.end;
         extent = extent->next) {
      const int64_t from = std::max(claim.lcn, extent->lcn);
      const int64_t to = std::min(claim.end, extent->lcn + extent->length);
      if (from < to) Count(&index, &found, claim.item, nullptr, from, to - from);
    }
  }
  return found;
}
