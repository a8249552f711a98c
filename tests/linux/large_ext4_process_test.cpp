// A whole headless run on an ext4 file system of more than 2^32 blocks:
// 15 TiB of 2 KiB blocks (8,053,063,680), made sparse and lean (no journal,
// few inodes, inode tables left unwritten) and loop mounted (root only: the
// test is skipped where mounting is impossible), with a few files, one of
// them past block 2^32. The run must end, and its counts agree with what
// dumpe2fs and filefrag read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "tests/linux/json_read_back.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"

namespace {

constexpr int64_t kBlocks = 8053063680;  // 15 TiB in 2 KiB blocks
constexpr int64_t k2To32 = int64_t{1} << 32;

// The first extent of a file as `filefrag -v` reads it: its physical block
// and length; {-1, 0} when there is none.
TToolRun FilefragFirstExtent(const std::string& path) {
  const TToolOutput output = RunTool({"filefrag", "-v", path});
  std::smatch match;
  const std::regex extent(R"(\n\s*0:\s*0\.\.\s*\d+:\s*(\d+)\.\.\s*\d+:\s*(\d+):)");
  if (output.exitCode != 0 || !std::regex_search(output.out, match, extent)) return {0, -1, 0};
  return TToolRun{0, std::stoll(match[1]), std::stoll(match[2])};
}

// Writes what the file system holding path has not yet written; this one
// only, since sync() would wait for every disk of the machine.
void SyncFileSystem(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  syncfs(fd);
  close(fd);
}

// The number after key in dumpe2fs -h's report ("Free blocks:   123").
int64_t Dumpe2fsNumber(const std::string& report, const std::string& key) {
  const size_t at = report.find("\n" + key);
  if (at == std::string::npos) return -1;
  return std::atoll(report.c_str() + at + 1 + key.size());
}

// A scratch folder in memory (tmpfs), removed with what it holds: a sparse
// file of 15 TiB is freed there at once, where a disk mounted with discard
// takes minutes.
class TMemoryFolder {
 public:
  TMemoryFolder() {
    char pattern[] = "/dev/shm/diskopt-large-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TMemoryFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The image, mounted for the life of the object when the host allows; the
// mount (and with it the loop device) goes whatever the test's outcome.
class TLargeExt4 {
 public:
  TLargeExt4() {
    if (scratch_.Path().empty()) {
      reason_ = "no scratch folder in /dev/shm";
      return;
    }
    image_ = scratch_ / "large.img";
    mountPoint_ = scratch_ / "mnt";
    std::filesystem::create_directories(mountPoint_);
    const int fd = open(image_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const bool sized = fd >= 0 && ftruncate(fd, kBlocks * 2048) == 0;
    if (fd >= 0) close(fd);
    if (!sized) {
      reason_ = "/dev/shm cannot hold a sparse file of 15 TiB";
      return;
    }
    const TToolOutput made =
        RunTool({"mkfs.ext4", "-q", "-F", "-b", "2048", "-N", "1024", "-G", "4096", "-O",
                 "^has_journal,^resize_inode", "-E", "lazy_itable_init=1,nodiscard", image_});
    if (made.exitCode != 0) {
      reason_ = "mkfs.ext4 failed: " + made.err;
      return;
    }
    if (!Mount()) return;
    WriteFile(mountPoint_ + "/a.txt", "a few bytes");
    std::filesystem::create_directories(mountPoint_ + "/sub");
    WriteFile(mountPoint_ + "/sub/b.bin", std::string(300000, 'b'));
    // Folders at the top are spread over the volume's groups; where their
    // files go is the allocator's choice, often past 2^32.
    for (int k = 0; k < 8; ++k) {
      const std::string folder = mountPoint_ + "/d" + std::to_string(k);
      std::filesystem::create_directories(folder);
      WriteFile(folder + "/f.bin", std::string(65536, 'f'));
    }
    SyncFileSystem(mountPoint_);
    // Mounted afresh, the file system holds no blocks set aside for files
    // to grow into, which dumpe2fs would count as free.
    Unmount();
    Mount();
  }
  ~TLargeExt4() { Unmount(); }

  bool Mount() {
    // noinit_itable: the kernel would otherwise write 1 GiB of inode tables.
    const TToolOutput mount = RunTool({"mount", "-o", "loop,noinit_itable", image_, mountPoint_});
    mounted_ = mount.exitCode == 0;
    if (!mounted_) reason_ = "cannot loop-mount: " + mount.err;
    return mounted_;
  }
  void Unmount() {
    if (mounted_) RunTool({"umount", mountPoint_});
    mounted_ = false;
  }

  bool Mounted() const { return mounted_; }
  const std::string& Reason() const { return reason_; }
  const std::string& MountPoint() const { return mountPoint_; }
  const std::string& Image() const { return image_; }

 private:
  TMemoryFolder scratch_;  // outlives the mount, which the destructor ends first
  std::string image_;
  std::string mountPoint_;
  std::string reason_;
  bool mounted_ = false;
};

TEST(LargeExt4Process, AVolumeOfMoreThanTwoToThe32BlocksIsAnalysedToTheEnd) {
  if (geteuid() != 0) GTEST_SKIP() << "loop mounts need root";
  TLargeExt4 volume;
  if (!volume.Mounted()) GTEST_SKIP() << volume.Reason();
  // Every file's one extent, as filefrag reads it, by its listed path.
  std::map<std::string, TToolRun> extents;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(volume.MountPoint())) {
    if (!entry.is_regular_file()) continue;
    std::string listed = entry.path().string().substr(volume.MountPoint().size());
    for (char& c : listed) c = c == '/' ? '\\' : c;
    extents[listed] = FilefragFirstExtent(entry.path().string());
  }
  TScratchFolder run;
  // Bounded: a run that spins is killed and fails here.
  const std::string command =
      "cd '" + run.Path() +
      "' && env -u DISPLAY -u WAYLAND_DISPLAY -u DISKOPT_SNAPSHOT QT_QPA_PLATFORM=offscreen "
      "DISKOPT_JSON='" +
      run.Path() + "' timeout 120 '" DISKOPT_BINARY "' '" + volume.MountPoint() + "' 2>/dev/null";
  const TCommandResult finished = RunCommand(command);
  const std::string& output = finished.output;
  const int status = finished.status;
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << output;

  // The summary's clusters, free clusters and files, as the user reads them.
  std::smatch match;
  ASSERT_TRUE(std::regex_search(output, match, std::regex(R"(Clusters: +(\d+), (\d+) free)")))
      << output;
  const int64_t clusters = std::stoll(match[1]);
  const int64_t free = std::stoll(match[2]);
  EXPECT_NE(output.find("Items:"), std::string::npos);

  // Each file has the run filefrag reads, in the export, wherever it lies.
  const rapidjson::Document exported = ParseJson(ReadFile(run / "drive-D.json"));
  EXPECT_EQ(exported["totalClusters"].GetInt64(), kBlocks);
  int files = 0;
  int pastTwoToThe32 = 0;
  for (const rapidjson::Value& item : exported["items"].GetArray()) {
    const auto extent = extents.find(ExportedBytes(item, "path"));
    if (extent == extents.end()) continue;
    ++files;
    pastTwoToThe32 += extent->second.lcn >= k2To32 ? 1 : 0;
    EXPECT_EQ(JsonRuns(item["runs"]), (std::vector<TToolRun>{extent->second})) << extent->first;
    EXPECT_EQ(item["clusters"].GetInt64(), extent->second.length) << extent->first;
  }
  EXPECT_EQ(files, 10);
  RecordProperty("filesPastTwoToThe32", pastTwoToThe32);

  volume.Unmount();  // dumpe2fs reads the counts as written at the unmount
  const TToolOutput report = RunTool({"dumpe2fs", "-h", volume.Image()});
  ASSERT_EQ(report.exitCode, 0) << report.err;
  EXPECT_EQ(clusters, kBlocks);
  EXPECT_EQ(clusters, Dumpe2fsNumber(report.out, "Block count:"));
  EXPECT_EQ(free, Dumpe2fsNumber(report.out, "Free blocks:"));
}

}  // namespace
