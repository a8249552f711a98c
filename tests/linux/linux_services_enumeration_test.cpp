#include <dirent.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/host_enumeration.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"

namespace {

using TListing = std::vector<std::pair<std::string, uint32_t>>;

// What FindFirst / FindNext give for a pattern, in order; empty on failure.
TListing List(TSystemServices& services, const std::string& pattern) {
  TListing listing;
  TFindData entry;
  THandle find = services.FindFirst(pattern.c_str(), &entry);
  if (find == InvalidHandle()) return listing;
  do {
    listing.emplace_back(entry.name, entry.attributes);
  } while (services.FindNext(find, &entry));
  services.FindEnd(find);
  return listing;
}

class LinuxEnumeration : public testing::Test {
 protected:
  LinuxEnumeration() {
    for (const char* name : {"a.txt", "Data", "DataX", "Data.txt", "MyData"}) {
      WriteFile(scratch_ / name, "");
    }
    mkdir((scratch_ / "sub").c_str(), 0755);
    WriteFile(scratch_ / "sub/inner.bin", "");
    symlink("..", (scratch_ / "sub/up").c_str());  // a loop back up the tree
    symlink("a.txt", (scratch_ / "filelink").c_str());
    symlink("no-such-target", (scratch_ / "dangling").c_str());
    symlink("self", (scratch_ / "self").c_str());
    TDriveTable drives;
    drives.Map('D', scratch_.Path());
    drives.Map('E', scratch_ / "a.txt");
    services_.emplace(drives);
  }

  TScratchFolder scratch_;
  std::optional<TLinuxServices> services_;
};

TEST_F(LinuxEnumeration, ListsEveryEntryInReaddirOrderWithItsAttributes) {
  const TListing listing = List(*services_, "D:\\*.*");
  std::vector<std::string> readdirOrder;
  DIR* stream = opendir(scratch_.Path().c_str());
  while (const dirent* found = readdir(stream)) readdirOrder.push_back(found->d_name);
  closedir(stream);
  std::vector<std::string> names;
  for (const auto& entry : listing) names.push_back(entry.first);
  EXPECT_EQ(names, readdirOrder);
  const std::map<std::string, uint32_t> expected = {
      {".", kAttributeDirectory},
      {"..", kAttributeDirectory},
      {"a.txt", 0},
      {"Data", 0},
      {"DataX", 0},
      {"Data.txt", 0},
      {"MyData", 0},
      {"sub", kAttributeDirectory},
      {"filelink", kAttributeReparsePoint},
      {"dangling", kAttributeReparsePoint},
      {"self", kAttributeReparsePoint},  // a link to itself leads nowhere
  };
  const std::map<std::string, uint32_t> attributes(listing.begin(), listing.end());
  EXPECT_EQ(attributes, expected);
  EXPECT_EQ(List(*services_, "D:\\sub\\up"),
            (TListing{{"up", kAttributeDirectory | kAttributeReparsePoint}}));
}

TEST_F(LinuxEnumeration, PatternSelectsByLastComponent) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"D:\\Data*.*", {"Data", "Data.txt", "DataX"}},
      {"d:\\DATA.TXT", {"Data.txt"}},
      {scratch_.Path() + "\\sub\\*.bin", {"inner.bin"}},
      // Nothing to list: no match, a missing folder, a file, no name
      // pattern, an unmapped letter, a file that holds no NTFS volume, a
      // volume path.
      {"D:\\none*.*", {}},
      {"D:\\absent\\*.*", {}},
      {"D:\\a.txt\\*.*", {}},
      {"D:\\sub\\", {}},
      {"F:\\*.*", {}},
      {"E:" + scratch_.Path() + "\\*.*", {}},
      {"\\\\.\\D:", {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> names;
    for (const auto& entry : List(*services_, c.first)) names.push_back(entry.first);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.second) << c.first;
  }
}

TEST_F(LinuxEnumeration, FindNextOnAnotherKindOfHandleReportsNoMore) {
  THandle file = services_->OpenForRead("D:\\a.txt", false);
  ASSERT_NE(file, InvalidHandle());
  TFindData entry;
  EXPECT_FALSE(services_->FindNext(file, &entry));
  services_->Close(file);
}

TEST_F(LinuxEnumeration, MountPointIsAReparseFolderButItsDotEntriesAreNot) {
  struct stat root;
  struct stat proc;
  if (stat("/", &root) != 0 || stat("/proc", &proc) != 0 || root.st_dev == proc.st_dev) {
    GTEST_SKIP() << "/proc is not a mount point here";
  }
  EXPECT_EQ(List(*services_, "/proc"),
            (TListing{{"proc", kAttributeDirectory | kAttributeReparsePoint}}));
  EXPECT_EQ(List(*services_, "/proc/.."), (TListing{{"..", kAttributeDirectory}}));
}

TEST_F(LinuxEnumeration, BindMountOfTheSameFileSystemIsAReparseFolder) {
  // A bind mount keeps st_dev, so only the mount-root attribute tells it. It
  // is made in a child's own mount namespace, which ends with the child.
  enum { kMatched, kMismatched, kCannotMount };
  const std::string source = scratch_ / "sub";
  const std::string target = scratch_ / "bound";
  ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      _exit(kCannotMount);
    }
    // Services made in the child's namespace: the fixture's hold the
    // drive's folder as it was in the parent's, where nothing is bound.
    TDriveTable drives;
    drives.Map('D', scratch_.Path());
    TLinuxServices services(drives);
    const TListing expected = {{"bound", kAttributeDirectory | kAttributeReparsePoint}};
    _exit(List(services, "D:\\bound") == expected ? kMatched : kMismatched);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kCannotMount) GTEST_SKIP() << "no private mount namespace here";
  EXPECT_EQ(WEXITSTATUS(status), kMatched);
}

TEST(LinuxEnumerationNames, NameFitsOnlyWithItsTerminator) {
  // Linux names stop at 255 bytes, so the limit is tried on the copy alone.
  TFindData entry;
  const std::string longest(kMaxPath - 1, 'n');
  ASSERT_TRUE(CopyEntryName(longest.c_str(), &entry));
  EXPECT_EQ(entry.name, longest);
  EXPECT_FALSE(CopyEntryName(std::string(kMaxPath, 'm').c_str(), &entry));
  EXPECT_EQ(entry.name, longest);
}

}  // namespace
