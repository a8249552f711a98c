// The marks a schedule keeps on the clusters of places still to be filled:
// stretches marked and cleared across the edges of words, and the next
// cluster marked or not found from any point, inside the marked stretch or
// on either side of it.
#include "moving/cluster_marks.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

TEST(ClusterMarks, NextFindsWhatAClusterByClusterModelFinds) {
  // Clusters [70, 400) may be marked: neither end on a word's edge.
  constexpr int64_t kBase = 70;
  constexpr int64_t kLimit = 400;
  constexpr int64_t kVolume = 460;
  TClusterMarks marks(kBase, kLimit);
  std::vector<bool> model(kVolume, false);
  std::mt19937_64 random(11);
  for (int round = 0; round < 400; ++round) {
    const int64_t lcn = static_cast<int64_t>(random() % kVolume);
    const int64_t end = std::min<int64_t>(kVolume, lcn + 1 + static_cast<int64_t>(random() % 150));
    const bool marked = random() % 2 == 0;
    marks.Set(lcn, end, marked);
    for (int64_t at = std::max(lcn, kBase); at < std::min(end, kLimit); ++at) model[at] = marked;
    for (int ask = 0; ask < 20; ++ask) {
      const int64_t from = static_cast<int64_t>(random() % kVolume);
      const int64_t to =
          std::min<int64_t>(kVolume, from + 1 + static_cast<int64_t>(random() % 200));
      for (const bool wanted : {true, false}) {
        int64_t expected = from;
        while (expected < to && model[expected] != wanted) ++expected;
        ASSERT_EQ(marks.Next(from, to, wanted), expected)
            << "round " << round << ": [" << from << ", " << to << ") "
            << (wanted ? "marked" : "unmarked");
      }
    }
  }
}

}  // namespace
