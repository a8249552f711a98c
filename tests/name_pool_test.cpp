#include "model/name_pool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "model/item.h"

namespace {

constexpr size_t kBlock = TNamePool::kBlockBytes;

// Names of every awkward length, one after another: each copy keeps its own
// bytes and end, whether it fits the block being filled, ends it exactly,
// spills into a fresh block or is longer than any block.
TEST(NamePool, CopiesKeepTheirBytesAcrossBlocks) {
  TNamePool pool;
  const size_t lengths[] = {0, 1, 12, kBlock - 20, 18, 1, kBlock - 1, kBlock, 3 * kBlock, 5};
  std::vector<std::string> texts;
  std::vector<char*> copies;
  for (size_t i = 0; i < sizeof(lengths) / sizeof(lengths[0]); ++i) {
    texts.push_back(std::string(lengths[i], static_cast<char>('a' + i)));
    copies.push_back(pool.Copy(texts.back().data(), texts.back().size()));
    ASSERT_NE(copies.back(), nullptr);
  }
  for (size_t i = 0; i < copies.size(); ++i) {
    EXPECT_EQ(std::strlen(copies[i]), texts[i].size()) << i;
    EXPECT_EQ(std::string(copies[i]), texts[i]) << i;
  }
  for (char* copy : copies) EXPECT_TRUE(pool.Release(copy));
  // Only the block still being filled is left.
  EXPECT_EQ(pool.BlockCount(), 1u);
}

// A block goes as soon as its last name does, but not the one names are
// still added to; a pointer the pool did not make is left alone.
TEST(NamePool, ABlockIsFreedWithItsLastNameUnlessItIsStillFilled) {
  TNamePool pool;
  const std::string half(kBlock / 2, 'x');
  char* first = pool.Copy(half.data(), half.size());
  char* second = pool.Copy("b", 1);                   // same block
  char* third = pool.Copy(half.data(), half.size());  // does not fit: a new block
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(pool.BlockCount(), 2u);
  EXPECT_TRUE(pool.Release(first));
  EXPECT_EQ(pool.BlockCount(), 2u);  // "b" still lives there
  EXPECT_TRUE(pool.Release(second));
  EXPECT_EQ(pool.BlockCount(), 1u);
  EXPECT_TRUE(pool.Release(third));
  EXPECT_EQ(pool.BlockCount(), 1u);  // still the one being filled
  EXPECT_STREQ(pool.Copy("c", 1), "c");

  char* heap = static_cast<char*>(std::malloc(4));
  EXPECT_FALSE(pool.Release(heap));
  EXPECT_FALSE(pool.Release(nullptr));
  std::free(heap);
}

// Items named from the pool and from the heap in one tree: releasing it
// gives each name back where it came from (the sanitizers check the frees).
TEST(NamePool, ReleasingATreeGivesBackNamesOfEitherKind) {
  const size_t blocksBefore = namePool.BlockCount();
  TItem* root = NewItem(nullptr, CopyName("D:\\", 3), 0, kItemFolder);
  ASSERT_NE(root, nullptr);
  char* heapName = static_cast<char*>(std::malloc(5));
  std::memcpy(heapName, "heap", 5);
  ASSERT_NE(NewItem(root, heapName, 0, 0), nullptr);
  const std::string big(kBlock + 1, 'n');  // a block of its own
  ASSERT_NE(NewItem(root, CopyName(big.data(), big.size()), 0, 0), nullptr);
  EXPECT_STREQ(root->name, "D:\\");
  EXPECT_EQ(std::strlen(root->lastChild->name), big.size());
  ReleaseItem(root);
  EXPECT_LE(namePool.BlockCount(), blocksBefore + 1);
}

// Drives scan and release at once: names copied and given back by several
// threads stay intact, and every block but the one being filled goes.
TEST(NamePool, ThreadsCopyAndReleaseAtOnce) {
  TNamePool pool;
  const auto work = [&pool](char tag) {
    std::vector<char*> names;
    for (int i = 0; i < 40000; ++i) {
      const std::string text = tag + std::to_string(i);
      names.push_back(pool.Copy(text.data(), text.size()));
    }
    for (int i = 0; i < 40000; ++i) {
      EXPECT_EQ(std::string(names[static_cast<size_t>(i)]), tag + std::to_string(i));
      EXPECT_TRUE(pool.Release(names[static_cast<size_t>(i)]));
    }
  };
  std::thread a(work, 'a');
  std::thread b(work, 'b');
  work('c');
  a.join();
  b.join();
  EXPECT_EQ(pool.BlockCount(), 1u);
}

}  // namespace
