// A volume libntfs-3g refuses for what it holds is tried once: a one-byte
// flip in $AttrDef's data size ("Attribute definition table is too big")
// makes every open of the drive fail with the reason kept, and the drive's
// stages end "Finished" after a single mount.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "platform/linux/ntfs_volume.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_record_patch.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"
#include "tools/ntfs_image_builder.h"

namespace {

// The byte offset in the image of the data size of $AttrDef's unnamed data
// stream (MFT record 4), from the boot sector's geometry; 0 when it cannot
// be found.
size_t AttrDefDataSizeOffset(const std::vector<uint8_t>& image) {
  const uint64_t clusterBytes = uint64_t{LittleEndian<uint16_t>(image, 0x0B)} * image[0x0D];
  const uint64_t mft = LittleEndian<uint64_t>(image, 0x30) * clusterBytes;
  const int8_t recordSize = static_cast<int8_t>(image[0x40]);
  const uint64_t recordBytes =
      recordSize > 0 ? recordSize * clusterBytes : uint64_t{1} << -recordSize;
  const uint64_t record = mft + 4 * recordBytes;
  if (record + recordBytes > image.size()) return 0;
  for (uint64_t at = record + LittleEndian<uint16_t>(image, record + 0x14);
       at + 0x40 < record + recordBytes;) {
    const uint32_t type = LittleEndian<uint32_t>(image, at);
    const uint32_t length = LittleEndian<uint32_t>(image, at + 4);
    if (type == 0xFFFFFFFFu || length == 0) return 0;
    const bool nonResident = image[at + 8] != 0;
    if (type == 0x80 && nonResident) return at + 0x30;
    at += length;
  }
  return 0;
}

TEST(NtfsMountRefusal, DamagedAttributeTableIsRefusedOnceWithItsReason) {
  TScratchFolder scratch;
  const std::string image = scratch / "attrdef.img";
  {
    TNtfsImageBuilder builder;
    TNtfsFormat format;
    format.imageBytes = 8 << 20;
    ASSERT_TRUE(builder.Format(image, format).ok);
    ASSERT_TRUE(builder.MakeFile("/file.txt", TContent::Bytes("data")).ok);
    ASSERT_TRUE(builder.Finish().ok);
  }
  std::vector<uint8_t> bytes(8 << 20);
  const int fd = open(image.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pread(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  const size_t dataSize = AttrDefDataSizeOffset(bytes);
  ASSERT_NE(dataSize, 0u);
  // The third byte of the size: 2,560 bytes become 16 MiB and more, past
  // the 24 bits libntfs-3g allows.
  const uint8_t flipped = bytes[dataSize + 3] ^ 0x01;
  ASSERT_EQ(pwrite(fd, &flipped, 1, static_cast<off_t>(dataSize + 3)), 1);
  close(fd);

  int error = 0;
  EXPECT_EQ(TNtfsVolume::Mount(image, TNtfsReadOrder::kMftOrder, &error), nullptr);
  EXPECT_EQ(error, EINVAL);

  TDriveTable drives;
  drives.Map('C', scratch.Path());
  drives.Map('D', image);
  TLinuxServices services(drives);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', services, windows, kDriveStages);
  drive.RunPipeline();
  EXPECT_EQ(drive.statusText.Get(), "Finished");
  EXPECT_EQ(drive.freeExtents, nullptr);
  // Every stage asked for the volume; only the first ask mounted.
  EXPECT_EQ(services.NtfsVolumes().MountsTried(), 1);
  EXPECT_EQ(services.NtfsVolumes().RefusedMount(image), EINVAL);
  TFindData found;
  EXPECT_EQ(services.FindFirst("D:\\*.*", &found), InvalidHandle());
  EXPECT_EQ(services.OpenForRead("\\\\.\\D:", false), InvalidHandle());
  EXPECT_EQ(services.NtfsVolumes().MountsTried(), 1);
}

// NTFS numbers clusters in 32 bits: a boot sector that claims more is
// refused for that, with words that say so; one cluster fewer is refused only
// because the image is too short for its claim.
TEST(NtfsMountRefusal, MoreClustersThanNtfsNumbersAreRefusedAndSaid) {
  TScratchFolder scratch;
  const std::string image = scratch / "claims.img";
  {
    TNtfsImageBuilder builder;
    TNtfsFormat format;
    format.imageBytes = 8 << 20;
    ASSERT_TRUE(builder.Format(image, format).ok);
    ASSERT_TRUE(builder.Finish().ok);
  }
  const struct {
    uint64_t clusters;
    int error;
  } cases[] = {{uint64_t{1} << 32, EFBIG}, {uint64_t{1} << 40, EFBIG}, {0xFFFFFFFFu, EINVAL}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.clusters);
    // 4 KiB clusters of eight sectors; the total sectors at 0x28.
    const int fd = open(image.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const uint64_t sectors = test.clusters * 8;
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(sectors >> (8 * i));
    ASSERT_EQ(pwrite(fd, bytes, sizeof bytes, 0x28), static_cast<ssize_t>(sizeof bytes));
    close(fd);
    int error = 0;
    EXPECT_EQ(TNtfsVolume::Mount(image, TNtfsReadOrder::kMftOrder, &error), nullptr);
    EXPECT_EQ(error, test.error);
    TDriveTable drives;
    drives.Map('D', image);
    TLinuxServices services(drives);
    EXPECT_EQ(services.OpenForRead("\\\\.\\D:", false), InvalidHandle());
    const std::string said = services.LastErrorText();
    EXPECT_EQ(said.find("more than 4294967295 clusters") != std::string::npos, test.error == EFBIG)
        << said;
  }
}

TEST(NtfsMountRefusal, AnImageThatMountsIsNotRefused) {
  TScratchFolder scratch;
  const std::string image = scratch / "good.img";
  {
    TNtfsImageBuilder builder;
    TNtfsFormat format;
    format.imageBytes = 8 << 20;
    ASSERT_TRUE(builder.Format(image, format).ok);
    ASSERT_TRUE(builder.Finish().ok);
  }
  TDriveTable drives;
  drives.Map('D', image);
  TLinuxServices services(drives);
  TFindData found;
  THandle find = services.FindFirst("D:\\*.*", &found);
  EXPECT_EQ(find, InvalidHandle());  // an empty root lists nothing, as on Windows
  EXPECT_EQ(services.NtfsVolumes().RefusedMount(image), 0);
  EXPECT_EQ(services.NtfsVolumes().MountsTried(), 1);
  TDiskGeometry geometry;
  EXPECT_TRUE(services.DiskFreeSpace("D:\\", &geometry));
  EXPECT_EQ(services.NtfsVolumes().MountsTried(), 1);
}

}  // namespace
