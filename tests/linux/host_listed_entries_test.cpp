// What listings of host folders learned of their entries: an entry's type
// lets its open skip a look first, so the open itself must refuse whatever
// took the entry's place since, and never block; a subfolder's identity
// spares its open.
#include "platform/linux/host_listed_entries.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <string>

#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"

namespace {

// Puts something new at path; false where this system does not allow it.
using TSwap = std::function<bool(const TScratchFolder& scratch, const std::string& path)>;

bool Replace(const std::string& made, const std::string& path) {
  return std::rename(made.c_str(), path.c_str()) == 0;
}
bool Fifo(const TScratchFolder& s, const std::string& path) {
  return mkfifo((s / "made").c_str(), 0600) == 0 && Replace(s / "made", path);
}
TSwap LinkTo(std::string target) {
  return [target](const TScratchFolder& s, const std::string& path) {
    return symlink(target.c_str(), (s / "made").c_str()) == 0 && Replace(s / "made", path);
  };
}
bool Device(const TScratchFolder& s, const std::string& path) {
  return mknod((s / "made").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0 &&
         Replace(s / "made", path);
}
bool OtherFile(const TScratchFolder& s, const std::string& path) {
  WriteFile(s / "made", "other");
  return Replace(s / "made", path);
}

TEST(HostListedEntries, WhatTookAListedEntrysPlaceOpensOnlyIfItIsAFileOrFolder) {
  struct TCase {
    const char* label;
    bool listedAsLink;     // "x" is a link to the file "target" when listed, else a file
    TSwap swap;            // none: left as listed
    bool backupSemantics;  // opened as a folder would be
    bool opens;
  } const cases[] = {
      {"file, unchanged", false, nullptr, false, true},
      {"file, now another file", false, OtherFile, false, true},
      {"file, now a pipe", false, Fifo, false, false},
      {"file, now a pipe, as a folder", false, Fifo, true, false},
      {"file, now a link to a file", false, LinkTo("target"), false, false},
      {"file, now a link out", false, LinkTo("/etc/passwd"), false, false},
      {"file, now a device", false, Device, false, false},
      {"link, unchanged", true, nullptr, false, true},
      {"link, now a file", true, OtherFile, false, true},
      {"link, now a link to a pipe", true, LinkTo("pipe"), false, false},
      {"link, now a pipe", true, Fifo, false, false},
  };
  for (const TCase& c : cases) {
    TScratchFolder scratch;
    WriteFile(scratch / "target", "12345");
    ASSERT_EQ(mkfifo((scratch / "pipe").c_str(), 0600), 0);
    c.listedAsLink ? (void)symlink("target", (scratch / "x").c_str())
                   : WriteFile(scratch / "x", "12345");
    TDriveTable drives;
    drives.Map('D', scratch.Path());
    TLinuxServices services(drives);
    TFindData entry;
    THandle find = services.FindFirst("D:\\*.*", &entry);
    ASSERT_NE(find, InvalidHandle()) << c.label;
    while (services.FindNext(find, &entry)) {
    }
    services.FindEnd(find);
    if (c.swap && !c.swap(scratch, scratch / "x")) {
      std::printf("skipped where not allowed: %s\n", c.label);
      continue;
    }
    auto opened = std::async(std::launch::async,
                             [&] { return services.OpenForRead("D:\\x", c.backupSemantics); });
    if (opened.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      // A writer lets a blocked reader's open return, so the test can end.
      close(open((scratch / "x").c_str(), O_WRONLY | O_NONBLOCK));
      close(open((scratch / "pipe").c_str(), O_WRONLY | O_NONBLOCK));
      ADD_FAILURE() << c.label << ": the open blocked";
    }
    THandle file = opened.get();
    EXPECT_EQ(file != InvalidHandle(), c.opens) << c.label;
    if (file != InvalidHandle()) services.Close(file);
  }
}

TEST(HostListedEntries, ASubfolderIsTheSameFolderToItsListingAsToItsOwnOpen) {
  TScratchFolder scratch;
  ASSERT_EQ(mkdir((scratch / "a").c_str(), 0755), 0);
  struct stat status;
  ASSERT_EQ(stat((scratch / "a").c_str(), &status), 0);
  const TFileIdentity expected = {static_cast<uint64_t>(status.st_dev), status.st_ino};
  TDriveTable drives;
  drives.Map('D', scratch.Path());
  TLinuxServices services(drives);
  TFileIdentity opened = {0, 0};
  ASSERT_TRUE(services.FolderIdentity("D:\\a\\", &opened));
  TFindData entry;
  THandle find = services.FindFirst("D:\\*.*", &entry);
  ASSERT_NE(find, InvalidHandle());
  while (services.FindNext(find, &entry)) {
  }
  services.FindEnd(find);
  TFileIdentity listed = {0, 0};
  ASSERT_TRUE(services.FolderIdentity("D:\\a\\", &listed));
  EXPECT_EQ(opened, expected);
  EXPECT_EQ(listed, expected);
}

TEST(HostListedEntries, OnlyAFolderListedToItsEndVouchesForItsEntries) {
  using TKind = THostEntryKind;
  THostListedEntries listed;
  listed.FolderListed({7, "a/b"}, {{"link", TKind::kLinkToPlain}, {"pipe", TKind::kOther}});
  // A later listing that found the pipe a link does not make it less odd.
  listed.FolderListed({7, "a/b"}, {{"pipe", TKind::kLinkToPlain}});
  // A listing not yet at its end knows its subfolders but not its files;
  // a folder put in the place of another since is the one found last.
  listed.SubfolderListed({7, ""}, "a", {1, 41});
  listed.SubfolderListed({7, ""}, "a", {1, 42});
  EXPECT_EQ(listed.ListedKind({7, "top"}), TKind::kOther);
  listed.FolderListed({7, ""}, {});
  const struct {
    THostPath path;
    TKind kind;
    uint64_t folder;  // the identity's file number; 0: none known
  } cases[] = {
      {{7, "a/b/file"}, TKind::kPlain, 0},
      {{7, "a/b/link"}, TKind::kLinkToPlain, 0},
      {{7, "a/b/pipe"}, TKind::kOther, 0},
      {{7, "a"}, TKind::kPlain, 42},        // in the root folder itself
      {{7, "a/"}, TKind::kOther, 42},       // as a folder's path
      {{7, ""}, TKind::kOther, 0},          // the root folder was never listed
      {{7, "a/file"}, TKind::kOther, 0},    // nor was a
      {{8, "a/b/file"}, TKind::kOther, 0},  // the same path below another root
      {{8, "a"}, TKind::kOther, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(listed.ListedKind(c.path), c.kind) << c.path.root << " " << c.path.below;
    TFileIdentity identity = {0, 0};
    EXPECT_EQ(listed.ListedIdentity(c.path, &identity), c.folder != 0) << c.path.below;
    EXPECT_EQ(identity.file, c.folder) << c.path.root << " " << c.path.below;
  }
}

}  // namespace
