// The summary of a host folder on a real ext4 file system against filefrag
// and e2freefrag. The file system is made by mke2fs from a folder, loop
// mounted (root only: the test is skipped where mounting is impossible)
// and fragmented on purpose by interleaved, synced appends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/json_read_back.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"

namespace {

// The number before " extent" in filefrag's "name: N extents found"; -1
// when missing.
int64_t FilefragExtents(const std::string& output) {
  const size_t at = output.rfind(": ");
  if (at == std::string::npos) return -1;
  return std::atoll(output.c_str() + at + 2);
}

// The number after key in e2freefrag's report ("Free blocks: 2090 (51.0%)").
int64_t E2freefragNumber(const std::string& output, const std::string& key) {
  const size_t at = output.find(key);
  if (at == std::string::npos) return -1;
  return std::atoll(output.c_str() + at + key.size());
}

void AppendSynced(const std::string& path, size_t bytes, char fill) {
  std::ofstream(path, std::ios::binary | std::ios::app) << std::string(bytes, fill);
  sync();
}

// An ext4 image, mounted for the life of the object when the host allows.
class TMountedExt4 {
 public:
  TMountedExt4() {
    const std::string source = scratch_ / "source";
    std::filesystem::create_directories(source + "/sub");
    WriteFile(source + "/a.bin", std::string(100000, 'a'));
    WriteFile(source + "/sub/small.txt", "x");
    WriteFile(source + "/caf\xE9.txt", "y");  // a name that is not UTF-8
    {
      std::ofstream sparse(source + "/sparse.bin", std::ios::binary);
      sparse.seekp(500000);
      sparse << 'z';
      sparse.seekp(1048575);
      sparse << 'z';
    }
    image_ = scratch_ / "ext4.img";
    const TToolOutput made =
        RunTool({"mke2fs", "-q", "-F", "-t", "ext4", "-b", "4096", "-d", source, image_, "16M"});
    if (made.exitCode != 0) {
      reason_ = "mke2fs failed: " + made.err;
      return;
    }
    mountPoint_ = scratch_ / "mnt";
    std::filesystem::create_directories(mountPoint_);
    const TToolOutput mount = RunTool({"mount", "-o", "loop", image_, mountPoint_});
    if (mount.exitCode != 0) {
      reason_ = "cannot loop-mount: " + mount.err;
      return;
    }
    mounted_ = true;
    // Holes between files, then two files grown in turn into them.
    for (int k = 0; k < 150; ++k)
      WriteFile(mountPoint_ + "/f" + std::to_string(k), std::string(16384, 'f'));
    sync();
    for (int k = 0; k < 150; k += 2)
      std::filesystem::remove(mountPoint_ + "/f" + std::to_string(k));
    sync();
    for (int k = 0; k < 12; ++k) {
      AppendSynced(mountPoint_ + "/big.bin", 65536, 'b');
      AppendSynced(mountPoint_ + "/big2.bin", 65536, 'c');
    }
    // Mounted afresh, the file system holds no preallocations: blocks that
    // it keeps for files to grow into count as used while mounted and as
    // free once unmounted, where e2freefrag reads them.
    Unmount();
    if (RunTool({"mount", "-o", "loop", image_, mountPoint_}).exitCode != 0) {
      reason_ = "cannot mount again";
      return;
    }
    mounted_ = true;
  }
  ~TMountedExt4() { Unmount(); }

  // False while a program still holds the file system (it stays mounted,
  // and the destructor tries again).
  bool Unmount() {
    if (mounted_ && RunTool({"umount", mountPoint_}).exitCode == 0) mounted_ = false;
    return !mounted_;
  }

  bool Mounted() const { return mounted_; }
  const std::string& Reason() const { return reason_; }
  const std::string& MountPoint() const { return mountPoint_; }
  const std::string& Image() const { return image_; }

 private:
  TScratchFolder scratch_;
  std::string image_;
  std::string mountPoint_;
  std::string reason_;
  bool mounted_ = false;
};

TEST(Ext4DriveReports, TheSummaryAgreesWithFilefragAndE2freefrag) {
  if (geteuid() != 0) GTEST_SKIP() << "loop mounts need root";
  TMountedExt4 volume;
  if (!volume.Mounted()) GTEST_SKIP() << volume.Reason();
  TScratchFolder logs;
  TScratchFolder exports;
  TDriveTable drives;
  drives.Map('C', logs.Path());
  drives.Map('E', volume.MountPoint());
  TFakeWindowSystem windows;
  // The services hold the folder open: they go before the unmount below.
  auto services = std::make_unique<TLinuxServices>(drives);
  auto drive = std::make_unique<TDriveOptimizer>('E', *services, windows, kDriveStages);
  drive->exportFolder = exports.Path();
  drive->RunPipeline();
  ASSERT_EQ(drive->statusText.Get(), "Finished");
  ASSERT_NE(drive->root, nullptr);
  ASSERT_NE(drive->freeExtents, nullptr) << "GETFSMAP gave no free space";

  int64_t items = 1;
  int64_t files = 0;
  int64_t fragmented = 0;
  int64_t fragments = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(volume.MountPoint())) {
    ++items;
    if (!entry.is_regular_file()) continue;
    ++files;
    const TToolOutput filefrag = RunTool({"filefrag", entry.path().string()});
    ASSERT_EQ(filefrag.exitCode, 0) << filefrag.err;
    const int64_t extents = FilefragExtents(filefrag.out);
    fragments += extents;
    fragmented += extents > 1 ? 1 : 0;
  }
  const TVolumeSummary summary = drive->summary;
  EXPECT_EQ(summary.items, items);
  EXPECT_EQ(summary.files, files);
  EXPECT_GE(fragmented, 2);  // the two files grown in turn
  EXPECT_EQ(summary.fragmentedFiles, fragmented);
  EXPECT_EQ(summary.fragments, fragments);

  drive.reset();
  services.reset();
  ASSERT_TRUE(volume.Unmount());  // e2freefrag reads the bitmaps as written
  const std::string freefrag = RunTool({"e2freefrag", volume.Image()}).out;
  EXPECT_EQ(summary.totalClusters, E2freefragNumber(freefrag, "Total blocks: "));
  EXPECT_EQ(summary.freeClusters, E2freefragNumber(freefrag, "Free blocks: "));
  EXPECT_EQ(summary.freeExtents, E2freefragNumber(freefrag, "Num. free extent: "));
  EXPECT_EQ(summary.largestFreeExtent * 4, E2freefragNumber(freefrag, "Max. free extent: "));
  EXPECT_EQ(summary.plan.itemsUnplaced, 0);

  // The name that is not UTF-8 comes back from the export byte for byte.
  const rapidjson::Document exported = ParseJson(ReadFile(exports / "drive-E.json"));
  bool found = false;
  for (const rapidjson::Value& item : exported["items"].GetArray()) {
    found = found || ExportedBytes(item, "path") == "\\caf\xE9.txt";
  }
  EXPECT_TRUE(found);
}

}  // namespace
