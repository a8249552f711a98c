// The checks that say where an item's runs cannot be what the volume
// holds: runs no volume holds are taken off the item, and clusters claimed
// twice or claimed while the bitmap calls them free are found, each pair
// once, whatever order the tree lists the items in.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "analysis/claim_conflicts.h"
#include "analysis/run_checks.h"
#include "tests/support/tree_builder.h"

namespace {

using TRun = std::pair<int64_t, int64_t>;  // lcn (-1 a hole), length

// The runs of an item as {vcn, lcn, length}.
std::vector<std::vector<int64_t>> Runs(const TItem* item) {
  std::vector<std::vector<int64_t>> runs;
  for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
    runs.push_back({run->vcn, run->lcn, run->length});
  }
  return runs;
}

struct TRunCase {
  const char* name;
  std::vector<TRun> runs;
  std::vector<std::vector<int64_t>> kept;  // {vcn, lcn, length}
  std::vector<std::string> said;           // a part of each sentence, in run order
};

TEST(DropImpossibleRuns, KeepsWhatAVolumeOfHundredClustersHolds) {
  const TRunCase cases[] = {
      {"sound runs and a hole",
       {{0, 10}, {-1, 5}, {90, 10}},
       {{0, 0, 10}, {10, -1, 5}, {15, 90, 10}},
       {}},
      {"a run wholly outside", {{0, 10}, {100, 1}}, {{0, 0, 10}}, {"wholly outside"}},
      {"a run partly outside", {{95, 6}, {0, 4}}, {{6, 0, 4}}, {"partly outside"}},
      {"a huge run", {{5, int64_t{1} << 40}}, {}, {"partly outside"}},
      {"runs whose ends overflow",
       {{-1, INT64_MAX - 8}, {1, 4}},
       {},
       {"reaches past", "reaches past"}},
      {"a run of no length", {{0, 0}, {3, 2}}, {{0, 3, 2}}, {"no positive length"}},
      {"a hole up to the largest VCN, then a run past it",
       {{-1, kMaxStreamClusters}, {1, 1}},
       {{0, -1, kMaxStreamClusters}},
       {"reaches past"}},
  };
  // Nor any of them on a volume whose size is not known yet.
  TItem* unknown = AddItem(nullptr, "f", 0, false, {{1000, 5}});
  EXPECT_TRUE(DropImpossibleRuns(unknown, 0).empty());
  EXPECT_EQ(Runs(unknown), (std::vector<std::vector<int64_t>>{{0, 1000, 5}}));
  ReleaseItem(unknown);
  for (const TRunCase& test : cases) {
    SCOPED_TRACE(test.name);
    TItem* item = AddItem(nullptr, "f", 0, false);
    TFragment** tail = &item->fragments;
    int64_t vcn = 0;
    for (const TRun& run : test.runs) {
      *tail = NewFragment(item, vcn, run.first, run.second);
      tail = &(*tail)->next;
      vcn += run.second;
      ++item->fragmentCount;
    }
    const std::vector<std::string> said = DropImpossibleRuns(item, 100);
    EXPECT_EQ(Runs(item), test.kept);
    EXPECT_EQ(item->fragmentCount, static_cast<int32_t>(test.kept.size()));
    ASSERT_EQ(said.size(), test.said.size());
    for (size_t i = 0; i < said.size(); ++i) {
      EXPECT_NE(said[i].find(test.said[i]), std::string::npos) << said[i];
    }
    ReleaseItem(item);
  }
}

// A free extent chain, ascending.
TFragment* FreeChain(std::initializer_list<TRun> extents) {
  TFragment* head = nullptr;
  TFragment** tail = &head;
  for (const TRun& extent : extents) {
    *tail = NewFragment(nullptr, 0, extent.first, extent.second);
    tail = &(*tail)->next;
  }
  return head;
}

// A conflict as names and numbers, "" for the bitmap.
struct TConflict {
  std::string item;
  std::string other;
  int64_t lcn;
  int64_t clusters;
  bool operator==(const TConflict& b) const {
    return item == b.item && other == b.other && lcn == b.lcn && clusters == b.clusters;
  }
};
void PrintTo(const TConflict& c, std::ostream* out) {
  *out << c.item << "/" << c.other << "@" << c.lcn << "+" << c.clusters;
}

std::vector<TConflict> Conflicts(TItem* root, const TFragment* free) {
  std::vector<TConflict> found;
  for (const TClaimConflict& c : FindClaimConflicts(root, free)) {
    found.push_back({c.item->name, c.other != nullptr ? c.other->name : "", c.lcn, c.clusters});
  }
  return found;
}

TEST(FindClaimConflicts, NamesEachSharedStretchAndEachClaimOfFreeClusters) {
  TItem* root = AddItem(nullptr, "D:\\", 0, true, {{0, 2}});
  AddItem(root, "a", 0, false, {{10, 10}, {40, 5}});
  TItem* folder = AddItem(root, "dir", 0, true, {{30, 2}});
  AddItem(folder, "b", 0, false, {{15, 10}});          // shares 15..19 with a
  AddItem(folder, "c", 0, false, {{-1, 8}, {42, 1}});  // inside a's second run
  AddItem(root, "d", 0, false, {{60, 4}, {61, 1}});    // claims 61 twice
  AddItem(root, "e", 0, false, {{70, 5}});             // 73..74 free in the bitmap
  TFragment* free = FreeChain({{2, 8}, {50, 10}, {73, 27}});
  EXPECT_EQ(Conflicts(root, free),
            (std::vector<TConflict>{
                {"a", "b", 15, 5}, {"a", "c", 42, 1}, {"d", "d", 61, 1}, {"e", "", 73, 2}}));
  ReleaseItem(root);
  ReleaseFragments(free);
}

TEST(FindClaimConflicts, ASoundVolumeHasNoneAndAPairIsOneConflictInEitherOrder) {
  TItem* root = AddItem(nullptr, "D:\\", 0, true);
  AddItem(root, "a", 0, false, {{0, 4}, {20, 4}});
  AddItem(root, "b", 0, false, {{4, 4}});
  TFragment* free = FreeChain({{8, 12}});
  EXPECT_TRUE(Conflicts(root, free).empty());
  // Both of c's runs lie inside runs of a: one conflict of two clusters.
  AddItem(root, "c", 0, false, {{2, 1}, {21, 1}});
  EXPECT_EQ(Conflicts(root, free), (std::vector<TConflict>{{"a", "c", 2, 2}}));
  ReleaseItem(root);
  ReleaseFragments(free);
}

}  // namespace
