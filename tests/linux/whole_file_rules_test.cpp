// The arithmetic behind making host files whole, without a disk: which
// file systems have an operation, how pieces are counted from FIEMAP's
// extents, which files have holes, which attributes and errors keep a file
// as it is, and the swap files /proc/swaps names.
#include "platform/linux/whole_file_rules.h"

#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>

#include <cerrno>

namespace {

constexpr uint64_t kBlock = 4096;

TEST(WholeFileRules, OnlyExt4XfsAndBtrfsHaveAnOperation) {
  const struct {
    unsigned long magic;
    bool offered;
    TWholeFileSystem system;
  } cases[] = {
      {0xEF53UL, true, TWholeFileSystem::kExt4},
      {0x58465342UL, true, TWholeFileSystem::kXfs},
      {0x9123683EUL, true, TWholeFileSystem::kBtrfs},
      {0x01021994UL, false, TWholeFileSystem::kExt4},
      {0x6969UL, false, TWholeFileSystem::kExt4},
      {0x65735546UL, false, TWholeFileSystem::kExt4},
  };
  for (const auto& one : cases) {
    TWholeFileSystem system = TWholeFileSystem::kExt4;
    EXPECT_EQ(WholeFileSystemOf(one.magic, &system), one.offered) << std::hex << one.magic;
    if (one.offered) {
      EXPECT_EQ(system, one.system) << std::hex << one.magic;
    }
  }
}

TEST(WholeFileRules, PiecesJoinExtentsThatContinueEachOtherOnTheDevice) {
  const struct {
    const char* what;
    std::vector<TFiemapExtent> extents;
    int64_t pieces;
  } cases[] = {
      {"no blocks", {}, 0},
      {"one extent", {{0, 8 * kBlock, 4 * kBlock, FIEMAP_EXTENT_LAST}}, 1},
      // ext4 splits a written extent from an unwritten one next to it.
      {"split but contiguous",
       {{0, 8 * kBlock, 4 * kBlock, 0},
        {4 * kBlock, 12 * kBlock, 4 * kBlock, FIEMAP_EXTENT_UNWRITTEN}},
       1},
      {"apart", {{0, 8 * kBlock, 4 * kBlock, 0}, {4 * kBlock, 100 * kBlock, 4 * kBlock, 0}}, 2},
      // Backwards on the device is a piece of its own too.
      {"before", {{0, 100 * kBlock, 4 * kBlock, 0}, {4 * kBlock, 96 * kBlock, 4 * kBlock, 0}}, 2},
      {"a hole between contiguous blocks",
       {{0, 8 * kBlock, 4 * kBlock, 0}, {40 * kBlock, 12 * kBlock, 4 * kBlock, 0}},
       1},
      {"an inline tail counts for nothing",
       {{0, 8 * kBlock, 4 * kBlock, 0},
        {4 * kBlock, 0, 100, FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_NOT_ALIGNED}},
       1},
  };
  for (const auto& one : cases) EXPECT_EQ(PiecesOfExtents(one.extents), one.pieces) << one.what;
}

TEST(WholeFileRules, HolesAreStretchesWithoutBlocksBeforeTheLastBlock) {
  const struct {
    const char* what;
    std::vector<TFiemapExtent> extents;
    uint64_t size;
    bool holes;
  } cases[] = {
      {"covered", {{0, 0, 4 * kBlock, 0}}, 4 * kBlock, false},
      {"covered to a partial last block", {{0, 0, 4 * kBlock, 0}}, 3 * kBlock + 1, false},
      {"a gap", {{0, 0, kBlock, 0}, {2 * kBlock, 0, 2 * kBlock, 0}}, 4 * kBlock, true},
      {"a hole at the start", {{kBlock, 0, 3 * kBlock, 0}}, 4 * kBlock, true},
      {"a hole at the end", {{0, 0, 2 * kBlock, 0}}, 4 * kBlock, true},
      {"nothing at all", {}, kBlock, true},
      {"empty", {}, 0, false},
  };
  for (const auto& one : cases)
    EXPECT_EQ(HasHoles(one.extents, one.size, kBlock), one.holes) << one.what;
}

TEST(WholeFileRules, SharedExtentsAreSeenAnywhereInTheFile) {
  EXPECT_FALSE(HasSharedExtents({{0, 0, kBlock, 0}, {kBlock, 9 * kBlock, kBlock, 0}}));
  EXPECT_TRUE(
      HasSharedExtents({{0, 0, kBlock, 0}, {kBlock, 9 * kBlock, kBlock, FIEMAP_EXTENT_SHARED}}));
}

TEST(WholeFileRules, AttributesAndErrorsGiveTheirReasons) {
  EXPECT_EQ(ReasonOfAttributes(0), TWholeFileReason::kNone);
  EXPECT_EQ(ReasonOfAttributes(FS_NOATIME_FL | FS_EXTENT_FL), TWholeFileReason::kNone);
  EXPECT_EQ(ReasonOfAttributes(FS_IMMUTABLE_FL), TWholeFileReason::kImmutable);
  EXPECT_EQ(ReasonOfAttributes(FS_APPEND_FL | FS_EXTENT_FL), TWholeFileReason::kAppendOnly);
  const struct {
    int error;
    TWholeFileReason reason;
  } errors[] = {
      {ENOSPC, TWholeFileReason::kNoSpace},      {EDQUOT, TWholeFileReason::kNoSpace},
      {ETXTBSY, TWholeFileReason::kSwapFile},    {EOPNOTSUPP, TWholeFileReason::kNotSupported},
      {ENOTTY, TWholeFileReason::kNotSupported}, {EIO, TWholeFileReason::kSystemError},
      {EINVAL, TWholeFileReason::kSystemError},  {EBUSY, TWholeFileReason::kChangedDuringCopy},
  };
  for (const auto& one : errors) EXPECT_EQ(ReasonOfError(one.error), one.reason) << one.error;
}

TEST(WholeFileRules, SwapFilesAreTheFilesProcSwapsListsWithTheirNamesUnescaped) {
  const std::string procSwaps =
      "Filename\t\t\t\tType\t\tSize\t\tUsed\t\tPriority\n"
      "/dev/sda2                               partition\t8388604\t\t0\t\t-2\n"
      "/swapfile                               file\t\t1048572\t\t0\t\t-3\n"
      "/srv/my\\040swap\\134file                  file\t\t1048572\t\t0\t\t-4\n"
      "/odd\\04                                file\t\t1\t\t0\t\t-5\n";
  EXPECT_EQ(SwapFilePaths(procSwaps),
            (std::vector<std::string>{"/swapfile", "/srv/my swap\\file", "/odd\\04"}));
  EXPECT_TRUE(SwapFilePaths("Filename\tType\tSize\tUsed\tPriority\n").empty());
  EXPECT_TRUE(SwapFilePaths("").empty());
}

}  // namespace
