// Process-wide pools of fixed-size records: a chain of large zero-filled
// blocks with one in-use bit per slot, allocated first fit. Every worker
// thread of every drive allocates and releases in the same two pools, so each
// pool is guarded by its own mutex. Only a tree released whole holds both:
// the item pool's, then the fragment pool's, never the other way round.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "model/item.h"

// One slab of records of type T.
template <typename T>
struct TPoolBlock {
  int32_t capacity;       // records in the block, fixed at creation
  int32_t freeCount;      // records not in use
  int32_t searchHint;     // every slot below it is in use
  T* records;             // first of capacity contiguous records; owned (one allocation)
  uint8_t* inUseBits;     // one bit per slot, least significant bit = lowest slot,
                          // placed right after the last record in the same allocation
  TPoolBlock* nextBlock;  // toward the newest block
  TPoolBlock* prevBlock;  // toward the oldest block
  int32_t chainIndex;     // position in the chain, 0 for firstBlock

  // Returns a free record marked in use, or none. Caller holds the pool lock.
  T* Allocate();
  // Marks the record's slot free; a slot already free changes nothing.
  // Returns whether the slot was in use. Caller holds the pool lock.
  bool Release(T* record);
  bool InUse(int32_t slot) const { return (inUseBits[slot >> 3] >> (slot & 7)) & 1; }
};

template <typename T>
class TRecordPool {
 public:
  TRecordPool(int32_t firstCapacity, int32_t growCapacity);
  ~TRecordPool() { Clear(); }
  TRecordPool(const TRecordPool&) = delete;
  TRecordPool& operator=(const TRecordPool&) = delete;

  // Returns a record marked in use with its storage as last left (zero for a
  // never-used slot), or none when no block has room and none can be added.
  // First fit: the first block of the chain with a free slot, from its hint.
  T* Allocate();
  // Allocates up to count records under one hold of the lock, as Allocate
  // would one after another, into out; returns how many (fewer when the
  // pool runs out).
  int32_t AllocateMany(T** out, int32_t count);
  // Frees the record's slot; a record no block holds, or one already free,
  // changes nothing.
  void Release(T* record);
  // Whether a block holds the record and its slot is in use.
  bool InUse(const T* record);

  // For releasing many records at once (a whole tree): while the returned
  // guard lives no other thread uses the pool, and its owner alone may call
  // the *Held functions, which take no lock of their own.
  std::unique_lock<std::mutex> Hold() { return std::unique_lock<std::mutex>(lock); }
  bool InUseHeld(const T* record) const;
  void ReleaseHeld(T* record);
  // Discards every block descriptor and empties the chain (at exit). Record
  // storage is left to the end of the process: nothing in it is visited.
  void Clear();

  // Appends a block of the given capacity; returns none if its storage
  // cannot be obtained. Caller holds the lock (or is single-threaded).
  TPoolBlock<T>* AddBlock(int32_t capacity);

  // Caps the chain at limit blocks (0: no cap), so that allocation fails
  // once they are full, as it does when memory runs out.
  void SetBlockLimit(int32_t limit);

  // Snapshot accessors for tests and benchmarks; take the lock.
  int32_t BlockCount();
  TPoolBlock<T>* FirstBlock();
  TPoolBlock<T>* LastBlock();

  const int32_t firstCapacity;
  const int32_t growCapacity;

 private:
  TPoolBlock<T>* FindHolder(const T* record) const;
  // The first block with a free slot, added when every block is full and
  // the cap allows; none when there can be none. Caller holds the lock.
  TPoolBlock<T>* OpenBlockHeld();

  std::mutex lock;  // guards everything below and every block's bits and counters
  TPoolBlock<T>* firstBlock = nullptr;  // oldest; owned
  TPoolBlock<T>* lastBlock = nullptr;   // newest
  // First block that may have a free slot: every block before it is full.
  // Keeps first fit from walking hundreds of full blocks on every call.
  TPoolBlock<T>* firstOpenBlock = nullptr;
  // Blocks ordered by the address of their records, to find a record's
  // block in logarithmic time instead of walking the chain.
  std::vector<TPoolBlock<T>*> byAddress;
  int32_t blockLimit = 0;  // most blocks the chain may hold; 0 for no cap
};

extern TRecordPool<TItem> itemPool;          // 15000 records, then 1875 per block
extern TRecordPool<TFragment> fragmentPool;  // 30000 records, then 3750 per block

// Records of a pool taken ahead for one thread, which makes one record per
// item or run by the ten thousand (the scan, the retrieval, the zone plan):
// taking each under the pool's lock costs more than making it, and threads
// that take turns at the lock wait for each other. While a reserve lives,
// NewItem or NewFragment on the thread that made it take their records from
// it, kReserveRecords at a time from the pool; what it still holds when it
// goes is given back. Made and destroyed on one thread, and used by that
// thread alone, so it needs no lock of its own. Reserves nest: the newest
// one of the thread serves.
template <typename T>
class TPoolReserve {
 public:
  static constexpr int32_t kReserveRecords = 64;

  explicit TPoolReserve(TRecordPool<T>& pool);
  ~TPoolReserve();
  TPoolReserve(const TPoolReserve&) = delete;
  TPoolReserve& operator=(const TPoolReserve&) = delete;

  // A record of the pool, as TRecordPool::Allocate gives one; none when the
  // pool has none left to give.
  T* Take();
  // The calling thread's newest reserve of pool; none without one.
  static TPoolReserve* OfThisThread(const TRecordPool<T>& pool);

 private:
  TRecordPool<T>& pool_;
  TPoolReserve* outer_;  // the thread's reserve before this one, none for the first
  T* held_[kReserveRecords];
  int32_t next_ = 0;   // the next of held_ to hand out
  int32_t count_ = 0;  // records in held_
};

// A record of pool: from the calling thread's reserve of it when it has
// one, from the pool itself otherwise.
template <typename T>
T* TakeRecord(TRecordPool<T>& pool);
