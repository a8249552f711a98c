// The JSON export written through the Linux services: read back with a
// strict JSON parser, names whose bytes are not UTF-8 shown with U+FFFD and
// kept byte for byte beside, and the file put in place whole, never through
// a link.
#include "planning/drive_export.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "platform/linux/linux_services.h"
#include "tests/linux/json_read_back.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/support/tree_builder.h"

namespace {

class DriveExport : public testing::Test {
 protected:
  void SetUp() override {
    root = AddItem(nullptr, "D:\\", 0, true, {{0, 2}});
    root->SetZone(1);
    TItem* folder = AddItem(root, "caf\xE9", 0, true, {{36, 2}});  // Latin-1, not UTF-8
    folder->SetZone(1);
    TItem* file =
        AddItem(folder, "r\xC3\xA9sum\xC3\xA9 \xFF.txt", 5000, false, {{10, 1}, {-1, 2}, {20, 1}});
    file->SetZone(5);
    file->planned = NewFragment(file, 0, 0, 4);
    free = NewFragment(nullptr, 0, 30, 6);
    free->next = NewFragment(nullptr, 0, 38, 2);
    plan = PlanVolume(root, free, 40);
    summary = SummarizeVolume(root, free, 40, plan.totals);
    report = TDriveReport{'D', root, free, 40, &summary, &plan, nullptr};
  }
  void TearDown() override {
    ReleaseItem(root);
    ReleaseFragments(free);
  }

  TScratchFolder folder_;
  TLinuxServices services_{TDriveTable()};
  TItem* root = nullptr;
  TFragment* free = nullptr;
  TVolumePlan plan;
  TVolumeSummary summary;
  TDriveReport report{};
};

// Writes the export into folder and puts it in place; "" when it went,
// otherwise why not.
std::string Export(TSystemServices& services, const std::string& folder,
                   const TDriveReport& report) {
  TOutputSet output;
  ExportDrive(services, folder, report, output);
  return output.Commit();
}

TEST_F(DriveExport, ReadsBackWithEveryFieldAndEveryByteOfTheNames) {
  ASSERT_EQ(Export(services_, folder_.Path(), report), "");
  const rapidjson::Document json = ParseJson(ReadFile(folder_ / "drive-D.json"));
  ASSERT_TRUE(json.IsObject());
  EXPECT_STREQ(json["drive"].GetString(), "D");
  EXPECT_EQ(json["totalClusters"].GetInt64(), 40);
  EXPECT_EQ(json["freeExtents"].Size(), 2u);
  EXPECT_EQ(json["freeExtents"][0][0].GetInt64(), 30);
  EXPECT_EQ(json["freeExtents"][0][1].GetInt64(), 6);
  const rapidjson::Value& counts = json["summary"];
  for (const char* key :
       {"items", "files", "folders", "fragmentedFiles", "fragments", "freeClusters", "freeExtents",
        "largestFreeExtent", "itemsPlanned", "itemsInPlace"}) {
    EXPECT_TRUE(counts.HasMember(key) && counts[key].IsInt64()) << key;
  }
  EXPECT_EQ(counts["items"].GetInt64(), 3);
  EXPECT_EQ(counts["fragmentedFiles"].GetInt64(), 1);
  // Clusters held by no file: left out where the reader cannot tell, never
  // a made-up zero.
  EXPECT_FALSE(counts.HasMember("clustersHeldByNoFile"));
  summary.clustersHeldByNoFile = 42;
  ASSERT_EQ(Export(services_, folder_.Path(), report), "");
  EXPECT_EQ(
      ParseJson(ReadFile(folder_ / "drive-D.json"))["summary"]["clustersHeldByNoFile"].GetInt64(),
      42);
  // What fleets read: bytes only where the cluster size is known, and
  // whether defragmenting is recommended (1 file, fragmented: 100%).
  EXPECT_FALSE(counts.HasMember("volumeBytes"));
  EXPECT_TRUE(counts["defragRecommended"].GetBool());
  EXPECT_EQ(counts["unmovableFiles"].GetInt64(), 1) << "its hole is never moved";
  EXPECT_DOUBLE_EQ(counts["averageFragmentsPerFile"].GetDouble(), 2.0);
  summary.clusterBytes = 4096;
  ASSERT_EQ(Export(services_, folder_.Path(), report), "");
  const rapidjson::Document sized = ParseJson(ReadFile(folder_ / "drive-D.json"));
  EXPECT_EQ(sized["summary"]["clusterBytes"].GetInt64(), 4096);
  EXPECT_EQ(sized["summary"]["volumeBytes"].GetInt64(), 40 * 4096);
  EXPECT_EQ(sized["summary"]["freeBytes"].GetInt64(), 8 * 4096);
  EXPECT_EQ(sized["summary"]["usedBytes"].GetInt64(), 32 * 4096);
  // The file table: only where the volume has one that could be read.
  EXPECT_FALSE(sized["summary"].HasMember("mftBytes"));
  summary.mftBytes = 262144;
  summary.mftFragments = 3;
  ASSERT_EQ(Export(services_, folder_.Path(), report), "");
  const rapidjson::Document withTable = ParseJson(ReadFile(folder_ / "drive-D.json"));
  EXPECT_EQ(withTable["summary"]["mftBytes"].GetInt64(), 262144);
  EXPECT_EQ(withTable["summary"]["mftFragments"].GetInt64(), 3);
  EXPECT_EQ(ExportedBytes(counts["mostFragmented"][0], "path"),
            "\\caf\xE9\\r\xC3\xA9sum\xC3\xA9 \xFF.txt");
  const rapidjson::Value& totals = json["plan"];
  EXPECT_EQ(totals["itemsToMove"].GetInt64(), plan.totals.itemsToMove);
  EXPECT_EQ(totals["clustersToMove"].GetInt64(), plan.totals.clustersToMove);
  EXPECT_EQ(totals["fragmentedBefore"].GetInt64(), 1);
  EXPECT_EQ(totals["fragmentedAfter"].GetInt64(), 1) << "a file with a hole is never moved";

  const rapidjson::Value& items = json["items"];
  ASSERT_EQ(items.Size(), 3u);
  EXPECT_STREQ(items[0]["path"].GetString(), "");
  EXPECT_FALSE(items[0].HasMember("pathBytes"));
  // What a person reads, and the bytes that name the item.
  EXPECT_STREQ(items[1]["path"].GetString(), "\\caf\xEF\xBF\xBD");
  EXPECT_EQ(ExportedBytes(items[1], "path"), "\\caf\xE9");
  // The folder's index goes to the first usable cluster: 2..29 are in use by
  // nothing listed but the file's two clusters.
  EXPECT_EQ(JsonRuns(items[1]["target"]), (std::vector<TToolRun>{{0, 30, 2}}));
  EXPECT_TRUE(items[1]["moves"].GetBool());
  const rapidjson::Value& file = items[2];
  EXPECT_STREQ(file["path"].GetString(),
               "\\caf\xEF\xBF\xBD\\r\xC3\xA9sum\xC3\xA9 \xEF\xBF\xBD.txt");
  EXPECT_EQ(ExportedBytes(file, "path"), "\\caf\xE9\\r\xC3\xA9sum\xC3\xA9 \xFF.txt");
  EXPECT_FALSE(file["folder"].GetBool());
  EXPECT_EQ(file["size"].GetInt64(), 5000);
  EXPECT_EQ(file["zone"].GetInt(), 5);
  EXPECT_FALSE(file["inPlace"].GetBool());
  EXPECT_EQ(JsonRuns(file["runs"]), (std::vector<TToolRun>{{0, 10, 1}, {1, -1, 2}, {3, 20, 1}}));
  EXPECT_EQ(JsonRuns(file["planned"]), (std::vector<TToolRun>{{0, 0, 4}}));
  // Its hole is never moved, so its target is where its two allocated
  // clusters lie now.
  EXPECT_EQ(JsonRuns(file["target"]), (std::vector<TToolRun>{{0, 10, 1}, {1, 20, 1}}));
  EXPECT_FALSE(file["moves"].GetBool());
  // Only the export is left in the folder: the new file was renamed.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(DriveExport, ALinkAtTheNameIsReplacedNeverFollowed) {
  const std::string victim = folder_ / "victim";
  WriteFile(victim, "keep");
  ASSERT_EQ(symlink(victim.c_str(), (folder_ / "drive-D.json").c_str()), 0);
  ASSERT_EQ(Export(services_, folder_.Path() + "/", report), "");
  EXPECT_EQ(ReadFile(victim), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(folder_ / "drive-D.json"));
  EXPECT_TRUE(ParseJson(ReadFile(folder_ / "drive-D.json")).IsObject());
}

TEST_F(DriveExport, AFolderThatCannotBeWrittenSaysWhyAndLeavesNothing) {
  const std::string missing = folder_ / "missing";
  EXPECT_EQ(Export(services_, missing, report),
            "the export " + missing + "/drive-D.json could not be written: " + missing +
                "/drive-D.json: its folder does not exist");
  EXPECT_FALSE(std::filesystem::exists(missing));
  // An old export stays whole when a new one cannot be written.
  WriteFile(folder_ / "drive-D.json", "{\"old\": true}");
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(WriteDriveExport(full, report, services_), ENOSPC);
  std::fclose(full);
  EXPECT_EQ(ReadFile(folder_ / "drive-D.json"), "{\"old\": true}");
}

}  // namespace
