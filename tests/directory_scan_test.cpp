#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"

namespace {

std::vector<std::string> Names(const TItem* folder) {
  std::vector<std::string> names;
  for (const TItem* child = folder->firstChild; child != nullptr; child = child->nextSibling) {
    names.push_back(child->name);
  }
  return names;
}

class DirectoryScan : public testing::Test {
 protected:
  TScriptedVolume volume{'D'};
  TFakeWindowSystem windows;
  TDriveOptimizer drive{'D', volume, windows, kDriveStages};
};

TEST_F(DirectoryScan, EmptyRootGivesTheRootAlone) {
  TScriptedVolume empty('E');
  TDriveOptimizer driveE('E', empty, windows, kDriveStages);
  driveE.CreateMemoryTree();
  ASSERT_NE(driveE.root, nullptr);
  EXPECT_STREQ(driveE.root->name, "E:\\");
  EXPECT_EQ(driveE.root->flags, kItemFolder);
  EXPECT_EQ(driveE.root->firstChild, nullptr);
  EXPECT_EQ(driveE.detailText.Get(), "");
  EXPECT_EQ(driveE.statusText.Get(), "Creating memory tree");
}

TEST_F(DirectoryScan, FilesAndFoldersInEnumerationOrder) {
  volume.AddFile("D:\\a.txt", 10, {});
  volume.AddFolder("D:\\Sub");
  volume.AddFile("D:\\Sub\\b.txt", 20, {});
  volume.AddFolder("D:\\.config");
  volume.AddFile("D:\\.config\\c", 1, {});
  volume.AddFolder("D:\\Empty");
  drive.CreateMemoryTree();
  ASSERT_NE(drive.root, nullptr);
  EXPECT_EQ(Names(drive.root), (std::vector<std::string>{"a.txt", "Sub", ".config", "Empty"}));
  const TItem* a = drive.root->firstChild;
  const TItem* sub = a->nextSibling;
  EXPECT_EQ(a->flags, 0u);
  EXPECT_EQ(sub->flags, kItemFolder);
  EXPECT_EQ(Names(sub), (std::vector<std::string>{"b.txt"}));
  EXPECT_EQ(sub->firstChild->parent, sub);
  EXPECT_EQ(Names(sub->nextSibling), (std::vector<std::string>{"c"}));
  EXPECT_EQ(sub->nextSibling->nextSibling->firstChild, nullptr);
  // Sizes come later, from fragment retrieval.
  EXPECT_EQ(a->size, 0);
  EXPECT_EQ(sub->firstChild->size, 0);
}

TEST_F(DirectoryScan, FolderThatCannotBeListedKeepsItsItem) {
  volume.AddFolder("D:\\Locked").listFails = true;
  volume.AddFile("D:\\after.txt", 1, {});
  drive.CreateMemoryTree();
  EXPECT_EQ(Names(drive.root), (std::vector<std::string>{"Locked", "after.txt"}));
}

TEST_F(DirectoryScan, UnlistableRootLeavesTheRootAlone) {
  volume.AddFile("D:\\a.txt", 1, {});
  volume.Node("D:\\").listFails = true;
  drive.CreateMemoryTree();
  ASSERT_NE(drive.root, nullptr);
  EXPECT_EQ(drive.root->firstChild, nullptr);
}

TEST_F(DirectoryScan, LinksAreFoldersButNotEntered) {
  TScriptedNode& link = volume.AddFolder("D:\\Link");
  link.attributes = kAttributeReparsePoint;
  volume.AddFile("D:\\Link\\inside", 1, {});
  drive.CreateMemoryTree();
  ASSERT_EQ(Names(drive.root), (std::vector<std::string>{"Link"}));
  EXPECT_EQ(drive.root->firstChild->flags, kItemFolder);
  EXPECT_EQ(drive.root->firstChild->firstChild, nullptr);
}

TEST_F(DirectoryScan, EntriesTooDeepForThePathBufferAreLeftOut) {
  std::string path = "D:";
  for (int level = 0; level < 30; ++level) {
    path += "\\folder" + std::to_string(level);
    volume.AddFolder(path);
  }
  volume.AddFile("D:\\folder0\\" + std::string(240, 'n'), 1, {});  // 251 characters: fits
  volume.AddFile("D:\\folder0\\" + std::string(250, 'n'), 1, {});  // 261: left out
  drive.CreateMemoryTree();
  int depth = 0;
  for (const TItem* item = drive.root->firstChild; item != nullptr; item = item->firstChild) {
    ++depth;
  }
  EXPECT_EQ(depth, 29);
  EXPECT_EQ(Names(drive.root->firstChild).size(), 2u);  // folder1 and the 240-character name
}

TEST_F(DirectoryScan, DetailShowsTheFolderMostRecentlyEntered) {
  volume.AddFolder("D:\\Data");
  // Observe the detail text while the scan runs: each enumeration of a
  // folder happens after the scan has published that folder's path.
  struct TWatcher : TScriptedVolume {
    TDriveOptimizer* drive = nullptr;
    std::vector<std::string> seen;
    THandle FindFirst(const char* pattern, TFindData* entry) override {
      seen.push_back(drive->detailText.Get() + "|" + pattern);
      return TScriptedVolume::FindFirst(pattern, entry);
    }
  } watcher;
  watcher.AddFolder("D:\\Data");
  TDriveOptimizer watched('D', watcher, windows, kDriveStages);
  watcher.drive = &watched;
  watched.CreateMemoryTree();
  EXPECT_EQ(watcher.seen, (std::vector<std::string>{"D:\\|D:\\*.*", "D:\\Data\\|D:\\Data\\*.*"}));
  EXPECT_EQ(watched.detailText.Get(), "");
}

}  // namespace
