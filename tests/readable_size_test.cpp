// Sizes in the status bar read as people read them: bytes under 1 KiB, then
// one decimal of the largest unit that keeps the figure under 1024.
#include "ui/readable_size.h"

#include <gtest/gtest.h>

#include <utility>

TEST(ReadableSizeTest, PicksTheUnitThatKeepsTheFigureUnder1024) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0 bytes"},
      {1, "1 byte"},
      {1023, "1023 bytes"},
      {1024, "1.0 KiB"},
      {36000, "35.2 KiB"},
      {1048575, "1.0 MiB"},  // would round to 1024.0 KiB
      {1572864, "1.5 MiB"},
      {int64_t{5} << 30, "5.0 GiB"},
      {int64_t{3} << 40, "3.0 TiB"},
      {INT64_MAX, "8.0 EiB"},
      {-5, "-5 bytes"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadableSize(c.first), c.second) << c.first;
}
