// Runs of host files and folders from FIEMAP: the rules on made-up extents,
// and real files laid out on purpose, compared with what `filefrag -v`
// (e2fsprogs) reads of them.
#include "platform/linux/host_fiemap.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/falloc.h>
#include <linux/fiemap.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/handle_object.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"

namespace {

constexpr uint64_t kBlock = 4096;

TFiemapExtent Extent(uint64_t logicalBlock, uint64_t physicalBlock, uint64_t blocks,
                     uint32_t flags = 0) {
  return TFiemapExtent{logicalBlock * kBlock, physicalBlock * kBlock, blocks * kBlock, flags};
}

TEST(HostFiemapRuns, HolesBetweenAndAfterExtentsHaveNoClusters) {
  const std::vector<TStreamRun> runs =
      RunsFromExtents({Extent(0, 100, 2), Extent(5, 300, 1)}, 10 * kBlock, kBlock);
  EXPECT_EQ(runs, (std::vector<TStreamRun>{{0, 100, 2}, {2, -1, 3}, {5, 300, 1}, {6, -1, 4}}));
  // A leading hole, and a last block that is only partly the file's.
  EXPECT_EQ(RunsFromExtents({Extent(3, 50, 2)}, 5 * kBlock - 7, kBlock),
            (std::vector<TStreamRun>{{0, -1, 3}, {3, 50, 2}}));
}

TEST(HostFiemapRuns, ExtentsThatContinueEachOtherAreOneRun) {
  EXPECT_EQ(RunsFromExtents({Extent(0, 100, 2), Extent(2, 102, 3)}, 5 * kBlock, kBlock),
            (std::vector<TStreamRun>{{0, 100, 5}}));
  // Next in the file but not on the device: two runs.
  EXPECT_EQ(RunsFromExtents({Extent(0, 100, 2), Extent(2, 200, 3)}, 5 * kBlock, kBlock),
            (std::vector<TStreamRun>{{0, 100, 2}, {2, 200, 3}}));
}

TEST(HostFiemapRuns, InlineDataHasNoRunsAndDataNotYetPlacedHasRunsOfItsOwn) {
  constexpr uint32_t kDelayed = FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC;
  struct TCase {
    const char* what;
    std::vector<TFiemapExtent> extents;
    uint64_t sizeBytes;
    std::vector<TStreamRun> runs;
  };
  const TCase cases[] = {
      {"inline data",
       {Extent(0, 0, 1,
               FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_NOT_ALIGNED | FIEMAP_EXTENT_LAST)},
       60,
       {}},
      {"no extent", {}, 0, {}},
      {"all a hole", {}, 10 * kBlock, {}},
      // Delayed allocation: clusters to come, not free and not absent.
      {"all delayed", {Extent(0, 0, 4, kDelayed)}, 4 * kBlock, {{0, kLcnNotPlaced, 4}}},
      {"a place unknown amid placed data",
       {Extent(0, 10, 1), Extent(1, 0, 2, FIEMAP_EXTENT_UNKNOWN), Extent(3, 40, 1)},
       4 * kBlock,
       {{0, 10, 1}, {1, kLcnNotPlaced, 2}, {3, 40, 1}}},
      // A hole and data not yet placed are told apart, never merged.
      {"delayed, a hole, delayed",
       {Extent(0, 0, 2, kDelayed), Extent(3, 0, 1, kDelayed)},
       5 * kBlock,
       {{0, kLcnNotPlaced, 2}, {2, kLcnNoClusters, 1}, {3, kLcnNotPlaced, 1}, {4, -1, 1}}},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(RunsFromExtents(c.extents, c.sizeBytes, kBlock), c.runs) << c.what;
  }
}

TEST(HostFiemapRuns, PreallocatedBlocksKeepTheirPlace) {
  // Unwritten blocks are in use on the device, also past the end of the file.
  EXPECT_EQ(RunsFromExtents({Extent(0, 10, 2), Extent(2, 12, 6, FIEMAP_EXTENT_UNWRITTEN)},
                            3 * kBlock, kBlock),
            (std::vector<TStreamRun>{{0, 10, 8}}));
}

// A scratch folder on a disk (not tmpfs, which answers no FIEMAP), removed
// with what it holds.
class TDiskFolder {
 public:
  TDiskFolder() {
    char pattern[] = "/var/tmp/diskopt-fiemap-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TDiskFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// What `filefrag -v` reads of a file: its extents turned into runs as the
// retrieval pointers request reports them. Extents marked unknown_loc or
// inline lie in no block of their own.
std::vector<TToolRun> FilefragRuns(const std::string& path) {
  const TToolOutput output = RunTool({"filefrag", "-v", path});
  EXPECT_EQ(output.exitCode, 0) << output.err;
  std::istringstream lines(output.out);
  std::string line;
  const std::regex sizeLine(R"(^File size of .* is (\d+) \((\d+) blocks? of (\d+) bytes\))");
  const std::regex extentLine(
      R"(^\s*\d+:\s*(\d+)\.\.\s*(\d+):\s*(\d+)\.\.\s*(\d+):\s*(\d+):(.*)$)");
  std::vector<TToolRun> runs;
  int64_t covered = 0;
  int64_t fileBlocks = 0;
  while (std::getline(lines, line)) {
    std::smatch match;
    if (std::regex_search(line, match, sizeLine)) {
      fileBlocks = std::stoll(match[2]);
      EXPECT_EQ(std::stoull(match[3]), kBlock);
    } else if (std::regex_match(line, match, extentLine)) {
      const std::string flags = match[6];
      if (flags.find("unknown_loc") != std::string::npos ||
          flags.find("inline") != std::string::npos) {
        continue;
      }
      const int64_t first = std::stoll(match[1]);
      const int64_t length = std::stoll(match[5]);
      if (first > covered) runs.push_back(TToolRun{covered, -1, first - covered});
      runs.push_back(TToolRun{first, std::stoll(match[3]), length});
      covered = first + length;
    }
  }
  if (!runs.empty() && fileBlocks > covered) {
    runs.push_back(TToolRun{covered, -1, fileBlocks - covered});
  }
  return MergeRuns(runs);
}

// The folder as drive H: after the scan and fragment retrieval.
struct TFilledFolder {
  explicit TFilledFolder(const std::string& folder)
      : services((drives.Map('H', folder), drives)), drive('H', services, windows, kDriveStages) {
    drive.CreateMemoryTree();
    drive.FillMemoryTree();
  }
  TDriveTable drives;
  TLinuxServices services;
  TFakeWindowSystem windows;
  TDriveOptimizer drive;
};

class HostFiemap : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.Path().empty());
    struct statvfs figures;
    ASSERT_EQ(statvfs(folder_.Path().c_str(), &figures), 0);
    if (figures.f_frsize != kBlock) GTEST_SKIP() << folder_.Path() << " has no 4096-byte blocks";
    const std::string probe = folder_ / "probe";
    WriteBlocks(probe, 0, 1);
    const int fd = open(probe.c_str(), O_RDONLY);
    std::vector<TFiemapExtent> extents;
    const bool answered = ReadFiemap(fd, &extents);
    close(fd);
    unlink(probe.c_str());
    if (!answered) GTEST_SKIP() << "the file system of " << folder_.Path() << " answers no FIEMAP";
  }

  // Writes `blocks` blocks at block `at` of path and syncs them, so they
  // have their blocks on the device before anybody asks where.
  static void WriteBlocks(const std::string& path, int64_t at, int64_t blocks) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0) << path;
    const std::string bytes(static_cast<size_t>(blocks * kBlock), 'd');
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), at * static_cast<off_t>(kBlock)),
              static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(fsync(fd), 0);
    close(fd);
  }

  // A file laid out on purpose: data interleaved with another file's, a hole
  // written around, a hole punched, preallocated blocks, and a hole at the
  // end. Blocks: 0-3 data, 4-5 punched, 6-15 data (8-15 written after the
  // other file), 16-31 hole, 32-39 data, 40-47 hole, 48-55 preallocated,
  // 56-63 hole.
  void MakeLaidOutFile(const std::string& path) {
    WriteBlocks(path, 0, 8);
    WriteBlocks(folder_ / "other", 0, 8);
    WriteBlocks(path, 8, 8);
    WriteBlocks(path, 32, 8);
    const int fd = open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fallocate(fd, 0, 48 * kBlock, 8 * kBlock), 0);
    ASSERT_EQ(fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 4 * kBlock, 2 * kBlock), 0);
    ASSERT_EQ(ftruncate(fd, 64 * kBlock), 0);
    ASSERT_EQ(fsync(fd), 0);
    close(fd);
  }

  TDiskFolder folder_;
};

TEST_F(HostFiemap, AFileLaidOutOnPurposeHasTheRunsFilefragReads) {
  const std::string path = folder_ / "laid-out.bin";
  MakeLaidOutFile(path);
  const std::vector<TToolRun> expected = FilefragRuns(path);
  TDriveTable drives;
  drives.Map('H', folder_.Path());
  TLinuxServices services(drives);
  THandle file = services.OpenForRead("H:\\laid-out.bin", false);
  ASSERT_NE(file, InvalidHandle());
  std::vector<TToolRun> read;
  for (int64_t vcn = 0;;) {
    TStartingVcnInput input = {vcn};
    alignas(8) unsigned char output[16 + 16 * 2];  // two extents a reply
    TIoStatusBlock io = {};
    const TNtStatus status = ObjectFsControl(file, &io, kFsctlGetRetrievalPointers, &input,
                                             sizeof(input), output, sizeof(output));
    ASSERT_TRUE(status == kStatusSuccess || status == kStatusBufferOverflow) << std::hex << status;
    TRetrievalPointersHeader header;
    std::memcpy(&header, output, sizeof(header));
    ASSERT_EQ(header.startingVcn, vcn);
    for (uint32_t i = 0; i < header.extentCount; ++i) {
      TRetrievalExtent extent;
      std::memcpy(&extent, output + 16 + 16 * i, sizeof(extent));
      read.push_back(TToolRun{vcn, extent.lcn, extent.nextVcn - vcn});
      vcn = extent.nextVcn;
    }
    if (status == kStatusSuccess) break;
  }
  services.Close(file);
  EXPECT_EQ(read, expected);
  // What the layout was made for, whatever the allocator chose.
  auto lcnAt = [&read](int64_t vcn) {
    for (const TToolRun& run : read) {
      if (run.vcn <= vcn && vcn < run.vcn + run.length) return run.lcn;
    }
    return int64_t{-2};
  };
  EXPECT_EQ(lcnAt(4), -1);   // punched
  EXPECT_EQ(lcnAt(20), -1);  // never written
  EXPECT_GE(lcnAt(50), 0);   // preallocated: its blocks are in use
  EXPECT_EQ(lcnAt(60), -1);  // the hole at the end
  EXPECT_EQ(read.back().vcn + read.back().length, 64);
}

TEST_F(HostFiemap, TheStagesReadFilesAndTheFolderItselfAsFilefragDoes) {
  MakeLaidOutFile(folder_ / "laid-out.bin");
  WriteBlocks(folder_ / "small.bin", 0, 1);
  WriteFile(folder_ / "empty.txt", "");
  TFilledFolder filled(folder_.Path());
  const TDriveOptimizer& drive = filled.drive;
  ASSERT_NE(drive.root, nullptr);
  const std::map<std::string, const TItem*> items = ItemsByPath(drive.root);
  ASSERT_EQ(items.size(), 5u);  // the root, three files and the other one
  for (const char* name : {"laid-out.bin", "small.bin", "other"}) {
    const TItem* item = items.at(std::string("/") + name);
    EXPECT_EQ(Fragments(item), FilefragRuns(folder_ / name)) << name;
    EXPECT_GT(item->fragmentCount, 0) << name;
  }
  EXPECT_EQ(items.at("/laid-out.bin")->size, static_cast<int64_t>(64 * kBlock));
  EXPECT_EQ(items.at("/laid-out.bin")->clusters, 64);
  EXPECT_EQ(items.at("/empty.txt")->fragmentCount, 0);
  // The folder gives the blocks of its own entries, and its size is 0.
  const std::vector<TToolRun> folderRuns = FilefragRuns(folder_.Path());
  ASSERT_FALSE(folderRuns.empty());
  EXPECT_EQ(Fragments(drive.root), folderRuns);
  EXPECT_EQ(drive.root->size, 0);
}

TEST_F(HostFiemap, AFileWrittenAMomentAgoHasItsRealClusters) {
  // Written and not synced: the file system has not placed its blocks yet
  // (delayed allocation), and would report them as unknown.
  const std::string path = folder_ / "fresh.bin";
  {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const std::string bytes(16 * kBlock, 'n');
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
  }
  TFilledFolder filled(folder_.Path());
  const TDriveOptimizer& drive = filled.drive;
  ASSERT_NE(drive.root, nullptr);
  const TItem* item = ItemsByPath(drive.root).at("/fresh.bin");
  EXPECT_EQ(item->clusters, 16);
  EXPECT_GT(item->fragmentCount, 0);
  // Placed now, where filefrag finds them.
  EXPECT_EQ(Fragments(item), FilefragRuns(path));
  ASSERT_NE(item->fragments, nullptr);
  EXPECT_GE(item->fragments->lcn, 0);
}

TEST(HostFiemapElsewhere, AFileSystemWithoutFiemapAnswersNoRuns) {
  const std::string folder = "/dev/shm";
  std::vector<TFiemapExtent> extents;
  const std::string path = folder + "/diskopt-fiemap-" + std::to_string(getpid());
  WriteFile(path, "on tmpfs");
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0) << "no tmpfs at " << folder;
  const bool answered = ReadFiemap(fd, &extents);
  close(fd);
  if (answered) {
    unlink(path.c_str());
    GTEST_SKIP() << folder << " answers FIEMAP here";
  }
  TDriveTable drives;
  drives.Map('T', folder);
  TLinuxServices services(drives);
  const std::string name = "T:\\" + path.substr(folder.size() + 1);
  THandle file = services.OpenForRead(name.c_str(), false);
  ASSERT_NE(file, InvalidHandle());
  TStartingVcnInput input = {0};
  unsigned char output[64];
  TIoStatusBlock io = {};
  EXPECT_EQ(ObjectFsControl(file, &io, kFsctlGetRetrievalPointers, &input, sizeof(input), output,
                            sizeof(output)),
            kStatusInvalidDeviceRequest);
  services.Close(file);
  unlink(path.c_str());
}

}  // namespace
