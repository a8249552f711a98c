// The whole drive pipeline on the demo's sample NTFS volume, read through
// libntfs-3g and checked against ntfs-3g's own tools.
#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"
#include "tools/sample_volume.h"

namespace {

struct TListedItem {
  std::string path;  // "/Users/alice/x.txt", "/" for the root
  const TItem* item;
};

void Collect(const TItem* item, const std::string& path, std::vector<TListedItem>* items) {
  items->push_back({path.empty() ? "/" : path, item});
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    Collect(child, path + "/" + child->name, items);
  }
}

std::vector<TToolRun> RunsOf(const TItem* item) {
  std::vector<TToolRun> runs;
  for (const TFragment* f = item->fragments; f != nullptr; f = f->next) {
    runs.push_back({f->vcn, f->lcn, f->length});
  }
  return runs;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(SampleVolumeEndToEnd, LogsTreeAndRunsAgreeWithTheImage) {
  THostFolder folder;
  const std::string image = folder.Path() + "sample.img";
  TSampleSummary summary;
  const TBuildStatus built = BuildSampleVolume(image, 1, &summary);
  ASSERT_TRUE(built.ok) << built.message;

  TDriveTable drives;
  drives.Map('C', folder.Path());
  drives.Map('D', image);
  TLinuxServices services(drives);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', services, windows, kDriveStages);
  drive.RunPipeline();
  EXPECT_EQ(drive.statusText.Get(), "Finished");
  EXPECT_EQ(windows.noticesPosted, 1);
  ASSERT_NE(drive.root, nullptr);
  ASSERT_NE(drive.freeExtents, nullptr);

  // Every item of the image once: the builder's folders and files and the root.
  std::vector<TListedItem> items;
  Collect(drive.root, "", &items);
  std::set<std::string> unique;
  for (const TListedItem& listed : items) unique.insert(listed.path);
  EXPECT_EQ(unique.size(), items.size());
  EXPECT_EQ(static_cast<int64_t>(items.size()), summary.folders + summary.files + 1);
  for (const char* path : kSampleNonAsciiNames) EXPECT_EQ(unique.count(path), 1u) << path;

  // The three logs, each listing every item once.
  EXPECT_FALSE(FileBytes(folder.Path() + "dirlist_free.log").empty());
  for (const char* name : {"DirList_rules.log", "DirList_Optimized.log"}) {
    const std::string listing = FileBytes(folder.Path() + name);
    EXPECT_EQ(Count(listing, "\r\n[") + 1, static_cast<int>(items.size())) << name;
  }

  // The zones hold every cluster of every item.
  int64_t clusters = 0;
  for (const TListedItem& listed : items) clusters += listed.item->clusters;
  EXPECT_EQ(std::accumulate(drive.zoneClusters, drive.zoneClusters + kZoneCount, int64_t(0)),
            clusters);

  // Runs as ntfs-3g's own reader sees them, for the items with a layout of
  // note and every 40th of the rest.
  std::set<std::string> checked = {kSampleSparseFile, kSampleManyRunsFile, kSampleLargeFolder};
  for (const char* path : kSampleFragmentedFiles) checked.insert(path);
  for (const char* path : kSampleNonAsciiNames) checked.insert(path);
  for (const char* path : kSampleLargeFiles) checked.insert(path);
  for (size_t i = 0; i < items.size(); i += 40) checked.insert(items[i].path);
  int compared = 0;
  for (const TListedItem& listed : items) {
    if (checked.count(listed.path) == 0) continue;
    const TToolOutput info = RunTool({"ntfsinfo", "-v", "-F", listed.path, image});
    ASSERT_EQ(info.exitCode, 0) << listed.path << info.err;
    const auto attributes = ParseNtfsinfoAttributes(info.out);
    const std::vector<TToolRun> expected =
        listed.item->IsFolder() ? MergeRuns(AttributeRuns(attributes, "$INDEX_ALLOCATION", "$I30"))
                                : MergeRuns(AttributeRuns(attributes, "$DATA"));
    EXPECT_EQ(RunsOf(listed.item), expected) << listed.path;
    ++compared;
  }
  EXPECT_GE(compared, 80);
}

}  // namespace
