// Damaged NTFS volumes, one damage each, patched into a built image byte by
// byte (fix-ups valid) as a faulty disk or an attacker would leave them.
// In both read orders a whole drive run ends "Finished" without a crash or
// undefined behaviour, says the damage where the volume shows it, keeps
// every item the damage does not touch, and the volume-aware plan leaves
// each damaged item where it is.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/json_read_back.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_record_patch.h"
#include "tests/support/fake_window_system.h"
#include "tools/ntfs_image_builder.h"

namespace {

constexpr int64_t kVolumeClusters = 4096;  // 16 MiB of 4 KiB clusters
constexpr int64_t kPlacedClusters = 4;

// Where the two placed files lie, found free when the volume is built.
struct TPlaces {
  int64_t first = -1;
  int64_t second = -1;
};

TBuildStatus BuildVolume(const std::string& image, TPlaces* places) {
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = kVolumeClusters * 4096;
  std::vector<TBuildStatus> steps = {builder.Format(image, format)};
  steps.push_back(builder.FindFreeRun(kPlacedClusters, 2000, &places->first));
  steps.push_back(builder.MakePlacedFile("/placed1.bin",
                                         TContent::Binary(kPlacedClusters * 4096, 1),
                                         {TExtent{places->first, kPlacedClusters}}));
  steps.push_back(builder.FindFreeRun(kPlacedClusters, places->first + 100, &places->second));
  steps.push_back(builder.MakePlacedFile("/placed2.bin",
                                         TContent::Binary(kPlacedClusters * 4096, 2),
                                         {TExtent{places->second, kPlacedClusters}}));
  steps.push_back(builder.MakeFile("/a.txt", TContent::Text(100, 3)));
  steps.push_back(builder.MakeFile("/big.bin", TContent::Binary(20000, 4)));
  for (const char* folder : {"/A", "/A/B", "/A/B/C"}) steps.push_back(builder.MakeFolder(folder));
  steps.push_back(builder.MakeFile("/A/B/f.txt", TContent::Binary(5000, 5)));
  steps.push_back(builder.MakeFile("/A/B/C/deep.txt", TContent::Binary(5000, 6)));
  steps.push_back(builder.Finish());
  for (const TBuildStatus& step : steps) {
    if (!step) return step;
  }
  return TBuildStatus::Success();
}

// Every path the undamaged volume lists, as TreePaths writes them.
const std::vector<std::string> kAllPaths = {"/A/",         "/A/B/",  "/A/B/C/",  "/A/B/C/deep.txt",
                                            "/A/B/f.txt",  "/a.txt", "/big.bin", "/placed1.bin",
                                            "/placed2.bin"};

void TreePaths(const TItem* item, const std::string& path, std::vector<std::string>* paths) {
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    const std::string childPath = path + "/" + child->name;
    paths->push_back(childPath + (child->IsFolder() ? "/" : ""));
    TreePaths(child, childPath, paths);
  }
}

// Rewrites the item's unnamed $DATA as one run of `clusters` clusters from
// where it starts, with sizes to match, in the room its mapping pairs have.
TBuildStatus StretchData(const std::string& image, const char* path, uint32_t clusters) {
  return PatchMftRecord(image, path, [clusters](std::vector<uint8_t>& record) {
    const int64_t data = FindAttribute(record, kTypeData);
    if (data < 0) return false;
    const size_t pairs = data + LittleEndian<uint16_t>(record, data + kNonResidentPairs);
    const uint8_t header = record[pairs];
    const size_t lcnBytes = header >> 4;
    const std::vector<uint8_t> lcn(record.begin() + pairs + 1 + (header & 0x0F),
                                   record.begin() + pairs + 1 + (header & 0x0F) + lcnBytes);
    const size_t end = data + LittleEndian<uint32_t>(record, data + 4);
    if (pairs + 1 + 4 + lcnBytes + 1 > end) return false;
    record[pairs] = static_cast<uint8_t>(lcnBytes << 4 | 4);
    StoreLittleEndian<uint32_t>(record, pairs + 1, clusters);
    std::copy(lcn.begin(), lcn.end(), record.begin() + pairs + 5);
    record[pairs + 5 + lcnBytes] = 0;
    StoreLittleEndian<int64_t>(record, data + kNonResidentHighestVcn, int64_t{clusters} - 1);
    StoreLittleEndian<int64_t>(record, data + kNonResidentAllocated, int64_t{clusters} * 4096);
    return true;
  });
}

// Appends a sparse run of `clusters` clusters to the $MFT's own $DATA, its
// sizes grown to match: the MFT then claims records far past its clusters.
TBuildStatus ClaimSparseMft(const std::string& image, uint32_t clusters) {
  return PatchMftRecord(image, "/$MFT", [clusters](std::vector<uint8_t>& record) {
    const int64_t data = FindAttribute(record, kTypeData);
    if (data < 0) return false;
    size_t pair = data + LittleEndian<uint16_t>(record, data + kNonResidentPairs);
    while (record[pair] != 0) pair += 1 + (record[pair] & 0x0F) + (record[pair] >> 4);
    // Room for the new pair: the attribute grows by eight bytes, the ones
    // after it move along.
    const uint32_t length = LittleEndian<uint32_t>(record, data + 4);
    const uint32_t used = LittleEndian<uint32_t>(record, kRecordBytesInUse);
    if (used + 8 > record.size()) return false;
    record.insert(record.begin() + data + length, 8, 0);
    record.resize(record.size() - 8);
    StoreLittleEndian<uint32_t>(record, data + 4, length + 8);
    StoreLittleEndian<uint32_t>(record, kRecordBytesInUse, used + 8);
    record[pair] = 0x04;  // a length of four bytes, no LCN: a hole
    StoreLittleEndian<uint32_t>(record, pair + 1, clusters);
    record[pair + 5] = 0;
    const int64_t highest = LittleEndian<int64_t>(record, data + kNonResidentHighestVcn);
    StoreLittleEndian<int64_t>(record, data + kNonResidentHighestVcn, highest + clusters);
    const int64_t bytes = (highest + 1 + clusters) * 4096;
    for (size_t field : {kNonResidentAllocated, kNonResidentDataSize, kNonResidentInitialized}) {
      StoreLittleEndian<int64_t>(record, data + field, bytes);
    }
    return true;
  });
}

// Changes a resident attribute's value of the item at path.
TBuildStatus PatchValue(const std::string& image, const char* path, uint32_t type,
                        const std::function<void(std::vector<uint8_t>&, size_t)>& patch) {
  return PatchMftRecord(image, path, [&](std::vector<uint8_t>& record) {
    size_t value = 0;
    if (FindAttribute(record, type, &value) < 0) return false;
    patch(record, value);
    return true;
  });
}

struct TDamageCase {
  const char* name;
  std::function<TBuildStatus(const std::string& image, const TPlaces& places)> damage;
  // Where the damage is said and a part of what is said, in MFT order and by
  // the index walk (which never reads what the MFT alone holds); an empty
  // path: nothing need be said in that order.
  const char* pathInMftOrder;
  const char* whatInMftOrder;
  const char* pathByIndex;
  const char* whatByIndex;
  // Paths the damage takes out of the listing (besides none).
  std::vector<std::string> lost;
  bool nothingListed = false;  // the root lists nothing
};

void PrintTo(const TDamageCase& damage, std::ostream* out) { *out << damage.name; }

const TDamageCase kCases[] = {
    {"BaseReferenceHighBits",
     [](const std::string& image, const TPlaces&) {
       return PatchMftRecord(image, "/A/B/f.txt", [](std::vector<uint8_t>& record) {
         // Record 5 (the root) with bit 32 set: its low half names a record
         // that exists.
         StoreLittleEndian<uint64_t>(record, kRecordBaseReference, (uint64_t{1} << 32) | 5);
         return true;
       });
     },
     "\\$MFT",
     "past the MFT",
     "",
     "",
     {}},
    {"FileNameNameSpaceSeven",
     [](const std::string& image, const TPlaces&) {
       return PatchValue(image, "/A/B/f.txt", kTypeFileName,
                         [](std::vector<uint8_t>& record, size_t value) {
                           record[value + kFileNameNameSpace] = 7;
                         });
     },
     "\\$MFT",
     "namespace 7",
     "",
     "",
     {}},
    {"IndexEntryNameSpaceSeven",
     [](const std::string& image, const TPlaces&) {
       return PatchIndexEntry(image, "/A/B", "f.txt",
                              [](std::vector<uint8_t>& record, size_t entry) {
                                record[entry + 0x10 + kFileNameNameSpace] = 7;
                              });
     },
     "",
     "",
     "",
     "",
     {}},
    {"AttributeFlagBit31",
     [](const std::string& image, const TPlaces&) {
       const auto setBit31 = [](size_t at) {
         return
             [at](std::vector<uint8_t>& record, size_t value) { record[value + at + 3] |= 0x80; };
       };
       TBuildStatus done =
           PatchValue(image, "/A/B/f.txt", kTypeFileName, setBit31(kFileNameAttributes));
       if (!done) return done;
       return PatchValue(image, "/A/B/f.txt", kTypeStandardInformation,
                         setBit31(kInformationAttributes));
     },
     "",
     "",
     "",
     "",
     {}},
    {"SparseMftClaimOfOneTebibyte",
     [](const std::string& image, const TPlaces&) { return ClaimSparseMft(image, 1u << 28); },
     "\\$MFT",
     "claims",
     "",
     "",
     {}},
    {"RunWhollyOutsideTheVolume",
     [](const std::string& image, const TPlaces&) {
       return PointDataAt(image, "/placed1.bin", 0x7FF0);
     },
     "\\placed1.bin",
     "lies wholly outside",
     "\\placed1.bin",
     "lies wholly outside",
     {}},
    {"RunPartlyOutsideTheVolume",
     [](const std::string& image, const TPlaces&) {
       return PointDataAt(image, "/placed1.bin", kVolumeClusters - 2);
     },
     "\\placed1.bin",
     "lies partly outside",
     "\\placed1.bin",
     "lies partly outside",
     {}},
    {"HugeRun",
     [](const std::string& image, const TPlaces&) {
       return StretchData(image, "/placed2.bin", 0x40000000);
     },
     "\\placed2.bin",
     "lies partly outside",
     "\\placed2.bin",
     "lies partly outside",
     {}},
    {"RootIsNoFolder",
     [](const std::string& image, const TPlaces&) {
       return PatchMftRecord(image, "/", [](std::vector<uint8_t>& record) {
         record[kRecordFlags] &= static_cast<uint8_t>(~0x02);
         return true;
       });
     },
     "\\",
     "root folder's record is not a folder",
     "\\",
     "root folder's record is not a folder",
     {},
     true},
    {"FolderInsideItsOwnSubtree",
     [](const std::string& image, const TPlaces&) {
       const TMftRecordPlace inner = FindMftRecord(image, "/A/B/C");
       if (inner.offset < 0) return TBuildStatus::Failure("no /A/B/C");
       return PatchValue(
           image, "/A/B", kTypeFileName, [&inner](std::vector<uint8_t>& record, size_t value) {
             StoreLittleEndian<uint64_t>(record, value + kFileNameParent, inner.reference);
           });
     },
     "\\$MFT",
     "inside its own subtree",
     "",
     "",
     {}},
    {"BitmapSaysAllFree",
     [](const std::string& image, const TPlaces&) { return ClearClusterBitmap(image); },
     "\\placed1.bin",
     "cluster bitmap calls free",
     "\\placed1.bin",
     "cluster bitmap calls free",
     {}},
    {"CrossLinkedFiles",
     [](const std::string& image, const TPlaces& places) {
       return PointDataAt(image, "/placed2.bin", places.first);
     },
     "\\placed1.bin",
     "shares 4 clusters",
     "\\placed1.bin",
     "shares 4 clusters",
     {}},
    {"RunsThatCannotBeRead",
     [](const std::string& image, const TPlaces&) {
       return PatchMftRecord(image, "/placed1.bin", [](std::vector<uint8_t>& record) {
         const int64_t data = FindAttribute(record, kTypeData);
         if (data < 0) return false;
         // A pair whose LCN would take fifteen bytes: no decoder takes it.
         record[data + LittleEndian<uint16_t>(record, data + kNonResidentPairs)] = 0xF1;
         return true;
       });
     },
     "\\placed1.bin",
     "could not be read",
     "\\placed1.bin",
     "could not be read",
     {}},
    {"NegativeSize",
     [](const std::string& image, const TPlaces&) {
       return PatchMftRecord(image, "/placed1.bin", [](std::vector<uint8_t>& record) {
         const int64_t data = FindAttribute(record, kTypeData);
         if (data < 0) return false;
         StoreLittleEndian<int64_t>(record, data + kNonResidentDataSize, -4096);
         return true;
       });
     },
     "\\placed1.bin",
     "",
     "\\placed1.bin",
     "",
     {}},
};

class NtfsDamage : public testing::TestWithParam<std::tuple<TDamageCase, TNtfsReadOrder>> {
 protected:
  void SetUp() override {
    const TBuildStatus built = BuildVolume(image_, &places_);
    ASSERT_TRUE(built.ok) << built.message;
    const TBuildStatus damaged = Case().damage(image_, places_);
    ASSERT_TRUE(damaged.ok) << damaged.message;
    drives_.Map('C', scratch_.Path());
    drives_.Map('D', image_);
  }

  const TDamageCase& Case() const { return std::get<0>(GetParam()); }
  bool InMftOrder() const { return std::get<1>(GetParam()) == TNtfsReadOrder::kMftOrder; }

  TScratchFolder scratch_;
  const std::string image_ = scratch_ / "damaged.img";
  TPlaces places_;
  TDriveTable drives_;
  TFakeWindowSystem windows_;
};

TEST_P(NtfsDamage, TheRunEndsSayingTheDamageAndLeavesDamagedItemsInPlace) {
  TLinuxServices services(drives_, std::get<1>(GetParam()));
  TDriveOptimizer drive('D', services, windows_, kDriveStages);
  drive.RunPipeline();
  EXPECT_EQ(drive.statusText.Get(), "Finished");

  const std::vector<TVolumeDamage> said = drive.damage.Places();
  const std::string path = InMftOrder() ? Case().pathInMftOrder : Case().pathByIndex;
  const std::string what = InMftOrder() ? Case().whatInMftOrder : Case().whatByIndex;
  if (!path.empty()) {
    const bool found = std::any_of(said.begin(), said.end(), [&](const TVolumeDamage& place) {
      return place.path == path && place.what.find(what) != std::string::npos;
    });
    std::string all;
    for (const TVolumeDamage& place : said) all += place.path + ": " + place.what + "\n";
    EXPECT_TRUE(found) << "not said: " << path << ": " << what << "\nsaid:\n" << all;
    EXPECT_NE(drive.detailText.Get().find("Damage: "), std::string::npos) << drive.detailText.Get();
  }
  if (Case().nothingListed) {
    EXPECT_TRUE(drive.root == nullptr || drive.root->firstChild == nullptr);
    return;
  }
  EXPECT_EQ(drive.FailureReason(), "");
  ASSERT_NE(drive.root, nullptr);

  std::vector<std::string> listed;
  TreePaths(drive.root, "", &listed);
  std::sort(listed.begin(), listed.end());
  std::vector<std::string> expected;
  const std::vector<std::string>& lost = Case().lost;
  for (const std::string& kept : kAllPaths) {
    if (std::find(lost.begin(), lost.end(), kept) == lost.end()) expected.push_back(kept);
  }
  if (InMftOrder()) {
    EXPECT_EQ(listed, expected);
  } else {
    // The index walk may reach what the MFT alone no longer leads to.
    for (const std::string& kept : expected) {
      EXPECT_NE(std::find(listed.begin(), listed.end(), kept), listed.end()) << kept;
    }
  }

  // The plan leaves each damaged item where it is; an item named by the
  // damage is one of them.
  for (const TItemTarget& target : drive.volumePlan.items) {
    if ((target.item->flags & kItemDamaged) != 0) {
      EXPECT_FALSE(target.Moves()) << ListingPath(target.item);
    }
    if (!path.empty() && ListingPath(target.item) == path) {
      EXPECT_NE(target.item->flags & kItemDamaged, 0u) << path;
    }
  }
  EXPECT_EQ(drive.summary.damage, static_cast<int64_t>(said.size()));
}

// The whole program, headless, on cross-linked files: each damaged file is
// said on standard error, the summary counts the damage, the export lists
// it, and the run ends with exit status 4.
TEST(NtfsDamageProcess, AHeadlessRunSaysTheDamageAndEndsWithStatusFour) {
  TScratchFolder scratch;
  const std::string image = scratch / "crossed.img";
  TPlaces places;
  ASSERT_TRUE(BuildVolume(image, &places).ok);
  ASSERT_TRUE(PointDataAt(image, "/placed2.bin", places.first).ok);
  const std::string command = "cd '" + scratch.Path() +
                              "' && env -u DISPLAY -u WAYLAND_DISPLAY -u DISKOPT_SNAPSHOT "
                              "QT_QPA_PLATFORM=offscreen '" DISKOPT_BINARY "' --json '" +
                              scratch.Path() + "' '" + image + "' 2>&1";
  const TCommandResult finished = RunCommand(command);
  const std::string& output = finished.output;
  const int status = finished.status;
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 4) << output;
  for (const std::string& line :
       {"diskopt: " + image + ": damaged: \\placed1.bin: it shares 4 clusters from cluster " +
            std::to_string(places.first) + " with \\placed2.bin\n",
        "diskopt: " + image + ": damaged: \\placed2.bin: it shares 4 clusters from cluster " +
            std::to_string(places.first) + " with \\placed1.bin\n",
        std::string("  Damage: 2 problems, see the export\n")}) {
    EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
  }
  const rapidjson::Document exported = ParseJson(ReadFile(scratch / "drive-D.json"));
  ASSERT_TRUE(exported.IsObject() && exported.HasMember("damage"));
  const rapidjson::Value& damage = exported["damage"];
  ASSERT_TRUE(damage.IsArray());
  ASSERT_EQ(damage.Size(), 2u);
  EXPECT_STREQ(damage[0]["path"].GetString(), "\\placed1.bin");
  EXPECT_NE(std::string(damage[0]["what"].GetString()).find("shares 4 clusters"),
            std::string::npos);
  EXPECT_EQ(exported["summary"]["damage"].GetInt64(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Damages, NtfsDamage,
    testing::Combine(testing::ValuesIn(kCases),
                     testing::Values(TNtfsReadOrder::kMftOrder, TNtfsReadOrder::kIndexWalk)),
    [](const testing::TestParamInfo<NtfsDamage::ParamType>& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == TNtfsReadOrder::kMftOrder ? "InMftOrder" : "ByIndexWalk");
    });

}  // namespace
