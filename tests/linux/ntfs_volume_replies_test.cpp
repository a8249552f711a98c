// The two control requests on handles of a real NTFS image, asked directly
// with reply buffers of every size: the replies split as Windows splits
// them, and what they hold is what ntfs-3g's tools read.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/handle_object.h"
#include "platform/linux/fs_control_replies.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/linux/ntfs_volume_test_image.h"

namespace {

struct TRetrievalReply {
  TNtStatus status;
  uintptr_t information;
  int64_t startingVcn;
  std::vector<TToolRun> runs;  // the extents as runs, from startingVcn
};

class NtfsVolumeReplies : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(image_.built.ok) << image_.built.message;
    services_ = ServicesWithDrive(scratch_.Path(), 'D', image_.path);
  }

  THandle Open(const std::string& path, bool backupSemantics = false) {
    THandle handle = services_->OpenForRead(path.c_str(), backupSemantics);
    EXPECT_NE(handle, InvalidHandle()) << path;
    opened_.push_back(handle);
    return handle;
  }

  void TearDown() override {
    for (THandle handle : opened_) services_->Close(handle);
  }

  static TRetrievalReply Retrieve(THandle file, int64_t startingVcn, uint32_t outputLength) {
    TStartingVcnInput input = {startingVcn};
    std::vector<unsigned char> output(outputLength + 1, 0xEE);
    TIoStatusBlock io = {};
    TRetrievalReply reply{};
    reply.status = ObjectFsControl(file, &io, kFsctlGetRetrievalPointers, &input, sizeof(input),
                                   output.data(), outputLength);
    EXPECT_EQ(io.status, reply.status);
    reply.information = io.information;
    EXPECT_EQ(output[outputLength], 0xEE) << "written past the buffer";
    if (reply.status != kStatusSuccess && reply.status != kStatusBufferOverflow) return reply;
    TRetrievalPointersHeader header;
    std::memcpy(&header, output.data(), sizeof(header));
    reply.startingVcn = header.startingVcn;
    int64_t vcn = header.startingVcn;
    for (uint32_t i = 0; i < header.extentCount; ++i) {
      TRetrievalExtent extent;
      std::memcpy(&extent, output.data() + sizeof(header) + i * sizeof(extent), sizeof(extent));
      reply.runs.push_back(TToolRun{vcn, extent.lcn, extent.nextVcn - vcn});
      vcn = extent.nextVcn;
    }
    return reply;
  }

  std::vector<TToolRun> NtfsinfoRuns(const std::string& path) {
    const TToolOutput info = RunTool({"ntfsinfo", "-v", "-F", path, image_.path});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    return MergeRuns(AttributeRuns(ParseNtfsinfoAttributes(info.out), "$DATA"));
  }

  const TNtfsTestImage& image_ = SharedNtfsTestImage();
  TScratchFolder scratch_;
  std::unique_ptr<TLinuxServices> services_;
  std::vector<THandle> opened_;
};

TEST_F(NtfsVolumeReplies, SmallBuffersSplitTheRunsWithoutLosingOne) {
  THandle file = Open("D:\\many.bin");
  const std::vector<TToolRun> expected = NtfsinfoRuns("/many.bin");
  ASSERT_EQ(expected.size(), 1100u);
  for (const uint32_t room : {1u, 7u, 1023u, 1100u, 2000u}) {
    std::vector<TToolRun> read;
    int64_t vcn = 0;
    int replies = 0;
    for (;;) {
      const TRetrievalReply reply = Retrieve(file, vcn, 16 + 16 * room);
      ++replies;
      ASSERT_TRUE(reply.status == kStatusSuccess || reply.status == kStatusBufferOverflow)
          << std::hex << reply.status;
      EXPECT_EQ(reply.startingVcn, vcn);
      EXPECT_EQ(reply.information, 16 + 16 * reply.runs.size());
      read.insert(read.end(), reply.runs.begin(), reply.runs.end());
      if (reply.status == kStatusSuccess) break;
      EXPECT_EQ(reply.runs.size(), room);
      vcn = read.back().vcn + read.back().length;
    }
    EXPECT_EQ(read, expected) << room << " extents a reply";
    EXPECT_EQ(replies, static_cast<int>((1100 + room - 1) / room)) << room;
  }
  // A buffer that ends inside an extent holds the whole extents before it.
  const TRetrievalReply uneven = Retrieve(file, 0, 16 + 16 * 3 + 15);
  EXPECT_EQ(uneven.status, kStatusBufferOverflow);
  EXPECT_EQ(uneven.runs.size(), 3u);
}

TEST_F(NtfsVolumeReplies, AReplyStartsAtTheRunHoldingTheVcnAsked) {
  THandle file = Open("D:\\sparse.bin");
  const std::vector<TToolRun> expected = NtfsinfoRuns("/sparse.bin");
  ASSERT_EQ(expected.size(), 3u);
  ASSERT_EQ(expected[1].lcn, -1);
  // VCN 20 lies in the hole of clusters 16 to 143.
  const TRetrievalReply inHole = Retrieve(file, 20, 16 + 16);
  EXPECT_EQ(inHole.status, kStatusBufferOverflow);
  EXPECT_EQ(inHole.startingVcn, 16);
  EXPECT_EQ(inHole.runs, (std::vector<TToolRun>{expected[1]}));
  const int64_t last = expected[2].vcn + expected[2].length - 1;
  const TRetrievalReply tail = Retrieve(file, last, 4096);
  EXPECT_EQ(tail.status, kStatusSuccess);
  EXPECT_EQ(tail.runs, (std::vector<TToolRun>{expected[2]}));
}

TEST_F(NtfsVolumeReplies, NoRunsToGiveIsTheEndOfTheFile) {
  const struct {
    const char* path;
    bool folder;
    int64_t vcn;
  } cases[] = {
      {"D:\\frag.bin", false, 25},              // just past the last cluster
      {"D:\\frag.bin", false, 1 << 30},         // far past it
      {"D:\\Docs\\small.txt", false, 0},        // resident
      {"D:\\empty.txt", false, 0},              // empty
      {"D:\\Docs\\Ünïcode 文件夹\\", true, 0},  // a small folder: no index allocation
  };
  for (const auto& c : cases) {
    const TRetrievalReply reply = Retrieve(Open(c.path, c.folder), c.vcn, 4096);
    EXPECT_EQ(reply.status, kStatusEndOfFile) << c.path << " at " << c.vcn;
    EXPECT_EQ(reply.information, 0u) << c.path;
  }
  EXPECT_EQ(Retrieve(Open("D:\\frag.bin"), 24, 4096).status, kStatusSuccess);
}

// Why the last call failed is told of the call that failed last: the
// status of a refused request, until another call fails for its own reason.
TEST_F(NtfsVolumeReplies, TheLastFailureIsTheOneTold) {
  TStartingVcnInput input = {0};
  unsigned char output[64];
  TIoStatusBlock io = {};
  const THandle small = Open("D:\\Docs\\small.txt");
  ASSERT_EQ(services_->FsControl(small, &io, kFsctlGetRetrievalPointers, &input, sizeof(input),
                                 output, sizeof(output)),
            kStatusEndOfFile);
  EXPECT_EQ(services_->LastErrorText(), "the control request failed with status 0xC0000011");
  EXPECT_EQ(services_->OpenForRead("D:\\no such file", false), InvalidHandle());
  const std::string missing = services_->LastErrorText();
  EXPECT_NE(missing.find("no such file"), std::string::npos) << missing;
  // A request that succeeds leaves the last failure as it was.
  ASSERT_EQ(services_->FsControl(Open("D:\\frag.bin"), &io, kFsctlGetRetrievalPointers, &input,
                                 sizeof(input), output, sizeof(output)),
            kStatusBufferOverflow);
  EXPECT_EQ(services_->LastErrorText(), missing);
}

TEST_F(NtfsVolumeReplies, MalformedRequestsAreRefused) {
  THandle file = Open("D:\\frag.bin");
  EXPECT_EQ(Retrieve(file, 0, 16).status, kStatusBufferTooSmall);  // no room for one extent
  EXPECT_EQ(Retrieve(file, -1, 4096).status, kStatusInvalidParameter);
  TIoStatusBlock io;
  unsigned char output[64];
  const int32_t shortInput = 0;
  EXPECT_EQ(
      ObjectFsControl(file, &io, kFsctlGetRetrievalPointers, const_cast<int32_t*>(&shortInput),
                      sizeof(shortInput), output, sizeof(output)),
      kStatusInvalidParameter);
  // Each request on the other kind of handle.
  TStartingLcnInput lcn = {0};
  EXPECT_EQ(
      ObjectFsControl(file, &io, kFsctlGetVolumeBitmap, &lcn, sizeof(lcn), output, sizeof(output)),
      kStatusInvalidParameter);
  EXPECT_EQ(Retrieve(Open("\\\\.\\D:"), 0, 4096).status, kStatusInvalidParameter);
}

class NtfsVolumeBitmap : public NtfsVolumeReplies {
 protected:
  void SetUp() override {
    NtfsVolumeReplies::SetUp();
    clusters_ = ParseNtfsinfoNumber(RunTool({"ntfsinfo", "-m", image_.path}).out,
                                    "Volume Size in Clusters");
    bitmap_ = RunTool({"ntfscat", image_.path, "$Bitmap"}).out;
    ASSERT_GT(clusters_, 0);
    // The volume ends inside a byte, so its last byte has bits past the end.
    ASSERT_NE(clusters_ % 8, 0);
    volume_ = Open("\\\\.\\D:");
  }

  struct TBitmapReply {
    TNtStatus status;
    uintptr_t information;
    TVolumeBitmapHeader header;
    std::string bits;  // the bytes written after the header
  };

  TBitmapReply Ask(int64_t startingLcn, uint32_t outputLength) {
    TStartingLcnInput input = {startingLcn};
    std::vector<unsigned char> output(outputLength, 0);
    TIoStatusBlock io = {};
    TBitmapReply reply{};
    reply.status = ObjectFsControl(volume_, &io, kFsctlGetVolumeBitmap, &input, sizeof(input),
                                   output.data(), outputLength);
    reply.information = io.information;
    if (reply.status == kStatusSuccess || reply.status == kStatusBufferOverflow) {
      std::memcpy(&reply.header, output.data(), sizeof(reply.header));
      reply.bits.assign(reinterpret_cast<const char*>(output.data()) + 16, io.information - 16);
    }
    return reply;
  }

  int64_t clusters_ = 0;
  std::string bitmap_;  // $Bitmap as ntfscat reads it
  THandle volume_ = nullptr;
};

TEST_F(NtfsVolumeBitmap, TheWholeBitmapInOneReply) {
  const TBitmapReply reply = Ask(0, 16384);
  ASSERT_EQ(reply.status, kStatusSuccess);
  EXPECT_EQ(reply.header.startingLcn, 0);
  EXPECT_EQ(reply.header.bitmapSize, clusters_);
  const size_t bytes = static_cast<size_t>((clusters_ + 7) / 8);
  EXPECT_EQ(reply.information, 16 + bytes);
  ASSERT_EQ(reply.bits.size(), bytes);
  EXPECT_EQ(FreeExtentsFromBitmap(reply.bits, clusters_),
            FreeExtentsFromBitmap(bitmap_, clusters_));
  // Clusters past the end are never offered as free.
  const unsigned pastEnd = (0xFFu << (clusters_ % 8)) & 0xFFu;
  EXPECT_EQ(static_cast<unsigned char>(reply.bits.back()) & pastEnd, pastEnd);
}

TEST_F(NtfsVolumeBitmap, StartsRoundDownToAByteAndSmallBuffersOverflow) {
  const TBitmapReply reply = Ask(13, 16 + 10);
  ASSERT_EQ(reply.status, kStatusBufferOverflow);
  EXPECT_EQ(reply.header.startingLcn, 8);
  EXPECT_EQ(reply.header.bitmapSize, clusters_ - 8);
  EXPECT_EQ(reply.information, 16u + 10u);
  EXPECT_EQ(reply.bits, bitmap_.substr(1, 10));
  // Read on in small steps from the reply's own StartingLcn, to the end.
  std::string whole;
  int64_t lcn = 0;
  for (;;) {
    const TBitmapReply step = Ask(lcn, 16 + 100);
    ASSERT_TRUE(step.status == kStatusSuccess || step.status == kStatusBufferOverflow);
    EXPECT_EQ(step.header.startingLcn, lcn);
    whole += step.bits;
    if (step.status == kStatusSuccess) break;
    lcn += static_cast<int64_t>(step.bits.size()) * 8;
  }
  EXPECT_EQ(FreeExtentsFromBitmap(whole, clusters_), FreeExtentsFromBitmap(bitmap_, clusters_));
}

TEST_F(NtfsVolumeBitmap, TheLastByteAndStartsAtOrPastTheEnd) {
  const TBitmapReply last = Ask(clusters_ - 1, 4096);
  ASSERT_EQ(last.status, kStatusSuccess);
  EXPECT_EQ(last.header.startingLcn, clusters_ / 8 * 8);
  EXPECT_EQ(last.header.bitmapSize, clusters_ % 8);
  ASSERT_EQ(last.bits.size(), 1u);
  const unsigned pastEnd = (0xFFu << (clusters_ % 8)) & 0xFFu;
  EXPECT_EQ(static_cast<unsigned char>(last.bits[0]) & pastEnd, pastEnd);
  for (const int64_t start : {clusters_, clusters_ + 8, int64_t{-8}}) {
    EXPECT_EQ(Ask(start, 4096).status, kStatusInvalidParameter) << start;
  }
  EXPECT_EQ(Ask(0, 16).status, kStatusBufferTooSmall);
}

TEST(VolumeBitmapReply, ClustersPastTheEndAreInUseWhateverTheBitmapSays) {
  // A bitmap that calls every cluster free, on a volume of 13 clusters.
  const TBitmapReader allFree = [](int64_t, uint32_t bytes, uint8_t* out) {
    std::memset(out, 0, bytes);
    return true;
  };
  TStartingLcnInput input = {0};
  unsigned char output[64];
  TIoStatusBlock io = {};
  EXPECT_EQ(VolumeBitmapReply(13, allFree, &input, sizeof(input), output, sizeof(output), &io),
            kStatusSuccess);
  EXPECT_EQ(io.information, 16u + 2u);
  EXPECT_EQ(output[16], 0x00);
  EXPECT_EQ(output[17], 0xE0);  // clusters 13, 14 and 15 do not exist
  // A bitmap that cannot be read is no reply.
  const TBitmapReader unreadable = [](int64_t, uint32_t, uint8_t*) { return false; };
  EXPECT_EQ(VolumeBitmapReply(13, unreadable, &input, sizeof(input), output, sizeof(output), &io),
            kStatusFileCorruptError);
}

}  // namespace
