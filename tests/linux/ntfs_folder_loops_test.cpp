// A damaged NTFS volume whose folder index leads back to the folder itself:
// entries of /Users patched, fix-ups valid, to name /Users' own record. One
// such entry makes every level of the tree one deeper; two double it at
// every level, so a walk that enters them never ends. A whole drive run and
// the -m counts, in both read orders, end with every other item listed once
// and each looping entry listed as a folder without children.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/folder_statistics.h"
#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_record_patch.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/support/fake_window_system.h"
#include "tools/ntfs_image_builder.h"

namespace {

// The volume as built, in making order; folders end with '/'. /Users is
// small enough for its index to lie whole in its index root, which the
// patch needs. Self holds a file that the damaged index no longer reaches.
const char* const kBuilt[] = {
    "/top.txt",     "/Users/",           "/Users/a.txt", "/Users/b.txt",
    "/Users/Docs/", "/Users/Docs/c.txt", "/Users/Self/", "/Users/Self/inner.txt",
    "/Users/Twin/", "/Other/",           "/Other/x.txt",
};

// The folders whose entries in /Users are made to name /Users itself.
struct TLoopCase {
  const char* name;
  std::vector<std::string> looping;  // names in /Users
};

// Names the case in a failure message.
void PrintTo(const TLoopCase& loop, std::ostream* out) { *out << loop.name; }

// One looping entry makes the walk one level deeper each time round; two
// double it at every level.
const TLoopCase kLoopCases[] = {
    {"OneEntry", {"Self"}},
    {"TwoEntries", {"Self", "Twin"}},
};

TBuildStatus BuildVolume(const std::string& image) {
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 16u << 20;
  std::vector<TBuildStatus> steps = {builder.Format(image, format)};
  uint64_t seed = 1;
  for (const std::string path : kBuilt) {
    if (path.back() == '/') {
      steps.push_back(builder.MakeFolder(path.substr(0, path.size() - 1)));
    } else {
      // Some resident, some with clusters of their own.
      steps.push_back(builder.MakeFile(path, TContent::Binary(seed % 2 ? 5000 : 100, seed)));
    }
    ++seed;
  }
  steps.push_back(builder.Finish());
  for (const TBuildStatus& step : steps) {
    if (!step) return step;
  }
  return TBuildStatus::Success();
}

// What the damaged index still reaches: the built paths, less what lies
// inside a looping entry (its own contents are no longer named by any
// index).
std::vector<std::string> ReachablePaths(const TLoopCase& loop) {
  std::vector<std::string> paths;
  for (const std::string path : kBuilt) {
    const bool inside = std::any_of(loop.looping.begin(), loop.looping.end(), [&](auto& name) {
      const std::string folder = "/Users/" + name + "/";
      return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0;
    });
    if (!inside) paths.push_back(path);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

// Every item below the root, once per item listed, as kBuilt writes them.
void TreePaths(const TItem* item, const std::string& path, std::vector<std::string>* paths) {
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    const std::string childPath = path + "/" + child->name;
    paths->push_back(childPath + (child->IsFolder() ? "/" : ""));
    TreePaths(child, childPath, paths);
  }
}

// What -m counts for a tree.
TFolderCounters TreeCounters(const TItem* item) {
  TFolderCounters counters = {0, 0, 0, 0};
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    const int32_t nameBytes = static_cast<int32_t>(std::strlen(child->name));
    if (child->IsFolder()) {
      ++counters.folderCount;
      counters.folderNameBytes += nameBytes;
    } else {
      ++counters.fileCount;
      counters.fileNameBytes += nameBytes;
    }
    const TFolderCounters inner = TreeCounters(child);
    counters.fileCount += inner.fileCount;
    counters.folderCount += inner.folderCount;
    counters.fileNameBytes += inner.fileNameBytes;
    counters.folderNameBytes += inner.folderNameBytes;
  }
  return counters;
}

// The names ntfsls lists in one folder of the image, "." and ".." left out.
std::vector<std::string> NtfslsNames(const std::string& image, const std::string& folder) {
  const TToolOutput listing = RunTool({"ntfsls", "-p", folder, image});
  EXPECT_EQ(listing.exitCode, 0) << folder << ": " << listing.err;
  std::vector<std::string> names;
  for (const std::string& name : ParseNtfslsNames(listing.out)) {
    if (name != "." && name != "..") names.push_back(name);
  }
  return names;
}

// Linux services that refuse listings past a budget far above what this
// volume needs: a walk that enters the looping entries ends within it, so a
// test of a walk gone wrong fails on what it listed rather than stalling.
class TBoundedListings : public TLinuxServices {
 public:
  static constexpr int kBudget = 1000;

  TBoundedListings(TDriveTable drives, TNtfsReadOrder order)
      : TLinuxServices(std::move(drives), order) {}
  THandle FindFirst(const char* pattern, TFindData* entry) override {
    if (++listings > kBudget) return InvalidHandle();
    return TLinuxServices::FindFirst(pattern, entry);
  }

  // Written by whichever thread lists, read by the test once the walk ended.
  std::atomic<int> listings{0};
};

class NtfsFolderLoops : public testing::TestWithParam<std::tuple<TLoopCase, TNtfsReadOrder>> {
 protected:
  void SetUp() override {
    const TBuildStatus built = BuildVolume(image_);
    ASSERT_TRUE(built.ok) << built.message;
    const std::vector<std::string> users = NtfslsNames(image_, "/Users");
    for (const std::string& name : Loop().looping) {
      const TBuildStatus patched = PointIndexEntryAt(image_, "/Users", name, "/Users");
      ASSERT_TRUE(patched.ok) << patched.message;
    }
    // A reader that is not ours sees the damage: the looping entry's
    // listing is that of /Users.
    for (const std::string& name : Loop().looping) {
      ASSERT_EQ(NtfslsNames(image_, "/Users/" + name), users) << name;
    }
    drives_.Map('C', scratch_.Path());
    drives_.Map('D', image_);
  }

  const TLoopCase& Loop() const { return std::get<0>(GetParam()); }
  TNtfsReadOrder Order() const { return std::get<1>(GetParam()); }

  TScratchFolder scratch_;
  const std::string image_ = scratch_ / "loops.img";
  TDriveTable drives_;
  TFakeWindowSystem windows_;
};

TEST_P(NtfsFolderLoops, TheDriveRunEndsListingEveryOtherItemOnce) {
  TBoundedListings services(drives_, Order());
  TDriveOptimizer drive('D', services, windows_, kDriveStages);
  drive.RunPipeline();
  EXPECT_LT(services.listings, TBoundedListings::kBudget) << "the walk did not end by itself";
  EXPECT_EQ(drive.statusText.Get(), "Finished");
  ASSERT_NE(drive.root, nullptr);
  std::vector<std::string> listed;
  TreePaths(drive.root, "", &listed);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, ReachablePaths(Loop()));
  // Each looping entry is an item, a folder left unentered.
  const TItem* users = drive.root->firstChild;
  while (users != nullptr && std::strcmp(users->name, "Users") != 0) users = users->nextSibling;
  ASSERT_NE(users, nullptr);
  const std::vector<std::string>& looping = Loop().looping;
  for (const TItem* entry = users->firstChild; entry != nullptr; entry = entry->nextSibling) {
    if (std::find(looping.begin(), looping.end(), entry->name) == looping.end()) continue;
    EXPECT_TRUE(entry->IsFolder()) << entry->name;
    EXPECT_EQ(entry->firstChild, nullptr) << entry->name;
  }
}

TEST_P(NtfsFolderLoops, FolderStatisticsCountWhatTheScanLists) {
  TBoundedListings scanning(drives_, Order());
  TDriveOptimizer drive('D', scanning, windows_, kDriveStages);
  drive.CreateMemoryTree();
  ASSERT_NE(drive.root, nullptr);
  const TFolderCounters tree = TreeCounters(drive.root);
  TFolderCounters reachable = {0, 0, 0, 0};
  for (const std::string& path : ReachablePaths(Loop())) {
    const bool folder = path.back() == '/';
    const std::string name = path.substr(0, path.size() - folder);
    const int32_t nameBytes = static_cast<int32_t>(name.size() - name.rfind('/') - 1);
    ++(folder ? reachable.folderCount : reachable.fileCount);
    (folder ? reachable.folderNameBytes : reachable.fileNameBytes) += nameBytes;
  }

  TBoundedListings counting(drives_, Order());
  TFolderCounters counted = {0, 0, 0, 0};
  ASSERT_TRUE(CountFolder("D:\\", &counted, counting));
  EXPECT_LT(counting.listings, TBoundedListings::kBudget) << "the walk did not end by itself";
  for (const TFolderCounters& expected : {tree, reachable}) {
    EXPECT_EQ(counted.fileCount, expected.fileCount);
    EXPECT_EQ(counted.folderCount, expected.folderCount);
    EXPECT_EQ(counted.fileNameBytes, expected.fileNameBytes);
    EXPECT_EQ(counted.folderNameBytes, expected.folderNameBytes);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, NtfsFolderLoops,
    testing::Combine(testing::ValuesIn(kLoopCases),
                     testing::Values(TNtfsReadOrder::kMftOrder, TNtfsReadOrder::kIndexWalk)),
    [](const testing::TestParamInfo<NtfsFolderLoops::ParamType>& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == TNtfsReadOrder::kMftOrder ? "InMftOrder" : "ByIndexWalk");
    });

}  // namespace
