#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/handle_object.h"
#include "platform/linux/fs_control_replies.h"
#include "platform/linux/host_free_space.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"

namespace {

// The names in a folder, "." and ".." left out.
std::set<std::string> FolderNames(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

class LinuxFiles : public testing::Test {
 protected:
  LinuxFiles() {
    WriteFile(scratch_ / "five.txt", "12345");
    mkdir((scratch_ / "folder").c_str(), 0755);
    symlink("five.txt", (scratch_ / "link").c_str());
    mkfifo((scratch_ / "pipe").c_str(), 0600);
    TDriveTable drives;
    drives.Map('D', scratch_.Path());
    drives.Map('E', scratch_ / "five.txt");
    services_.emplace(drives);
  }

  TScratchFolder scratch_;
  std::optional<TLinuxServices> services_;
};

TEST_F(LinuxFiles, OpensFilesAndFoldersAsWindowsWould) {
  struct TCase {
    std::string path;
    bool backupSemantics;
    bool opens;
    uint32_t size;  // bytes, when it opens
  } const cases[] = {
      {"D:\\five.txt", true, true, 5},
      {"D:\\link", false, true, 5},  // links are followed
      {"D:\\", true, true, 0},       // a folder has no data stream
      {scratch_.Path() + "\\five.txt", false, true, 5},
      {"D:\\folder", false, false, 0},  // a folder needs backup semantics
      {"D:\\pipe", false, false, 0},    // would block: never opened
      {"F:\\five.txt", false, false, 0},
      // E: is a file that holds no NTFS volume: nothing inside it opens, and
      // never the same path on the host.
      {"E:" + scratch_.Path(), true, false, 0},
  };
  for (const TCase& c : cases) {
    THandle file = services_->OpenForRead(c.path.c_str(), c.backupSemantics);
    EXPECT_EQ(file != InvalidHandle(), c.opens) << c.path;
    if (file == InvalidHandle()) continue;
    uint32_t low = 0xDEAD;
    uint32_t high = 0xBEEF;
    EXPECT_TRUE(services_->FileSize(file, &low, &high)) << c.path;
    EXPECT_EQ(low, c.size) << c.path;
    EXPECT_EQ(high, 0u) << c.path;
    services_->Close(file);
  }
}

TEST_F(LinuxFiles, SizeAbove4GiBSplitsIntoHighAndLowParts) {
  const off_t size = (off_t{5} << 32) + 7;  // sparse: takes no space
  ASSERT_EQ(truncate((scratch_ / "five.txt").c_str(), size), 0);
  THandle file = services_->OpenForRead("D:\\five.txt", false);
  uint32_t low = 0;
  uint32_t high = 0;
  ASSERT_TRUE(services_->FileSize(file, &low, &high));
  EXPECT_EQ(low, 7u);
  EXPECT_EQ(high, 5u);
  services_->Close(file);
}

TEST_F(LinuxFiles, HostFileHandlesRefuseTheVolumeBitmapAndUnknownRequests) {
  THandle file = services_->OpenForRead("D:\\five.txt", false);
  TStartingLcnInput input = {0};
  unsigned char output[64];
  const struct {
    uint32_t code;
    TNtStatus status;
  } cases[] = {{kFsctlGetVolumeBitmap, kStatusInvalidParameter},
               {0x90000, kStatusInvalidDeviceRequest}};
  for (const auto& c : cases) {
    TIoStatusBlock io;
    io.information = 99;
    EXPECT_EQ(
        services_->FsControl(file, &io, c.code, &input, sizeof(input), output, sizeof(output)),
        c.status);
    EXPECT_EQ(io.status, c.status);
    EXPECT_EQ(io.information, 0u);
  }
  services_->Close(file);
}

TEST_F(LinuxFiles, ClosingReleasesDescriptorsAndClosingNothingIsHarmless) {
  // The lowest free descriptor is reused, so a leak shows as a new number.
  const int before = dup(0);
  close(before);
  services_->Close(services_->OpenForRead("D:\\five.txt", false));
  TFindData entry;
  services_->FindEnd(services_->FindFirst("D:\\*.*", &entry));
  services_->Close(nullptr);
  services_->Close(InvalidHandle());
  const int after = dup(0);
  close(after);
  EXPECT_EQ(after, before);
}

TEST_F(LinuxFiles, LogReplacesAnEarlierLogOnlyWhenCommitted) {
  WriteFile(scratch_ / "dirlist_free.log", "a much longer earlier content\r\n");
  std::unique_ptr<TReplacementFile> log = services_->OpenLog("d:\\dirlist_free.log");
  ASSERT_NE(log, nullptr);
  std::fputs("new\r\n", log->Stream());
  std::fflush(log->Stream());
  EXPECT_EQ(ReadFile(scratch_ / "dirlist_free.log"), "a much longer earlier content\r\n");
  EXPECT_TRUE(log->Commit());
  EXPECT_EQ(ReadFile(scratch_ / "dirlist_free.log"), "new\r\n");

  // A writer that gives up leaves the earlier log, and no new file beside it.
  log = services_->OpenLog("d:\\dirlist_free.log");
  ASSERT_NE(log, nullptr);
  std::fputs("half", log->Stream());
  EXPECT_FALSE(log->Commit(EIO));
  EXPECT_EQ(log->FailureText(), std::strerror(EIO));
  log = services_->OpenLog("d:\\dirlist_free.log");
  ASSERT_NE(log, nullptr);
  std::fputs("dropped", log->Stream());
  log.reset();
  EXPECT_EQ(ReadFile(scratch_ / "dirlist_free.log"), "new\r\n");
  EXPECT_EQ(FolderNames(scratch_.Path()),
            (std::set<std::string>{"dirlist_free.log", "five.txt", "folder", "link", "pipe"}));
}

TEST_F(LinuxFiles, LogIsNeverWrittenThroughWhatStandsAtItsName) {
  WriteFile(scratch_ / "precious", "keep me");
  symlink("precious", (scratch_ / "planted.log").c_str());
  symlink("through-link", (scratch_ / "dangling.log").c_str());
  ASSERT_EQ(link((scratch_ / "precious").c_str(), (scratch_ / "hard.log").c_str()), 0);
  // A link at the name is replaced by the log; what it led to is untouched.
  for (const char* name : {"D:\\planted.log", "D:\\dangling.log", "D:\\hard.log"}) {
    std::unique_ptr<TReplacementFile> log = services_->OpenLog(name);
    ASSERT_NE(log, nullptr) << name;
    std::fputs("log\r\n", log->Stream());
    EXPECT_TRUE(log->Commit()) << name;
    const std::string written = scratch_ / (std::string(name).substr(3));
    struct stat status;
    ASSERT_EQ(lstat(written.c_str(), &status), 0) << name;
    EXPECT_TRUE(S_ISREG(status.st_mode)) << name;
    EXPECT_EQ(status.st_nlink, 1u) << name;
    EXPECT_EQ(ReadFile(written), "log\r\n") << name;
  }
  EXPECT_EQ(ReadFile(scratch_ / "precious"), "keep me");
  struct stat status;
  EXPECT_NE(lstat((scratch_ / "through-link").c_str(), &status), 0);

  // What is neither a file nor a link is never replaced, nor is a log
  // written where there is no host folder or outside the drive's folder.
  const std::string names[] = {
      "D:\\pipe",
      "D:\\folder",
      "/dev/null",
      "F:\\x.log",
      "E:" + scratch_.Path() + "\\x.log",  // NTFS volumes are never written
      "D:\\..\\" + scratch_.Path().substr(scratch_.Path().rfind('/') + 1) + "-outside.log",
      "D:\\link\\..\\..\\outside.log",
  };
  for (const std::string& name : names) {
    EXPECT_EQ(services_->OpenLog(name.c_str()), nullptr) << name;
  }
  EXPECT_NE(lstat((scratch_ / "x.log").c_str(), &status), 0);
  EXPECT_NE(lstat((scratch_.Path() + "-outside.log").c_str(), &status), 0);
  ASSERT_EQ(lstat((scratch_ / "pipe").c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST_F(LinuxFiles, FreeSpaceIsTheHostFileSystemInFragments) {
  struct statvfs figures;
  ASSERT_EQ(statvfs(scratch_.Path().c_str(), &figures), 0);
  TDiskGeometry geometry = {0, 0, 0, 0};
  ASSERT_TRUE(services_->DiskFreeSpace("D:\\", &geometry));
  EXPECT_TRUE(services_->DiskFreeSpaceEx("D:\\"));
  EXPECT_EQ(geometry.bytesPerSector, figures.f_frsize);
  EXPECT_EQ(geometry.totalClusters, figures.f_blocks);
  EXPECT_LT(geometry.freeClusters, geometry.totalClusters);
  for (const char* root : {"F:\\", "E:\\", "\\\\.\\D:"}) {
    EXPECT_FALSE(services_->DiskFreeSpace(root, &geometry)) << root;
    EXPECT_FALSE(services_->DiskFreeSpaceEx(root)) << root;
  }
  // Past 2^32 blocks (a 20 TB disk of 4 KiB blocks, a 15 TiB one of 2 KiB
  // blocks) the counts stay whole.
  const TDiskGeometry big = GeometryFromFileSystem(2048, 8053063680, (uint64_t{1} << 32) + 12);
  EXPECT_EQ(big.totalClusters, 8053063680u);
  EXPECT_EQ(big.freeClusters, (uint64_t{1} << 32) + 12);
  EXPECT_EQ(big.bytesPerSector, 2048u);
}

// Debug output is for developers: it reaches standard error, unchanged, only
// when DISKOPT_DEBUG=1 as the services are made.
TEST(LinuxServices, DebugOutputGoesToStandardErrorOnlyWhenAskedFor) {
  struct TCase {
    const char* debug;  // DISKOPT_DEBUG; none: unset
    const char* shown;
  };
  const TCase cases[] = {
      {nullptr, ""}, {"", ""}, {"0", ""}, {"yes", ""}, {"1", "first second\n"},
  };
  for (const TCase& test : cases) {
    if (test.debug == nullptr) {
      unsetenv("DISKOPT_DEBUG");
    } else {
      setenv("DISKOPT_DEBUG", test.debug, 1);
    }
    TLinuxServices services{TDriveTable()};
    unsetenv("DISKOPT_DEBUG");
    testing::internal::CaptureStderr();
    services.DebugOutput("first ");
    services.DebugOutput("second\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), test.shown)
        << (test.debug == nullptr ? "unset" : test.debug);
  }
}

}  // namespace
