// The cluster map index: the volume-order chain through the fragments'
// mapNext links, built from the runs whatever the volume's size, and look-ups
// that give exactly what a walk along the chain gives.
#include "ui/cluster_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/scripted_volume.h"
#include "tests/support/tree_builder.h"

namespace {

// A scripted volume of any cluster count, without a bitmap to hold them.
class TVolumeGeometry : public TScriptedVolume {
 public:
  explicit TVolumeGeometry(uint64_t clusters) : totalClusters(clusters) {}
  bool DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) override {
    if (!DiskFreeSpaceEx(rootPath) || plainQueryFails) return false;
    *geometry = TDiskGeometry{sectorsPerCluster, bytesPerSector, 0, totalClusters};
    return true;
  }
  uint64_t totalClusters;
  bool plainQueryFails = false;
};

// The look-up by its definition: walk the chain from its head, stopping at
// the first fragment that starts beyond the cluster.
TFragment* WalkTo(const TClusterMap& map, int64_t cluster) {
  TFragment* result = nullptr;
  for (TFragment* f = map.chainHead; f != nullptr && f->lcn <= cluster; f = f->mapNext) {
    result = f;
  }
  return result;
}

// The chain from its head; stops with a failure if it loops.
std::vector<TFragment*> Chain(const TClusterMap& map) {
  std::vector<TFragment*> chain;
  std::set<TFragment*> seen;
  for (TFragment* f = map.chainHead; f != nullptr; f = f->mapNext) {
    if (!seen.insert(f).second) {
      ADD_FAILURE() << "the chain loops back to lcn " << f->lcn;
      break;
    }
    chain.push_back(f);
  }
  return chain;
}

// The chain by its definition, cluster by cluster: each cluster shows the
// last run written to it in pre-order, and each run shown anywhere is
// chained once, at the first cluster where it shows.
void Paint(const TItem* item, bool planned, std::vector<TFragment*>* clusters) {
  const int64_t total = static_cast<int64_t>(clusters->size());
  for (TFragment* f = planned ? item->planned : item->fragments; f != nullptr; f = f->next) {
    if (f->lcn < 0) continue;
    for (int64_t c = f->lcn; c < f->lcn + f->length && c < total; ++c) {
      (*clusters)[static_cast<size_t>(c)] = f;
    }
  }
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    Paint(child, planned, clusters);
  }
}

std::vector<TFragment*> ExpectedChain(const TItem* root, int64_t totalClusters, bool planned) {
  std::vector<TFragment*> clusters(static_cast<size_t>(totalClusters), nullptr);
  Paint(root, planned, &clusters);
  std::vector<TFragment*> chain;
  std::set<TFragment*> seen;
  for (TFragment* f : clusters) {
    if (f != nullptr && seen.insert(f).second) chain.push_back(f);
  }
  return chain;
}

class ClusterMapTest : public testing::Test {
 protected:
  ~ClusterMapTest() override { ReleaseItem(root); }

  // Initialises the map over the current runs below root and builds it.
  bool Build(TVolumeGeometry& volume) {
    map.Init(root, false);
    return map.Build(volume);
  }

  TItem* root = AddItem(nullptr, "D:\\", 0, true);
  TClusterMap map;
};

TEST_F(ClusterMapTest, NoRunInRangeGivesAnEmptyChain) {
  TVolumeGeometry volume(1000);
  AddItem(root, "empty.txt", 0, false);
  AddItem(root, "sparse.dat", 4096, false, {{-1, 16}});
  AddItem(root, "beyond.bin", 4096, false, {{1000, 8}});
  ASSERT_TRUE(Build(volume));
  EXPECT_EQ(map.chainHead, nullptr);
  EXPECT_EQ(map.totalClusters, 1000);
  for (int64_t cluster : {int64_t{0}, int64_t{500}, int64_t{999}, int64_t{1000}}) {
    EXPECT_EQ(map.FindFragment(cluster), nullptr) << cluster;
  }
}

TEST_F(ClusterMapTest, RunsAreChainedInVolumeOrderWhateverTheirPlaceInTheTree) {
  TVolumeGeometry volume(1000);
  TItem* folder = AddItem(root, "Data", 0, true, {{700, 2}});
  TItem* movie = AddItem(folder, "movie.avi", 4096, false, {{300, 50}, {100, 10}});
  TItem* text = AddItem(root, "a.txt", 10, false, {{10, 1}});
  ASSERT_TRUE(Build(volume));
  const std::vector<TFragment*> expected = {text->fragments, movie->fragments->next,
                                            movie->fragments, folder->fragments};
  EXPECT_EQ(Chain(map), expected);
  EXPECT_EQ(folder->fragments->mapNext, nullptr);
}

TEST_F(ClusterMapTest, LookUpGivesTheLastRunStartingAtOrBeforeTheCluster) {
  TVolumeGeometry volume(1000);
  TItem* file = AddItem(root, "f.bin", 4096, false, {{100, 10}, {200, 5}});
  TFragment* first = file->fragments;
  TFragment* second = first->next;
  ASSERT_TRUE(Build(volume));
  struct TCase {
    int64_t cluster;
    TFragment* expected;
  };
  // In a gap the run before it comes back: the caller checks the run's end.
  const TCase cases[] = {{-1, nullptr}, {0, nullptr},  {99, nullptr}, {100, first},
                         {109, first},  {110, first},  {199, first},  {200, second},
                         {204, second}, {999, second}, {5000, second}};
  for (const TCase& c : cases) EXPECT_EQ(map.FindFragment(c.cluster), c.expected) << c.cluster;
}

TEST_F(ClusterMapTest, RunShownAgainAfterAnOverlapIsChainedOnce) {
  TVolumeGeometry volume(5000);
  // a is covered in its middle by b's second run, written later: a shows
  // before it and again after it, and is chained at its first showing.
  TItem* a = AddItem(root, "a.bin", 1, false, {{990, 40}});
  TItem* b = AddItem(root, "b.bin", 1, false, {{500, 5}, {1010, 5}});
  TItem* c = AddItem(root, "c.bin", 1, false, {{1500, 1000}, {2500, 10}});
  ASSERT_TRUE(Build(volume));
  const std::vector<TFragment*> expected = {b->fragments, a->fragments, b->fragments->next,
                                            c->fragments, c->fragments->next};
  EXPECT_EQ(Chain(map), expected);
  EXPECT_EQ(Chain(map), ExpectedChain(root, 5000, false));
  // Where b's run ends, a's comes back, but a look-up finds the last run
  // starting at or before the cluster, as the walk does.
  EXPECT_EQ(map.FindFragment(1020), b->fragments->next);
  EXPECT_EQ(map.FindFragment(2499), c->fragments);
  EXPECT_EQ(map.FindFragment(2500), c->fragments->next);
}

TEST_F(ClusterMapTest, RunsWithoutClustersAreLeftOutAndRunsPastTwoToThe32AreMapped) {
  // 15 TiB in 2 KiB clusters: 8,053,063,680 clusters.
  constexpr int64_t kTotal = 8053063680;
  constexpr int64_t k2To32 = int64_t{1} << 32;
  TVolumeGeometry volume(kTotal);
  TItem* file = AddItem(root, "f.bin", 1, false,
                        {{-1, 5}, {7, 3}, {0xFFFFFFFE, 4}, {k2To32 + 5, 10}, {kTotal - 4, 4}});
  TItem* other = AddItem(root, "g.bin", 1, false, {{-1, 2}, {k2To32 + 100, 1}});
  TFragment* atSeven = file->fragments->next;
  TFragment* across = atSeven->next;  // clusters 2^32 - 2 to 2^32 + 1
  TFragment* beyond = across->next;
  TFragment* atEnd = beyond->next;
  TFragment* single = other->fragments->next;
  ASSERT_TRUE(Build(volume));
  EXPECT_EQ(map.totalClusters, kTotal);
  EXPECT_EQ(Chain(map), (std::vector<TFragment*>{atSeven, across, beyond, single, atEnd}));
  struct TCase {
    int64_t cluster;
    const TFragment* expected;
  };
  // The runs without clusters never show at the start of the volume.
  const TCase cases[] = {{0, nullptr},           {k2To32 - 2, across}, {k2To32 + 1, across},
                         {k2To32 + 4, across},   {k2To32 + 5, beyond}, {k2To32 + 99, beyond},
                         {k2To32 + 100, single}, {kTotal - 5, single}, {kTotal - 1, atEnd}};
  for (const TCase& c : cases) EXPECT_EQ(map.FindFragment(c.cluster), c.expected) << c.cluster;
}

TEST_F(ClusterMapTest, RunPastTheVolumeEndIsChainedAndClipped) {
  TVolumeGeometry volume(1000);
  TItem* tail = AddItem(root, "tail.bin", 1, false, {{990, 50}});
  AddItem(root, "outside.bin", 1, false, {{1000, 5}});
  // A length that would overflow lcn + length is held to the volume's end.
  TItem* corrupt = AddItem(root, "corrupt.bin", 1, false, {{995, INT64_MAX - 10}});
  ASSERT_TRUE(Build(volume));
  EXPECT_EQ(Chain(map), (std::vector<TFragment*>{tail->fragments, corrupt->fragments}));
  EXPECT_EQ(map.FindFragment(999), corrupt->fragments);
  EXPECT_EQ(map.MostTellingFragment(990, 1000), tail->fragments);
}

// After moves the window replaces a file's runs with new ones and builds
// the same map again: the chain follows the runs to their new places and
// holds none of the released ones.
TEST_F(ClusterMapTest, BuildingAgainAfterRunsMovedFollowsThem) {
  TVolumeGeometry volume(100000);
  TItem* a = AddItem(root, "a.bin", 1, false, {{30, 10}, {0, 5}});
  TItem* b = AddItem(root, "b.bin", 1, false, {{99990, 10}});
  ASSERT_TRUE(Build(volume));
  EXPECT_EQ(Chain(map), (std::vector<TFragment*>{a->fragments->next, a->fragments, b->fragments}));
  // a's two runs become one after b's, b's run one at the volume's start.
  ReleaseFragments(a->fragments);
  a->fragments = NewFragment(a, 0, 50000, 15);
  ReleaseFragments(b->fragments);
  b->fragments = NewFragment(b, 0, 0, 10);
  map.Init(root, false);
  ASSERT_TRUE(map.Build(volume));
  EXPECT_EQ(Chain(map), (std::vector<TFragment*>{b->fragments, a->fragments}));
  EXPECT_EQ(map.FindFragment(49999), b->fragments);
  EXPECT_EQ(map.FindFragment(99999), a->fragments);
  EXPECT_EQ(volume.debugOutput, "Total sectors: 800000\nTotal sectors: 800000\n");
}

// 2^40 clusters (4 PiB of 4 KiB clusters), beyond any window of clusters, with
// a handful of runs at its start, its middle and its end, overlapping in
// places; the chain and the look-ups are the same as on a small volume.
TEST_F(ClusterMapTest, HandfulOfRunsOnAVolumeOfTwoToThe40Clusters) {
  constexpr int64_t kTotal = int64_t{1} << 40;
  constexpr int64_t kMiddle = kTotal / 2;
  TVolumeGeometry volume(kTotal);
  TItem* big = AddItem(root, "big.bin", 1, false, {{5, int64_t{1} << 36}, {kMiddle, 1000}});
  TItem* folder = AddItem(root, "Data", 0, true);
  // Written after big's runs: shows over the middle of the first one and
  // the start of the second.
  TItem* inside = AddItem(folder, "inside.bin", 1, false, {{kMiddle - 10, 20}, {1000, 3}});
  TItem* last = AddItem(root, "last.bin", 1, false, {{kTotal - 1, 1}});
  ASSERT_TRUE(Build(volume));
  TFragment* first = big->fragments;
  TFragment* middle = first->next;
  TFragment* beforeMiddle = inside->fragments;
  TFragment* early = beforeMiddle->next;
  EXPECT_EQ(Chain(map),
            (std::vector<TFragment*>{first, early, beforeMiddle, middle, last->fragments}));
  struct TCase {
    int64_t cluster;
    const TFragment* expected;
  };
  const TCase cases[] = {{4, nullptr},
                         {5, first},
                         {999, first},
                         {1000, early},
                         {1003, early},
                         {kMiddle - 11, early},
                         {kMiddle - 10, beforeMiddle},
                         {kMiddle, middle},
                         {kMiddle + 9, middle},
                         {kTotal - 2, middle},
                         {kTotal - 1, last->fragments}};
  for (const TCase& c : cases) EXPECT_EQ(map.FindFragment(c.cluster), c.expected) << c.cluster;
  EXPECT_EQ(map.MostTellingFragment(0, 5), nullptr);
  EXPECT_EQ(map.MostTellingFragment(kMiddle + 10, kMiddle + 11), middle);
  EXPECT_EQ(map.MostTellingFragment(kTotal - 1, kTotal), last->fragments);
}

// Runs starting together, nested and overlapping in the first 1,000
// clusters give the same chain on a volume of that size as on ones of 2^40
// and of 2^63 - 1 clusters, where cluster numbers and the runs' places in
// the tree no longer fit one 64-bit number together.
TEST_F(ClusterMapTest, SameRunsGiveTheSameChainOnVolumesOfAnySize) {
  AddItem(root, "a.bin", 1, false, {{100, 50}, {0, 10}, {100, 20}});
  TItem* folder = AddItem(root, "Data", 0, true, {{100, 10}});
  AddItem(folder, "b.bin", 1, false, {{140, 200}, {5, 3}, {990, 100}});
  AddItem(root, "c.bin", 1, false, {{100, 5}, {300, 1}, {0, 1}});
  const std::vector<TFragment*> expected = ExpectedChain(root, 1000, false);
  ASSERT_EQ(expected.size(), 10u);
  for (const int64_t clusters : {int64_t{1000}, int64_t{1} << 40, INT64_MAX}) {
    TVolumeGeometry volume(static_cast<uint64_t>(clusters));
    volume.sectorsPerCluster = 1;
    ASSERT_TRUE(Build(volume)) << clusters;
    EXPECT_EQ(Chain(map), expected) << clusters;
    for (int64_t cluster = -1; cluster <= 1001; ++cluster) {
      ASSERT_EQ(map.FindFragment(cluster), WalkTo(map, cluster)) << clusters << ", " << cluster;
    }
  }
}

TEST_F(ClusterMapTest, DebugLineGivesTheSectorCountIn64Bits) {
  TVolumeGeometry volume(100000000);
  volume.sectorsPerCluster = 64;
  ASSERT_TRUE(Build(volume));
  EXPECT_EQ(volume.debugOutput, "Total sectors: 6400000000\n");
}

struct TFailureCase {
  const char* name;
  bool extendedQueryFails;
  bool plainQueryFails;
};

class ClusterMapFailureTest : public ClusterMapTest,
                              public testing::WithParamInterface<TFailureCase> {};

TEST_P(ClusterMapFailureTest, FailsWithoutTouchingAnyLink) {
  TVolumeGeometry volume(1000);
  volume.geometryFails = GetParam().extendedQueryFails;
  volume.plainQueryFails = GetParam().plainQueryFails;
  TItem* file = AddItem(root, "f.bin", 1, false, {{10, 5}, {20, 5}});
  // A link left by an earlier map stays as it was.
  file->fragments->mapNext = file->fragments->next;
  map.Init(root, false);
  EXPECT_FALSE(map.Build(volume));
  EXPECT_EQ(map.chainHead, nullptr);
  EXPECT_EQ(map.FindFragment(10), nullptr);
  EXPECT_EQ(file->fragments->mapNext, file->fragments->next);
  EXPECT_EQ(volume.debugOutput, "");
}

INSTANTIATE_TEST_SUITE_P(Cases, ClusterMapFailureTest,
                         testing::Values(TFailureCase{"ExtendedQuery", true, false},
                                         TFailureCase{"PlainQuery", false, true}),
                         [](const testing::TestParamInfo<TFailureCase>& info) {
                           return info.param.name;
                         });

TEST_F(ClusterMapTest, OverlappingRunsNeitherCutNorCloseTheChain) {
  TVolumeGeometry volume(200);
  // Written in tree order: b over the start of a, c over the middle of b.
  TItem* a = AddItem(root, "a.bin", 1, false, {{0, 100}});
  TItem* b = AddItem(root, "b.bin", 1, false, {{0, 50}});
  TItem* c = AddItem(root, "c.bin", 1, false, {{20, 5}});
  ASSERT_TRUE(Build(volume));
  // a shows from cluster 50 on, after c: its lcn of 0 follows c's 20.
  EXPECT_EQ(Chain(map), (std::vector<TFragment*>{b->fragments, c->fragments, a->fragments}));
  for (int64_t cluster = -1; cluster <= 201; ++cluster) {
    EXPECT_EQ(map.FindFragment(cluster), WalkTo(map, cluster)) << cluster;
  }
  EXPECT_EQ(map.FindFragment(60), a->fragments);
  EXPECT_EQ(map.FindFragment(10), b->fragments);
}

TEST_F(ClusterMapTest, BuildingAgainOverStaleLinksGivesTheSameChain) {
  TVolumeGeometry volume(1000);
  AddItem(root, "a.bin", 1, false, {{300, 5}, {100, 5}});
  AddItem(root, "b.bin", 1, false, {{200, 5}});
  ASSERT_TRUE(Build(volume));
  const std::vector<TFragment*> first = Chain(map);
  ASSERT_EQ(first.size(), 3u);
  TClusterMap again;
  again.Init(root, false);
  ASSERT_TRUE(again.Build(volume));
  EXPECT_EQ(Chain(again), first);
}

TEST_F(ClusterMapTest, PlannedLayoutChainsThePlannedRuns) {
  TVolumeGeometry volume(1000);
  TItem* file = AddItem(root, "f.bin", 1, false, {{500, 5}});
  file->planned = NewFragment(file, 0, 40, 5);
  map.Init(root, true);
  ASSERT_TRUE(map.Build(volume));
  EXPECT_EQ(Chain(map), (std::vector<TFragment*>{file->planned}));
  ReleaseFragments(file->planned);
  file->planned = nullptr;
}

// Random trees whose runs overlap (often starting at the same cluster), lack
// clusters or run past the end, on volumes that end before, inside and after
// the runs.
TEST_F(ClusterMapTest, RandomLayoutsMatchTheClusterByClusterChainAndTheWalk) {
  std::mt19937 random(20240611);
  for (int layout = 0; layout < 40; ++layout) {
    ReleaseItem(root);
    root = AddItem(nullptr, "D:\\", 0, true);
    const uint32_t total = 500 + random() % 1500;
    const bool overlapping = layout % 2 == 0;
    std::vector<TItem*> folders = {root};
    int64_t cursor = 0;
    for (int i = 0; i < 60; ++i) {
      TItem* parent = folders[random() % folders.size()];
      const std::string name = "item" + std::to_string(i);
      TItem* item = AddItem(parent, name.c_str(), 1, random() % 4 == 0);
      if (item->IsFolder()) folders.push_back(item);
      TFragment* tail = nullptr;
      for (uint32_t r = random() % 4; r > 0; --r) {
        int64_t lcn;
        const int64_t length = 1 + random() % 60;
        if (random() % 10 == 0) {
          lcn = -1;
        } else if (overlapping && layout % 3 == 0) {
          lcn = 50 * (random() % (total / 50));
        } else if (overlapping) {
          lcn = random() % (total + 40);
        } else {
          // Ascending and disjoint, in random tree places and list orders.
          cursor += random() % 30;
          lcn = cursor;
          cursor += length;
        }
        TFragment* fragment = NewFragment(item, 0, lcn, length);
        if (tail == nullptr) {
          item->fragments = fragment;
        } else {
          tail->next = fragment;
        }
        tail = fragment;
      }
    }
    for (const uint32_t clusters : {total / 3, total, total + 100}) {
      const std::vector<TFragment*> expected = ExpectedChain(root, clusters, false);
      TVolumeGeometry volume(clusters);
      ASSERT_TRUE(Build(volume));
      ASSERT_EQ(Chain(map), expected) << "layout " << layout << ", clusters " << clusters;
      for (int64_t cluster = -2; cluster <= clusters + 2; ++cluster) {
        ASSERT_EQ(map.FindFragment(cluster), WalkTo(map, cluster))
            << "layout " << layout << ", clusters " << clusters << ", cluster " << cluster;
      }
    }
  }
}

}  // namespace
