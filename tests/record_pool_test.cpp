#include "model/record_pool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

// Pools made by a test, so block counts do not depend on other tests.
TEST(RecordPool, FirstBlockThenGrowthBlocksOfAnEighth) {
  TRecordPool<TItem> items(15000, 1875);
  std::vector<TItem*> taken;
  for (int i = 0; i < 15000; ++i) taken.push_back(items.Allocate());
  EXPECT_EQ(items.BlockCount(), 1);
  TItem* next = items.Allocate();  // the 15001st
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(items.BlockCount(), 2);
  EXPECT_EQ(items.LastBlock()->capacity, 1875);
  EXPECT_EQ(next, items.LastBlock()->records);
  EXPECT_EQ(items.FirstBlock()->capacity, 15000);

  TRecordPool<TFragment> fragments(30000, 3750);
  for (int i = 0; i < 30000; ++i) fragments.Allocate();
  TFragment* fragment = fragments.Allocate();  // the 30001st
  EXPECT_EQ(fragments.BlockCount(), 2);
  EXPECT_EQ(fragment, fragments.LastBlock()->records);
  EXPECT_EQ(fragments.LastBlock()->capacity, 3750);
}

TEST(RecordPool, ChainStaysLinkedOverManyBlocks) {
  TRecordPool<TFragment> pool(8, 1);
  for (int i = 0; i < 12; ++i) pool.Allocate();
  ASSERT_EQ(pool.BlockCount(), 5);
  int walked = 0;
  TPoolBlock<TFragment>* previous = nullptr;
  for (TPoolBlock<TFragment>* block = pool.FirstBlock(); block != nullptr;
       block = block->nextBlock) {
    EXPECT_EQ(block->prevBlock, previous);
    previous = block;
    ++walked;
  }
  EXPECT_EQ(walked, 5);
  EXPECT_EQ(previous, pool.LastBlock());
}

TEST(RecordPool, ReleasedSlotIsReusedFirstFitAcrossBlocks) {
  TRecordPool<TFragment> pool(4, 2);
  std::vector<TFragment*> taken;
  for (int i = 0; i < 10; ++i) taken.push_back(pool.Allocate());  // blocks of 4, 2, 2, 2
  pool.Release(taken[7]);                                         // third block
  pool.Release(taken[1]);  // first block: the earlier block wins
  EXPECT_EQ(pool.Allocate(), taken[1]);
  EXPECT_EQ(pool.Allocate(), taken[7]);
  EXPECT_EQ(pool.BlockCount(), 4);
  EXPECT_NE(pool.Allocate(), nullptr);  // all full again: a fifth block
  EXPECT_EQ(pool.BlockCount(), 5);
}

TEST(RecordPool, SearchHintStartsAtLowestFreedSlot) {
  TRecordPool<TFragment> pool(16, 16);
  std::vector<TFragment*> taken;
  for (int i = 0; i < 10; ++i) taken.push_back(pool.Allocate());
  pool.Release(taken[6]);
  pool.Release(taken[3]);
  EXPECT_EQ(pool.FirstBlock()->searchHint, 3);
  EXPECT_EQ(pool.FirstBlock()->freeCount, 8);
  EXPECT_EQ(pool.Allocate(), taken[3]);
  EXPECT_EQ(pool.Allocate(), taken[6]);
  EXPECT_EQ(pool.Allocate(), pool.FirstBlock()->records + 10);
}

TEST(RecordPool, DoubleReleaseAndForeignRecordsChangeNothing) {
  TRecordPool<TFragment> pool(4, 4);
  TFragment* a = pool.Allocate();
  pool.Allocate();
  pool.Release(a);
  pool.Release(a);
  EXPECT_EQ(pool.FirstBlock()->freeCount, 3);
  TFragment outside{};
  pool.Release(&outside);
  pool.Release(pool.FirstBlock()->records + 4);  // one past the block
  EXPECT_EQ(pool.FirstBlock()->freeCount, 3);
  EXPECT_FALSE(pool.InUse(a));
}

TEST(RecordPool, InUseBitsAreLeastSignificantFirst) {
  TRecordPool<TFragment> pool(16, 16);
  for (int i = 0; i < 10; ++i) pool.Allocate();
  EXPECT_EQ(pool.FirstBlock()->inUseBits[0], 0xFF);
  EXPECT_EQ(pool.FirstBlock()->inUseBits[1], 0x03);
  pool.Release(pool.FirstBlock()->records + 9);
  EXPECT_EQ(pool.FirstBlock()->inUseBits[1], 0x01);
  EXPECT_EQ(static_cast<void*>(pool.FirstBlock()->inUseBits),
            static_cast<void*>(pool.FirstBlock()->records + 16));
}

TEST(RecordPool, ClearEmptiesTheChainAndLaterAllocationsStartOver) {
  TRecordPool<TItem> pool(4, 2);
  for (int i = 0; i < 7; ++i) pool.Allocate();
  pool.Clear();
  EXPECT_EQ(pool.BlockCount(), 0);
  EXPECT_EQ(pool.FirstBlock(), nullptr);
  EXPECT_EQ(pool.LastBlock(), nullptr);
  EXPECT_NE(pool.Allocate(), nullptr);
  EXPECT_EQ(pool.FirstBlock()->capacity, 2);
}

// The records in use in the pool, over every block.
int32_t RecordsInUse(TRecordPool<TFragment>& pool) {
  int32_t inUse = 0;
  for (auto* block = pool.FirstBlock(); block != nullptr; block = block->nextBlock) {
    inUse += block->capacity - block->freeCount;
  }
  return inUse;
}

// A reserve takes records a batch at a time, hands each out once, in the
// pool's first-fit order, and gives back what it did not hand out; a
// reserve of one pool never serves another.
TEST(RecordPool, AReserveHandsOutWhatItTookOnceAndGivesBackTheRest) {
  TRecordPool<TFragment> pool(100, 10);
  std::vector<TFragment*> taken;
  {
    TPoolReserve<TFragment> reserve(pool);
    EXPECT_EQ(TPoolReserve<TFragment>::OfThisThread(pool), &reserve);
    EXPECT_EQ(TPoolReserve<TFragment>::OfThisThread(fragmentPool), nullptr);
    for (int i = 0; i < 70; ++i) taken.push_back(reserve.Take());
    EXPECT_EQ(RecordsInUse(pool), 2 * TPoolReserve<TFragment>::kReserveRecords);
  }
  EXPECT_EQ(TPoolReserve<TFragment>::OfThisThread(pool), nullptr);
  for (int i = 0; i < 70; ++i) {
    EXPECT_EQ(taken[static_cast<size_t>(i)], pool.FirstBlock()->records + i) << i;
    EXPECT_TRUE(pool.InUse(taken[static_cast<size_t>(i)])) << i;
  }
  EXPECT_EQ(RecordsInUse(pool), 70);
  EXPECT_EQ(pool.Allocate(), pool.FirstBlock()->records + 70);
}

TEST(RecordPool, AReserveOfAnExhaustedPoolGivesNone) {
  TRecordPool<TFragment> pool(100, 10);
  pool.SetBlockLimit(1);
  TPoolReserve<TFragment> reserve(pool);
  for (int i = 0; i < 100; ++i) ASSERT_NE(reserve.Take(), nullptr) << i;
  EXPECT_EQ(reserve.Take(), nullptr);
  EXPECT_EQ(pool.Allocate(), nullptr);
}

// NewFragment on threads that each hold a reserve of the fragment pool:
// every run made is the making thread's alone.
TEST(RecordPool, ConcurrentReservesNeverShareARecord) {
  constexpr int kThreads = 2;
  constexpr int kRuns = 5000;
  std::vector<std::vector<TFragment*>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&made, t] {
      TPoolReserve<TFragment> reserve(fragmentPool);
      for (int run = 0; run < kRuns; ++run)
        made[static_cast<size_t>(t)].push_back(NewFragment(nullptr, t, run, 1));
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<TFragment*> distinct;
  for (int t = 0; t < kThreads; ++t) {
    for (int run = 0; run < kRuns; ++run) {
      TFragment* fragment = made[static_cast<size_t>(t)][static_cast<size_t>(run)];
      ASSERT_NE(fragment, nullptr);
      EXPECT_EQ(fragment->vcn, t);
      EXPECT_EQ(fragment->lcn, run);
      distinct.insert(fragment);
      fragmentPool.Release(fragment);
    }
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kRuns));
}

// Several workers allocate and release in one pool at once; every record
// handed out must be exclusively theirs until they release it.
TEST(RecordPool, ConcurrentWorkersNeverShareARecord) {
  TRecordPool<TFragment> pool(64, 8);
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&pool, &failures, t] {
      std::vector<TFragment*> mine;
      for (int round = 0; round < kRounds; ++round) {
        TFragment* record = pool.Allocate();
        if (record == nullptr) {
          ++failures[t];
          continue;
        }
        record->vcn = t;
        record->lcn = round;
        mine.push_back(record);
        if (round % 3 == 2) {
          TFragment* victim = mine[mine.size() / 2];
          if (victim->vcn != t) ++failures[t];
          mine.erase(mine.begin() + static_cast<long>(mine.size() / 2));
          pool.Release(victim);
        }
      }
      for (TFragment* record : mine) {
        if (record->vcn != t) ++failures[t];
        pool.Release(record);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  int32_t free = 0;
  int32_t capacity = 0;
  for (auto* block = pool.FirstBlock(); block != nullptr; block = block->nextBlock) {
    free += block->freeCount;
    capacity += block->capacity;
  }
  EXPECT_EQ(free, capacity);
}

}  // namespace
