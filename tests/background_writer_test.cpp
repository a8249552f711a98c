// Logs are handed to a writer thread in blocks: every byte must reach the
// file once and in order, whatever the pieces' sizes against the blocks'
// edges, and a stream that refuses bytes must be reported, so the previous
// log is kept instead of a cut one put in place.
#include "platform/background_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/file_bytes.h"

namespace {

TEST(BackgroundWriter, EveryByteReachesTheStreamOnceAndInOrder) {
  const std::string path = ::testing::TempDir() + "background_writer_order.bin";
  FILE* stream = std::fopen(path.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  std::string expected;
  {
    TBackgroundWriter writer(stream);
    // Pieces of 1 to 300,000 bytes, over 3 blocks and a half, so pieces
    // end on, before and after a block's edge and some span a whole block.
    for (size_t piece = 1; expected.size() < 3'700'000; piece = piece * 7 % 300'001) {
      std::string bytes(piece, '\0');
      for (size_t i = 0; i < piece; ++i) bytes[i] = static_cast<char>((expected.size() + i) % 251);
      writer.Append(bytes.data(), bytes.size());
      expected += bytes;
    }
    EXPECT_TRUE(writer.Finish());
  }
  ASSERT_EQ(std::fclose(stream), 0);
  EXPECT_TRUE(FileBytes(path) == expected);
  std::remove(path.c_str());
}

TEST(BackgroundWriter, AStreamThatRefusesBytesIsReported) {
  const std::string path = ::testing::TempDir() + "background_writer_refused.bin";
  FILE* created = std::fopen(path.c_str(), "wb");
  ASSERT_NE(created, nullptr);
  std::fclose(created);
  // Open for reading only: every write fails.
  FILE* stream = std::fopen(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  TBackgroundWriter writer(stream);
  const std::string bytes(1'500'000, 'x');
  writer.Append(bytes.data(), bytes.size());
  EXPECT_FALSE(writer.Finish());
  EXPECT_FALSE(writer.Finish());
  std::fclose(stream);
  std::remove(path.c_str());
}

}  // namespace
