// The analysis stages over a real NTFS image through the Linux services,
// checked against what ntfs-3g's own tools read from the same image.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "planning/drive_stages.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scripted_volume.h"

namespace {

std::vector<TNtfsinfoAttribute> Describe(const std::string& image, const std::string& path) {
  const TToolOutput info = RunTool({"ntfsinfo", "-v", "-F", path, image});
  EXPECT_EQ(info.exitCode, 0) << path << ": " << info.err;
  return ParseNtfsinfoAttributes(info.out);
}

// Every path of the tree below the root, once per item (a map would hide an
// item listed twice).
void TreePaths(const TItem* item, const std::string& path, std::vector<std::string>* paths) {
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    const std::string childPath = path + "/" + child->name;
    paths->push_back(childPath);
    TreePaths(child, childPath, paths);
  }
}

std::vector<TFreeExtent> MergedFreeExtents(const TFragment* extents) {
  std::vector<TFreeExtent> merged;
  for (const TFragment* extent = extents; extent != nullptr; extent = extent->next) {
    if (!merged.empty() && merged.back().lcn + merged.back().length == extent->lcn) {
      merged.back().length += extent->length;
    } else {
      merged.push_back(TFreeExtent{extent->lcn, extent->length});
    }
  }
  return merged;
}

class NtfsVolumeStages : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(image_.built.ok) << image_.built.message;
    services_ = ServicesWithDrive(logs_.Path(), 'D', image_.path);
    drive_ = std::make_unique<TDriveOptimizer>('D', *services_, windows_, kDriveStages);
    RunAnalysisStages(*drive_);
    ASSERT_NE(drive_->root, nullptr);
    ASSERT_NE(drive_->freeExtents, nullptr);
  }

  const TNtfsTestImage& image_ = SharedNtfsTestImage();
  TScratchFolder logs_;
  TFakeWindowSystem windows_;
  std::unique_ptr<TLinuxServices> services_;
  std::unique_ptr<TDriveOptimizer> drive_;  // goes first: it uses the services
};

TEST_F(NtfsVolumeStages, EveryItemHasTheRunsAndSizeNtfsinfoReads) {
  const std::map<std::string, const TItem*> items = ItemsByPath(drive_->root);
  ASSERT_GT(items.size(), 200u);
  for (const auto& [path, item] : items) {
    const std::vector<TNtfsinfoAttribute> attributes = Describe(image_.path, path);
    const std::vector<TToolRun> expected =
        item->IsFolder() ? MergeRuns(AttributeRuns(attributes, "$INDEX_ALLOCATION", "$I30"))
                         : MergeRuns(AttributeRuns(attributes, "$DATA"));
    EXPECT_EQ(Fragments(item), expected) << path;
    EXPECT_EQ(item->fragmentCount, static_cast<int32_t>(expected.size())) << path;
    EXPECT_EQ(item->clusters, expected.empty() ? 0 : expected.back().vcn + expected.back().length)
        << path;
    int64_t size = 0;
    for (const TNtfsinfoAttribute& attribute : attributes) {
      if (!item->IsFolder() && attribute.type == "$DATA" && attribute.name.empty() &&
          attribute.lowestVcn == 0) {
        size = attribute.dataSize;
      }
    }
    EXPECT_EQ(item->size, size) << path;
  }
  // The layouts the image was built for were all read, so the comparison
  // above covered them.
  EXPECT_EQ(items.at("/many.bin")->fragmentCount, 1100);  // read in two replies
  EXPECT_EQ(items.at("/frag.bin")->fragmentCount, 7);
  EXPECT_EQ(Fragments(items.at("/adjacent.bin")), (std::vector<TToolRun>{{0, 5150, 4}}));
  EXPECT_EQ(Fragments(items.at("/placed.bin")),
            (std::vector<TToolRun>{{0, 5000, 2}, {2, -1, 2}, {4, 5100, 1}}));
  EXPECT_EQ(items.at("/sparse.bin")->fragments->next->lcn, -1);
  EXPECT_GT(items.at("/Big")->fragmentCount, 0);
  EXPECT_EQ(items.at("/Docs/small.txt")->fragmentCount, 0);  // resident
  EXPECT_EQ(items.at("/Docs/small.txt")->size, 12);
  const std::vector<TToolRun> compressed = Fragments(items.at("/Comp/log.txt"));
  EXPECT_TRUE(std::any_of(compressed.begin(), compressed.end(),
                          [](const TToolRun& run) { return run.lcn == -1; }));
}

TEST_F(NtfsVolumeStages, FreeExtentsAreTheClearBitsOfTheClusterBitmap) {
  const int64_t clusters =
      ParseNtfsinfoNumber(RunTool({"ntfsinfo", "-m", image_.path}).out, "Volume Size in Clusters");
  ASSERT_GT(clusters, 0);
  EXPECT_EQ(drive_->totalClusters, clusters);
  const std::string bitmap = RunTool({"ntfscat", image_.path, "$Bitmap"}).out;
  const std::vector<TFreeExtent> expected = FreeExtentsFromBitmap(bitmap, clusters);
  ASSERT_GT(expected.size(), 10u);  // the gaps between fragments among them
  EXPECT_EQ(MergedFreeExtents(drive_->freeExtents), expected);
  int64_t free = 0;
  for (const TFragment* extent = drive_->freeExtents; extent != nullptr; extent = extent->next) {
    free += extent->length;
  }
  EXPECT_EQ(free, ParseNtfsclusterFreeClusters(RunTool({"ntfscluster", "-i", image_.path}).out));
  // Written whole, to be put in place with the run's other files.
  EXPECT_EQ(drive_->output.Commit(), "");
  EXPECT_TRUE(FileExists(logs_.Path() + "/dirlist_free.log"));
}

TEST_F(NtfsVolumeStages, EveryItemAppearsOnceWithItsLongNameInUtf8) {
  std::vector<std::string> listed = ListedPaths(image_.path);
  // Only the name too long for a path buffer is left out.
  const std::string tooLong = "/" + TooLongName();
  ASSERT_NE(std::find(listed.begin(), listed.end(), tooLong), listed.end());
  listed.erase(std::remove(listed.begin(), listed.end(), tooLong), listed.end());
  std::vector<std::string> tree;
  TreePaths(drive_->root, "", &tree);
  std::sort(listed.begin(), listed.end());
  std::sort(tree.begin(), tree.end());
  EXPECT_EQ(tree, listed);
  for (const char* path :
       {"/Docs/Ünïcode 文件夹/inner.txt", "/Docs/Résumé.txt", "/Docs/日本語.doc"}) {
    EXPECT_NE(std::find(tree.begin(), tree.end(), path), tree.end()) << path;
  }
  const std::map<std::string, const TItem*> items = ItemsByPath(drive_->root);
  EXPECT_TRUE(items.at("/Docs/Ünïcode 文件夹")->IsFolder());
  EXPECT_FALSE(items.at("/Docs/Résumé.txt")->IsFolder());
}

TEST(NtfsVolumeNeverWritten, AWholePipelineLeavesTheImageAsItWas) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  TScratchFolder scratch;
  const std::string copy = scratch / "copy.img";
  ASSERT_TRUE(CopyFile(image.path, copy));
  struct stat before;
  ASSERT_EQ(stat(copy.c_str(), &before), 0);
  {
    std::unique_ptr<TLinuxServices> services = ServicesWithDrive(scratch.Path(), 'D', copy);
    TFakeWindowSystem windows;
    TDriveOptimizer drive('D', *services, windows, kDriveStages);
    drive.RunPipeline();
    EXPECT_EQ(drive.statusText.Get(), "Finished");
    EXPECT_NE(drive.root, nullptr);
  }
  struct stat after;
  ASSERT_EQ(stat(copy.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_TRUE(FileBytes(copy) == FileBytes(image.path));
  EXPECT_TRUE(FileExists(scratch / "DirList_Optimized.log"));
}

}  // namespace
