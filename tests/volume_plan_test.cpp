// The volume-aware plan: its guarantees over many random volumes, checked
// cluster by cluster against a model of the volume, and the cases a user
// meets (an item already in place, a sparse file, a volume so full that an
// item must be split).
#include "planning/volume_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <vector>

#include "planning/volume_summary.h"
#include "tests/support/tree_builder.h"

namespace {

using TRuns = std::vector<std::pair<int64_t, int64_t>>;  // lcn, length

// A free-extent chain for the plan; released with the fixture.
TFragment* FreeChain(const TRuns& extents) {
  TFragment* head = nullptr;
  TFragment** tail = &head;
  for (const auto& extent : extents) {
    *tail = NewFragment(nullptr, 0, extent.first, extent.second);
    tail = &(*tail)->next;
  }
  return head;
}

TItem* ItemWithRuns(TItem* parent, const char* name, int zone, const TRuns& runs) {
  TItem* item = NewItem(parent, HeapName(name), 0, zone == 1 ? kItemFolder : 0);
  item->SetZone(zone);
  TFragment** tail = &item->fragments;
  for (const auto& run : runs) {
    *tail = NewFragment(item, item->clusters, run.first, run.second);
    tail = &(*tail)->next;
    item->clusters += run.second;
    ++item->fragmentCount;
  }
  return item;
}

// Every cluster of an item in allocated-vcn order: where it is now, and
// where the plan puts it.
std::vector<int64_t> ClustersNow(const TItem* item) {
  std::vector<int64_t> clusters;
  for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
    for (int64_t k = 0; run->lcn >= 0 && k < run->length; ++k) clusters.push_back(run->lcn + k);
  }
  return clusters;
}

std::vector<int64_t> ClustersPlanned(const TVolumePlan& plan, const TItemTarget& target) {
  std::vector<int64_t> clusters;
  int64_t vcn = 0;
  for (int64_t k = 0; k < target.runCount; ++k) {
    const TTargetRun& run = plan.runs[static_cast<size_t>(target.firstRun + k)];
    EXPECT_EQ(run.vcn, vcn) << "target runs follow each other over the allocated clusters";
    EXPECT_GT(run.length, 0);
    vcn += run.length;
    for (int64_t c = 0; c < run.length; ++c) clusters.push_back(run.lcn + c);
  }
  return clusters;
}

int64_t Pieces(const std::vector<int64_t>& clusters) {
  int64_t pieces = 0;
  for (size_t k = 0; k < clusters.size(); ++k) {
    if (k == 0 || clusters[k] != clusters[k - 1] + 1) ++pieces;
  }
  return pieces;
}

struct TTargetTuple {
  int64_t vcn, lcn, length;
  bool operator==(const TTargetTuple& o) const {
    return vcn == o.vcn && lcn == o.lcn && length == o.length;
  }
};

std::vector<TTargetTuple> Targets(const TVolumePlan& plan, const TItem* item) {
  std::vector<TTargetTuple> runs;
  for (const TItemTarget& target : plan.items) {
    if (target.item != item) continue;
    for (int64_t k = 0; k < target.runCount; ++k) {
      const TTargetRun& run = plan.runs[static_cast<size_t>(target.firstRun + k)];
      runs.push_back(TTargetTuple{run.vcn, run.lcn, run.length});
    }
  }
  return runs;
}

void PreOrder(const TItem* item, std::vector<const TItem*>* items) {
  items->push_back(item);
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    PreOrder(child, items);
  }
}

// What lies on each cluster of a random volume: metadata, free, or an item.
enum : int { kFree = -1, kMetadata = -2 };

struct TRandomVolume {
  int64_t totalClusters = 0;
  std::vector<int> owner;  // per cluster: kFree, kMetadata or the item's index
  std::vector<TItem*> items;
  TItem* root = nullptr;
  TFragment* freeExtents = nullptr;
};

// A volume of a few thousand clusters: metadata islands, files in up to 12
// runs scattered over the free space, holes (sparse and compressed files),
// folders with or without index runs, NOMOVE marks, zones 0 to 8, and free
// space from plenty down to none. The free-extent chain splits stretches at
// random, as bitmap replies do.
void BuildRandomVolume(std::mt19937& random, TRandomVolume* volume) {
  auto below = [&](int64_t n) { return std::uniform_int_distribution<int64_t>(0, n - 1)(random); };
  volume->totalClusters = 64 + below(4000);
  const int64_t total = volume->totalClusters;
  volume->owner.assign(static_cast<size_t>(total), kFree);
  for (int64_t island = below(8); island > 0; --island) {
    const int64_t start = below(total);
    for (int64_t c = start; c < std::min(total, start + 1 + below(40)); ++c) {
      volume->owner[static_cast<size_t>(c)] = kMetadata;
    }
  }
  const double fill = std::uniform_real_distribution<double>(0.2, 1.0)(random);
  const int64_t toFill = static_cast<int64_t>(fill * static_cast<double>(total));
  volume->root = ItemWithRuns(nullptr, "D:\\", 1, {});
  volume->items.push_back(volume->root);
  std::vector<TItem*> folders{volume->root};
  int64_t used = 0;
  static const int kZones[] = {0, 1, 3, 5, 7, 8};
  for (int n = 0; used < toFill && n < 400; ++n) {
    const bool folder = below(6) == 0;
    const int index = static_cast<int>(volume->items.size());
    TItem* parent = folders[static_cast<size_t>(below(static_cast<int64_t>(folders.size())))];
    TItem* item =
        ItemWithRuns(parent, folder ? "folder" : "file", folder ? 1 : kZones[below(6)], {});
    volume->items.push_back(item);
    item->fileId = static_cast<uint64_t>(index) + 1;
    if (folder) folders.push_back(item);
    TFragment** tail = &item->fragments;
    const int64_t runs = folder ? below(3) : below(13);
    for (int64_t r = 0; r < runs; ++r) {
      int64_t lcn = -1;
      int64_t length = 1 + below(30);
      if (below(5) != 0) {
        // A free cluster, then as many free ones after it as wanted.
        const int64_t probe = below(total);
        for (int64_t c = probe; c < total; ++c) {
          if (volume->owner[static_cast<size_t>(c)] == kFree) {
            lcn = c;
            break;
          }
        }
        if (lcn < 0) continue;
        int64_t free = 0;
        while (free < length && lcn + free < total &&
               volume->owner[static_cast<size_t>(lcn + free)] == kFree) {
          volume->owner[static_cast<size_t>(lcn + free)] = index;
          ++free;
        }
        length = free;
        used += length;
      }
      *tail = NewFragment(item, item->clusters, lcn, length);
      tail = &(*tail)->next;
      item->clusters += length;
      ++item->fragmentCount;
    }
    if (below(5) == 0) {
      item->flags |= kItemNoMove;
    } else if (below(8) == 0) {
      // The volume contradicts itself about it: its clusters are nobody's
      // to move.
      item->flags |= kItemDamaged;
    }
  }
  // Second names of some files (hard links), anywhere in the tree: the same
  // file identity, runs and zone, never an owner of clusters.
  const size_t named = volume->items.size();
  for (size_t i = 1; i < named; ++i) {
    const TItem* file = volume->items[i];
    if (file->IsFolder() || below(8) != 0) continue;
    TItem* parent = folders[static_cast<size_t>(below(static_cast<int64_t>(folders.size())))];
    TItem* link = ItemWithRuns(parent, "link", file->Zone(), {});
    link->fileId = file->fileId;
    link->flags |= file->flags & (kItemNoMove | kItemDamaged);
    TFragment** tail = &link->fragments;
    for (const TFragment* run = file->fragments; run != nullptr; run = run->next) {
      *tail = NewFragment(link, run->vcn, run->lcn, run->length);
      tail = &(*tail)->next;
    }
    link->clusters = file->clusters;
    link->fragmentCount = file->fragmentCount;
  }
  TRuns free;
  for (int64_t c = 0; c < total; ++c) {
    if (volume->owner[static_cast<size_t>(c)] != kFree) continue;
    if (!free.empty() && free.back().first + free.back().second == c && below(4) != 0) {
      ++free.back().second;
    } else {
      free.emplace_back(c, 1);
    }
  }
  volume->freeExtents = FreeChain(free);
}

// Items the plan must leave where they are: in place, damaged, the root,
// and files with holes, which moves never touch.
bool Stays(const TItem& item) {
  if ((item.flags & (kItemNoMove | kItemDamaged)) != 0 || item.parent == nullptr) return true;
  for (const TFragment* run = item.fragments; run != nullptr; run = run->next) {
    if (run->lcn < 0) return true;
  }
  return false;
}

TEST(VolumePlan, EveryGuaranteeHoldsOnRandomVolumes) {
  std::mt19937 random(20261208);
  int splitItems = 0;
  int tightVolumes = 0;
  int stayed = 0;  // damaged items met
  int holed = 0;   // movable but for their holes
  int links = 0;   // second names met
  for (int layout = 0; layout < 400; ++layout) {
    TRandomVolume volume;
    BuildRandomVolume(random, &volume);
    SCOPED_TRACE("layout " + std::to_string(layout));
    const TVolumePlan plan = PlanVolume(volume.root, volume.freeExtents, volume.totalClusters);
    std::vector<const TItem*> preOrder;
    PreOrder(volume.root, &preOrder);
    ASSERT_EQ(plan.items.size(), preOrder.size());

    // Unmovable: metadata and the clusters of the items that stay.
    std::vector<bool> unmovable(static_cast<size_t>(volume.totalClusters), false);
    int64_t freeClusters = 0;
    for (int64_t c = 0; c < volume.totalClusters; ++c) {
      const int who = volume.owner[static_cast<size_t>(c)];
      freeClusters += who == kFree ? 1 : 0;
      unmovable[static_cast<size_t>(c)] =
          who == kMetadata || (who >= 0 && Stays(*volume.items[static_cast<size_t>(who)]));
    }
    std::vector<bool> listed(static_cast<size_t>(volume.totalClusters), false);
    for (const TClusterExtent& extent : plan.unmovable) {
      for (int64_t c = extent.lcn; c < extent.End(); ++c) listed[static_cast<size_t>(c)] = true;
    }
    EXPECT_EQ(listed, unmovable);
    if (freeClusters * 20 < volume.totalClusters) ++tightVolumes;

    std::vector<int> taken(static_cast<size_t>(volume.totalClusters), -1);
    std::map<int, std::pair<int64_t, int64_t>> zoneSpan;  // slot: first and last moved cluster
    TVolumePlanTotals expected;
    for (size_t i = 0; i < plan.items.size(); ++i) {
      const TItemTarget& target = plan.items[i];
      ASSERT_EQ(target.item, preOrder[i]) << "the plan's entries follow the pre-order";
      const TItem& item = *target.item;
      const std::vector<int64_t> now = ClustersNow(&item);
      const std::vector<int64_t> after = ClustersPlanned(plan, target);
      // Another name of a file goes where the file's first name goes, and
      // counts nowhere.
      const auto first = std::find_if(plan.items.begin(), plan.items.end(), [&](auto& other) {
        return other.item->fileId == item.fileId;
      });
      ASSERT_EQ(target.sameFileAs, first->item == &item ? -1 : first - plan.items.begin());
      if (target.sameFileAs >= 0) {
        ++links;
        EXPECT_EQ(after, ClustersPlanned(plan, *first)) << "one target for every name";
        continue;
      }
      ASSERT_EQ(after.size(), now.size()) << "targets hold exactly the allocated clusters";
      int64_t moved = 0;
      for (size_t k = 0; k < after.size(); ++k) {
        const int64_t c = after[k];
        ASSERT_GE(c, 0);
        ASSERT_LT(c, volume.totalClusters);
        EXPECT_EQ(taken[static_cast<size_t>(c)], -1) << "targets overlap at " << c;
        taken[static_cast<size_t>(c)] = static_cast<int>(i);
        if (!Stays(item)) {
          EXPECT_FALSE(unmovable[static_cast<size_t>(c)]) << "on an unmovable cluster " << c;
        }
        moved += c != now[k] ? 1 : 0;
      }
      if (Stays(item)) {
        EXPECT_EQ(moved, 0) << "NOMOVE, damaged and sparse items stay";
        stayed += (item.flags & kItemDamaged) != 0 ? 1 : 0;
        holed += (item.flags & (kItemNoMove | kItemDamaged)) == 0 && item.parent != nullptr;
      }
      EXPECT_EQ(target.movedClusters, moved);
      if (moved > 0) {
        ++expected.itemsToMove;
        expected.clustersToMove += moved;
        const int slot = item.Zone() == 0 ? 0 : item.Zone() - 1;
        auto span = zoneSpan.emplace(slot, std::make_pair(after.front(), after.back())).first;
        span->second.first =
            std::min(span->second.first, *std::min_element(after.begin(), after.end()));
        span->second.second =
            std::max(span->second.second, *std::max_element(after.begin(), after.end()));
      }
      if (!item.IsFolder()) {
        expected.fragmentedBefore += Pieces(now) > 1 ? 1 : 0;
        expected.fragmentedAfter += Pieces(after) > 1 ? 1 : 0;
      }
      if (Pieces(after) > 1 && Pieces(after) > Pieces(now)) ++splitItems;
    }
    // Moved items of a lower zone never lie after those of a higher zone.
    for (auto lower = zoneSpan.begin(); lower != zoneSpan.end(); ++lower) {
      for (auto higher = std::next(lower); higher != zoneSpan.end(); ++higher) {
        EXPECT_LT(lower->second.second, higher->second.first)
            << "zone slot " << lower->first << " after slot " << higher->first;
      }
    }
    EXPECT_EQ(plan.totals.itemsToMove, expected.itemsToMove);
    EXPECT_EQ(plan.totals.clustersToMove, expected.clustersToMove);
    EXPECT_EQ(plan.totals.fragmentedBefore, expected.fragmentedBefore);
    EXPECT_EQ(plan.totals.fragmentedAfter, expected.fragmentedAfter);
    EXPECT_EQ(plan.totals.itemsUnplaced, 0);
    ReleaseItem(volume.root);
    ReleaseFragments(volume.freeExtents);
  }
  // The layouts reached the cases that matter.
  EXPECT_GT(tightVolumes, 20);
  EXPECT_GT(splitItems, 0);
  EXPECT_GT(stayed, 100);
  EXPECT_GT(holed, 100);
  EXPECT_GT(links, 100);
}

// Carries a plan out on a random volume's model: every item that moves
// takes its target runs, and the free extents follow.
void CarryOut(const TVolumePlan& plan, TRandomVolume* volume) {
  for (int& who : volume->owner) who = who == kMetadata ? kMetadata : kFree;
  for (const TItemTarget& target : plan.items) {
    auto* item = const_cast<TItem*>(target.item);
    if (target.Moves() || (target.sameFileAs >= 0 && target.runCount > 0 &&
                           plan.items[static_cast<size_t>(target.sameFileAs)].Moves())) {
      ReleaseFragments(item->fragments);
      item->fragments = nullptr;
      item->fragmentCount = 0;
      TFragment** tail = &item->fragments;
      for (int64_t k = 0; k < target.runCount; ++k) {
        const TTargetRun& run = plan.runs[static_cast<size_t>(target.firstRun + k)];
        *tail = NewFragment(item, run.vcn, run.lcn, run.length);
        tail = &(*tail)->next;
        ++item->fragmentCount;
      }
    }
    if (target.sameFileAs >= 0) continue;
    for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
      for (int64_t c = run->lcn; c >= 0 && c < run->lcn + run->length; ++c) {
        volume->owner[static_cast<size_t>(c)] = 0;
      }
    }
  }
  TRuns free;
  for (int64_t c = 0; c < volume->totalClusters; ++c) {
    if (volume->owner[static_cast<size_t>(c)] != kFree) continue;
    if (!free.empty() && free.back().first + free.back().second == c) {
      ++free.back().second;
    } else {
      free.emplace_back(c, 1);
    }
  }
  ReleaseFragments(volume->freeExtents);
  volume->freeExtents = FreeChain(free);
}

// Marks in place what the described plan marks after a layout: every item
// in one run that starts below its zone's total of clusters.
int MarkInPlaceByZoneTotals(const std::vector<const TItem*>& items) {
  int64_t totals[16] = {};
  for (const TItem* item : items) {
    if (item->clusters > 0) totals[item->Zone() == 0 ? 0 : item->Zone() - 1] += item->clusters;
  }
  int marked = 0;
  for (const TItem* item : items) {
    const int64_t total = totals[item->Zone() == 0 ? 0 : item->Zone() - 1];
    if (item->fragments == nullptr || item->fragments->lcn >= total || item->fragmentCount != 1 ||
        (item->flags & kItemNoMove) != 0) {
      continue;
    }
    const_cast<TItem*>(item)->flags |= kItemNoMove;
    ++marked;
  }
  return marked;
}

TEST(VolumePlan, AVolumeLaidOutByThePlanIsPlannedAsItLies) {
  // Once a layout is carried out, items low in their zones count as in
  // place and stay. The items after them must not be drawn back into the
  // small gaps the plan left for them: the plan of a volume it has just
  // laid out moves nothing.
  std::mt19937 random(20261210);
  int newlyInPlace = 0;
  int movedFirst = 0;
  for (int layout = 0; layout < 400; ++layout) {
    TRandomVolume volume;
    BuildRandomVolume(random, &volume);
    SCOPED_TRACE("layout " + std::to_string(layout));
    const TVolumePlan first = PlanVolume(volume.root, volume.freeExtents, volume.totalClusters);
    movedFirst += first.totals.itemsToMove > 0 ? 1 : 0;
    CarryOut(first, &volume);
    std::vector<const TItem*> items;
    PreOrder(volume.root, &items);
    newlyInPlace += MarkInPlaceByZoneTotals(items);
    const TVolumePlan second = PlanVolume(volume.root, volume.freeExtents, volume.totalClusters);
    EXPECT_EQ(second.totals.itemsToMove, 0);
    for (const TItemTarget& target : second.items) {
      EXPECT_FALSE(target.Moves()) << ListingPath(target.item);
    }
    ReleaseItem(volume.root);
    ReleaseFragments(volume.freeExtents);
  }
  EXPECT_GT(movedFirst, 300);
  EXPECT_GT(newlyInPlace, 1000);
}

class VolumePlanCases : public testing::Test {
 protected:
  void TearDown() override {
    ReleaseItem(root);
    ReleaseFragments(free);
  }
  TItem* root = nullptr;
  TFragment* free = nullptr;
};

TEST_F(VolumePlanCases, AVolumeAlreadyInZoneOrderMovesNothing) {
  root = ItemWithRuns(nullptr, "D:\\", 1, {{0, 2}});
  TItem* tool = ItemWithRuns(root, "a.exe", 3, {{2, 3}});
  TItem* text = ItemWithRuns(root, "b.txt", 5, {{5, 4}});
  free = FreeChain({{9, 7}});
  const TVolumePlan plan = PlanVolume(root, free, 16);
  EXPECT_EQ(plan.totals.itemsToMove, 0);
  EXPECT_EQ(plan.totals.clustersToMove, 0);
  EXPECT_EQ(Targets(plan, tool), (std::vector<TTargetTuple>{{0, 2, 3}}));
  EXPECT_EQ(Targets(plan, text), (std::vector<TTargetTuple>{{0, 5, 4}}));
  EXPECT_EQ(plan.unmovable, (std::vector<TClusterExtent>{{0, 2}})) << "the root's index";
}

TEST_F(VolumePlanCases, ItemsMovesNeverTouchKeepTheirPlaceAndOthersGoAround) {
  // The root's index at 20..21, a sparse file at 4..5 and 8..9 (a hole
  // between) and a compressed one at 12..13 are never moved: a plan that
  // gave them targets could not be carried out, and would send the files
  // behind them onto clusters that never come free.
  root = ItemWithRuns(nullptr, "D:\\", 1, {{20, 2}});
  TItem* sparse = ItemWithRuns(root, "sparse.dat", 5, {{4, 2}, {-1, 1568}, {8, 2}});
  TItem* packed = ItemWithRuns(root, "packed.bin", 5, {{12, 2}, {-1, 14}});
  TItem* file = ItemWithRuns(root, "f.txt", 5, {{14, 4}});
  free = FreeChain({{0, 4}, {6, 2}, {10, 2}, {18, 2}, {22, 2}});
  const TVolumePlan plan = PlanVolume(root, free, 24);
  EXPECT_EQ(Targets(plan, root), (std::vector<TTargetTuple>{{0, 20, 2}}));
  EXPECT_EQ(Targets(plan, sparse), (std::vector<TTargetTuple>{{0, 4, 2}, {2, 8, 2}}));
  EXPECT_EQ(Targets(plan, packed), (std::vector<TTargetTuple>{{0, 12, 2}}));
  EXPECT_EQ(plan.unmovable, (std::vector<TClusterExtent>{{4, 2}, {8, 2}, {12, 2}, {20, 2}}));
  EXPECT_EQ(Targets(plan, file), (std::vector<TTargetTuple>{{0, 0, 4}}));
  EXPECT_EQ(plan.totals.itemsToMove, 1);
  EXPECT_EQ(plan.totals.clustersToMove, 4);
  EXPECT_EQ(plan.totals.fragmentedBefore, 1);
  EXPECT_EQ(plan.totals.fragmentedAfter, 1);
}

TEST_F(VolumePlanCases, AFileNotYetPlacedByTheFileSystemStaysWhereItsPlacedRunsLie) {
  // fresh.bin has 2 clusters at 30..31 and 4 the file system has not placed
  // yet: its layout is not settled, so it stays, and its clusters are kept.
  root = ItemWithRuns(nullptr, "D:\\", 1, {{0, 2}});
  TItem* fresh = ItemWithRuns(root, "fresh.bin", 5, {{30, 2}, {kLcnNotPlaced, 4}});
  TItem* other = ItemWithRuns(root, "b.txt", 5, {{20, 3}});
  free = FreeChain({{2, 18}, {23, 7}});
  const TVolumePlan plan = PlanVolume(root, free, 32);
  EXPECT_EQ(Targets(plan, fresh), (std::vector<TTargetTuple>{{0, 30, 2}}));
  EXPECT_EQ(Targets(plan, other), (std::vector<TTargetTuple>{{0, 2, 3}}));
  EXPECT_EQ(plan.totals.itemsToMove, 1);
  const TVolumeSummary summary = SummarizeVolume(root, free, 32, plan.totals);
  EXPECT_EQ(summary.itemsNotOnDisk, 1);
  EXPECT_EQ(summary.clustersNotOnDisk, 4);
  EXPECT_NE(FormatSummary('D', summary).find("  Not yet on disk:    4 clusters of 1 items"),
            std::string::npos);
}

TEST_F(VolumePlanCases, MetadataAndInPlaceItemsStayAndAreSkipped) {
  // Cluster 0..3 and 10 hold metadata (in use, listed by no item); keep.txt
  // is NOMOVE at 4..5; the root's index at 20..22 is never moved. The folder
  // and the file go around them.
  root = ItemWithRuns(nullptr, "D:\\", 1, {{20, 3}});
  TItem* docs = ItemWithRuns(root, "docs", 1, {{23, 2}});
  TItem* keep = ItemWithRuns(root, "keep.txt", 5, {{4, 2}});
  keep->flags |= kItemNoMove;
  TItem* file = ItemWithRuns(root, "f.txt", 5, {{25, 4}});
  free = FreeChain({{6, 4}, {11, 9}, {29, 3}});
  const TVolumePlan plan = PlanVolume(root, free, 32);
  EXPECT_EQ(plan.unmovable, (std::vector<TClusterExtent>{{0, 6}, {10, 1}, {20, 3}}));
  EXPECT_EQ(Targets(plan, root), (std::vector<TTargetTuple>{{0, 20, 3}}));
  EXPECT_EQ(Targets(plan, docs), (std::vector<TTargetTuple>{{0, 6, 2}}));
  EXPECT_EQ(Targets(plan, keep), (std::vector<TTargetTuple>{{0, 4, 2}}));
  // 8..9 and the next clusters would hold it only across the metadata at 10.
  EXPECT_EQ(Targets(plan, file), (std::vector<TTargetTuple>{{0, 11, 4}}));
  EXPECT_EQ(plan.totals.itemsToMove, 2);
}

TEST_F(VolumePlanCases, AVolumeTooFullForAnyWholeGapSplitsTheItem) {
  // Usable stretches of 2 clusters between metadata at 2 and 5; a.txt (3
  // clusters) fits none whole, so it is split, and b.txt follows it.
  root = ItemWithRuns(nullptr, "D:\\", 1, {});
  TItem* a = ItemWithRuns(root, "a.txt", 5, {{3, 2}, {6, 1}});
  TItem* b = ItemWithRuns(root, "b.txt", 5, {{7, 1}});
  free = FreeChain({{0, 2}});
  const TVolumePlan plan = PlanVolume(root, free, 8);
  EXPECT_EQ(Targets(plan, a), (std::vector<TTargetTuple>{{0, 0, 2}, {2, 3, 1}}));
  EXPECT_EQ(Targets(plan, b), (std::vector<TTargetTuple>{{0, 4, 1}}));
  EXPECT_EQ(plan.totals.fragmentedBefore, 1);
  EXPECT_EQ(plan.totals.fragmentedAfter, 1);
  EXPECT_EQ(plan.totals.clustersToMove, 4);
}

TEST_F(VolumePlanCases, ASkipThatWouldStrandLaterItemsIsNotTaken) {
  // a.txt fits whole only at 3..5, which leaves clusters 0..1 behind the
  // cursor for good. With room to spare that is taken; with one more file
  // those two clusters are needed, and a.txt is split instead.
  root = ItemWithRuns(nullptr, "D:\\", 1, {});
  TItem* a = ItemWithRuns(root, "a.txt", 5, {{3, 3}});
  TItem* b = ItemWithRuns(root, "b.zip", 8, {{7, 2}});
  free = FreeChain({{0, 2}});
  const TVolumePlan plan = PlanVolume(root, free, 9);
  // Usable: 0..1, 3..5, 7..8 (metadata at 2 and 6): 7 clusters for 5.
  EXPECT_EQ(Targets(plan, a), (std::vector<TTargetTuple>{{0, 3, 3}}));
  EXPECT_EQ(Targets(plan, b), (std::vector<TTargetTuple>{{0, 7, 2}}));
  ReleaseItem(root);
  ReleaseFragments(free);
  // With one more file the two skipped clusters are needed.
  root = ItemWithRuns(nullptr, "D:\\", 1, {});
  a = ItemWithRuns(root, "a.txt", 5, {{3, 3}});
  b = ItemWithRuns(root, "b.zip", 8, {{7, 2}});
  TItem* c = ItemWithRuns(root, "c.zip", 8, {{0, 2}});
  free = nullptr;
  const TVolumePlan full = PlanVolume(root, free, 9);
  EXPECT_EQ(Targets(full, a), (std::vector<TTargetTuple>{{0, 0, 2}, {2, 3, 1}}));
  EXPECT_EQ(Targets(full, b), (std::vector<TTargetTuple>{{0, 4, 2}}));
  EXPECT_EQ(Targets(full, c), (std::vector<TTargetTuple>{{0, 7, 2}}));
}

TEST_F(VolumePlanCases, ItemsSharingClustersAreCountedUnplacedNotOverlapped) {
  // The same runs listed under two names (a hard link): one copy has no room.
  root = ItemWithRuns(nullptr, "D:\\", 1, {});
  ItemWithRuns(root, "one.txt", 5, {{0, 4}});
  ItemWithRuns(root, "two.txt", 5, {{0, 4}});
  const TVolumePlan plan = PlanVolume(root, nullptr, 4);
  EXPECT_EQ(plan.totals.itemsUnplaced, 1);
  EXPECT_EQ(plan.totals.itemsToMove, 0);
}

}  // namespace
