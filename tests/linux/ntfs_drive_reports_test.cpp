// The reports of a whole drive run over a real NTFS image: the summary
// against ntfs-3g's own tools, the export against the optimized listing
// item for item, and the moves log against the plan.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "planning/drive_stages.h"
#include "tests/linux/json_read_back.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"

namespace {

// Pieces as users of the standard tools count fragments: allocated runs
// that continue the previous allocated run's last cluster join it.
int64_t ToolPieces(const std::vector<TToolRun>& runs) {
  int64_t pieces = 0;
  int64_t end = -1;
  for (const TToolRun& run : runs) {
    if (run.lcn < 0) continue;
    if (run.lcn != end) ++pieces;
    end = run.lcn + run.length;
  }
  return pieces;
}

class NtfsDriveReports : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(image_.built.ok) << image_.built.message;
    services_ = ServicesWithDrive(logs_.Path(), 'D', image_.path);
    drive_ = std::make_unique<TDriveOptimizer>('D', *services_, windows_, kDriveStages);
    drive_->exportFolder = exports_.Path();
    drive_->RunPipeline();
    ASSERT_EQ(drive_->statusText.Get(), "Finished");
    ASSERT_NE(drive_->root, nullptr);
  }

  const TNtfsTestImage& image_ = SharedNtfsTestImage();
  TScratchFolder logs_;
  TScratchFolder exports_;
  TFakeWindowSystem windows_;
  std::unique_ptr<TLinuxServices> services_;
  std::unique_ptr<TDriveOptimizer> drive_;  // goes first: it uses the services
};

TEST_F(NtfsDriveReports, TheSummaryAgreesWithNtfsinfoAndNtfscluster) {
  std::vector<std::string> paths = ListedPaths(image_.path);
  // The name too long for a path buffer is left out of the tree.
  paths.erase(std::remove(paths.begin(), paths.end(), "/" + TooLongName()), paths.end());
  int64_t files = 0;
  int64_t fragmented = 0;
  int64_t fragments = 0;
  std::vector<int64_t> counts;
  for (const std::string& path : paths) {
    const TToolOutput info = RunTool({"ntfsinfo", "-v", "-F", path, image_.path});
    ASSERT_EQ(info.exitCode, 0) << path;
    const std::vector<TNtfsinfoAttribute> attributes = ParseNtfsinfoAttributes(info.out);
    const bool folder = std::any_of(attributes.begin(), attributes.end(),
                                    [](const auto& a) { return a.type == "$INDEX_ROOT"; });
    if (folder) continue;
    ++files;
    const int64_t pieces = ToolPieces(AttributeRuns(attributes, "$DATA"));
    fragments += pieces;
    if (pieces > 1) {
      ++fragmented;
      counts.push_back(pieces);
    }
  }
  const TVolumeSummary& summary = drive_->summary;
  EXPECT_EQ(summary.items, static_cast<int64_t>(paths.size()) + 1);
  EXPECT_EQ(summary.files, files);
  EXPECT_EQ(summary.folders, summary.items - files);
  EXPECT_EQ(summary.fragmentedFiles, fragmented);
  EXPECT_EQ(summary.fragments, fragments);
  std::sort(counts.rbegin(), counts.rend());
  counts.resize(std::min<size_t>(counts.size(), 10));
  std::vector<int64_t> shown;
  for (const TFragmentedFile& file : summary.mostFragmented) shown.push_back(file.fragments);
  EXPECT_EQ(shown, counts);
  ASSERT_FALSE(summary.mostFragmented.empty());
  EXPECT_EQ(summary.mostFragmented[0].path, "\\many.bin");
  // /adjacent.bin's two runs continue each other: one piece.
  EXPECT_TRUE(std::none_of(summary.mostFragmented.begin(), summary.mostFragmented.end(),
                           [](const TFragmentedFile& f) { return f.path == "\\adjacent.bin"; }));

  const int64_t clusters =
      ParseNtfsinfoNumber(RunTool({"ntfsinfo", "-m", image_.path}).out, "Volume Size in Clusters");
  EXPECT_EQ(summary.totalClusters, clusters);
  EXPECT_EQ(summary.freeClusters,
            ParseNtfsclusterFreeClusters(RunTool({"ntfscluster", "-i", image_.path}).out));
  const std::vector<TFreeExtent> free =
      FreeExtentsFromBitmap(RunTool({"ntfscat", image_.path, "$Bitmap"}).out, clusters);
  EXPECT_EQ(summary.freeExtents, static_cast<int64_t>(free.size()));
  int64_t largest = 0;
  for (const TFreeExtent& extent : free) largest = std::max(largest, extent.length);
  EXPECT_EQ(summary.largestFreeExtent, largest);
  EXPECT_EQ(summary.plan.fragmentedBefore, fragmented);
  EXPECT_EQ(summary.plan.itemsUnplaced, 0);
  // Every used cluster is held by some attribute: metafiles, named and
  // compressed streams, attribute lists and large indexes included.
  EXPECT_EQ(summary.clustersHeldByNoFile, 0);
  // The file table, as its own record (0) maps it: the size and the pieces.
  const std::vector<TNtfsinfoAttribute> table =
      ParseNtfsinfoAttributes(RunTool({"ntfsinfo", "-v", "-i", "0", image_.path}).out);
  const auto data = std::find_if(table.begin(), table.end(), [](const TNtfsinfoAttribute& a) {
    return a.type == "$DATA" && a.name.empty() && a.dataSize >= 0;
  });
  ASSERT_NE(data, table.end());
  EXPECT_EQ(summary.mftBytes, data->dataSize);
  EXPECT_EQ(summary.mftFragments, ToolPieces(AttributeRuns(table, "$DATA")));
}

TEST_F(NtfsDriveReports, TheExportEqualsTheOptimizedListingItemForItem) {
  const std::vector<TListedEntry> listed = ParseListing(ReadFile(logs_ / "DirList_Optimized.log"));
  const rapidjson::Document json = ParseJson(ReadFile(exports_ / "drive-D.json"));
  ASSERT_TRUE(json.IsObject());
  const rapidjson::Value& items = json["items"];
  ASSERT_EQ(items.Size(), listed.size());
  ASSERT_GT(listed.size(), 200u);
  int64_t planned = 0;
  int64_t inPlace = 0;
  for (size_t k = 0; k < listed.size(); ++k) {
    const rapidjson::Value& item = items[static_cast<rapidjson::SizeType>(k)];
    const TListedEntry& entry = listed[k];
    EXPECT_EQ(ExportedBytes(item, "path"), entry.path);
    EXPECT_EQ(item["folder"].GetBool(), entry.folder) << entry.path;
    EXPECT_EQ(item["size"].GetInt64(), entry.size) << entry.path;
    EXPECT_EQ(item["clusters"].GetInt64(), entry.clusters) << entry.path;
    EXPECT_EQ(item["zone"].GetInt() - 1, entry.zoneIndex) << entry.path;
    EXPECT_EQ(item["inPlace"].GetBool(), entry.noMove) << entry.path;
    EXPECT_EQ(JsonRuns(item["runs"]), entry.runs) << entry.path;
    EXPECT_EQ(JsonRuns(item["planned"]), entry.planned) << entry.path;
    int64_t allocated = 0;
    for (const TToolRun& run : entry.runs) allocated += run.lcn >= 0 ? run.length : 0;
    int64_t target = 0;
    for (const TToolRun& run : JsonRuns(item["target"])) target += run.length;
    EXPECT_EQ(target, allocated) << entry.path;
    planned += entry.planned.empty() ? 0 : 1;
    inPlace += entry.noMove ? 1 : 0;
  }
  // The kinds of item the image was built for are all there.
  auto find = [&](const std::string& path) {
    return std::find_if(listed.begin(), listed.end(),
                        [&](const TListedEntry& e) { return e.path == path; });
  };
  ASSERT_NE(find("\\sparse.bin"), listed.end());
  ASSERT_NE(find("\\Comp\\log.txt"), listed.end());
  ASSERT_NE(find("\\Docs\\small.txt"), listed.end());
  EXPECT_TRUE(find("\\Docs\\small.txt")->runs.empty());  // resident
  EXPECT_NE(find("\\Docs\\R\xC3\xA9sum\xC3\xA9.txt"), listed.end());

  const rapidjson::Value& summary = json["summary"];
  EXPECT_EQ(summary["items"].GetInt64(), static_cast<int64_t>(listed.size()));
  EXPECT_EQ(summary["itemsPlanned"].GetInt64(), planned);
  EXPECT_EQ(summary["itemsInPlace"].GetInt64(), inPlace);
  EXPECT_EQ(json["plan"]["itemsToMove"].GetInt64(), drive_->volumePlan.totals.itemsToMove);
  EXPECT_EQ(json["totalClusters"].GetInt64(), drive_->totalClusters);
}

TEST_F(NtfsDriveReports, TheMovesLogHasALinePerMovedItem) {
  const std::string log = ReadFile(logs_ / "DirList_Moves.log");
  int64_t lines = 0;
  for (size_t at = log.find("\r\n"); at != std::string::npos; at = log.find("\r\n", at + 2)) {
    ++lines;
  }
  EXPECT_GT(drive_->volumePlan.totals.itemsToMove, 0);
  EXPECT_EQ(lines, drive_->volumePlan.totals.itemsToMove);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), lines);  // no bare line feeds
  // Metadata stays: the boot sector, $MFT's and $MFTMirr's first clusters
  // are no item's target.
  const std::string info = RunTool({"ntfsinfo", "-m", image_.path}).out;
  const int64_t mft = ParseNtfsinfoNumber(info, "LCN of Data Attribute for FILE_MFT");
  const int64_t mirror = ParseNtfsinfoNumber(info, "LCN of Data Attribute for File_MFTMirr");
  ASSERT_GT(mft, 0);
  ASSERT_GT(mirror, 0);
  for (const int64_t metadata : {int64_t{0}, mft, mirror}) {
    for (const TTargetRun& run : drive_->volumePlan.runs) {
      EXPECT_FALSE(run.lcn <= metadata && metadata < run.lcn + run.length) << run.lcn;
    }
  }
}

}  // namespace
