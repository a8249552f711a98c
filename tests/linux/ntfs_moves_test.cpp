// Clusters moved through the services' FSCTL_MOVE_FILE on a real NTFS
// image: fragmented files of several sizes, a folder's index, a file with a
// named stream, a file under two names. Every stream reads the same bytes
// afterwards, the cluster bitmap agrees with every attribute (an
// independent reader, ntfs_bitmap_check.h), the runs read back lie at the
// target, and a fresh analysis through the same services sees them there.
// Requests the file system would refuse are refused by status, changing
// nothing.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/linux/linux_services.h"
#include "platform/linux/ntfs_cluster_move.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_bitmap_check.h"
#include "tests/linux/ntfs_move_test_support.h"
#include "tools/ntfs_image_builder.h"

namespace {

constexpr int64_t kClusterBytes = 4096;

TBuildStatus BuildMoveVolume(const std::string& image) {
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 64u << 20;
  std::vector<TBuildStatus> steps = {builder.Format(image, format)};
  for (const char* folder : {"/frag", "/docs", "/links", "/packed"}) {
    steps.push_back(builder.MakeFolder(folder));
  }
  steps.push_back(builder.MakeFragmentedFile("/frag/small.bin", TContent::Binary(3 * 4096 + 100, 1),
                                             3, 2, 4000));
  steps.push_back(
      builder.MakeFragmentedFile("/frag/medium.bin", TContent::Binary(600000, 2), 6, 3, 5000));
  steps.push_back(
      builder.MakeFragmentedFile("/frag/large.bin", TContent::Binary(6u << 20, 3), 12, 5, 6000));
  // Enough long names that the folder's index leaves its record.
  for (int i = 0; i < 80; ++i) {
    steps.push_back(
        builder.MakeFile("/docs/a document with a rather long name " + std::to_string(i) + ".txt",
                         TContent::Bytes("x")));
  }
  steps.push_back(
      builder.MakeFragmentedFile("/links/first.bin", TContent::Binary(90000, 5), 2, 2, 9000));
  steps.push_back(builder.MakeHardLink("/links/first.bin", "/docs/second name.bin"));
  steps.push_back(builder.MakeFile("/streams.bin", TContent::Binary(50000, 4)));
  steps.push_back(builder.MakeSparseFile("/sparse.bin", TContent::Binary(200000, 6),
                                         16 * kClusterBytes, 16 * kClusterBytes));
  steps.push_back(builder.SetFolderCompressed("/packed"));
  steps.push_back(builder.MakeFile("/packed/text.txt", TContent::Text(300000, 7)));
  steps.push_back(builder.MakeFile("/tiny.txt", TContent::Bytes("tiny")));
  steps.push_back(builder.Finish());
  steps.push_back(AddNamedStream(image, "/streams.bin", "extra", TContent::Binary(30000, 8)));
  for (const TBuildStatus& step : steps) {
    if (!step) return step;
  }
  return TBuildStatus::Success();
}

// The cluster that holds vcn by runs; -1 for none.
int64_t LcnAt(const std::vector<TStreamRun>& runs, int64_t vcn) {
  for (const TStreamRun& run : runs) {
    if (vcn >= run.vcn && vcn < run.vcn + run.length)
      return run.lcn < 0 ? -1 : run.lcn + vcn - run.vcn;
  }
  return -1;
}

class NtfsMoves : public testing::Test {
 protected:
  void SetUp() override {
    const TBuildStatus built = BuildMoveVolume(image_);
    ASSERT_TRUE(built.ok) << built.message;
    drives_.Map('D', image_);
    hashesBefore_ = HashStreams(image_);
    ASSERT_FALSE(hashesBefore_.empty());
    checkBefore_ = CheckClusterBitmap(image_);
    ASSERT_TRUE(checkBefore_.Sound()) << checkBefore_.Text();
  }

  // The volume's streams and bitmap are as sound as before, and read the
  // same bytes.
  void ExpectIntact() {
    EXPECT_EQ(HashStreams(image_), hashesBefore_);
    const TBitmapCheck check = CheckClusterBitmap(image_);
    EXPECT_TRUE(check.Sound()) << check.Text();
    EXPECT_EQ(check.usedButUnheld, checkBefore_.usedButUnheld) << check.Text();
  }

  TScratchFolder scratch_;
  const std::string image_ = scratch_ / "moves.img";
  TDriveTable drives_;
  std::map<std::string, uint64_t> hashesBefore_;
  TBitmapCheck checkBefore_;
};

TEST_F(NtfsMoves, MovedStreamsKeepTheirBytesAndLieAtTheTarget) {
  TLinuxServices services(drives_);
  // An analysis first: its mounts and MFT view are cached for the drive.
  THandle analysed = services.OpenForRead("D:\\frag\\medium.bin", false);
  ASSERT_NE(analysed, InvalidHandle());
  const std::vector<TStreamRun> analysedRuns = RunsThrough(services, analysed);
  services.Close(analysed);
  ASSERT_GT(analysedRuns.size(), 1u);
  TFileIdentity firstName{};
  THandle first = services.OpenForRead("D:\\links\\first.bin", false);
  ASSERT_TRUE(services.FileIdentity(first, &firstName));
  services.Close(first);

  THandle volume = services.OpenVolumeForMoves('D');
  ASSERT_NE(volume, InvalidHandle()) << services.LastErrorText();
  const struct {
    const char* path;
    bool folder;
    int64_t vcn;    // first cluster moved
    int64_t count;  // clusters moved; -1 for the whole stream
  } cases[] = {
      {"D:\\frag\\small.bin", false, 0, -1},
      {"D:\\frag\\medium.bin", false, 0, -1},
      {"D:\\frag\\large.bin", false, 0, -1},
      // A stretch across several fragments of a large file.
      {"D:\\frag\\large.bin", false, 100, 700},
      {"D:\\docs", true, 0, -1},
      {"D:\\streams.bin", false, 0, -1},
      // The second name of a hard-linked file.
      {"D:\\docs\\second name.bin", false, 0, -1},
  };
  std::map<std::string, std::vector<TStreamRun>> movedRuns;
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(test.path) + " from " + std::to_string(test.vcn));
    THandle file = services.OpenFileForMoves(volume, test.path, test.folder);
    ASSERT_NE(file, InvalidHandle()) << services.LastErrorText();
    const std::vector<TStreamRun> before = RunsThrough(services, file);
    ASSERT_FALSE(before.empty());
    const int64_t count = test.count < 0 ? AllocatedClusters(before) : test.count;
    int64_t clusters = 0;
    const std::vector<uint8_t> bitmap = BitmapThrough(services, volume, &clusters);
    const int64_t target = FreeStretch(bitmap, clusters, count, 8000);
    ASSERT_GE(target, 0);
    ASSERT_EQ(MoveThrough(services, volume, file, test.vcn, target, static_cast<uint32_t>(count)),
              kStatusSuccess)
        << services.LastErrorText();
    const std::vector<TStreamRun> after = RunsThrough(services, file);
    if (test.count < 0) {
      EXPECT_EQ(after, (std::vector<TStreamRun>{{0, target, count}}));
    } else {
      EXPECT_EQ(LcnAt(after, test.vcn), target);
      EXPECT_EQ(LcnAt(after, test.vcn + count - 1), target + count - 1);
      EXPECT_EQ(LcnAt(after, test.vcn - 1), LcnAt(before, test.vcn - 1));
      EXPECT_EQ(LcnAt(after, test.vcn + count), LcnAt(before, test.vcn + count));
    }
    // The live bitmap has the target used and the old clusters free.
    const std::vector<uint8_t> now = BitmapThrough(services, volume, &clusters);
    for (const TStreamRun& run : before) {
      for (int64_t lcn = run.lcn; lcn < run.lcn + run.length; ++lcn) {
        const bool used = (now[static_cast<size_t>(lcn / 8)] >> (lcn % 8) & 1) != 0;
        const bool moved =
            run.vcn + (lcn - run.lcn) >= test.vcn && run.vcn + (lcn - run.lcn) < test.vcn + count;
        EXPECT_EQ(used, !moved) << "cluster " << lcn;
      }
    }
    for (int64_t lcn = target; lcn < target + count; ++lcn) {
      EXPECT_NE(now[static_cast<size_t>(lcn / 8)] >> (lcn % 8) & 1, 0) << "cluster " << lcn;
    }
    if (std::string(test.path) == "D:\\docs\\second name.bin") {
      TFileIdentity identity{};
      EXPECT_TRUE(services.FileIdentity(file, &identity));
      EXPECT_EQ(identity, firstName);
    }
    movedRuns[test.path] = after;
    services.Close(file);
  }
  services.Close(volume);
  ExpectIntact();

  // A fresh analysis through the same services reads the volume anew.
  THandle again = services.OpenForRead("D:\\frag\\medium.bin", false);
  ASSERT_NE(again, InvalidHandle());
  EXPECT_EQ(RunsThrough(services, again), movedRuns["D:\\frag\\medium.bin"]);
  services.Close(again);
  THandle folder = services.OpenForRead("D:\\docs", true);
  EXPECT_EQ(RunsThrough(services, folder), movedRuns["D:\\docs"]);
  services.Close(folder);
  TFindData entry;
  THandle find = services.FindFirst("D:\\docs\\*.*", &entry);
  ASSERT_NE(find, InvalidHandle());
  int listed = 1;
  while (services.FindNext(find, &entry)) ++listed;
  services.FindEnd(find);
  EXPECT_EQ(listed, 2 + 80 + 1);  // ".", "..", the documents, the second name
}

TEST_F(NtfsMoves, RequestsTheFileSystemWouldRefuseAreRefusedAndChangeNothing) {
  TLinuxServices services(drives_);
  THandle volume = services.OpenVolumeForMoves('D');
  ASSERT_NE(volume, InvalidHandle()) << services.LastErrorText();
  int64_t clusters = 0;
  const std::vector<uint8_t> bitmap = BitmapThrough(services, volume, &clusters);
  const int64_t free = FreeStretch(bitmap, clusters, 64, 8000);
  ASSERT_GE(free, 0);
  THandle small = services.OpenFileForMoves(volume, "D:\\frag\\small.bin", false);
  ASSERT_NE(small, InvalidHandle()) << services.LastErrorText();
  const int64_t taken = RunsThrough(services, small).at(0).lcn;
  const int64_t mediumClusters = (600000 + kClusterBytes - 1) / kClusterBytes;

  const struct {
    const char* path;
    bool folder;
    int64_t vcn;
    int64_t lcn;  // -1: the free stretch
    uint32_t count;
    TNtStatus status;
    const char* said;  // a part of LastErrorText
  } cases[] = {
      {"D:\\frag\\medium.bin", false, 0, taken, 2, kStatusAlreadyCommitted, "in use"},
      {"D:\\frag\\medium.bin", false, mediumClusters - 1, -1, 2, kStatusInvalidParameter,
       "past its last cluster"},
      {"D:\\frag\\medium.bin", false, 0, clusters - 1, 2, kStatusInvalidParameter,
       "outside the volume"},
      {"D:\\frag\\medium.bin", false, 0, -1, 0, kStatusInvalidParameter, "no clusters"},
      {"D:\\sparse.bin", false, 14, -1, 4, kStatusInvalidParameter, "hole"},
      {"D:\\sparse.bin", false, 0, -1, 4, kStatusNotSupported, "sparse"},
      {"D:\\packed\\text.txt", false, 0, -1, 1, kStatusNotSupported, "compressed"},
      {"D:\\tiny.txt", false, 0, -1, 1, kStatusNotSupported, "resident"},
      {"D:\\docs\\a document with a rather long name 1.txt", false, 0, -1, 1, kStatusNotSupported,
       "resident"},
      {"D:\\$MFT", false, 0, -1, 1, kStatusNotSupported, "file system's own"},
      {"D:\\", true, 0, -1, 1, kStatusNotSupported, "file system's own"},
      {"D:\\$Extend\\$Quota", false, 0, -1, 1, kStatusNotSupported, "file system's own"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(std::string(test.path) + " from " + std::to_string(test.vcn));
    THandle file = services.OpenFileForMoves(volume, test.path, test.folder);
    ASSERT_NE(file, InvalidHandle()) << services.LastErrorText();
    EXPECT_EQ(
        MoveThrough(services, volume, file, test.vcn, test.lcn < 0 ? free : test.lcn, test.count),
        test.status);
    const std::string said = services.LastErrorText();
    EXPECT_NE(said.find(test.said), std::string::npos) << said;
    services.Close(file);
  }

  // Handles that name no file of this volume, and a short request.
  THandle readOnly = services.OpenForRead("D:\\frag\\medium.bin", false);
  EXPECT_EQ(MoveThrough(services, volume, readOnly, 0, free, 1), kStatusInvalidHandle);
  services.Close(readOnly);
  TIoStatusBlock io = {};
  int32_t shortRequest = 0;
  EXPECT_EQ(services.FsControl(volume, &io, kFsctlMoveFile, &shortRequest, sizeof shortRequest,
                               nullptr, 0),
            kStatusInvalidParameter);
  // Opens of what is not there, or of the other kind.
  EXPECT_EQ(services.OpenFileForMoves(volume, "D:\\no such file", false), InvalidHandle());
  EXPECT_EQ(services.OpenFileForMoves(volume, "D:\\docs", false), InvalidHandle());
  EXPECT_NE(services.LastErrorText().find("a folder"), std::string::npos);
  EXPECT_EQ(services.OpenFileForMoves(volume, "D:\\tiny.txt", true), InvalidHandle());
  services.Close(small);
  services.Close(volume);
  ExpectIntact();
}

// Moves that cut a contiguous file into hundreds of runs: its mapping no
// longer fits its MFT record and grows into extension records through an
// attribute list, read back whole.
TEST(NtfsMoveMapping, AMappingThatOutgrowsItsRecordIsWrittenWhole) {
  TScratchFolder scratch;
  const std::string image = scratch / "grow.img";
  constexpr int64_t kFileClusters = 400;
  {
    TNtfsImageBuilder builder;
    TNtfsFormat format;
    format.imageBytes = 64u << 20;
    for (const TBuildStatus& step :
         {builder.Format(image, format),
          builder.MakePlacedFile("/grow.bin", TContent::Binary(kFileClusters * kClusterBytes, 9),
                                 {{4000, kFileClusters}}),
          builder.Finish()}) {
      ASSERT_TRUE(step.ok) << step.message;
    }
  }
  const std::map<std::string, uint64_t> hashes = HashStreams(image);
  TDriveTable drives;
  drives.Map('D', image);
  TLinuxServices services(drives);
  THandle volume = services.OpenVolumeForMoves('D');
  ASSERT_NE(volume, InvalidHandle()) << services.LastErrorText();
  THandle file = services.OpenFileForMoves(volume, "D:\\grow.bin", false);
  ASSERT_NE(file, InvalidHandle()) << services.LastErrorText();
  // Every other cluster to every other cluster of a free stretch: no two
  // pieces continue each other.
  for (int64_t vcn = 0; vcn < kFileClusters; vcn += 2) {
    ASSERT_EQ(MoveThrough(services, volume, file, vcn, 9000 + vcn, 1), kStatusSuccess)
        << "cluster " << vcn << ": " << services.LastErrorText();
  }
  const std::vector<TStreamRun> runs = RunsThrough(services, file);
  EXPECT_EQ(runs.size(), static_cast<size_t>(kFileClusters));
  for (int64_t vcn = 0; vcn < kFileClusters; ++vcn) {
    EXPECT_EQ(LcnAt(runs, vcn), vcn % 2 == 0 ? 9000 + vcn : 4000 + vcn) << "cluster " << vcn;
  }
  services.Close(file);
  services.Close(volume);
  EXPECT_EQ(HashStreams(image), hashes);
  const TBitmapCheck check = CheckClusterBitmap(image);
  EXPECT_TRUE(check.Sound()) << check.Text();
  THandle again = services.OpenForRead("D:\\grow.bin", false);
  EXPECT_EQ(RunsThrough(services, again), runs);
  services.Close(again);
}

// The arithmetic of a move, on runs with holes and adjacent pieces.
TEST(NtfsMoveArithmetic, RangesAndRunsAfterAMove) {
  const std::vector<TStreamRun> runs = {{0, 100, 4}, {4, -1, 4}, {8, 200, 4}, {12, 300, 4}};
  const struct {
    int64_t vcn, count;
    TMoveRange range;
    std::vector<TStreamRun> pieces;
  } ranges[] = {
      {0, 4, TMoveRange::kAllocated, {{0, 100, 4}}},
      {2, 1, TMoveRange::kAllocated, {{2, 102, 1}}},
      {9, 6, TMoveRange::kAllocated, {{9, 201, 3}, {12, 300, 3}}},
      {3, 2, TMoveRange::kHole, {}},
      {14, 3, TMoveRange::kPastEnd, {}},
      {16, 1, TMoveRange::kPastEnd, {}},
  };
  for (const auto& test : ranges) {
    SCOPED_TRACE(test.vcn);
    std::vector<TStreamRun> pieces;
    EXPECT_EQ(StreamRange(runs, test.vcn, test.count, &pieces), test.range);
    if (test.range == TMoveRange::kAllocated) {
      EXPECT_EQ(pieces, test.pieces);
    }
  }
  // The middle of a run; a stretch over two runs; onto the clusters right
  // after the run before, which merges.
  EXPECT_EQ(MovedRuns(runs, 1, 2, 500),
            (std::vector<TStreamRun>{
                {0, 100, 1}, {1, 500, 2}, {3, 103, 1}, {4, -1, 4}, {8, 200, 4}, {12, 300, 4}}));
  EXPECT_EQ(
      MovedRuns(runs, 10, 4, 500),
      (std::vector<TStreamRun>{{0, 100, 4}, {4, -1, 4}, {8, 200, 2}, {10, 500, 4}, {14, 302, 2}}));
  EXPECT_EQ(MovedRuns(runs, 12, 4, 204),
            (std::vector<TStreamRun>{{0, 100, 4}, {4, -1, 4}, {8, 200, 8}}));

  // Bits from cluster 16 on: 16..23 free but 21, 24..31 free.
  const uint8_t bits[] = {0x20, 0x00};
  EXPECT_EQ(FirstUsedCluster(bits, 16, 16, 5), -1);
  EXPECT_EQ(FirstUsedCluster(bits, 16, 16, 6), 21);
  EXPECT_EQ(FirstUsedCluster(bits, 16, 22, 10), -1);
  EXPECT_EQ(FirstUsedCluster(bits, 16, 18, 14), 21);
}

}  // namespace
