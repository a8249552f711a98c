// Images that are not whole NTFS volumes: the mount is refused at once, and
// a drive on one goes through its stages to "Finished" with nothing read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "planning/drive_stages.h"
#include "platform/linux/ntfs_volume.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scripted_volume.h"

namespace {

enum class TDamage { kHalf, kLastCluster, kBootSector, kGarbage, kEmpty };

// A damaged copy of the test image.
std::string Damaged(const TScratchFolder& scratch, TDamage damage) {
  const std::string copy = scratch / "damaged.img";
  EXPECT_TRUE(CopyFile(SharedNtfsTestImage().path, copy));
  const int fd = open(copy.c_str(), O_WRONLY);
  EXPECT_GE(fd, 0);
  const off_t size = lseek(fd, 0, SEEK_END);
  const std::string junk(512, '\x5A');
  switch (damage) {
    case TDamage::kHalf:
      EXPECT_EQ(ftruncate(fd, size / 2), 0);
      break;
    case TDamage::kLastCluster:
      // The last cluster goes; the one after it holds only the backup boot
      // sector.
      EXPECT_EQ(ftruncate(fd, size - 2 * kTestClusterBytes), 0);
      break;
    case TDamage::kBootSector:
      EXPECT_EQ(pwrite(fd, junk.data(), junk.size(), 0), static_cast<ssize_t>(junk.size()));
      break;
    case TDamage::kGarbage:
      EXPECT_EQ(ftruncate(fd, 0), 0);
      for (int i = 0; i < 64; ++i) EXPECT_EQ(write(fd, junk.data(), junk.size()), 512);
      break;
    case TDamage::kEmpty:
      EXPECT_EQ(ftruncate(fd, 0), 0);
      break;
  }
  close(fd);
  return copy;
}

class NtfsVolumeFaults : public testing::TestWithParam<TDamage> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SharedNtfsTestImage().built.ok) << SharedNtfsTestImage().built.message;
  }
};

TEST_P(NtfsVolumeFaults, TheMountIsRefused) {
  TScratchFolder scratch;
  EXPECT_EQ(TNtfsVolume::Mount(Damaged(scratch, GetParam())), nullptr);
  // The undamaged image mounts, so the refusal is the damage's doing.
  EXPECT_NE(TNtfsVolume::Mount(SharedNtfsTestImage().path), nullptr);
}

TEST_P(NtfsVolumeFaults, TheDriveEndsFinishedWithNothingRead) {
  TScratchFolder scratch;
  const std::string image = Damaged(scratch, GetParam());
  std::unique_ptr<TLinuxServices> services = ServicesWithDrive(scratch.Path(), 'D', image);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', *services, windows, kDriveStages);
  drive.RunPipeline();
  EXPECT_EQ(drive.statusText.Get(), "Finished");
  EXPECT_EQ(drive.freeExtents, nullptr);
  if (drive.root != nullptr) {
    EXPECT_EQ(drive.root->firstChild, nullptr);
  }
  EXPECT_FALSE(FileExists(scratch / "dirlist_free.log"));
  TFindData found;
  EXPECT_EQ(services->FindFirst("D:\\*.*", &found), InvalidHandle());
  EXPECT_EQ(services->OpenForRead("D:\\", true), InvalidHandle());
  TDiskGeometry geometry;
  EXPECT_FALSE(services->DiskFreeSpace("D:\\", &geometry));
}

std::string DamageName(const testing::TestParamInfo<TDamage>& damage) {
  static const char* const kNames[] = {"Half", "LastCluster", "BootSector", "Garbage", "Empty"};
  return kNames[static_cast<int>(damage.param)];
}

INSTANTIATE_TEST_SUITE_P(Damages, NtfsVolumeFaults,
                         testing::Values(TDamage::kHalf, TDamage::kLastCluster,
                                         TDamage::kBootSector, TDamage::kGarbage, TDamage::kEmpty),
                         DamageName);

TEST(NtfsVolumeFaultsElsewhere, AMappedPathThatIsNeitherFolderNorImageIsNoDrive) {
  TScratchFolder scratch;
  TDriveTable drives;
  drives.Map('C', scratch.Path());
  drives.Map('D', "/dev/null");             // a character device
  drives.Map('E', scratch / "absent.img");  // nothing at all
  TLinuxServices services(drives);
  for (const char* path : {"D:\\", "\\\\.\\D:", "E:\\", "\\\\.\\E:"}) {
    EXPECT_EQ(services.OpenForRead(path, true), InvalidHandle()) << path;
  }
}

}  // namespace
