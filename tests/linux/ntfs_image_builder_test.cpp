// The NTFS image builder and the sample volume, checked with ntfs-3g's own
// tools (ntfsls, ntfsinfo, ntfscat, ntfscluster) rather than through the
// builder, plus the parsers of those tools' output on fixed excerpts.
#include "tools/ntfs_image_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tools/sample_volume.h"

namespace {

constexpr int64_t kCluster = 4096;

std::vector<TNtfsinfoAttribute> Describe(const std::string& image, const std::string& path) {
  const TToolOutput info = RunTool({"ntfsinfo", "-v", "-F", path, image});
  EXPECT_EQ(info.exitCode, 0) << path << ": " << info.err;
  return ParseNtfsinfoAttributes(info.out);
}

std::vector<TToolRun> DataRuns(const std::string& image, const std::string& path) {
  return AttributeRuns(Describe(image, path), "$DATA");
}

const TNtfsinfoAttribute* Find(const std::vector<TNtfsinfoAttribute>& attributes,
                               const std::string& type) {
  for (const TNtfsinfoAttribute& attribute : attributes) {
    if (attribute.type == type) return &attribute;
  }
  return nullptr;
}
// The result points into attributes: a temporary list would leave it dangling.
const TNtfsinfoAttribute* Find(std::vector<TNtfsinfoAttribute>&& attributes,
                               const std::string& type) = delete;

std::vector<std::string> List(const std::string& image, const std::string& folder) {
  const TToolOutput listing = RunTool({"ntfsls", "-p", folder, image});
  EXPECT_EQ(listing.exitCode, 0) << folder << ": " << listing.err;
  return ParseNtfslsNames(listing.out);
}

// Whole files compared a chunk at a time (images are 128 MiB).
bool SameBytes(const std::string& a, const std::string& b) {
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  if (!first || !second) return false;
  std::vector<char> left(1 << 20);
  std::vector<char> right(1 << 20);
  for (;;) {
    first.read(left.data(), static_cast<std::streamsize>(left.size()));
    second.read(right.data(), static_cast<std::streamsize>(right.size()));
    if (first.gcount() != second.gcount()) return false;
    if (!std::equal(left.begin(), left.begin() + first.gcount(), right.begin())) return false;
    if (first.gcount() == 0) return true;
  }
}

int64_t FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  return file ? static_cast<int64_t>(file.tellg()) : -1;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string Cat(const std::string& image, const std::string& path) {
  const TToolOutput cat = RunTool({"ntfscat", image, path});
  EXPECT_EQ(cat.exitCode, 0) << path << ": " << cat.err;
  return cat.out;
}

int64_t AllocatedClusters(const std::vector<TToolRun>& runs) {
  int64_t clusters = 0;
  for (const TToolRun& run : runs) {
    if (run.lcn >= 0) clusters += run.length;
  }
  return clusters;
}

// The steps of the small image every builder test reads; `seed` varies one
// file's bytes, so two images can be told apart.
TBuildStatus BuildSmallImage(const std::string& image, uint64_t seed,
                             std::vector<TExtent>* fragmented) {
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 32u << 20;
  format.clusterBytes = kCluster;
  format.label = "Small";
  std::vector<TBuildStatus> steps;
  steps.push_back(builder.Format(image, format));
  steps.push_back(builder.MakeFolder("/Docs"));
  steps.push_back(builder.MakeFolder("/Docs/Ünïcode 文件夹"));
  steps.push_back(builder.MakeFile("/Docs/Résumé.txt", TContent::Text(3000, seed)));
  steps.push_back(builder.MakeFile("/Docs/日本語.doc", TContent::Binary(5000, 2)));
  steps.push_back(builder.MakeFile("/Docs/small.txt", TContent::Bytes("hello, NTFS\n")));
  steps.push_back(builder.MakeFile("/empty.txt", TContent::Bytes("")));
  steps.push_back(builder.MakeFolder("/Comp"));
  steps.push_back(builder.SetFolderCompressed("/Comp"));
  steps.push_back(builder.MakeFile("/Comp/log.txt", TContent::Text(300000, 3)));
  steps.push_back(builder.MakeSparseFile("/sparse.bin", TContent::Binary(1 << 20, 4), 16 * kCluster,
                                         128 * kCluster));
  steps.push_back(
      builder.MakeFragmentedFile("/frag.bin", TContent::Binary(100000, 5), 7, 3, 3000, fragmented));
  steps.push_back(builder.MakePlacedFile("/placed.bin", TContent::Binary(5 * kCluster - 100, 6),
                                         {{5000, 2}, {TExtent::kHoleLcn, 2}, {5100, 1}}));
  steps.push_back(builder.MakePlacedFile("/adjacent.bin", TContent::Binary(4 * kCluster, 8),
                                         {{5150, 2}, {5152, 2}}));
  steps.push_back(
      builder.MakeFragmentedFile("/many.bin", TContent::Binary(1100 * kCluster, 7), 1100, 1, 5200));
  steps.push_back(builder.MakeFolder("/Big"));
  for (int i = 0; i < 60; ++i) {
    steps.push_back(builder.MakeFile("/Big/entry number " + std::to_string(i) + ".dat",
                                     TContent::Binary(100 + i, i)));
  }
  steps.push_back(builder.Finish());
  for (TBuildStatus& step : steps) {
    if (!step) return step;
  }
  return TBuildStatus::Success();
}

// One small image per test program, built before the first test that reads
// it; each test process under ctest builds its own.
class NtfsImageBuilderTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new TScratchFolder();
    image_ = *scratch_ / "small.img";
    built_ = BuildSmallImage(image_, 1, &fragmented_);
  }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(built_.ok) << built_.message; }

  static TScratchFolder* scratch_;
  static std::string image_;
  static TBuildStatus built_;
  static std::vector<TExtent> fragmented_;
};

TScratchFolder* NtfsImageBuilderTest::scratch_ = nullptr;
std::string NtfsImageBuilderTest::image_;
TBuildStatus NtfsImageBuilderTest::built_;
std::vector<TExtent> NtfsImageBuilderTest::fragmented_;

TEST_F(NtfsImageBuilderTest, NtfslsListsEveryNameIncludingNonAscii) {
  const std::vector<std::string> root = List(image_, "/");
  for (const char* name :
       {"Docs", "Comp", "Big", "empty.txt", "sparse.bin", "frag.bin", "placed.bin", "many.bin"}) {
    EXPECT_TRUE(Contains(root, name)) << name;
  }
  const std::vector<std::string> docs = List(image_, "/Docs");
  for (const char* name : {"Ünïcode 文件夹", "Résumé.txt", "日本語.doc", "small.txt"}) {
    EXPECT_TRUE(Contains(docs, name)) << name;
  }
  EXPECT_EQ(RunTool({"ntfsls", "-p", "/Docs/Ünïcode 文件夹", image_}).exitCode, 0);
}

TEST_F(NtfsImageBuilderTest, NtfscatReadsBackWhatWasWritten) {
  EXPECT_EQ(Cat(image_, "/Docs/small.txt"), "hello, NTFS\n");
  EXPECT_EQ(Cat(image_, "/empty.txt"), "");
  EXPECT_EQ(Cat(image_, "/Docs/Résumé.txt"), TContent::Text(3000, 1).Slice(0, 3000));
  EXPECT_EQ(Cat(image_, "/Docs/日本語.doc"), TContent::Binary(5000, 2).Slice(0, 5000));
}

TEST_F(NtfsImageBuilderTest, FragmentedFileHasTheRunsItWasPlacedIn) {
  ASSERT_EQ(fragmented_.size(), 7u);
  const std::vector<TToolRun> runs = DataRuns(image_, "/frag.bin");
  ASSERT_EQ(runs.size(), 7u);
  int64_t vcn = 0;
  for (size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i], (TToolRun{vcn, fragmented_[i].lcn, fragmented_[i].clusters})) << i;
    vcn += runs[i].length;
  }
  // 100000 bytes are 25 clusters: the first four fragments take the rest.
  EXPECT_EQ(vcn, 25);
  EXPECT_EQ(runs.front().length, 4);
  EXPECT_EQ(runs.back().length, 3);
  EXPECT_GE(runs.front().lcn, 3000);
  EXPECT_EQ(MergeRuns(runs).size(), 7u);
  EXPECT_EQ(Cat(image_, "/frag.bin"), TContent::Binary(100000, 5).Slice(0, 100000));
}

TEST_F(NtfsImageBuilderTest, PlacedFileKeepsItsClustersAndHole) {
  const std::vector<TNtfsinfoAttribute> attributes = Describe(image_, "/placed.bin");
  const std::vector<TToolRun> expected = {{0, 5000, 2}, {2, TToolRun::kHoleLcn, 2}, {4, 5100, 1}};
  EXPECT_EQ(AttributeRuns(attributes, "$DATA"), expected);
  const TNtfsinfoAttribute* data = Find(attributes, "$DATA");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->flags & 0x8000u, 0x8000u);
  EXPECT_EQ(data->dataSize, 5 * kCluster - 100);
  const TContent content = TContent::Binary(5 * kCluster - 100, 6);
  const std::string bytes = Cat(image_, "/placed.bin");
  ASSERT_EQ(bytes.size(), static_cast<size_t>(5 * kCluster - 100));
  EXPECT_EQ(bytes.substr(0, 2 * kCluster), content.Slice(0, 2 * kCluster));
  EXPECT_EQ(bytes.substr(2 * kCluster, 2 * kCluster), std::string(2 * kCluster, '\0'));
  EXPECT_EQ(bytes.substr(4 * kCluster), content.Slice(4 * kCluster, kCluster - 100));
}

TEST_F(NtfsImageBuilderTest, AdjacentExtentsStayRunsOfTheirOwn) {
  const std::vector<TToolRun> runs = DataRuns(image_, "/adjacent.bin");
  EXPECT_EQ(runs, (std::vector<TToolRun>{{0, 5150, 2}, {2, 5152, 2}}));
  EXPECT_EQ(MergeRuns(runs), (std::vector<TToolRun>{{0, 5150, 4}}));
  EXPECT_EQ(Cat(image_, "/adjacent.bin"), TContent::Binary(4 * kCluster, 8).Slice(0, 4 * kCluster));
}

TEST_F(NtfsImageBuilderTest, SparseFileHasItsHoleWhereAsked) {
  const std::vector<TNtfsinfoAttribute> attributes = Describe(image_, "/sparse.bin");
  const std::vector<TToolRun> runs = MergeRuns(AttributeRuns(attributes, "$DATA"));
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_GE(runs[0].lcn, 0);
  EXPECT_EQ(runs[0].length, 16);
  EXPECT_EQ(runs[1], (TToolRun{16, TToolRun::kHoleLcn, 128}));
  EXPECT_GE(runs[2].lcn, 0);
  EXPECT_EQ(runs[2].vcn + runs[2].length, 256);
  ASSERT_NE(Find(attributes, "$DATA"), nullptr);
  EXPECT_EQ(Find(attributes, "$DATA")->flags & 0x8000u, 0x8000u);
  const TContent content = TContent::Binary(1 << 20, 4);
  const std::string bytes = Cat(image_, "/sparse.bin");
  ASSERT_EQ(bytes.size(), 1u << 20);
  EXPECT_EQ(bytes.substr(0, 16 * kCluster), content.Slice(0, 16 * kCluster));
  EXPECT_EQ(bytes.substr(16 * kCluster, 128 * kCluster), std::string(128 * kCluster, '\0'));
  EXPECT_EQ(bytes.substr(144 * kCluster), content.Slice(144 * kCluster, 112 * kCluster));
}

TEST_F(NtfsImageBuilderTest, FilesInACompressedFolderAreCompressed) {
  const std::vector<TNtfsinfoAttribute> folderAttributes = Describe(image_, "/Comp");
  const TNtfsinfoAttribute* folder = Find(folderAttributes, "$STANDARD_INFORMATION");
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->fileAttributes & 0x800u, 0x800u);
  const std::vector<TNtfsinfoAttribute> attributes = Describe(image_, "/Comp/log.txt");
  const TNtfsinfoAttribute* data = Find(attributes, "$DATA");
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->flags & 0x0001u, 0x0001u);
  // Text compresses: fewer clusters hold it than its size needs, and every
  // compression unit of 16 clusters ends in a hole.
  const std::vector<TToolRun> runs = AttributeRuns(attributes, "$DATA");
  EXPECT_LT(AllocatedClusters(runs), (300000 + kCluster - 1) / kCluster);
  EXPECT_EQ(runs.back().lcn, TToolRun::kHoleLcn);
  EXPECT_EQ(Cat(image_, "/Comp/log.txt"), TContent::Text(300000, 3).Slice(0, 300000));
  const std::vector<TNtfsinfoAttribute> plain = Describe(image_, "/Docs/Résumé.txt");
  const TNtfsinfoAttribute* elsewhere = Find(plain, "$DATA");
  ASSERT_NE(elsewhere, nullptr);
  EXPECT_EQ(elsewhere->flags & 0x0001u, 0u);
}

TEST_F(NtfsImageBuilderTest, FileOfMoreThan1023RunsSpansSeveralRecords) {
  const std::vector<TNtfsinfoAttribute> attributes = Describe(image_, "/many.bin");
  const std::vector<TToolRun> runs = AttributeRuns(attributes, "$DATA");
  ASSERT_EQ(runs.size(), 1100u);
  EXPECT_EQ(MergeRuns(runs).size(), 1100u);
  for (size_t i = 1; i < runs.size(); ++i) {
    ASSERT_EQ(runs[i].vcn, static_cast<int64_t>(i));
    ASSERT_EQ(runs[i].lcn, runs[i - 1].lcn + 2) << i;
  }
  const auto dataRecords =
      std::count_if(attributes.begin(), attributes.end(),
                    [](const TNtfsinfoAttribute& attribute) { return attribute.type == "$DATA"; });
  EXPECT_GT(dataRecords, 1);
  EXPECT_NE(Find(attributes, "$ATTRIBUTE_LIST"), nullptr);
}

TEST_F(NtfsImageBuilderTest, OnlyALargeFolderHasAnIndexAllocation) {
  const std::vector<TToolRun> big =
      AttributeRuns(Describe(image_, "/Big"), "$INDEX_ALLOCATION", "$I30");
  ASSERT_FALSE(big.empty());
  EXPECT_GT(AllocatedClusters(big), 0);
  const std::vector<TNtfsinfoAttribute> small = Describe(image_, "/Docs");
  EXPECT_EQ(Find(small, "$INDEX_ALLOCATION"), nullptr);
  EXPECT_EQ(List(image_, "/Big").size(), 60u + 1u);  // with "."
}

TEST_F(NtfsImageBuilderTest, BitmapAndNtfsclusterAgreeOnFreeSpace) {
  const int64_t clusters =
      ParseNtfsinfoNumber(RunTool({"ntfsinfo", "-m", image_}).out, "Volume Size in Clusters");
  ASSERT_GT(clusters, 0);
  const std::vector<TFreeExtent> free = FreeExtentsFromBitmap(Cat(image_, "$Bitmap"), clusters);
  int64_t freeClusters = 0;
  for (const TFreeExtent& extent : free) freeClusters += extent.length;
  EXPECT_EQ(freeClusters, ParseNtfsclusterFreeClusters(RunTool({"ntfscluster", "-i", image_}).out));
  // The gaps left between the fragments are free, and nothing owns them.
  for (size_t i = 0; i + 1 < fragmented_.size(); ++i) {
    const int64_t gap = fragmented_[i].lcn + fragmented_[i].clusters;
    EXPECT_TRUE(std::any_of(free.begin(), free.end(), [&](const TFreeExtent& extent) {
      return extent.lcn <= gap && gap + 3 <= extent.lcn + extent.length;
    })) << gap;
    const std::string range = std::to_string(gap) + "-" + std::to_string(gap + 2);
    EXPECT_TRUE(ParseNtfsclusterOwners(RunTool({"ntfscluster", "-c", range, image_}).out).empty());
  }
  const std::string first = std::to_string(fragmented_[0].lcn);
  const std::vector<TClusterOwner> owners =
      ParseNtfsclusterOwners(RunTool({"ntfscluster", "-c", first + "-" + first, image_}).out);
  ASSERT_EQ(owners.size(), 1u);
  EXPECT_EQ(owners[0].path, "/frag.bin");
  EXPECT_EQ(owners[0].attribute, "$DATA");
}

TEST_F(NtfsImageBuilderTest, EveryItemCarriesTheFixedTime) {
  const std::string listing = RunTool({"ntfsls", "-l", "-p", "/Docs", image_}).out;
  std::vector<std::string> lines = ParseNtfslsNames(listing);
  ASSERT_EQ(lines.size(), 5u);  // ".", and four items
  for (const std::string& line : lines) {
    EXPECT_NE(line.find("Jan  1 00:00 2024"), std::string::npos) << line;
  }
}

TEST(NtfsImageBuilderDeterminism, SameStepsGiveTheSameBytes) {
  TScratchFolder scratch;
  std::vector<TExtent> ignored;
  ASSERT_TRUE(BuildSmallImage(scratch / "a.img", 1, &ignored).ok);
  ASSERT_TRUE(BuildSmallImage(scratch / "b.img", 1, &ignored).ok);
  ASSERT_TRUE(BuildSmallImage(scratch / "c.img", 2, &ignored).ok);
  EXPECT_EQ(FileBytes(scratch / "a.img"), 32 << 20);
  EXPECT_TRUE(SameBytes(scratch / "a.img", scratch / "b.img"));
  EXPECT_FALSE(SameBytes(scratch / "a.img", scratch / "c.img"));
}

// Refused steps change nothing: an image built with them is the image built
// without them, byte for byte.
TEST(NtfsImageBuilderRefusals, RefusedStepsSayWhyAndChangeNothing) {
  TScratchFolder scratch;
  auto build = [](const std::string& image, bool withRefusals, std::vector<std::string>* why) {
    TNtfsImageBuilder builder;
    TNtfsFormat format;
    format.imageBytes = 8u << 20;
    EXPECT_TRUE(builder.Format(image, format).ok);
    EXPECT_TRUE(builder.MakeFolder("/A").ok);
    EXPECT_TRUE(builder.MakeFolder("/Z").ok);
    EXPECT_TRUE(builder.SetFolderCompressed("/Z").ok);
    EXPECT_TRUE(
        builder.MakePlacedFile("/A/placed", TContent::Binary(3 * kCluster, 1), {{900, 3}}).ok);
    int64_t free = 0;
    EXPECT_TRUE(builder.FindFreeRun(8, 1000, &free).ok);
    if (withRefusals) {
      const TBuildStatus refused[] = {
          builder.MakeFile("/Missing/file", TContent::Bytes("x")),
          builder.MakeFolder("/a"),
          builder.MakeFile("relative/file", TContent::Bytes("x")),
          builder.MakeFile("/A/" + std::string(256, 'n'), TContent::Bytes("x")),
          builder.MakePlacedFile("/A/over", TContent::Binary(2 * kCluster, 2), {{901, 2}}),
          builder.MakePlacedFile("/A/overlap", TContent::Binary(4 * kCluster, 2),
                                 {{free, 2}, {free + 1, 2}}),
          builder.MakePlacedFile("/A/outside", TContent::Binary(kCluster, 2), {{1 << 30, 1}}),
          builder.MakePlacedFile("/A/short", TContent::Binary(3 * kCluster, 2), {{free, 2}}),
          builder.MakeSparseFile("/A/hole", TContent::Binary(4 * kCluster, 2), 100, kCluster),
          builder.MakeFragmentedFile("/A/frag", TContent::Binary(2 * kCluster, 2), 3, 1, 0),
          builder.FindFreeRun(1 << 30, 0, nullptr),
          builder.MakePlacedFile("/Z/placed", TContent::Binary(kCluster, 2), {{free, 1}}),
          builder.MakeSparseFile("/Z/sparse", TContent::Binary(3 * kCluster, 2), kCluster,
                                 kCluster),
      };
      for (const TBuildStatus& status : refused) {
        EXPECT_FALSE(status.ok);
        why->push_back(status.message);
      }
    }
    EXPECT_TRUE(builder.MakeFile("/A/after", TContent::Text(10000, 3)).ok);
    EXPECT_TRUE(builder.Finish().ok);
    return free;
  };
  std::vector<std::string> why;
  const int64_t free = build(scratch / "refused.img", true, &why);
  build(scratch / "plain.img", false, nullptr);
  EXPECT_TRUE(SameBytes(scratch / "refused.img", scratch / "plain.img"));
  ASSERT_EQ(why.size(), 13u);
  EXPECT_NE(why[0].find("parent folder /Missing not found"), std::string::npos) << why[0];
  EXPECT_NE(why[1].find("/a: already exists"), std::string::npos) << why[1];
  EXPECT_NE(why[2].find("not an absolute path"), std::string::npos) << why[2];
  EXPECT_NE(why[3].find("longer than 255"), std::string::npos) << why[3];
  EXPECT_NE(why[4].find("clusters 901..902 are not all free"), std::string::npos) << why[4];
  const std::string second = std::to_string(free + 1) + ".." + std::to_string(free + 2);
  EXPECT_NE(why[5].find("clusters " + second + " are not all free"), std::string::npos) << why[5];
  EXPECT_NE(why[4].find("MakePlacedFile /A/over: "), std::string::npos) << why[4];
  EXPECT_NE(why[6].find("outside the volume"), std::string::npos) << why[6];
  EXPECT_NE(why[7].find("hold 2 clusters, the content needs 3"), std::string::npos) << why[7];
  EXPECT_NE(why[8].find("whole clusters"), std::string::npos) << why[8];
  EXPECT_NE(why[9].find("into 3 fragments"), std::string::npos) << why[9];
  EXPECT_NE(why[10].find("no 1073741824 free clusters"), std::string::npos) << why[10];
  EXPECT_NE(why[11].find("/Z/placed: not in a compressed folder"), std::string::npos) << why[11];
  EXPECT_NE(why[12].find("/Z/sparse: not in a compressed folder"), std::string::npos) << why[12];
}

TEST(NtfsImageBuilderGeometry, MatchesWhatNtfsinfoReads) {
  TScratchFolder scratch;
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 24u << 20;
  format.clusterBytes = 2048;
  ASSERT_TRUE(builder.Format(scratch / "a.img", format).ok);
  const int64_t bytes = builder.ClusterBytes();
  const int64_t clusters = builder.ClusterCount();
  const int64_t mftZoneEnd = builder.MftZoneEnd();
  ASSERT_TRUE(builder.Finish().ok);
  EXPECT_EQ(builder.ClusterCount(), 0);
  const std::string info = RunTool({"ntfsinfo", "-m", scratch / "a.img"}).out;
  EXPECT_EQ(bytes, 2048);
  EXPECT_EQ(ParseNtfsinfoNumber(info, "Cluster Size"), bytes);
  // One sector short of the image: the last holds the backup boot sector.
  EXPECT_EQ(clusters, (24 << 20) / 2048 - 1);
  EXPECT_EQ(ParseNtfsinfoNumber(info, "Volume Size in Clusters"), clusters);
  EXPECT_EQ(ParseNtfsinfoNumber(info, "MFT Zone End"), mftZoneEnd);
  EXPECT_GT(mftZoneEnd, clusters / 16);
}

TEST(NtfsImageBuilderRefusals, StepsNeedAMountedVolume) {
  TNtfsImageBuilder builder;
  const TBuildStatus status = builder.MakeFolder("/A");
  EXPECT_FALSE(status.ok);
  EXPECT_NE(status.message.find("no volume is mounted"), std::string::npos) << status.message;
  EXPECT_FALSE(builder.Finish().ok);
  EXPECT_EQ(builder.ClusterCount(), 0);
}

TEST(NtfsImageBuilderRefusals, FormatReportsBadGeometryAndMkntfsFailures) {
  TScratchFolder scratch;
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.clusterBytes = 3000;
  TBuildStatus status = builder.Format(scratch / "a.img", format);
  EXPECT_FALSE(status.ok);
  EXPECT_NE(status.message.find("not a power of two"), std::string::npos) << status.message;
  // Far too small for NTFS: mkntfs itself refuses, and says so.
  format.clusterBytes = 4096;
  format.imageBytes = 64 * 512;
  status = builder.Format(scratch / "a.img", format);
  EXPECT_FALSE(status.ok);
  EXPECT_NE(status.message.find("mkntfs failed"), std::string::npos) << status.message;
  EXPECT_FALSE(builder.Format(scratch / "missing/a.img", TNtfsFormat()).ok);
}

TEST(NtfsImageBuilderRefusals, CompressionNeedsSmallClusters) {
  TScratchFolder scratch;
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 16u << 20;
  format.clusterBytes = 8192;
  ASSERT_TRUE(builder.Format(scratch / "a.img", format).ok);
  ASSERT_TRUE(builder.MakeFolder("/C").ok);
  const TBuildStatus status = builder.SetFolderCompressed("/C");
  EXPECT_FALSE(status.ok);
  EXPECT_NE(status.message.find("4096"), std::string::npos) << status.message;
  EXPECT_TRUE(builder.Finish().ok);
}

TEST(NtfsImageContent, GeneratedBytesDependOnlyOnSeedAndOffset) {
  const TContent text = TContent::Text(10000, 9);
  const TContent binary = TContent::Binary(10000, 9);
  // Any piece equals the same bytes of the whole.
  EXPECT_EQ(text.Slice(0, 10000).substr(1234, 777), text.Slice(1234, 777));
  EXPECT_EQ(binary.Slice(0, 10000).substr(4321, 999), binary.Slice(4321, 999));
  EXPECT_NE(binary.Slice(0, 64), TContent::Binary(10000, 10).Slice(0, 64));
  EXPECT_NE(text.Slice(0, 64), TContent::Text(10000, 10).Slice(0, 64));
  // Text is lines of words, each 64 bytes with its newline.
  const std::string lines = text.Slice(0, 256);
  for (size_t i = 63; i < lines.size(); i += 64) EXPECT_EQ(lines[i], '\n');
  EXPECT_EQ(lines.find('\0'), std::string::npos);
  // Fixed numbers: the same on every standard library and every run.
  EXPECT_EQ(TSplitMix64(0).Next(), 0xE220A8397B1DCDAFull);
}

TEST(NtfsImageToolOutput, ParsesRunsOfAnAttributeSpreadOverRecords) {
  // Excerpts of ntfsinfo -v: a $DATA mapped by two records, each with the
  // placeholder for what the other maps, and an index allocation whose index
  // block dump follows its runlist.
  const std::string output =
      "Dumping attribute $STANDARD_INFORMATION (0x10) from mft record 75 (0x4b)\n"
      "\tResident: \t\t Yes\n"
      "\tFile attributes:\t ARCHIVE COMPRESSED (0x00000820)\n"
      "Dumping attribute $DATA (0x80) from mft record 75 (0x4b)\n"
      "\tResident: \t\t No\n"
      "\tAttribute flags:\t 0x8000\n"
      "\tLowest VCN\t\t 0 (0x0)\n"
      "\tData size:\t\t 4914200 (0x4afc18)\n"
      "\tRunlist:\tVCN\t\tLCN\t\tLength\n"
      "\t\t\t0x0\t\t0x6ccb\t\t0x1\n"
      "\t\t\t0x1\t\t<HOLE>\t\t0x3\n"
      "\t\t\t0x4\t\t<RL_NOT_MAPPED>\t0x41e\n"
      "Dumping attribute $DATA (0x80) from mft record 76 (0x4c)\n"
      "\tResident: \t\t No\n"
      "\tLowest VCN\t\t 4 (0x4)\n"
      "\tRunlist:\tVCN\t\tLCN\t\tLength\n"
      "\t\t\t0x0\t\t<RL_NOT_MAPPED>\t0x4\n"
      "\t\t\t0x4\t\t0x6ccc\t\t0x2\n"
      "\t\t\t0x6\t\t<WEIRD>\t\t0x1\n"
      "Dumping attribute $INDEX_ALLOCATION (0xa0) from mft record 78 (0x4e)\n"
      "\tResident: \t\t No\n"
      "\tAttribute name:\t\t '$I30'\n"
      "\tRunlist:\tVCN\t\tLCN\t\tLength\n"
      "\t\t\t0x0\t\t0x469\t\t0x3\n"
      "\tDumping index block:\n"
      "\t\tNode VCN:\t\t 0 (0x0)\n"
      "\t\tData size:\t\t 99 (0x63)\n"
      "End of inode reached\n";
  const std::vector<TNtfsinfoAttribute> attributes = ParseNtfsinfoAttributes(output);
  ASSERT_EQ(attributes.size(), 4u);
  EXPECT_EQ(attributes[0].fileAttributes, 0x820u);
  EXPECT_TRUE(attributes[0].resident);
  EXPECT_FALSE(attributes[1].resident);
  EXPECT_EQ(attributes[1].flags, 0x8000u);
  EXPECT_EQ(attributes[1].dataSize, 4914200);
  EXPECT_EQ(attributes[1].mftRecord, 75u);
  EXPECT_EQ(attributes[2].mftRecord, 76u);
  EXPECT_EQ(attributes[2].lowestVcn, 4);
  EXPECT_EQ(attributes[3].name, "$I30");
  EXPECT_EQ(attributes[3].dataSize, -1);  // the index block's size is not the attribute's
  const std::vector<TToolRun> data = {
      {0, 0x6ccb, 1}, {1, TToolRun::kHoleLcn, 3}, {4, 0x6ccc, 2}, {6, TToolRun::kUnknownLcn, 1}};
  EXPECT_EQ(AttributeRuns(attributes, "$DATA"), data);
  EXPECT_EQ(AttributeRuns(attributes, "$INDEX_ALLOCATION", "$I30"),
            (std::vector<TToolRun>{{0, 0x469, 3}}));
  EXPECT_TRUE(AttributeRuns(attributes, "$INDEX_ALLOCATION").empty());
}

TEST(NtfsImageToolOutput, MergesOnlyRunsThatContinueEachOther) {
  const std::vector<TToolRun> runs = {{0, 100, 2}, {2, 102, 3}, {5, -1, 1},  {6, -1, 2},
                                      {8, 105, 1}, {9, 200, 1}, {10, 201, 1}};
  const std::vector<TToolRun> merged = {{0, 100, 5}, {5, -1, 3}, {8, 105, 1}, {9, 200, 2}};
  EXPECT_EQ(MergeRuns(runs), merged);
}

TEST(NtfsImageToolOutput, ParsesNtfsclusterAndTheBitmap) {
  const std::string info =
      "bytes of free space     : 25600000\n"
      "clusters of free space  : 6250\n"
      "percentage free space   : 76\n";
  EXPECT_EQ(ParseNtfsclusterFreeClusters(info), 6250);
  EXPECT_EQ(ParseNtfsclusterFreeClusters("nothing here\n"), -1);
  const std::string owners =
      "Searching for cluster range 1129-1131\n"
      "Inode 74 is an extent of inode 73.\n"
      "Inode 78 /Big/$INDEX_ALLOCATION($I30)\n"
      "Inode 71 /a b/Résumé.txt/$DATA\n"
      "Inode 71 /a b/Résumé.txt/$DATA\n"
      "* 2 inodes found\n";
  const std::vector<TClusterOwner> parsed = ParseNtfsclusterOwners(owners);
  ASSERT_EQ(parsed.size(), 2u);
  EXPECT_EQ(parsed[0].inode, 78u);
  EXPECT_EQ(parsed[0].path, "/Big");
  EXPECT_EQ(parsed[0].attribute, "$INDEX_ALLOCATION($I30)");
  EXPECT_EQ(parsed[1].path, "/a b/Résumé.txt");
  EXPECT_TRUE(ParseNtfsclusterOwners("* no inode found\n").empty());
  const std::string volume = "\tCluster Size: 4096\n\tVolume Size in Clusters: 8191\n";
  EXPECT_EQ(ParseNtfsinfoNumber(volume, "Volume Size in Clusters"), 8191);
  EXPECT_EQ(ParseNtfsinfoNumber(volume, "Cluster Size"), 4096);
  EXPECT_EQ(ParseNtfsinfoNumber(volume, "Size"), -1);
  // Clusters 0-2 used, 3 free, 4-11 used, 12-13 free, 14 past the end.
  const std::string bitmap = {'\xF7', '\x0F'};
  EXPECT_EQ(FreeExtentsFromBitmap(bitmap, 14), (std::vector<TFreeExtent>{{3, 1}, {12, 2}}));
  EXPECT_EQ(FreeExtentsFromBitmap(bitmap, 16), (std::vector<TFreeExtent>{{3, 1}, {12, 4}}));
}

// The sample volume, built per test (about half a second each).
TEST(NtfsImageSample, SameSeedSameBytesOtherSeedOtherBytes) {
  TScratchFolder scratch;
  TSampleSummary first;
  TSampleSummary again;
  TSampleSummary other;
  ASSERT_TRUE(BuildSampleVolume(scratch / "a.img", 7, &first).ok);
  ASSERT_TRUE(BuildSampleVolume(scratch / "b.img", 7, &again).ok);
  ASSERT_TRUE(BuildSampleVolume(scratch / "c.img", 8, &other).ok);
  EXPECT_EQ(FileBytes(scratch / "a.img"), static_cast<int64_t>(kSampleImageBytes));
  EXPECT_TRUE(SameBytes(scratch / "a.img", scratch / "b.img"));
  EXPECT_FALSE(SameBytes(scratch / "a.img", scratch / "c.img"));
  EXPECT_EQ(first.dataBytes, again.dataBytes);
  EXPECT_NE(first.dataBytes, other.dataBytes);
}

TEST(NtfsImageSample, HoldsEveryAdvertisedLayout) {
  TScratchFolder scratch;
  const std::string image = scratch / "sample.img";
  TSampleSummary summary;
  const TBuildStatus status = BuildSampleVolume(image, 7, &summary);
  ASSERT_TRUE(status.ok) << status.message;
  EXPECT_GE(summary.folders + summary.files, 2500);

  // Every item the listing shows, and the deepest folder.
  const TToolOutput tree = RunTool({"ntfsls", "-R", "-p", "/", image});
  ASSERT_EQ(tree.exitCode, 0) << tree.err;
  size_t deepest = 0;
  int64_t listed = 0;
  for (const std::string& line : ParseNtfslsNames(tree.out)) {
    if (line.front() == '/' && line.back() == ':') {
      deepest = std::max<size_t>(deepest, std::count(line.begin(), line.end(), '/'));
    } else if (line != "." && line != "..") {
      ++listed;
    }
  }
  EXPECT_EQ(listed, summary.folders + summary.files);
  EXPECT_GE(deepest, 16u);  // /Users/alice/Projects/diskopt and 12 below

  for (size_t i = 0; i < std::size(kSampleFragmentedFiles); ++i) {
    EXPECT_EQ(static_cast<int64_t>(MergeRuns(DataRuns(image, kSampleFragmentedFiles[i])).size()),
              kSampleFragmentedRuns[i])
        << kSampleFragmentedFiles[i];
  }
  EXPECT_EQ(static_cast<int64_t>(DataRuns(image, kSampleManyRunsFile).size()), kSampleManyRuns);

  const std::vector<TToolRun> sparse = MergeRuns(DataRuns(image, kSampleSparseFile));
  ASSERT_EQ(sparse.size(), 3u);
  EXPECT_EQ(sparse[1].lcn, TToolRun::kHoleLcn);

  const std::vector<std::string> logs = List(image, kSampleCompressedFolder);
  ASSERT_GT(logs.size(), 10u);
  for (const std::string& name : logs) {
    if (name == "." || name == "..") continue;
    const std::vector<TNtfsinfoAttribute> attributes =
        Describe(image, std::string(kSampleCompressedFolder) + "/" + name);
    const TNtfsinfoAttribute* data = Find(attributes, "$DATA");
    ASSERT_NE(data, nullptr) << name;
    EXPECT_EQ(data->flags & 0x0001u, 0x0001u) << name;
  }

  for (const char* path : kSampleNonAsciiNames) {
    const std::string full = path;
    const size_t slash = full.rfind('/');
    EXPECT_TRUE(Contains(List(image, full.substr(0, slash)), full.substr(slash + 1))) << path;
  }
  for (const char* path : kSampleLargeFiles) {
    const std::vector<TNtfsinfoAttribute> attributes = Describe(image, path);
    const TNtfsinfoAttribute* data = Find(attributes, "$DATA");
    ASSERT_NE(data, nullptr) << path;
    EXPECT_GT(data->dataSize, 2000000) << path;
    EXPECT_EQ(MergeRuns(AttributeRuns(attributes, "$DATA")).size(), 1u) << path;
  }
  EXPECT_FALSE(
      AttributeRuns(Describe(image, kSampleLargeFolder), "$INDEX_ALLOCATION", "$I30").empty());
}

}  // namespace
