#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/pool_exhaustion.h"
#include "tests/support/scripted_volume.h"

namespace {

using TRun = std::tuple<int64_t, int64_t, int64_t>;  // vcn, lcn, length

std::vector<TRun> Runs(const TItem* item) {
  std::vector<TRun> runs;
  for (const TFragment* f = item->fragments; f != nullptr; f = f->next) {
    EXPECT_EQ(f->owner, item);
    runs.emplace_back(f->vcn, f->lcn, f->length);
  }
  return runs;
}

const TItem* Child(const TItem* folder, const std::string& name) {
  for (const TItem* child = folder->firstChild; child != nullptr; child = child->nextSibling) {
    if (name == child->name) return child;
  }
  return nullptr;
}

class FragmentRetrieval : public testing::Test {
 protected:
  void Run() {
    drive.CreateMemoryTree();
    drive.FillMemoryTree();
  }
  TScriptedVolume volume{'D'};
  TFakeWindowSystem windows;
  TDriveOptimizer drive{'D', volume, windows, kDriveStages};
};

TEST_F(FragmentRetrieval, OneRunAndTwoRuns) {
  volume.AddFile("D:\\one.bin", 10000, {{3, 500}});
  volume.AddFile("D:\\two.bin", 20000, {{2, 100}, {5, 300}});
  Run();
  const TItem* one = Child(drive.root, "one.bin");
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(Runs(one), (std::vector<TRun>{{0, 500, 3}}));
  EXPECT_EQ(one->fragmentCount, 1);
  EXPECT_EQ(one->clusters, 3);
  EXPECT_EQ(one->size, 10000);
  const TItem* two = Child(drive.root, "two.bin");
  EXPECT_EQ(Runs(two), (std::vector<TRun>{{0, 100, 2}, {2, 300, 3}}));
  EXPECT_EQ(two->clusters, 5);
  EXPECT_EQ(drive.statusText.Get(), "Filling data into the memory tree");
  EXPECT_EQ(drive.detailText.Get(), "");
}

TEST_F(FragmentRetrieval, SizesBeyondThirtyTwoBits) {
  volume.AddFile("D:\\big", int64_t(1) << 32, {});
  volume.AddFile("D:\\bigger", (int64_t(1) << 32) + 5, {});
  Run();
  EXPECT_EQ(Child(drive.root, "big")->size, int64_t(1) << 32);
  EXPECT_EQ(Child(drive.root, "bigger")->size, (int64_t(1) << 32) + 5);
}

TEST_F(FragmentRetrieval, FailedSizeQueryRecordsZero) {
  volume.AddFile("D:\\odd", 77, {{1, 9}}).sizeFails = true;
  Run();
  const TItem* odd = Child(drive.root, "odd");
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(odd->size, 0);
  EXPECT_EQ(odd->fragmentCount, 1);
}

TEST_F(FragmentRetrieval, MoreExtentsThanOneReplyHolds) {
  std::vector<TScriptedRun> runs;
  for (int i = 0; i < 2500; ++i) runs.push_back({(i + 1) * 2, 10000 + i * 5});
  volume.AddFile("D:\\many", 1, runs);
  Run();
  const TItem* many = Child(drive.root, "many");
  EXPECT_EQ(many->fragmentCount, 2500);
  EXPECT_EQ(many->clusters, 5000);
  const std::vector<TRun> read = Runs(many);
  ASSERT_EQ(read.size(), 2500u);
  for (int i = 0; i < 2500; ++i) {
    EXPECT_EQ(read[static_cast<size_t>(i)], TRun(i * 2, 10000 + i * 5, 2)) << i;
  }
  EXPECT_EQ(volume.retrievalCalls, 1 + 3);  // the root, then 1,023 + 1,023 + 454
}

TEST_F(FragmentRetrieval, RepliesSplitAtAnySizeAndPending) {
  volume.AddFile("D:\\f", 1, {{4, 10}, {6, -1}, {9, 40}}).retrieval = {-1, true, 1};
  Run();
  const TItem* f = Child(drive.root, "f");
  EXPECT_EQ(Runs(f), (std::vector<TRun>{{0, 10, 4}, {4, -1, 2}, {6, 40, 3}}));
  EXPECT_EQ(f->fragmentCount, 3);
  EXPECT_EQ(f->clusters, 9);
  EXPECT_GE(volume.waits, 3);
}

TEST_F(FragmentRetrieval, EmptyAndResidentFilesKeepNoRuns) {
  volume.AddFile("D:\\empty", 0, {});
  volume.AddFile("D:\\small", 40, {}).resident = true;
  Run();
  for (const char* name : {"empty", "small"}) {
    const TItem* item = Child(drive.root, name);
    ASSERT_NE(item, nullptr) << name;
    EXPECT_EQ(item->fragments, nullptr);
    EXPECT_EQ(item->fragmentCount, 0);
    EXPECT_EQ(item->clusters, 0);
  }
  EXPECT_EQ(Child(drive.root, "small")->size, 40);
}

TEST_F(FragmentRetrieval, FirstAndLaterFailuresKeepWhatWasRead) {
  volume.AddFile("D:\\first", 1, {{1, 1}}).retrieval.failAtCall = 0;
  TScriptedNode& later = volume.AddFile("D:\\later", 1, {{1, 5}, {2, 7}, {3, 9}});
  later.retrieval.failAtCall = 1;
  later.retrieval.unitsPerReply = 2;
  Run();
  EXPECT_EQ(Child(drive.root, "first")->fragmentCount, 0);
  EXPECT_EQ(Child(drive.root, "first")->clusters, 0);
  const TItem* partial = Child(drive.root, "later");
  EXPECT_EQ(Runs(partial), (std::vector<TRun>{{0, 5, 1}, {1, 7, 1}}));
  EXPECT_EQ(partial->clusters, 2);
}

TEST_F(FragmentRetrieval, RepeatingReplyIsReadOnce) {
  volume.AddFile("D:\\wine", 1, {{1, 1}}).nonAdvancing = true;
  Run();
  const TItem* item = Child(drive.root, "wine");
  EXPECT_EQ(Runs(item), (std::vector<TRun>{{0, 100, 1}}));
  EXPECT_EQ(volume.retrievalCalls, 1 + 2);  // the root, then the repeated reply once
}

TEST_F(FragmentRetrieval, UnopenableFolderLeavesWithItsSubtreeSiblingsStillVisited) {
  volume.AddFile("D:\\a", 1, {{1, 1}});
  volume.AddFolder("D:\\Locked").openFails = true;
  volume.AddFile("D:\\Locked\\inner", 1, {{1, 2}});
  volume.AddFile("D:\\z", 1, {{1, 3}});
  Run();
  EXPECT_NE(Child(drive.root, "a"), nullptr);
  EXPECT_EQ(Child(drive.root, "Locked"), nullptr);
  ASSERT_NE(Child(drive.root, "z"), nullptr);
  EXPECT_EQ(Child(drive.root, "z")->fragmentCount, 1);
  for (const std::string& path : volume.opened) EXPECT_NE(path, "D:\\Locked\\inner|plain");
}

TEST_F(FragmentRetrieval, FileVanishedSinceTheScanLeavesTheTree) {
  volume.AddFile("D:\\gone", 1, {{1, 1}});
  volume.AddFile("D:\\kept", 1, {{1, 1}});
  drive.CreateMemoryTree();
  volume.Remove("D:\\gone");
  drive.FillMemoryTree();
  EXPECT_EQ(Child(drive.root, "gone"), nullptr);
  EXPECT_EQ(drive.root->firstChild, Child(drive.root, "kept"));
  EXPECT_EQ(drive.root->lastChild, drive.root->firstChild);
}

TEST_F(FragmentRetrieval, RootOpenedWithBackupSemanticsAndFolderRunsRead) {
  volume.Node("D:\\").runs = {{2, 40}};
  volume.AddFolder("D:\\Data").runs = {{1, 77}};
  volume.AddFile("D:\\Data\\a.txt", 5, {});
  Run();
  EXPECT_EQ(volume.opened.front(), "D:\\|backup");
  EXPECT_EQ(volume.opened[1], "D:\\Data\\|backup");
  EXPECT_EQ(volume.opened[2], "D:\\Data\\a.txt|plain");
  EXPECT_EQ(Runs(drive.root), (std::vector<TRun>{{0, 40, 2}}));
  EXPECT_EQ(drive.root->size, 0);
  EXPECT_EQ(Runs(Child(drive.root, "Data")), (std::vector<TRun>{{0, 77, 1}}));
}

TEST_F(FragmentRetrieval, UnopenableRootReleasesTheTree) {
  volume.AddFile("D:\\a", 1, {});
  volume.Node("D:\\").openFails = true;
  Run();
  EXPECT_EQ(drive.root, nullptr);
}

TEST_F(FragmentRetrieval, ExhaustedFragmentPoolSkipsRunsButKeepsCounts) {
  volume.AddFile("D:\\f", 1, {{2, 10}, {5, 20}});
  drive.CreateMemoryTree();
  {
    TFragmentPoolExhaustion exhausted;
    drive.FillMemoryTree();
  }
  const TItem* f = Child(drive.root, "f");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->fragments, nullptr);
  EXPECT_EQ(f->fragmentCount, 2);
  EXPECT_EQ(f->clusters, 5);
}

}  // namespace
