// Who holds each cluster while a schedule is worked out: stretches found
// whole across the edges of pages, changes that cut and join them, and the
// free clusters nearest below a point found past pages with none.
#include "moving/cluster_owners.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint32_t kFree = TClusterOwners::kFree;
constexpr uint32_t kFileSystem = TClusterOwners::kFileSystem;

// A stretch as "lcn-end file@vcn", "free" or "fs" for the file.
std::string Shown(const TClusterOwners::TStretch& stretch) {
  const std::string holder = stretch.file == kFree         ? "free"
                             : stretch.file == kFileSystem ? "fs"
                                                           : std::to_string(stretch.file);
  return std::to_string(stretch.lcn) + "-" + std::to_string(stretch.end) + " " + holder + "@" +
         std::to_string(stretch.vcn);
}

// Every stretch from cluster 0 to the end, as At reports them.
std::vector<std::string> Stretches(const TClusterOwners& owners, int64_t total) {
  std::vector<std::string> stretches;
  for (int64_t lcn = 0; lcn < total;) {
    const TClusterOwners::TStretch stretch = owners.At(lcn);
    stretches.push_back(Shown(stretch));
    lcn = stretch.end;
  }
  return stretches;
}

TEST(ClusterOwners, StretchesAreFoundWholeAcrossPagesAndJoinedAgainWhenGivenBack) {
  // Pages of 16 clusters: a file's run over three pages, free space over two.
  TClusterOwners owners(100, 7 * 32);
  owners.Add(10, 50, 7, 100);
  owners.Add(60, 90, kFree, 0);
  owners.Seal();
  EXPECT_EQ(Stretches(owners, 100),
            (std::vector<std::string>{"0-10 fs@0", "10-50 7@100", "50-60 fs@0", "60-90 free@0",
                                      "90-100 fs@0"}));
  EXPECT_EQ(Shown(owners.At(33)), "33-50 7@123");
  // Part of the file moves into the free space, then back where it was.
  owners.Assign(62, 72, 7, 120);
  owners.Assign(30, 40, kFree, 0);
  EXPECT_EQ(Shown(owners.At(10)), "10-30 7@100");
  EXPECT_EQ(Shown(owners.At(30)), "30-40 free@0");
  EXPECT_EQ(Shown(owners.At(40)), "40-50 7@130");
  EXPECT_EQ(Shown(owners.At(60)), "60-62 free@0");
  EXPECT_EQ(Shown(owners.At(62)), "62-72 7@120");
  owners.Assign(30, 40, 7, 120);
  owners.Assign(62, 72, kFree, 0);
  EXPECT_EQ(Shown(owners.At(10)), "10-50 7@100");
  EXPECT_EQ(Shown(owners.At(60)), "60-90 free@0");
  // Clusters taken from the free space without a holder are no longer free.
  owners.Assign(60, 90, kFileSystem, 0);
  EXPECT_EQ(Shown(owners.At(55)), "55-100 fs@0");
}

TEST(ClusterOwners, TheFreeClustersNearestBelowAPointAreFoundPastPagesWithoutAny) {
  TClusterOwners owners(4096, 256 * 32);
  owners.Add(0, 4096, 1, 0);
  owners.Seal();
  TClusterOwners::TStretch free{};
  EXPECT_FALSE(owners.FreeBelow(4096, &free));
  owners.Assign(5, 9, kFree, 0);
  owners.Assign(3000, 3100, kFree, 0);
  const struct {
    int64_t before;
    bool found;
    int64_t lcn;
    int64_t end;
  } cases[] = {
      {4096, true, 3000, 3100},  // a stretch over several pages, whole
      {3050, true, 3000, 3050},  // cut at the point asked
      {3000, true, 5, 9},        // past hundreds of pages with no free cluster
      {7, true, 5, 7},          {5, false, 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(owners.FreeBelow(c.before, &free), c.found) << c.before;
    if (!c.found) continue;
    EXPECT_EQ(free.lcn, c.lcn) << c.before;
    EXPECT_EQ(free.end, c.end) << c.before;
  }
}

}  // namespace
