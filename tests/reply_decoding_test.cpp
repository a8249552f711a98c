// The plain functions under the free-space map and fragment retrieval: one
// reply in, runs out, with no volume and no drive.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

#include "analysis/free_runs.h"
#include "analysis/retrieval_runs.h"
#include "platform/nt_types.h"

namespace {

using TRuns = std::vector<std::tuple<int64_t, int64_t, int64_t>>;  // vcn, lcn, length

TRuns Runs(const TFragmentChain& chain) {
  TRuns runs;
  for (const TFragment* f = chain.head; f != nullptr; f = f->next) {
    runs.emplace_back(f->vcn, f->lcn, f->length);
  }
  ReleaseFragments(chain.head);
  return runs;
}

constexpr int64_t k2To32 = int64_t{1} << 32;

// Bitmap bytes from {count, value} pairs.
std::vector<uint8_t> Bytes(std::initializer_list<std::pair<int, uint8_t>> parts) {
  std::vector<uint8_t> bytes;
  for (const auto& [count, value] : parts) bytes.insert(bytes.end(), count, value);
  return bytes;
}

TEST(FreeRuns, ClearBitsBecomeExtentsAndScannedClustersCountAsUsed) {
  struct {
    std::vector<uint8_t> bits;
    int64_t start, count, scannedTo;
    TRuns extents;
    int64_t newScannedTo;
  } cases[] = {
      // 0b01101001: clusters 1, 2 and 4 free (bit 0 is the first cluster).
      {{0x69}, 0, 5, 0, {{0, 1, 2}, {0, 4, 1}}, 5},
      {{0x00, 0x00}, 100, 16, 0, {{0, 100, 16}}, 116},
      // A reply rounded down below the ask: clusters before scannedTo skipped.
      {{0x00, 0x00}, 96, 16, 104, {{0, 104, 8}}, 112},
      // Bits past count are never read, even when clear.
      {{0xFF, 0x00}, 0, 8, 0, {}, 8},
      // A reply wholly below scannedTo adds nothing and moves nothing back.
      {{0x00}, 0, 8, 50, {}, 50},
      // Past 2^32: 64 free clusters, 64 in use, then one free in a mixed
      // byte; and a word that crosses scannedTo is read bit by bit.
      {Bytes({{8, 0x00}, {8, 0xFF}, {1, 0xFE}}),
       k2To32 - 64,
       136,
       0,
       {{0, k2To32 - 64, 64}, {0, k2To32 + 64, 1}},
       k2To32 + 72},
      {Bytes({{8, 0x00}, {8, 0x00}}),
       k2To32,
       128,
       k2To32 + 3,
       {{0, k2To32 + 3, 125}},
       k2To32 + 128},
  };
  for (const auto& c : cases) {
    TFragmentChain chain;
    EXPECT_EQ(AppendFreeRuns(c.bits.data(), c.start, c.count, c.scannedTo, &chain), c.newScannedTo);
    EXPECT_EQ(Runs(chain), c.extents) << "start " << c.start;
  }
}

// Bitmaps of long full and empty stretches with mixed bytes between them,
// counts that end inside a byte or a word, and earlier replies reaching into
// this one: the runs found word by word are those a bit-by-bit reading
// finds.
TEST(FreeRuns, WordByWordFindsWhatBitByBitFinds) {
  std::mt19937_64 random(22);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> bits;
    while (bits.size() < 200) {
      const size_t stretch = 1 + random() % 40;
      const int kind = static_cast<int>(random() % 3);
      for (size_t i = 0; i < stretch; ++i) {
        bits.push_back(kind == 0 ? 0x00 : kind == 1 ? 0xFF : static_cast<uint8_t>(random()));
      }
    }
    const int64_t count = static_cast<int64_t>(random() % (bits.size() * 8 + 1));
    const int64_t start = static_cast<int64_t>(random() % 1000);
    const int64_t scannedTo = random() % 2 == 0 ? 0 : start + static_cast<int64_t>(random() % 300);
    TRuns expected;
    for (int64_t i = 0; i < count; ++i) {
      const bool free = ((bits[i >> 3] >> (i & 7)) & 1) == 0 && start + i >= scannedTo;
      if (!free) continue;
      if (!expected.empty() &&
          std::get<1>(expected.back()) + std::get<2>(expected.back()) == start + i) {
        ++std::get<2>(expected.back());
      } else {
        expected.emplace_back(0, start + i, 1);
      }
    }
    TFragmentChain chain;
    AppendFreeRuns(bits.data(), start, count, scannedTo, &chain);
    ASSERT_EQ(Runs(chain), expected) << "round " << round;
  }
}

TEST(FreeRuns, ClustersOfAReplyAreHeldToItsBufferAndToWhatItReturned) {
  struct {
    int64_t bitmapSize;
    uintptr_t replyBytes;
    int64_t clusters;
  } cases[] = {
      {1000000, 0, 130944},      // the length not reported: the whole buffer's bits
      {1000000, 16384, 130944},  // a full reply
      {100, 16384, 100},         // the volume ends inside the reply
      {1000000, 18, 16},         // a short reply: two bytes of bits
      {1000000, 20000, 130944},  // a length past the buffer is not believed
      {1000000, 8, 130944},      // nor one shorter than the header
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClustersInBitmapReply(c.bitmapSize, c.replyBytes, 16384), c.clusters)
        << c.bitmapSize << " " << c.replyBytes;
  }
}

std::vector<unsigned char> RetrievalReply(uint32_t count, int64_t startingVcn,
                                          const std::vector<TRetrievalExtent>& extents) {
  std::vector<unsigned char> reply(sizeof(TRetrievalPointersHeader) +
                                   extents.size() * sizeof(TRetrievalExtent));
  const TRetrievalPointersHeader header = {count, 0, startingVcn};
  std::memcpy(reply.data(), &header, sizeof(header));
  std::memcpy(reply.data() + sizeof(header), extents.data(),
              extents.size() * sizeof(TRetrievalExtent));
  return reply;
}

TEST(RetrievalRuns, ExtentsBecomeRunsFromTheReplysStartingVcn) {
  TItem owner = {};
  // A hole (lcn -1) between two runs, starting at vcn 8 of the stream.
  const auto reply = RetrievalReply(3, 8, {{12, 500}, {20, -1}, {21, 900}});
  TFragmentChain chain;
  const TRetrievalReply read =
      AppendRetrievalRuns(reply.data(), static_cast<uint32_t>(reply.size()), &owner, &chain);
  EXPECT_EQ(read.startingVcn, 8);
  EXPECT_EQ(read.nextVcn, 21);
  EXPECT_EQ(read.extents, 3u);
  EXPECT_EQ(chain.head->owner, &owner);
  EXPECT_EQ(Runs(chain), (TRuns{{8, 500, 4}, {12, -1, 8}, {20, 900, 1}}));
}

TEST(RetrievalRuns, ACountBeyondTheBufferReadsOnlyWhatFits) {
  TItem owner = {};
  const auto reply = RetrievalReply(1000000, 0, {{4, 10}, {6, 20}});
  TFragmentChain chain;
  const TRetrievalReply read =
      AppendRetrievalRuns(reply.data(), static_cast<uint32_t>(reply.size()), &owner, &chain);
  EXPECT_EQ(read.extents, 2u);
  EXPECT_EQ(read.nextVcn, 6);
  EXPECT_EQ(Runs(chain), (TRuns{{0, 10, 4}, {4, 20, 2}}));
}

}  // namespace
