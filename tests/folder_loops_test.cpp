// A damaged volume whose folder index leads back up the tree: the scan and
// the -m counts list the entry that loops as an item and never enter it, so
// both end with every other item listed once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/folder_statistics.h"
#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"

namespace {

// Every item's path below root, in pre-order.
void Paths(const TItem* item, const std::string& path, std::vector<std::string>* out) {
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    out->push_back(path + "\\" + child->name);
    Paths(child, path + "\\" + child->name, out);
  }
}

class FolderLoops : public testing::Test {
 protected:
  void SetUp() override {
    volume.AddFolder("D:\\Users");
    volume.AddFile("D:\\Users\\a.txt", 1, {});
    volume.AddFolder("D:\\Users\\Docs");
    volume.AddFile("D:\\Users\\Docs\\b.txt", 1, {});
  }
  std::vector<std::string> Scan() {
    TDriveOptimizer drive('D', volume, windows, kDriveStages);
    drive.CreateMemoryTree();
    std::vector<std::string> paths;
    Paths(drive.root, "", &paths);
    return paths;
  }

  TScriptedVolume volume{'D'};
  TFakeWindowSystem windows;
};

TEST_F(FolderLoops, AnEntryNamingItsOwnFolderIsListedButNotEntered) {
  volume.AddFolder("D:\\Users\\Self").sameAs = "D:\\Users";
  EXPECT_EQ(Scan(), (std::vector<std::string>{"\\Users", "\\Users\\a.txt", "\\Users\\Docs",
                                              "\\Users\\Docs\\b.txt", "\\Users\\Self"}));
}

TEST_F(FolderLoops, TwoEntriesBackUpTheTreeEndAsWell) {
  // Without the check each level doubles: the walk would not end in a
  // lifetime before the paths outgrow their buffers.
  volume.AddFolder("D:\\Users\\Self").sameAs = "D:\\Users";
  volume.AddFolder("D:\\Users\\Docs\\Up").sameAs = "D:\\";
  EXPECT_EQ(Scan(), (std::vector<std::string>{"\\Users", "\\Users\\a.txt", "\\Users\\Docs",
                                              "\\Users\\Docs\\b.txt", "\\Users\\Docs\\Up",
                                              "\\Users\\Self"}));
}

TEST_F(FolderLoops, TheSameFolderBesideItselfIsEnteredOnce) {
  // A second name of a folder that is not an ancestor (a hard-linked or
  // bind-mounted sibling) is listed, but its contents only under the name
  // met first: they are one folder's contents, counted and planned once.
  volume.AddFolder("D:\\Again").sameAs = "D:\\Users\\Docs";
  EXPECT_EQ(Scan(), (std::vector<std::string>{"\\Users", "\\Users\\a.txt", "\\Users\\Docs",
                                              "\\Users\\Docs\\b.txt", "\\Again"}));
}

TEST_F(FolderLoops, FolderStatisticsCountTheLoopingEntryOnce) {
  volume.AddFolder("D:\\Users\\Self").sameAs = "D:\\Users";
  volume.AddFolder("D:\\Users\\Docs\\Up").sameAs = "D:\\";
  TFolderCounters counters = {0, 0, 0, 0};
  ASSERT_TRUE(CountFolder("D:\\", &counters, volume));
  EXPECT_EQ(counters.fileCount, 2);
  EXPECT_EQ(counters.folderCount, 4);  // Users, Docs, Up, Self
}

}  // namespace
