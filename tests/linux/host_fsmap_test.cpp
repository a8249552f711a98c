// The volume bitmap of host-folder drives from GETFSMAP: the rules on
// made-up records, and the free space of a loop-mounted ext4 image as the
// free-space stage reads it, compared with what dumpe2fs reads of the image.
#include "platform/linux/host_fsmap.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fsmap.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/host_ext_bitmap.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"

namespace {

std::string Bits(const THostSpaceMap& map, int64_t firstCluster, uint32_t bytes) {
  std::string bits(bytes, '\0');
  FillBitmap(map, firstCluster, bytes, reinterpret_cast<uint8_t*>(bits.data()));
  return bits;
}

TEST(HostSpaceMap, OnlyWhatFreeRecordsCoverIsFree) {
  // Cluster 0 a free record, 1-2 in use, 3 in no record, 4 free, 5 in use.
  const THostSpaceMap map = SpaceMapFromRecords(
      {{0, 4096, true}, {4096, 8192, false}, {16384, 4096, true}, {20480, 4096, false}}, 4096, 0);
  EXPECT_EQ(map.clusterCount, 6);
  EXPECT_EQ(map.free, (std::vector<std::pair<int64_t, int64_t>>{{0, 1}, {4, 1}}));
  // Bits past the end (6 and 7) read as in use.
  EXPECT_EQ(Bits(map, 0, 1), std::string(1, '\xEE'));
}

TEST(HostSpaceMap, PartlyUsedClustersAreInUseAndFreeRecordsMerge) {
  // Out of order and touching free records; a record in use ends inside
  // cluster 6, and a free one starts inside cluster 9.
  const THostSpaceMap map = SpaceMapFromRecords({{4 * 1024, 4 * 1024, true},
                                                 {1024, 3 * 1024, true},
                                                 {5 * 1024, 1024 + 100, false},
                                                 {9 * 1024 + 10, 3 * 1024 - 10, true}},
                                                1024, 0);
  EXPECT_EQ(map.free, (std::vector<std::pair<int64_t, int64_t>>{{1, 4}, {7, 1}, {10, 2}}));
  EXPECT_EQ(map.clusterCount, 12);
  // The volume reaches at least as far as the file system says it does.
  EXPECT_EQ(SpaceMapFromRecords({{0, 1024, false}}, 1024, 64 * 1024).clusterCount, 64);
}

TEST(HostSpaceMap, BitmapsFromAnyByteOfTheVolume) {
  const THostSpaceMap map = SpaceMapFromRecords({{3 * 512, 19 * 512, true}}, 512, 64 * 512);
  // Clusters 3 to 21 free: 0x07, 0x00, 0xC0, then all in use.
  EXPECT_EQ(Bits(map, 0, 4), std::string("\x07\x00\xC0\xFF", 4));
  EXPECT_EQ(Bits(map, 8, 2), std::string("\x00\xC0", 2));
  EXPECT_EQ(Bits(map, 24, 2), std::string(2, '\xFF'));
}

TEST(HostSpaceMap, ClusterNumbersPastTwoToThe32StayWhole) {
  // 2 KiB clusters: a free record from cluster 2^32 - 4 to 2^32 + 4 on a
  // volume of 8,053,063,680 clusters (15 TiB).
  constexpr uint64_t k2To32 = uint64_t{1} << 32;
  const THostSpaceMap map =
      SpaceMapFromRecords({{0, (k2To32 - 4) * 2048, false}, {(k2To32 - 4) * 2048, 8 * 2048, true}},
                          2048, uint64_t{8053063680} * 2048);
  EXPECT_EQ(map.clusterCount, 8053063680);
  EXPECT_EQ(map.free,
            (std::vector<std::pair<int64_t, int64_t>>{{static_cast<int64_t>(k2To32) - 4, 8}}));
  EXPECT_EQ(Bits(map, static_cast<int64_t>(k2To32) - 8, 3), std::string("\x0F\xF0\xFF", 3));
}

// A space map that answers GETFSMAP from a script of batches; a batch with
// more records than asked for is cut, as the kernel never gives more.
struct TScriptedFsmap {
  std::vector<std::vector<struct fsmap>> batches;  // answered in turn, the last one again
  bool fails = false;
  int calls = 0;
  std::vector<uint64_t> lowKeys;  // fmh_keys[0]'s physical + length, bytes, at each call

  bool operator()(struct fsmap_head* head) {
    ++calls;
    lowKeys.push_back(head->fmh_keys[0].fmr_physical + head->fmh_keys[0].fmr_length);
    if (fails || calls > 1000) return false;  // past 1000: the loop never ends
    const std::vector<struct fsmap>& batch =
        batches[std::min(static_cast<size_t>(calls - 1), batches.size() - 1)];
    head->fmh_entries = static_cast<uint32_t>(std::min<size_t>(batch.size(), head->fmh_count));
    for (uint32_t i = 0; i < head->fmh_entries; ++i) head->fmh_recs[i] = batch[i];
    return true;
  }
};

struct fsmap Record(uint64_t physical, uint64_t length, bool free, bool last = false) {
  struct fsmap record = {};
  record.fmr_physical = physical;
  record.fmr_length = length;
  record.fmr_owner = free ? FMR_OWN_FREE : 12;
  record.fmr_flags = (free ? FMR_OF_SPECIAL_OWNER : 0) | (last ? FMR_OF_LAST : 0);
  return record;
}

TEST(HostSpaceMap, RecordsAreAskedForBatchByBatchAndAReplyThatStandsStillEndsTheRead) {
  // Bytes of 2 KiB blocks around 2^32 blocks (8 TiB).
  constexpr uint64_t kAt = (uint64_t{1} << 32) * 2048;
  const std::vector<struct fsmap> first = {Record(0, kAt, false), Record(kAt, 4096, true)};
  const std::vector<struct fsmap> second = {Record(kAt + 4096, 2048, false, true)};
  struct TCase {
    const char* what;
    std::vector<std::vector<struct fsmap>> batches;
    bool fails;
    bool read;                      // what CollectFsmapRecords gives
    size_t records;                 // records collected
    std::vector<uint64_t> lowKeys;  // where each call starts
  };
  const TCase cases[] = {
      {"two batches past 2^32 blocks", {first, second}, false, true, 3, {0, kAt + 4096}},
      {"an empty batch ends the map", {first, {}}, false, true, 2, {0, kAt + 4096}},
      // The same last record again would be asked for forever.
      {"a batch that stands still", {first, first}, false, false, 4, {0, kAt + 4096}},
      {"a batch that goes back",
       {first, {Record(0, 2048, true)}},
       false,
       false,
       3,
       {0, kAt + 4096}},
      {"a call that fails", {first}, true, false, 0, {0}},
  };
  for (const TCase& c : cases) {
    TScriptedFsmap script;
    script.batches = c.batches;
    script.fails = c.fails;
    std::vector<TFsmapRecord> records;
    EXPECT_EQ(CollectFsmapRecords(7, 2, std::ref(script), &records), c.read) << c.what;
    EXPECT_EQ(records.size(), c.records) << c.what;
    EXPECT_EQ(script.lowKeys, c.lowKeys) << c.what;
  }
  TScriptedFsmap script;
  script.batches = {first, second};
  std::vector<TFsmapRecord> records;
  ASSERT_TRUE(CollectFsmapRecords(7, 2, std::ref(script), &records));
  EXPECT_EQ(records[1].physical, kAt);
  EXPECT_TRUE(records[1].free);
  EXPECT_FALSE(records[2].free);
}

// A loop-mounted ext4 image of 1 KiB blocks, large enough that its bitmap
// takes several replies of the free-space stage; unmounted when it goes.
class LoopMountedExt4 : public testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "loop mounts need root";
    image_ = scratch_ / "ext4.img";
    mountPoint_ = scratch_ / "mnt";
    ASSERT_EQ(mkdir(mountPoint_.c_str(), 0755), 0);
    const TToolOutput made =
        RunTool({"mkfs.ext4", "-q", "-F", "-b", "1024", "-E", "nodiscard", image_, "160M"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const TToolOutput mounted = RunTool({"mount", "-o", "loop", image_, mountPoint_});
    if (mounted.exitCode != 0) {
      GTEST_SKIP() << "this machine refuses loop mounts: " << mounted.out << mounted.err;
    }
    mounted_ = true;
  }

  void TearDown() override { Unmount(); }

  size_t BitmapsReadAsDumpe2fsReadsThem(int64_t blocksPerCluster = 1, bool cold = false);

  // Unmounts the image, makes it anew as an ext4 volume of `size` in 1 KiB
  // blocks with the mkfs.ext4 options given, and mounts it; false when
  // either tool fails.
  bool MakeAgain(std::vector<std::string> options, const std::string& size) {
    Unmount();
    std::vector<std::string> command = {"mkfs.ext4", "-q", "-F", "-b", "1024"};
    command.insert(command.end(), options.begin(), options.end());
    command.insert(command.end(), {"-E", "nodiscard", image_, size});
    if (RunTool(command).exitCode != 0) return false;
    mounted_ = RunTool({"mount", "-o", "loop", image_, mountPoint_}).exitCode == 0;
    return mounted_;
  }

  void Unmount() {
    if (mounted_) {
      EXPECT_EQ(RunTool({"umount", mountPoint_}).exitCode, 0);
    }
    mounted_ = false;
  }

  TScratchFolder scratch_;
  std::string image_;
  std::string mountPoint_;
  bool mounted_ = false;
};

// Free blocks by dumpe2fs, from the block bitmap of each group. With
// clusters of several blocks (bigalloc) it names a free cluster by its
// first block.
std::vector<TFreeExtent> Dumpe2fsFreeBlocks(const std::string& image, int64_t* blockCount,
                                            int64_t blocksPerCluster = 1) {
  const TToolOutput dump = RunTool({"dumpe2fs", image});
  EXPECT_EQ(dump.exitCode, 0) << dump.err;
  std::vector<TFreeExtent> free;
  std::istringstream lines(dump.out);
  std::string line;
  const std::regex range(R"((\d+)(?:-(\d+))?)");
  while (std::getline(lines, line)) {
    if (line.rfind("Block count:", 0) == 0) *blockCount = std::stoll(line.substr(12));
    const std::string key = "  Free blocks: ";
    if (line.rfind(key, 0) != 0) continue;
    const std::string list = line.substr(key.size());
    for (auto it = std::sregex_iterator(list.begin(), list.end(), range);
         it != std::sregex_iterator(); ++it) {
      const int64_t first = std::stoll((*it)[1]);
      const int64_t last = ((*it)[2].matched ? std::stoll((*it)[2]) : first) + blocksPerCluster - 1;
      if (!free.empty() && free.back().lcn + free.back().length == first) {
        free.back().length += last - first + 1;
      } else {
        free.push_back(TFreeExtent{first, last - first + 1});
      }
    }
  }
  return free;
}

TEST_F(LoopMountedExt4, TheFreeSpaceStageReadsWhatDumpe2fsReads) {
  for (int i = 0; i < 40; ++i) {
    WriteFile(mountPoint_ + "/file" + std::to_string(i), std::string(1024 * (i * 7 % 50 + 1), 'e'));
  }
  // Mounted again, so what the kernel keeps for a while (blocks set aside
  // for files still being written, transactions not yet in place) is gone
  // and the image holds what the mounted file system shows.
  Unmount();
  ASSERT_EQ(RunTool({"mount", "-o", "loop", image_, mountPoint_}).exitCode, 0);
  mounted_ = true;
  std::vector<TFreeExtent> read;
  int64_t totalClusters = 0;
  // Both ways of reading the free space: the block bitmaps, and the space
  // map as file systems other than ext read it.
  THostSpaceMap fromBitmaps;
  THostSpaceMap fromSpaceMap;
  struct stat mounted;
  ASSERT_EQ(stat(mountPoint_.c_str(), &mounted), 0);
  ASSERT_TRUE(ReadExtSpaceMap(BlockDevicePath(mounted.st_dev), &fromBitmaps));
  ASSERT_TRUE(ReadFsmapSpaceMap(mountPoint_, &fromSpaceMap));
  {
    // The services hold the drive's folder open while they live, which
    // keeps its file system mounted: they go before the unmount.
    TDriveTable drives;
    drives.Map('C', scratch_.Path());
    drives.Map('L', mountPoint_);
    TLinuxServices services(drives);
    TFakeWindowSystem windows;
    TDriveOptimizer drive('L', services, windows, kDriveStages);
    drive.MapFreeSpace();
    for (const TFragment* extent = drive.freeExtents; extent != nullptr; extent = extent->next) {
      if (!read.empty() && read.back().lcn + read.back().length == extent->lcn) {
        read.back().length += extent->length;
      } else {
        read.push_back(TFreeExtent{extent->lcn, extent->length});
      }
    }
    totalClusters = drive.totalClusters;
  }
  Unmount();
  int64_t blockCount = 0;
  const std::vector<TFreeExtent> expected = Dumpe2fsFreeBlocks(image_, &blockCount);
  EXPECT_EQ(totalClusters, 160 * 1024);
  EXPECT_EQ(totalClusters, blockCount);
  ASSERT_GT(expected.size(), 1u);
  EXPECT_EQ(read, expected);
  for (const THostSpaceMap* map : {&fromBitmaps, &fromSpaceMap}) {
    std::vector<TFreeExtent> stretches;
    for (const auto& [first, clusters] : map->free)
      stretches.push_back(TFreeExtent{first, clusters});
    EXPECT_EQ(stretches, expected);
    EXPECT_EQ(map->clusterCount, blockCount);
  }
}

// Mounts the image again, reads its free space from the block bitmaps and
// checks it, and the volume's size, against what dumpe2fs reads of the
// image unmounted; returns how many free stretches dumpe2fs found. cold:
// what the device's page cache holds that the file system does not hold on
// to is dropped first, so most blocks are read from the device itself.
size_t LoopMountedExt4::BitmapsReadAsDumpe2fsReadsThem(int64_t blocksPerCluster, bool cold) {
  if (RunTool({"mount", "-o", "loop", image_, mountPoint_}).exitCode != 0) {
    ADD_FAILURE() << "the image does not mount again";
    return 0;
  }
  mounted_ = true;
  struct stat mounted;
  THostSpaceMap map;
  EXPECT_EQ(stat(mountPoint_.c_str(), &mounted), 0);
  const std::string device = BlockDevicePath(mounted.st_dev);
  if (cold) {
    const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), 0);
    if (fd >= 0) close(fd);
  }
  EXPECT_TRUE(ReadExtSpaceMap(device, &map));
  Unmount();
  int64_t blockCount = 0;
  const std::vector<TFreeExtent> expected =
      Dumpe2fsFreeBlocks(image_, &blockCount, blocksPerCluster);
  std::vector<TFreeExtent> read;
  for (const auto& [first, clusters] : map.free) read.push_back(TFreeExtent{first, clusters});
  EXPECT_EQ(read, expected);
  EXPECT_EQ(map.clusterCount, blockCount);
  return expected.size();
}

// Groups of every kind the block bitmaps are read by: full ones (passed over
// unread), ones whose bitmap was never written (free but for their own
// metadata) and partly used ones (read), checked against dumpe2fs.
TEST_F(LoopMountedExt4, FullUnwrittenAndPartlyUsedGroupsReadAsDumpe2fsReadsThem) {
  ASSERT_EQ(RunTool({"fallocate", "-l", "60M", mountPoint_ + "/full.bin"}).exitCode, 0);
  for (int i = 0; i < 20; ++i) WriteFile(mountPoint_ + "/s" + std::to_string(i), "tiny");
  Unmount();
  const TToolOutput dump = RunTool({"dumpe2fs", image_});
  ASSERT_NE(dump.out.find("\n  0 free blocks,"), std::string::npos) << "no full group";
  ASSERT_NE(dump.out.find("BLOCK_UNINIT]"), std::string::npos) << "no unwritten group";
  EXPECT_GT(BitmapsReadAsDumpe2fsReadsThem(), 1u);
}

// Without flex_bg (as ext3 made its volumes) each group keeps its bitmap in
// the group itself, so every bitmap is a read of its own, twenty here, shared
// out between two threads: what both find is the volume's free space, as
// dumpe2fs reads it.
TEST_F(LoopMountedExt4, AVolumeWithoutFlexGroupsReadsAsDumpe2fsReadsIt) {
  ASSERT_TRUE(MakeAgain({"-O", "^flex_bg"}, "160M"));
  // A folder in each group (new folders are spread over the groups), its
  // files beside it.
  for (int folder = 0; folder < 20; ++folder) {
    const std::string path = mountPoint_ + "/d" + std::to_string(folder);
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    for (int file = 0; file < 3; ++file) {
      WriteFile(path + "/f" + std::to_string(file),
                std::string(static_cast<size_t>((folder * 3 + file) * 3000 + 1000), 'g'));
    }
  }
  Unmount();
  const TToolOutput dump = RunTool({"dumpe2fs", image_});
  ASSERT_EQ(dump.out.find("BLOCK_UNINIT]"), std::string::npos) << "a group is left unread";
  ASSERT_EQ(dump.out.find("\n  0 free blocks,"), std::string::npos) << "a group is left unread";
  // Each group starts with its own bitmap, so each holds free stretches of
  // its own; read again with the blocks on the device only, asked for many
  // at a time.
  EXPECT_GE(BitmapsReadAsDumpe2fsReadsThem(), 20u);
  EXPECT_GE(BitmapsReadAsDumpe2fsReadsThem(1, true), 20u);
}

// Without flex_bg a group whose bitmap was never written (BLOCK_UNINIT)
// holds its own bitmaps and inode table; told unread, it is free but for
// them, and a flex group's first group, free but for the bitmaps and inode
// tables of all its groups, is told the same way.
TEST_F(LoopMountedExt4, GroupsFreeButForTheirMetadataAreToldAsDumpe2fsReadsThem) {
  for (const char* features : {"^flex_bg", "flex_bg"}) {
    SCOPED_TRACE(features);
    ASSERT_TRUE(MakeAgain({"-O", features}, "160M"));
    WriteFile(mountPoint_ + "/small", std::string(5000, 'u'));
    Unmount();
    const TToolOutput dump = RunTool({"dumpe2fs", image_});
    ASSERT_NE(dump.out.find("BLOCK_UNINIT]"), std::string::npos) << "no unwritten group";
    EXPECT_GT(BitmapsReadAsDumpe2fsReadsThem(), 1u);
  }
}

// Layouts whose metadata lies elsewhere than ext4's defaults put it: no
// backup superblocks past the first groups, or one in every group, room for
// the descriptor table to grow, a superblock in the first block (4 KiB
// blocks), groups added by growing the volume, ext2 without a journal,
// extents, flex groups or unwritten groups. A group free but for its
// metadata is told from where each layout puts that.
TEST_F(LoopMountedExt4, LayoutsOfEveryKindReadAsDumpe2fsReadsThem) {
  struct TLayout {
    std::vector<std::string> options;
    const char* grownTo;  // resize2fs to this size after the files are written
  };
  const TLayout layouts[] = {
      {{"-O", "sparse_super2"}, nullptr},
      {{"-O", "^sparse_super,^resize_inode"}, nullptr},
      {{"-E", "resize=4000000"}, nullptr},
      {{"-O", "^has_journal,^extent,^flex_bg,^metadata_csum,^64bit,^dir_nlink,^extra_isize"},
       nullptr},
      {{"-b", "4096"}, nullptr},
      {{}, "400M"},
      {{"-O", "meta_bg,^resize_inode"}, "600M"},
  };
  for (const TLayout& layout : layouts) {
    std::string name;
    for (const std::string& option : layout.options) name += option + " ";
    SCOPED_TRACE(name + (layout.grownTo != nullptr ? layout.grownTo : ""));
    ASSERT_TRUE(MakeAgain(layout.options, "200M"));
    for (int folder = 0; folder < 30; ++folder) {
      const std::string path = mountPoint_ + "/d" + std::to_string(folder);
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
      WriteFile(path + "/f", std::string(static_cast<size_t>(folder * 4000 + 2000), 'l'));
    }
    Unmount();
    if (layout.grownTo != nullptr) {
      ASSERT_EQ(RunTool({"e2fsck", "-f", "-y", image_}).exitCode, 0);
      ASSERT_EQ(RunTool({"resize2fs", image_, layout.grownTo}).exitCode, 0);
    }
    EXPECT_GE(BitmapsReadAsDumpe2fsReadsThem(), 3u);
  }
}

// The group descriptors are read from the device, not through the
// library's table: with meta_bg each descriptor block lies in a group of its
// own (four here), and without the 64bit feature a descriptor is 32 bytes,
// with no high halves to read. Files in most groups leave them partly used.
TEST_F(LoopMountedExt4, DescriptorsAnywhereAndOfEitherWidthReadAsDumpe2fsReadsThem) {
  struct TLayout {
    const char* features;
    bool metaGroups;  // descriptor blocks in groups of their own
  };
  for (const TLayout layout : {TLayout{"meta_bg,^resize_inode", true}, TLayout{"^64bit", false}}) {
    SCOPED_TRACE(layout.features);
    ASSERT_TRUE(MakeAgain({"-O", layout.features}, "400M"));
    for (int folder = 0; folder < 40; ++folder) {
      const std::string path = mountPoint_ + "/d" + std::to_string(folder);
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
      WriteFile(path + "/f", std::string(static_cast<size_t>(folder * 5000 + 3000), 'm'));
    }
    Unmount();
    const std::string dump = RunTool({"dumpe2fs", image_}).out;
    // One descriptor block a line, in each of the 4 meta groups at least.
    int places = 0;
    for (size_t at = dump.find("Group descriptor at "); at != std::string::npos;
         at = dump.find("Group descriptor at ", at + 1)) {
      ++places;
    }
    EXPECT_EQ(places >= 4, layout.metaGroups) << dump;
    EXPECT_EQ(dump.find(" 64bit ") != std::string::npos, layout.metaGroups);
    EXPECT_GE(BitmapsReadAsDumpe2fsReadsThem(), 3u);
  }
}

// Clusters of 16 blocks (bigalloc): the library reads the cluster bitmaps
// whole, the volume opened anew for them, and free blocks go by whole
// clusters.
TEST_F(LoopMountedExt4, ClustersOfSeveralBlocksReadAsDumpe2fsReadsThem) {
  ASSERT_TRUE(MakeAgain({"-O", "bigalloc", "-C", "16384"}, "300M"));
  for (int i = 1; i <= 12; ++i) {
    WriteFile(mountPoint_ + "/f" + std::to_string(i),
              std::string(static_cast<size_t>(i) * 9000, 'c'));
    if (i % 3 == 0) {
      ASSERT_EQ(unlink((mountPoint_ + "/f" + std::to_string(i - 1)).c_str()), 0);
    }
  }
  Unmount();
  EXPECT_GE(BitmapsReadAsDumpe2fsReadsThem(16), 3u);
}

TEST_F(LoopMountedExt4, WithoutTheRightToReadTheSpaceMapTheVolumeDoesNotOpen) {
  ASSERT_NE(std::unique_ptr<THostVolumeHandle>(THostVolumeHandle::Open(mountPoint_)), nullptr);
  // A child that gives up root cannot read the space map (CAP_SYS_ADMIN).
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(THostVolumeHandle::Open(mountPoint_) == nullptr ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A descriptor written since the volume was mounted may put a group's
// bitmap or inode table anywhere, past the end of the volume or of the
// numbers: the bitmaps are then not read at all (the space map is asked
// instead), rather than read from wherever the number wraps to.
TEST(HostExtBitmaps, ADescriptorPointingPastTheVolumeIsNotBelieved) {
  TScratchFolder scratch;
  const std::string image = scratch / "ext4.img";
  ASSERT_EQ(
      RunTool({"mkfs.ext4", "-q", "-F", "-b", "1024", "-E", "nodiscard", image, "40M"}).exitCode,
      0);
  THostSpaceMap map;
  ASSERT_TRUE(ReadExtSpaceMap(image, &map));
  const THostSpaceMap before = map;
  for (const char* field : {"block_bitmap 0xfffffffffffffc00", "inode_bitmap 41000",
                            "inode_table 0x7fffffffffffff00", "inode_table 40900"}) {
    SCOPED_TRACE(field);
    ASSERT_EQ(
        RunTool({"mkfs.ext4", "-q", "-F", "-b", "1024", "-E", "nodiscard", image, "40M"}).exitCode,
        0);
    ASSERT_EQ(RunTool({"debugfs", "-w", "-R", std::string("set_bg 3 ") + field, image}).exitCode,
              0);
    EXPECT_FALSE(ReadExtSpaceMap(image, &map));
    EXPECT_EQ(map.free, before.free);  // untouched
  }
}

TEST(HostSpaceMapElsewhere, AFileSystemWithoutASpaceMapHasNoVolume) {
  // tmpfs answers no GETFSMAP: the volume does not open, and the drive's
  // free-space stage ends with nothing, as on a volume Windows cannot map.
  TScratchFolder scratch;
  TDriveTable drives;
  drives.Map('C', scratch.Path());
  drives.Map('T', "/dev/shm");
  TLinuxServices services(drives);
  EXPECT_EQ(services.OpenForRead("\\\\.\\T:", false), InvalidHandle());
  TFakeWindowSystem windows;
  TDriveOptimizer drive('T', services, windows, kDriveStages);
  drive.MapFreeSpace();
  EXPECT_EQ(drive.freeExtents, nullptr);
}

}  // namespace
