#include "platform/decimal_format.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <limits>
#include <string>

namespace {

// The hand-made formatter must write exactly what printf writes.
TEST(DecimalFormat, MatchesPrintfForEveryWidthAndSign) {
  // Digits are written two at a time: both ends of every pair count.
  const int64_t values[] = {0,
                            7,
                            9,
                            10,
                            99,
                            100,
                            101,
                            1009,
                            10000,
                            -1,
                            -10,
                            -100,
                            999999999,
                            1000000000,
                            -999999999,
                            12345678901,
                            std::numeric_limits<int64_t>::max(),
                            std::numeric_limits<int64_t>::min()};
  for (int64_t value : values) {
    for (int width : {0, 3, 10}) {
      char expected[64];
      std::snprintf(expected, sizeof(expected), "%*" PRId64, width, value);
      char actual[64];
      char* end = AppendDecimal(actual, value, width);
      EXPECT_EQ(std::string(actual, end), expected) << value << " width " << width;
    }
  }
}

TEST(DecimalFormat, LiteralsAreCopiedWithoutTheirTerminator) {
  char line[32];
  char* out = AppendLiteral(line, "\t- ");
  out = AppendLiteral(out, "DIR");
  EXPECT_EQ(std::string(line, out), "\t- DIR");
}

}  // namespace
