// Names a Windows name cannot hold ('\', ':', '*', a line feed ...) coming
// from Linux folders and NTFS volumes: every item is listed once under its
// mapped name, opens under it, and nothing outside the drive's folder is
// ever reached, whatever a name or a path says.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "app/folder_statistics.h"
#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "platform/linux/windows_names.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"
#include "tools/ntfs_image_builder.h"

namespace {

// The hostile names, each a folder or a file, with something inside each
// folder so that a folder entered in the wrong place shows.
const char* const kFolders[] = {"\\.", ".\\.", "\\..", "sub", "sub/\\..\\.."};
const char* const kFiles[] = {
    "a\\b",
    "line\nbreak",
    "x:y*?\"<>|",
    "\\./inside-1.txt",
    ".\\./inside-2.txt",
    "\\../inside-3.txt",
    "sub/\\..\\../inside-4.txt",
    "tab\there\x1f",
};

// Every entry below folder as find(1) reports it, by its path relative to
// the folder, with whether it is a folder. NUL-separated, so a line feed in
// a name stays in the name.
std::map<std::string, bool> FindEntries(const std::string& folder) {
  std::map<std::string, bool> entries;
  const std::string command = "find '" + folder + "' -mindepth 1 -printf '%y%P\\0'";
  FILE* output = popen(command.c_str(), "r");
  if (output == nullptr) return entries;
  std::string record;
  for (int c; (c = std::fgetc(output)) != EOF;) {
    if (c != '\0') {
      record.push_back(static_cast<char>(c));
      continue;
    }
    entries[record.substr(1)] = record[0] == 'd';
    record.clear();
  }
  pclose(output);
  return entries;
}

// Every item below root by its path in Linux names (listed names mapped
// back), with whether it is a folder; adds 1 to *badNames for each listed
// name that still holds a character a Windows name cannot hold.
void CollectTree(const TItem* item, const std::string& path, std::map<std::string, bool>* tree,
                 int* badNames) {
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    if (std::strpbrk(child->name, "\\:*?\"<>|/\n\t\x1f") != nullptr) ++*badNames;
    const std::string childPath = path + LinuxName(child->name);
    (*tree)[childPath] = child->IsFolder();
    CollectTree(child, childPath + "/", tree, badNames);
  }
}

// Asks a drive to stop when its stages still run after 20 s, so a scan that
// would never end fails the test rather than stalling it.
class TStageDeadline {
 public:
  explicit TStageDeadline(TDriveOptimizer& drive)
      : watcher_([this, &drive] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!ended_.wait_for(lock, std::chrono::seconds(20), [this] { return done_; })) {
            drive.RequestStop();
          }
        }) {}
  ~TStageDeadline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    ended_.notify_all();
    watcher_.join();
  }

 private:
  std::mutex mutex_;  // guards done_, written by the test thread, read by the watcher
  std::condition_variable ended_;
  bool done_ = false;
  std::thread watcher_;
};

class HostileHostNames : public testing::Test {
 protected:
  HostileHostNames() : root_(scratch_ / "root") {
    WriteFile(scratch_ / "outside.txt", "beside the drive's folder");
    mkdir(root_.c_str(), 0755);
    for (const char* folder : kFolders) mkdir((root_ + "/" + folder).c_str(), 0755);
    for (const char* file : kFiles) WriteFile(root_ + "/" + file, "x");
    TDriveTable drives;
    drives.Map('D', root_);
    services_.emplace(drives);
  }

  TScratchFolder scratch_;
  const std::string root_;
  std::optional<TLinuxServices> services_;
};

TEST_F(HostileHostNames, ScanListsExactlyTheFolderItemsUnderMappedNames) {
  const std::map<std::string, bool> expected = FindEntries(root_);
  ASSERT_EQ(expected.size(), std::size(kFolders) + std::size(kFiles));
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', *services_, windows, kDriveStages);
  TStageDeadline deadline(drive);
  drive.CreateMemoryTree();
  ASSERT_NE(drive.root, nullptr);
  std::map<std::string, bool> scanned;
  int badNames = 0;
  CollectTree(drive.root, "", &scanned, &badNames);
  EXPECT_EQ(scanned, expected);
  EXPECT_EQ(badNames, 0);

  // '\' is listed as U+F05C; every item opens under its listed name, so
  // fragment retrieval keeps them all.
  bool listedAsPrivateUse = false;
  for (const TItem* child = drive.root->firstChild; child != nullptr; child = child->nextSibling) {
    listedAsPrivateUse |= std::string(child->name) ==
                          "a\xEF\x81\x9C"
                          "b";
  }
  EXPECT_TRUE(listedAsPrivateUse);
  drive.FillMemoryTree();
  std::map<std::string, bool> filled;
  CollectTree(drive.root, "", &filled, &badNames);
  EXPECT_EQ(filled, expected);
}

TEST_F(HostileHostNames, FolderStatisticsCountWhatFindCounts) {
  const std::map<std::string, bool> found = FindEntries(root_);
  TFolderCounters expected = {0, 0, 0, 0};
  for (const auto& [path, folder] : found) {
    const std::string name = path.substr(path.rfind('/') + 1);
    const int32_t listedBytes = static_cast<int32_t>(ListedName(name.data(), name.size()).size());
    (folder ? expected.folderCount : expected.fileCount) += 1;
    (folder ? expected.folderNameBytes : expected.fileNameBytes) += listedBytes;
  }
  // Through the drive letter and as a path of its own, as -m takes both.
  for (const std::string& path : {std::string("D:\\"), root_ + "/"}) {
    TFolderCounters counted = {0, 0, 0, 0};
    CountFolder(path.c_str(), &counted, *services_);
    EXPECT_EQ(counted.fileCount, expected.fileCount) << path;
    EXPECT_EQ(counted.folderCount, expected.folderCount) << path;
    EXPECT_EQ(counted.fileNameBytes, expected.fileNameBytes) << path;
    EXPECT_EQ(counted.folderNameBytes, expected.folderNameBytes) << path;
  }
}

TEST_F(HostileHostNames, OpensNeverLeaveTheDriveFolder) {
  symlink("../outside.txt", (root_ + "/escape").c_str());
  symlink((scratch_ / "outside.txt").c_str(), (root_ + "/absolute").c_str());
  symlink("a\\b", (root_ + "/inside-link").c_str());
  symlink("/proc/self/root", (root_ + "/magic").c_str());
  struct TCase {
    const char* path;
    bool opens;
  };
  const TCase cases[] = {
      {"D:\\a\xEF\x81\x9C"
       "b",
       true},
      {"D:\\inside-link", true},
      {"D:\\sub\\..\\a\xEF\x81\x9C"
       "b",
       true},
      {"D:\\..\\outside.txt", false},
      {"D:\\sub\\..\\..\\outside.txt", false},
      {"D:\\escape", false},
      {"D:\\absolute", false},
      {"D:\\magic\\etc\\hostname", false},
      // The listed form of "\.." is one name, never a way up.
      {"D:\\\xEF\x81\x9C..\\..\\outside.txt", false},
  };
  for (const TCase& c : cases) {
    THandle file = services_->OpenForRead(c.path, false);
    EXPECT_EQ(file != InvalidHandle(), c.opens) << c.path;
    if (file != InvalidHandle()) services_->Close(file);
  }
  TFindData entry;
  EXPECT_EQ(services_->FindFirst("D:\\..\\*.*", &entry), InvalidHandle());
  EXPECT_EQ(services_->FindFirst("D:\\magic\\*.*", &entry), InvalidHandle());
  TDiskGeometry geometry;
  EXPECT_TRUE(services_->DiskFreeSpace("D:\\", &geometry));
  EXPECT_FALSE(services_->DiskFreeSpace("D:\\..\\", &geometry));
}

TEST_F(HostileHostNames, AFolderPutInPlaceOfTheDriveFolderDoesNotMoveTheDrive) {
  // The drive's folder is swapped for a link to what lies beside it once
  // the services run: they go on reading the folder they were given.
  ASSERT_EQ(rename(root_.c_str(), (scratch_ / "moved").c_str()), 0);
  ASSERT_EQ(symlink(scratch_.Path().c_str(), root_.c_str()), 0);
  THandle file = services_->OpenForRead("D:\\outside.txt", false);
  EXPECT_EQ(file, InvalidHandle());
  if (file != InvalidHandle()) services_->Close(file);
  file = services_->OpenForRead("D:\\sub\\\xEF\x81\x9C..\xEF\x81\x9C..\\inside-4.txt", false);
  EXPECT_NE(file, InvalidHandle());
  if (file != InvalidHandle()) services_->Close(file);
}

#if defined(__x86_64__)
TEST_F(HostileHostNames, WithoutOpenat2EveryHostOpenFails) {
  // A child whose openat2 answers ENOSYS, as on kernels before 5.6: opens
  // must fail rather than fall back to a call that could leave the folder.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(std::size(filter)), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
      _exit(2);
    }
    TFindData entry;
    const bool refused = services_->OpenForRead("D:\\sub\\", true) == InvalidHandle() &&
                         services_->FindFirst("D:\\*.*", &entry) == InvalidHandle() &&
                         services_->OpenLog("D:\\x.log") == nullptr;
    _exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "no seccomp filter here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

TEST(HostileNtfsNames, ScanListsPosixNamesOnceUnderMappedNames) {
  TScratchFolder scratch;
  const std::string image = scratch / "names.img";
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 8 << 20;
  ASSERT_TRUE(builder.Format(image, format).ok);
  std::map<std::string, bool> expected;
  for (const char* folder : kFolders) {
    ASSERT_TRUE(builder.MakeFolder(std::string("/") + folder).ok) << folder;
    expected[folder] = true;
  }
  for (const char* file : kFiles) {
    ASSERT_TRUE(builder.MakeFile(std::string("/") + file, TContent::Bytes("x")).ok) << file;
    expected[file] = false;
  }
  ASSERT_TRUE(builder.Finish().ok);

  TDriveTable drives;
  drives.Map('D', image);
  TLinuxServices services(drives);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', services, windows, kDriveStages);
  TStageDeadline deadline(drive);
  drive.CreateMemoryTree();
  ASSERT_NE(drive.root, nullptr);
  std::map<std::string, bool> scanned;
  int badNames = 0;
  CollectTree(drive.root, "", &scanned, &badNames);
  EXPECT_EQ(scanned, expected);
  EXPECT_EQ(badNames, 0);
  drive.FillMemoryTree();
  std::map<std::string, bool> filled;
  CollectTree(drive.root, "", &filled, &badNames);
  EXPECT_EQ(filled, expected);

  TFolderCounters counted = {0, 0, 0, 0};
  CountFolder("D:\\", &counted, services);
  EXPECT_EQ(counted.folderCount, static_cast<int32_t>(std::size(kFolders)));
  EXPECT_EQ(counted.fileCount, static_cast<int32_t>(std::size(kFiles)));
}

TEST(WindowsNames, MapsExactlyTheCharactersWindowsNamesCannotHold) {
  struct TCase {
    std::string linuxName;
    std::string listed;
  };
  const TCase cases[] = {
      {"plain name.txt", "plain name.txt"},
      {"a\\b",
       "a\xEF\x81\x9C"
       "b"},
      {"\\..", "\xEF\x81\x9C.."},
      {":*?\"<>|",
       "\xEF\x80\xBA\xEF\x80\xAA\xEF\x80\xBF\xEF\x80\xA2\xEF\x80\xBC\xEF\x80\xBE\xEF\x81\xBC"},
      {"\x01\n\x1f", "\xEF\x80\x81\xEF\x80\x8A\xEF\x80\x9F"},
      {"R\xC3\xA9sum\xC3\xA9 \x7f", "R\xC3\xA9sum\xC3\xA9 \x7f"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ListedName(c.linuxName.data(), c.linuxName.size()), c.listed) << c.linuxName;
    EXPECT_EQ(LinuxName(c.listed), c.linuxName) << c.linuxName;
  }
  // Private-use characters that stand for nothing mapped stay as they are,
  // and a mapped-back path never gains a separator.
  for (const std::string& kept : {std::string("\xEF\x80\xAF"), std::string("\xEF\x80\xA1"),
                                  std::string("\xEF\x80\x80"), std::string("\xEF\x80")}) {
    EXPECT_EQ(LinuxName(kept), kept);
  }
}

}  // namespace
