// The independent checker of the cluster bitmap finds what it is for: a
// bitmap cleared under the files, two files holding one cluster, and
// clusters marked used that nothing holds, told apart from the faults; and
// the stream hashes see a change of one byte in any stream.
#include "tests/linux/ntfs_bitmap_check.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/linux/ntfs_library.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_move_test_support.h"
#include "tests/linux/ntfs_record_patch.h"
#include "tools/ntfs_image_builder.h"

namespace {

constexpr int64_t kFirstLcn = 3000;   // where /a.bin lies
constexpr int64_t kSecondLcn = 3100;  // where /b.bin lies

class NtfsBitmapCheck : public testing::Test {
 protected:
  void SetUp() override {
    TNtfsImageBuilder builder;
    TNtfsFormat format;
    format.imageBytes = 16u << 20;
    for (const TBuildStatus& step :
         {builder.Format(image_, format),
          builder.MakePlacedFile("/a.bin", TContent::Binary(4 * 4096, 1), {{kFirstLcn, 4}}),
          builder.MakePlacedFile("/b.bin", TContent::Binary(4 * 4096, 2), {{kSecondLcn, 4}}),
          builder.Finish(), AddNamedStream(image_, "/a.bin", "side", TContent::Binary(20000, 3))}) {
      ASSERT_TRUE(step.ok) << step.message;
    }
    const TBitmapCheck built = CheckClusterBitmap(image_);
    ASSERT_TRUE(built.Sound()) << built.Text();
    unheldBefore_ = built.usedButUnheld;
  }

  TScratchFolder scratch_;
  const std::string image_ = scratch_ / "check.img";
  int64_t unheldBefore_ = 0;
};

TEST_F(NtfsBitmapCheck, AClearedBitmapIsHeldButFree) {
  ASSERT_TRUE(ClearClusterBitmap(image_).ok);
  const TBitmapCheck check = CheckClusterBitmap(image_);
  EXPECT_FALSE(check.Sound());
  // Every metafile's and file's clusters, the two files' among them.
  EXPECT_GE(check.heldButFree, 8);
  EXPECT_EQ(check.sharedClusters, 0);
}

TEST_F(NtfsBitmapCheck, TwoFilesOnOneClusterAreShared) {
  // /b.bin's first (only) run made to start at /a.bin's cluster.
  const TBuildStatus patched = PointDataAt(image_, "/b.bin", kFirstLcn);
  ASSERT_TRUE(patched.ok) << patched.message;
  const TBitmapCheck check = CheckClusterBitmap(image_);
  EXPECT_FALSE(check.Sound());
  EXPECT_EQ(check.sharedClusters, 4) << check.Text();
  EXPECT_EQ(check.heldButFree, 0) << check.Text();
  EXPECT_EQ(check.usedButUnheld, unheldBefore_ + 4) << check.Text();
}

TEST_F(NtfsBitmapCheck, ClustersUsedThatNothingHoldsAreCountedButAllowed) {
  ntfs_volume* volume = ntfs_mount(image_.c_str(), NTFS_MNT_NONE);
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(ntfs_bitmap_set_run(volume->lcnbmp_na, 3500, 10), 0);
  ASSERT_EQ(ntfs_umount(volume, FALSE), 0);
  const TBitmapCheck check = CheckClusterBitmap(image_);
  EXPECT_TRUE(check.Sound()) << check.Text();
  EXPECT_EQ(check.usedButUnheld, unheldBefore_ + 10);
}

TEST_F(NtfsBitmapCheck, HashesSeeOneByteChangedInAnyStream) {
  const std::map<std::string, uint64_t> before = HashStreams(image_);
  ASSERT_EQ(before.count("/a.bin"), 1u);
  ASSERT_EQ(before.count("/a.bin:side"), 1u);
  ASSERT_EQ(before.count("/b.bin"), 1u);
  // One byte of /b.bin's clusters, written past libntfs-3g.
  const int fd = open(image_.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  const char byte = '\x5A';
  ASSERT_EQ(pwrite(fd, &byte, 1, kSecondLcn * 4096 + 77), 1);
  close(fd);
  std::map<std::string, uint64_t> after = HashStreams(image_);
  EXPECT_NE(after["/b.bin"], before.at("/b.bin"));
  after["/b.bin"] = before.at("/b.bin");
  EXPECT_EQ(after, before);
}

}  // namespace
