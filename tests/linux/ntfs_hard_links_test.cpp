// One file under two names (a hard link) and one folder reached under two
// names (an index entry of another folder made to name it): the listing
// keeps a line per name, but the file is one file to the plan, the summary
// and the damage checks, and the folder's contents are listed once. In
// both read orders.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_record_patch.h"
#include "tests/support/fake_window_system.h"
#include "tools/ntfs_image_builder.h"

namespace {

TBuildStatus BuildVolume(const std::string& image) {
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 16u << 20;
  std::vector<TBuildStatus> steps = {builder.Format(image, format)};
  for (const char* folder : {"/docs", "/other", "/A", "/A/B", "/X", "/X/Twin"}) {
    steps.push_back(builder.MakeFolder(folder));
  }
  // Fragmented, so the plan has a reason to move it.
  steps.push_back(
      builder.MakeFragmentedFile("/docs/linked.bin", TContent::Binary(40000, 1), 3, 2, 3000));
  steps.push_back(builder.MakeHardLink("/docs/linked.bin", "/other/second name.bin"));
  steps.push_back(builder.MakeFile("/A/B/inner.bin", TContent::Binary(9000, 2)));
  steps.push_back(builder.MakeFile("/plain.bin", TContent::Binary(9000, 3)));
  steps.push_back(builder.Finish());
  for (const TBuildStatus& step : steps) {
    if (!step) return step;
  }
  return TBuildStatus::Success();
}

void ItemsByPath(const TItem* item, const std::string& path,
                 std::map<std::string, const TItem*>* items) {
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    const std::string childPath = path + "/" + child->name;
    (*items)[childPath] = child;
    ItemsByPath(child, childPath, items);
  }
}

class NtfsHardLinks : public testing::TestWithParam<TNtfsReadOrder> {
 protected:
  void SetUp() override {
    const TBuildStatus built = BuildVolume(image_);
    ASSERT_TRUE(built.ok) << built.message;
    // /X's entry Twin now names /A/B: the folder has a second name.
    const TBuildStatus patched = PointIndexEntryAt(image_, "/X", "Twin", "/A/B");
    ASSERT_TRUE(patched.ok) << patched.message;
    drives_.Map('C', scratch_.Path());
    drives_.Map('D', image_);
  }

  TScratchFolder scratch_;
  const std::string image_ = scratch_ / "links.img";
  TDriveTable drives_;
  TFakeWindowSystem windows_;
};

TEST_P(NtfsHardLinks, EachFileIsPlannedAndCountedOnceAndEachFolderEnteredOnce) {
  TLinuxServices services(drives_, GetParam());
  TDriveOptimizer drive('D', services, windows_, kDriveStages);
  drive.RunPipeline();
  ASSERT_EQ(drive.statusText.Get(), "Finished");
  ASSERT_NE(drive.root, nullptr);
  std::map<std::string, const TItem*> items;
  ItemsByPath(drive.root, "", &items);

  // A line per name; one identity.
  const TItem* first = items["/docs/linked.bin"];
  const TItem* second = items["/other/second name.bin"];
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first->fileId, 0u);
  EXPECT_EQ(first->fileId, second->fileId);
  EXPECT_NE(first->fileId, items["/plain.bin"]->fileId);

  // Two names sharing clusters are no cross-link.
  std::string said;
  for (const TVolumeDamage& place : drive.damage.Places()) said += place.path + ": " + place.what;
  EXPECT_EQ(said, "");

  // The folder is entered under its first name only.
  ASSERT_NE(items["/A/B/inner.bin"], nullptr);
  ASSERT_NE(items["/X/Twin"], nullptr);
  EXPECT_TRUE(items["/X/Twin"]->IsFolder());
  EXPECT_EQ(items["/X/Twin"]->firstChild, nullptr);

  // One target for both names, counted once.
  const TItemTarget* firstTarget = nullptr;
  const TItemTarget* secondTarget = nullptr;
  int64_t moving = 0;
  for (const TItemTarget& target : drive.volumePlan.items) {
    if (target.item == first) firstTarget = &target;
    if (target.item == second) secondTarget = &target;
    if (target.sameFileAs < 0 && target.Moves()) ++moving;
  }
  ASSERT_NE(firstTarget, nullptr);
  ASSERT_NE(secondTarget, nullptr);
  EXPECT_LT(firstTarget->sameFileAs, 0);
  EXPECT_GE(secondTarget->sameFileAs, 0);
  EXPECT_EQ(secondTarget->firstRun, firstTarget->firstRun);
  EXPECT_EQ(secondTarget->runCount, firstTarget->runCount);
  EXPECT_TRUE(firstTarget->Moves());
  EXPECT_EQ(drive.volumePlan.totals.itemsToMove, moving);
  EXPECT_EQ(drive.volumePlan.totals.itemsUnplaced, 0);
  EXPECT_EQ(drive.volumePlan.totals.fragmentedBefore, 1);
  // Files: linked.bin once, inner.bin, plain.bin.
  EXPECT_EQ(drive.summary.files, 3);
  EXPECT_EQ(drive.summary.fragmentedFiles, 1);
}

INSTANTIATE_TEST_SUITE_P(ReadOrders, NtfsHardLinks,
                         testing::Values(TNtfsReadOrder::kMftOrder, TNtfsReadOrder::kIndexWalk),
                         [](const testing::TestParamInfo<TNtfsReadOrder>& info) {
                           return std::string(info.param == TNtfsReadOrder::kMftOrder
                                                  ? "InMftOrder"
                                                  : "ByIndexWalk");
                         });

}  // namespace
