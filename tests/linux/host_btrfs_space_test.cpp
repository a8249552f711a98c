// The free space of btrfs folders: replies of the tree search read item by
// item (groups, extents, items of no interest, replies cut short), the walk
// from one reply's last key to the next, and on a btrfs image made and
// loop-mounted here (root only) the map checked against the file system's
// own count of data space in use and against every file's extents.
#include "platform/linux/host_btrfs_space.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/linux/host_fiemap.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/mounted_image.h"

// Records compare whole; found by argument lookup in the global namespace,
// where the record lives.
static bool operator==(const TFsmapRecord& a, const TFsmapRecord& b) {
  return a.physical == b.physical && a.length == b.length && a.free == b.free;
}

namespace {

// A tree-search reply made item by item.
class TReply {
 public:
  TReply& Item(uint64_t objectid, uint32_t type, uint64_t offset, std::vector<uint8_t> item) {
    btrfs_ioctl_search_header header{};
    header.objectid = objectid;
    header.type = type;
    header.offset = offset;
    header.len = static_cast<uint32_t>(item.size());
    const auto* raw = reinterpret_cast<const uint8_t*>(&header);
    bytes_.insert(bytes_.end(), raw, raw + sizeof header);
    bytes_.insert(bytes_.end(), item.begin(), item.end());
    ++items_;
    return *this;
  }
  TReply& Group(uint64_t start, uint64_t length, uint64_t flags) {
    btrfs_block_group_item group{};
    group.flags = flags;
    const auto* raw = reinterpret_cast<const uint8_t*>(&group);
    return Item(start, BTRFS_BLOCK_GROUP_ITEM_KEY, length,
                std::vector<uint8_t>(raw, raw + sizeof group));
  }
  std::vector<uint8_t>& Bytes() { return bytes_; }
  uint32_t Items() const { return items_; }

 private:
  std::vector<uint8_t> bytes_;
  uint32_t items_ = 0;
};

constexpr uint64_t kMiB = 1 << 20;

TEST(BtrfsSpaceRecords, DataGroupsAreFreeExtentsInUseAndTheRestAddsNothing) {
  TReply reply;
  reply.Group(1 * kMiB, 8 * kMiB, BTRFS_BLOCK_GROUP_DATA)
      .Item(1 * kMiB, BTRFS_EXTENT_ITEM_KEY, 12288, std::vector<uint8_t>(53, 0))
      .Item(1 * kMiB, BTRFS_EXTENT_DATA_REF_KEY, 77, std::vector<uint8_t>(28, 0))
      .Group(9 * kMiB, 8 * kMiB, BTRFS_BLOCK_GROUP_METADATA | BTRFS_BLOCK_GROUP_DUP)
      .Item(9 * kMiB, BTRFS_METADATA_ITEM_KEY, 1, std::vector<uint8_t>(33, 0))
      .Group(17 * kMiB, 4 * kMiB, BTRFS_BLOCK_GROUP_SYSTEM)
      .Group(21 * kMiB, 4 * kMiB, BTRFS_BLOCK_GROUP_DATA | BTRFS_BLOCK_GROUP_METADATA);
  std::vector<TFsmapRecord> records;
  TBtrfsKey last;
  ASSERT_TRUE(BtrfsSpaceRecords(reply.Bytes().data(), reply.Bytes().size(), reply.Items(), 16384,
                                &records, &last));
  const std::vector<TFsmapRecord> expected = {{1 * kMiB, 8 * kMiB, true},
                                              {1 * kMiB, 12288, false},
                                              {9 * kMiB, 16384, false},
                                              {21 * kMiB, 4 * kMiB, true}};
  EXPECT_EQ(records, expected);
  EXPECT_EQ(last.objectid, 21 * kMiB);
  EXPECT_EQ(last.type, uint32_t{BTRFS_BLOCK_GROUP_ITEM_KEY});
  EXPECT_EQ(last.offset, 4 * kMiB);

  // As a map of 4 KiB clusters: the data groups less the extent at their
  // start; metadata and system groups, and what lies outside every group,
  // are not free.
  const THostSpaceMap map = SpaceMapFromRecords(records, 4096, 0);
  EXPECT_EQ(map.clusterCount, 25 * 256);
  const std::vector<std::pair<int64_t, int64_t>> free = {{256 + 3, 8 * 256 - 3},
                                                         {21 * 256, 4 * 256}};
  EXPECT_EQ(map.free, free);
}

TEST(BtrfsSpaceRecords, AReplyCutShortIsRefused) {
  struct TCase {
    const char* what;
    size_t cut;  // bytes left off the end of the reply
    bool shortGroup;
  };
  for (const TCase& c : {TCase{"a header cut", 40, false}, TCase{"an item cut", 1, false},
                         TCase{"a group's item too short", 0, true}}) {
    TReply reply;
    reply.Item(1 * kMiB, BTRFS_EXTENT_ITEM_KEY, 4096, std::vector<uint8_t>(53, 0));
    if (c.shortGroup) {
      reply.Item(2 * kMiB, BTRFS_BLOCK_GROUP_ITEM_KEY, kMiB, std::vector<uint8_t>(16, 0));
    } else {
      reply.Group(2 * kMiB, kMiB, BTRFS_BLOCK_GROUP_DATA);
    }
    std::vector<TFsmapRecord> records;
    TBtrfsKey last;
    EXPECT_FALSE(BtrfsSpaceRecords(reply.Bytes().data(), reply.Bytes().size() - c.cut,
                                   reply.Items(), 16384, &records, &last))
        << c.what;
  }
}

TEST(BtrfsSpaceRecords, TheNextKeyCarriesFromOffsetToTypeToObject) {
  struct TCase {
    TBtrfsKey from;
    bool more;
    TBtrfsKey next;
  };
  const TCase cases[] = {
      {{5, 168, 7}, true, {5, 168, 8}},
      {{5, 168, UINT64_MAX}, true, {5, 169, 0}},
      {{5, 255, UINT64_MAX}, true, {6, 0, 0}},
      {{UINT64_MAX, 255, UINT64_MAX}, false, {}},
  };
  for (const TCase& c : cases) {
    TBtrfsKey key = c.from;
    EXPECT_EQ(NextBtrfsKey(&key), c.more) << c.from.objectid << " " << c.from.type;
    if (!c.more) continue;
    EXPECT_EQ(key.objectid, c.next.objectid);
    EXPECT_EQ(key.type, c.next.type);
    EXPECT_EQ(key.offset, c.next.offset);
  }
}

TEST(BtrfsSpaceRecords, TheLogicalSpaceEndsWithTheChunkThatEndsLast) {
  const auto chunk = [](uint64_t length) {
    std::vector<uint8_t> item(80, 0);
    std::memcpy(item.data(), &length, sizeof length);
    return item;
  };
  TReply reply;
  reply.Item(256, BTRFS_CHUNK_ITEM_KEY, 40 * kMiB, chunk(8 * kMiB))
      .Item(256, BTRFS_CHUNK_ITEM_KEY, 300 * kMiB, chunk(kMiB))
      .Item(256, BTRFS_CHUNK_ITEM_KEY, 290 * kMiB, chunk(30 * kMiB))
      .Item(300, BTRFS_DEV_ITEM_KEY, 1, std::vector<uint8_t>(98, 0));
  uint64_t end = 0;
  TBtrfsKey last;
  ASSERT_TRUE(
      BtrfsChunksEnd(reply.Bytes().data(), reply.Bytes().size(), reply.Items(), &end, &last));
  EXPECT_EQ(end, 320 * kMiB);
  EXPECT_EQ(last.objectid, 300u);
  // A reply cut short, and a chunk said to end past 2^64, are refused.
  EXPECT_FALSE(
      BtrfsChunksEnd(reply.Bytes().data(), reply.Bytes().size() - 1, reply.Items(), &end, &last));
  TReply wrapping;
  wrapping.Item(256, BTRFS_CHUNK_ITEM_KEY, UINT64_MAX - kMiB, chunk(2 * kMiB));
  EXPECT_FALSE(BtrfsChunksEnd(wrapping.Bytes().data(), wrapping.Bytes().size(), wrapping.Items(),
                              &end, &last));
}

// "Data, single: total=<bytes>, used=<bytes>" of `btrfs filesystem df -b`:
// the data groups' bytes and the bytes of data extents in them.
bool DataSpace(const std::string& folder, uint64_t* total, uint64_t* used) {
  const TToolOutput df = RunTool({"btrfs", "filesystem", "df", "-b", folder});
  const size_t line = df.out.find("Data, ");
  if (df.exitCode != 0 || line == std::string::npos) return false;
  const size_t totalAt = df.out.find("total=", line);
  const size_t usedAt = df.out.find("used=", line);
  if (totalAt == std::string::npos || usedAt == std::string::npos) return false;
  *total = std::stoull(df.out.substr(totalAt + 6));
  *used = std::stoull(df.out.substr(usedAt + 5));
  return true;
}

using BtrfsSpaceMap = TMountedImageTest;

TEST_P(BtrfsSpaceMap, FreeIsTheDataGroupsLessEveryFilesExtents) {
  const std::string root = volume_->MountPoint();
  // Files of many sizes, some removed again to leave holes among them.
  for (int i = 0; i < 40; ++i) {
    WriteFile(root + "/f" + std::to_string(i), std::string((i + 1) * 37000, 'a' + i % 26));
  }
  for (int i = 0; i < 40; i += 3) std::filesystem::remove(root + "/f" + std::to_string(i));
  sync();
  RunTool({"btrfs", "filesystem", "sync", root});

  THostSpaceMap map;
  ASSERT_TRUE(ReadHostSpaceMap(root, &map));
  uint64_t total = 0;
  uint64_t used = 0;
  ASSERT_TRUE(DataSpace(root, &total, &used));
  int64_t freeClusters = 0;
  for (const auto& stretch : map.free) freeClusters += stretch.second;
  EXPECT_EQ(static_cast<uint64_t>(freeClusters) * 4096, total - used);

  // No file's extent, in the logical addresses FIEMAP gives, lies in free
  // space.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(root)) {
    const int fd = open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<TFiemapExtent> extents;
    ASSERT_TRUE(ReadFiemap(fd, &extents));
    close(fd);
    for (const TFiemapExtent& extent : extents) {
      const int64_t first = static_cast<int64_t>(extent.physical / 4096);
      const int64_t end = static_cast<int64_t>((extent.physical + extent.length + 4095) / 4096);
      EXPECT_LE(end, map.clusterCount) << entry.path();
      for (const auto& [from, clusters] : map.free) {
        EXPECT_TRUE(end <= from || first >= from + clusters)
            << entry.path() << " at " << first << " lies in free " << from;
      }
    }
    ++files;
  }
  EXPECT_EQ(files, 26);

  // Without root the tree search is refused, and so is the map.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    THostSpaceMap unread;
    _exit(ReadHostSpaceMap(root, &unread) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Balanced again and again, btrfs moves its chunks up its logical address
// space, past the device's size; the volume the services report is as large
// as that space, so that the map reaches the file's runs.
TEST_P(BtrfsSpaceMap, TheVolumeReachesChunksMovedPastTheDevicesSize) {
  const std::string root = volume_->MountPoint();
  WriteFile(root + "/moved.bin", std::string(3 << 20, 'm'));
  sync();
  int64_t fileEnd = 0;
  for (int balance = 0; balance < 16; ++balance) {
    RunTool({"btrfs", "balance", "start", "--full-balance", root});
    const int fd = open((root + "/moved.bin").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::vector<TFiemapExtent> extents;
    ASSERT_TRUE(ReadFiemap(fd, &extents));
    close(fd);
    ASSERT_FALSE(extents.empty());
    fileEnd = static_cast<int64_t>((extents.back().physical + extents.back().length) / 4096);
    if (fileEnd > (300 << 20) / 4096) break;
  }
  ASSERT_GT(fileEnd, (300 << 20) / 4096) << "balancing did not move the file past the device";
  TScratchFolder logs;
  TDriveTable drives;
  drives.Map('C', logs.Path());
  drives.Map('E', root);
  TLinuxServices services(drives);
  TDiskGeometry geometry{};
  ASSERT_TRUE(services.DiskFreeSpace("E:\\", &geometry));
  EXPECT_GE(static_cast<int64_t>(geometry.totalClusters), fileEnd);
  THostSpaceMap map;
  ASSERT_TRUE(ReadHostSpaceMap(root, &map));
  EXPECT_EQ(static_cast<int64_t>(geometry.totalClusters), map.clusterCount);
}

INSTANTIATE_TEST_SUITE_P(FileSystems, BtrfsSpaceMap, ::testing::Values(&kBtrfs), KindName);

}  // namespace
