// Filling a tree large enough to be cut into many pieces, which the worker
// and a helper thread fill at once: every item kept has its own size and
// runs, every item that cannot be opened leaves its folder with everything
// below it, and the folders keep their order. The suite's name selects it
// for the ThreadSanitizer run too.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"

namespace {

// What one item of the tree holds once filled: its size and its one run.
struct TFilled {
  int64_t size;
  int64_t lcn;
  int64_t clusters;
  bool operator==(const TFilled& other) const {
    return size == other.size && lcn == other.lcn && clusters == other.clusters;
  }
};

// Every item below the root in tree order, by its path, with what it holds.
void Walk(const TItem* folder, const std::string& path,
          std::vector<std::pair<std::string, TFilled>>* items) {
  const TItem* last = nullptr;
  for (const TItem* child = folder->firstChild; child != nullptr; child = child->nextSibling) {
    const std::string childPath = path + "\\" + child->name;
    const int64_t lcn = child->fragments != nullptr ? child->fragments->lcn : -1;
    items->emplace_back(childPath, TFilled{child->size, lcn, child->clusters});
    Walk(child, childPath, items);
    last = child;
  }
  EXPECT_EQ(folder->lastChild, last) << path;
}

// A scripted volume of about 2,000 items with what each item that stays
// should hold, in tree order: wide and deep folders, files and folders that
// cannot be opened in both halves of the tree, and files gone since the scan.
class ParallelFill : public testing::Test {
 protected:
  void File(const std::string& path, bool opens) {
    const int64_t lcn = 1000 + 10 * next_;
    const int64_t clusters = 1 + next_ % 3;
    ++next_;
    volume.AddFile(path, clusters * 4096 - 7, {{clusters, lcn}}).openFails = !opens;
    if (opens) expected_.emplace_back(path, TFilled{clusters * 4096 - 7, lcn, clusters});
  }
  void Folder(const std::string& path, bool opens) {
    volume.AddFolder(path).openFails = !opens;
    if (opens) expected_.emplace_back(path, TFilled{0, -1, 0});
  }
  // Files name0 ... name<count - 1> in folder; every seventh fails to open.
  void Files(const std::string& folder, const std::string& name, int count, bool kept) {
    for (int i = 0; i < count; ++i) {
      File(folder + "\\" + name + std::to_string(i), kept && i % 7 != 3);
    }
  }

  TScriptedVolume volume{'D'};
  TFakeWindowSystem windows;
  TDriveOptimizer drive{'D', volume, windows, kDriveStages};
  std::vector<std::pair<std::string, TFilled>> expected_;

 private:
  int64_t next_ = 0;
};

TEST_F(ParallelFill, ManyPiecesFilledAsOneThreadWouldFillThem) {
  Files("D:", "top", 30, true);
  Folder("D:\\Wide", true);
  Files("D:\\Wide", "w", 900, true);
  Folder("D:\\Deep", true);
  for (int i = 0; i < 8; ++i) {
    const std::string sub = "D:\\Deep\\sub" + std::to_string(i);
    Folder(sub, i != 5);
    Files(sub, "d", 60, i != 5);
    Folder(sub + "\\inner", i != 5);
    Files(sub + "\\inner", "i", 40, i != 5);
  }
  Folder("D:\\Locked", false);
  Files("D:\\Locked", "l", 200, false);
  Folder("D:\\Tail", true);
  Files("D:\\Tail", "t", 150, true);
  Files("D:", "end", 20, true);
  // Gone between the scan and the filling: one early in a wide folder, one
  // at the very end of the tree.
  drive.CreateMemoryTree();
  ASSERT_NE(drive.root, nullptr);
  for (const std::string gone : {"D:\\Wide\\w1", "D:\\end19"}) {
    volume.Remove(gone);
    expected_.erase(std::find_if(expected_.begin(), expected_.end(),
                                 [&](const auto& item) { return item.first == gone; }));
  }
  drive.FillMemoryTree();

  ASSERT_NE(drive.root, nullptr);
  std::vector<std::pair<std::string, TFilled>> filled;
  Walk(drive.root, "D:", &filled);
  ASSERT_EQ(filled.size(), expected_.size());
  for (size_t i = 0; i < filled.size(); ++i) {
    EXPECT_EQ(filled[i].first, expected_[i].first) << i;
    EXPECT_TRUE(filled[i].second == expected_[i].second) << filled[i].first;
  }
  EXPECT_EQ(drive.detailText.Get(), "");
}

TEST_F(ParallelFill, AStopLeavesATreeWhoseEveryItemIsWhole) {
  Folder("D:\\A", true);
  Files("D:\\A", "a", 400, true);
  Folder("D:\\B", true);
  Files("D:\\B", "b", 400, true);
  drive.CreateMemoryTree();
  drive.RequestStop();
  drive.FillMemoryTree();
  // Nothing after a stop is filled, and nothing is half taken out.
  ASSERT_NE(drive.root, nullptr);
  std::vector<std::pair<std::string, TFilled>> filled;
  Walk(drive.root, "D:", &filled);
  EXPECT_EQ(filled.size(), 2u + 400u + 400u);
}

}  // namespace
