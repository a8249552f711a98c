// The free clusters the replay of a schedule checks its steps against: the
// same answers as a plain cluster-by-cluster model, at the edges of pages
// and of extents, for stretches that touch, and for stretches given back
// and then taken again.
#include "moving/paged_free_space.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// The free clusters one by one, as the answers should be.
struct TClusterModel {
  std::vector<bool> free;

  bool All(int64_t lcn, int64_t end, bool value) const {
    for (int64_t at = lcn; at < end; ++at) {
      const bool isFree = at >= 0 && at < static_cast<int64_t>(free.size()) && free[at];
      if (isFree != value) return false;
    }
    return true;
  }
  void Set(int64_t lcn, int64_t end, bool value) {
    for (int64_t at = lcn; at < end; ++at) free[at] = value;
  }
  std::vector<TClusterExtent> Extents() const {
    std::vector<TClusterExtent> extents;
    for (int64_t at = 0; at < static_cast<int64_t>(free.size()); ++at) {
      if (!free[at]) continue;
      if (!extents.empty() && extents.back().End() == at) {
        ++extents.back().length;
      } else {
        extents.push_back(TClusterExtent{at, 1});
      }
    }
    return extents;
  }
};

TEST(PagedFreeSpace, AnswersAtTheEdgesOfExtentsAndPages) {
  // Pages of 32 clusters, with one extent to a page: 30..34 and 34..40
  // touch and cross none; 60..100 crosses two page edges; 118..128 crosses
  // the limit.
  const TPagedFreeSpace space({{34, 6}, {30, 4}, {60, 40}, {5, 0}, {118, 10}}, 120, 1);
  EXPECT_EQ(space.Extents(), (std::vector<TClusterExtent>{{30, 10}, {60, 40}, {118, 2}}));
  struct TCase {
    int64_t lcn, end;
    bool allFree, noneFree;
  };
  const TCase cases[] = {
      {30, 40, true, false},                           // two extents that touch are one
      {29, 30, false, true},                           // the cluster before an extent
      {40, 41, false, true},                           // the cluster after it
      {29, 31, false, false},                          // half in, half out
      {60, 100, true, false},                          // over two page edges
      {63, 65, true, false},                           // across one
      {58, 102, false, false},                         // wider than the extent
      {40, 60, false, true},                           // between two extents, touching both
      {50, 50, true, true},                            // no clusters
      {119, 121, false, false},                        // past the limit nothing is free
      {120, 130, false, true},  {-3, 0, false, true},  // nor before cluster 0
  };
  for (const TCase& test : cases) {
    EXPECT_EQ(space.AllFree(test.lcn, test.end), test.allFree) << test.lcn << ".." << test.end;
    EXPECT_EQ(space.NoneFree(test.lcn, test.end), test.noneFree) << test.lcn << ".." << test.end;
  }
}

TEST(PagedFreeSpace, WhatIsGivenBackJoinsItsNeighboursAndCanBeTakenAgain) {
  // Pages of 32 clusters, with one extent to a page.
  TPagedFreeSpace space({{10, 10}, {40, 10}, {90, 5}}, 100, 1);
  // The stretch between two extents joins both, over a page edge.
  space.Give(20, 40);
  EXPECT_EQ(space.Extents(), (std::vector<TClusterExtent>{{10, 40}, {90, 5}}));
  // Taken from the middle, then from each end, then the rest.
  space.Take(30, 35);
  EXPECT_EQ(space.Extents(), (std::vector<TClusterExtent>{{10, 20}, {35, 15}, {90, 5}}));
  EXPECT_FALSE(space.AllFree(29, 31));
  space.Take(10, 12);
  space.Take(45, 50);
  EXPECT_EQ(space.Extents(), (std::vector<TClusterExtent>{{12, 18}, {35, 10}, {90, 5}}));
  space.Give(30, 35);
  EXPECT_EQ(space.Extents(), (std::vector<TClusterExtent>{{12, 33}, {90, 5}}));
  space.Take(12, 45);
  space.Take(90, 95);
  EXPECT_TRUE(space.Extents().empty());
  EXPECT_TRUE(space.NoneFree(0, 100));
}

// Random takes and gives, each only where the model allows it, on volumes
// of a few pages: every answer and the extents after every change are the
// plain model's.
TEST(PagedFreeSpace, AgreesWithAClusterByClusterModelOnRandomChanges) {
  std::mt19937 random(19);
  for (int round = 0; round < 200; ++round) {
    const int64_t limit = 1 + random() % 300;
    TClusterModel model{std::vector<bool>(static_cast<size_t>(limit), false)};
    std::vector<TClusterExtent> extents;
    for (int i = random() % 40; i > 0; --i) {
      const int64_t lcn = static_cast<int64_t>(random() % (limit + 20)) - 10;
      const int64_t length = random() % 30;
      extents.push_back(TClusterExtent{lcn, length});
      model.Set(std::max<int64_t>(lcn, 0), std::min(lcn + length, limit), true);
    }
    // Small pages: many page edges.
    TPagedFreeSpace space(extents, limit, 1);
    ASSERT_EQ(space.Extents(), model.Extents()) << "round " << round;
    for (int change = 0; change < 300; ++change) {
      const int64_t lcn = static_cast<int64_t>(random() % (limit + 10)) - 5;
      const int64_t end = lcn + static_cast<int64_t>(random() % 40);
      const bool allFree = model.All(lcn, end, true);
      const bool noneFree = model.All(lcn, end, false);
      ASSERT_EQ(space.AllFree(lcn, end), allFree) << "round " << round << " " << lcn << ".." << end;
      ASSERT_EQ(space.NoneFree(lcn, end), noneFree)
          << "round " << round << " " << lcn << ".." << end;
      if (allFree && lcn < end) {
        space.Take(lcn, end);
        model.Set(lcn, end, false);
      } else if (noneFree && lcn < end && lcn >= 0 && end <= limit) {
        space.Give(lcn, end);
        model.Set(lcn, end, true);
      }
      ASSERT_EQ(space.Extents(), model.Extents()) << "round " << round << " change " << change;
    }
  }
}

// The replay's checks and changes in one: each takes (gives back) exactly
// when the plain model says every (no) cluster is free, inside one page or
// across its edges, and otherwise leaves everything as it was.
TEST(PagedFreeSpace, TakingAndGivingBackOnlyWhereAllowedChangesNothingWhenRefused) {
  std::mt19937 random(21);
  for (int round = 0; round < 200; ++round) {
    const int64_t limit = 1 + random() % 300;
    TClusterModel model{std::vector<bool>(static_cast<size_t>(limit), false)};
    std::vector<TClusterExtent> extents;
    for (int i = random() % 40; i > 0; --i) {
      const int64_t lcn = random() % limit;
      const int64_t length = random() % 30;
      extents.push_back(TClusterExtent{lcn, length});
      model.Set(lcn, std::min(lcn + length, limit), true);
    }
    TPagedFreeSpace space(extents, limit, 1 + random() % 4);
    for (int change = 0; change < 300; ++change) {
      const int64_t lcn = static_cast<int64_t>(random() % (limit + 10)) - 5;
      const int64_t end = lcn + static_cast<int64_t>(random() % 40);
      if (random() % 2 == 0) {
        const bool allowed = model.All(lcn, end, true);
        ASSERT_EQ(space.TakeIfAllFree(lcn, end), allowed)
            << "round " << round << " take " << lcn << ".." << end;
        if (allowed && lcn < end) model.Set(lcn, end, false);
      } else {
        const bool allowed = model.All(lcn, end, false);
        ASSERT_EQ(space.GiveIfNoneFree(lcn, end), allowed)
            << "round " << round << " give " << lcn << ".." << end;
        if (allowed) model.Set(std::max<int64_t>(lcn, 0), std::min(end, limit), true);
      }
      ASSERT_EQ(space.Extents(), model.Extents()) << "round " << round << " change " << change;
    }
  }
}

}  // namespace
