// The arithmetic of an ext volume's metadata stretches: a group free but
// for its metadata is told, not read, so a block of metadata taken for free
// would be planned over, and one counted twice would send the group to be
// read for nothing.
#include "platform/linux/host_ext_metadata.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using TStretches = std::vector<TBlockStretch>;

TEST(ExtMetadataStretches, KindsComeBackInBlockOrderEachJoinedWhereItGoesOn) {
  TMetadataStretches stretches;
  // A flex group of four groups: bitmaps side by side, inode tables after,
  // then the next flex group's, and one group's descriptor copy before all.
  for (int64_t group = 0; group < 8; ++group) {
    const int64_t flexFirst = group < 4 ? 100 : 5000;
    stretches.Add(TMetadataStretches::kBlockBitmap, flexFirst + group % 4, 1);
    stretches.Add(TMetadataStretches::kInodeBitmap, flexFirst + 4 + group % 4, 1);
    stretches.Add(TMetadataStretches::kInodeTable, flexFirst + 8 + group % 4 * 16, 16);
  }
  stretches.Add(TMetadataStretches::kSuperAndDescriptors, 3, 2);
  // A stretch out of order within its kind (a volume grown by resize2fs).
  stretches.Add(TMetadataStretches::kBlockBitmap, 50, 1);
  EXPECT_EQ(stretches.Take(),
            (TStretches{
                {3, 2}, {50, 1}, {100, 4}, {104, 4}, {108, 64}, {5000, 4}, {5004, 4}, {5008, 64}}));
  EXPECT_TRUE(stretches.Take().empty());
}

TEST(ExtMetadataStretches, JoinedMergesBothListsJoiningOverlapsAndNeighbours) {
  struct TCase {
    const char* what;
    TStretches a, b, joined;
  };
  const TCase cases[] = {
      {"apart", {{0, 2}, {10, 2}}, {{5, 1}}, {{0, 2}, {5, 1}, {10, 2}}},
      {"side by side across the lists", {{0, 2}, {4, 2}}, {{2, 2}}, {{0, 6}}},
      {"one inside another", {{0, 10}}, {{3, 2}, {12, 1}}, {{0, 10}, {12, 1}}},
      {"overlapping past the end", {{0, 5}}, {{3, 5}}, {{0, 8}}},
      {"one list empty", {}, {{7, 1}, {8, 1}}, {{7, 2}}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Joined(c.a, c.b), c.joined) << c.what;
    EXPECT_EQ(Joined(c.b, c.a), c.joined) << c.what;
  }
}

TEST(ExtMetadataStretches, BlocksWithinCountsOnlyWhatLiesInTheGroup) {
  // Groups of 100 blocks from block 0; metadata crossing two boundaries.
  const TStretches metadata = {{0, 3}, {98, 4}, {150, 10}, {190, 120}};
  const int64_t expected[] = {3 + 2, 2 + 10 + 10, 100, 10, 0};
  size_t at = 0;
  for (int64_t group = 0; group < 5; ++group) {
    EXPECT_EQ(BlocksWithin(metadata, group * 100, 100, &at), expected[group]) << group;
  }
}

TEST(ExtMetadataStretches, LessTakesMetadataOffFreeStretchesWhereverItFalls) {
  struct TCase {
    const char* what;
    TStretches free, metadata, kept;
  };
  const TCase cases[] = {
      {"none", {{0, 10}}, {}, {{0, 10}}},
      {"at the start and end", {{0, 10}}, {{0, 2}, {8, 2}}, {{2, 6}}},
      {"in the middle", {{0, 10}}, {{4, 1}}, {{0, 4}, {5, 5}}},
      {"across two free stretches", {{0, 10}, {20, 10}}, {{8, 15}}, {{0, 8}, {23, 7}}},
      {"all of one", {{0, 4}, {10, 4}}, {{0, 4}}, {{10, 4}}},
      {"between them only", {{0, 4}, {10, 4}}, {{5, 3}}, {{0, 4}, {10, 4}}},
      {"one covering several",
       {{0, 2}, {5, 2}, {9, 2}, {20, 5}},
       {{1, 9}},
       {{0, 1}, {10, 1}, {20, 5}}},
  };
  for (const TCase& c : cases) EXPECT_EQ(Less(c.free, c.metadata), c.kept) << c.what;
}

}  // namespace
