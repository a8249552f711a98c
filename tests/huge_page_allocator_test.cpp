// Memory for the schedule's large tables: every size, below and above a
// 2 MiB page, holds what is written to it, the large ones start on a page
// where the system has such pages, and a table grown through the threshold
// keeps its contents.
#include "moving/huge_page_allocator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

TEST(HugePageAllocator, EverySizeHoldsWhatIsWrittenAndLargeOnesStartOnAPage) {
  constexpr size_t kPage = size_t{2} << 20;
  for (const size_t bytes : {size_t{1}, kPage - 1, kPage, kPage + 1, 5 * kPage + 3}) {
    auto* memory = static_cast<unsigned char*>(AllocateHugePageBacked(bytes));
    std::memset(memory, 0xA5, bytes);
    EXPECT_EQ(memory[0], 0xA5) << bytes;
    EXPECT_EQ(memory[bytes - 1], 0xA5) << bytes;
#if defined(__linux__)
    // Only Linux grants such pages to whoever asks.
    if (bytes >= kPage) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(memory) % kPage, 0u) << bytes;
    }
#endif
    FreeHugePageBacked(memory, bytes);
  }
  std::vector<uint64_t, THugePageAllocator<uint64_t>> table;
  for (uint64_t value = 0; value < 1000000; ++value) table.push_back(value * 7);
  for (uint64_t value = 0; value < 1000000; value += 4999) ASSERT_EQ(table[value], value * 7);
}

}  // namespace
