#include "model/record_pool.h"

#include <algorithm>
#include <cstdlib>

template <typename T>
T* TPoolBlock<T>::Allocate() {
  for (int32_t slot = searchHint; slot < capacity; ++slot) {
    if (!InUse(slot)) {
      inUseBits[slot >> 3] = static_cast<uint8_t>(inUseBits[slot >> 3] | (1u << (slot & 7)));
      searchHint = slot + 1;
      --freeCount;
      return records + slot;
    }
  }
  return nullptr;
}

template <typename T>
bool TPoolBlock<T>::Release(T* record) {
  const int32_t slot = static_cast<int32_t>(record - records);
  if (!InUse(slot)) return false;
  ++freeCount;
  if (slot < searchHint) searchHint = slot;
  inUseBits[slot >> 3] = static_cast<uint8_t>(inUseBits[slot >> 3] & ~(1u << (slot & 7)));
  return true;
}

template <typename T>
TRecordPool<T>::TRecordPool(int32_t first, int32_t grow)
    : firstCapacity(first), growCapacity(grow) {
  AddBlock(firstCapacity);
}

template <typename T>
TPoolBlock<T>* TRecordPool<T>::AddBlock(int32_t capacity) {
  // Records and the in-use bitmap share one zero-filled allocation.
  const size_t bitmapBytes = (static_cast<size_t>(capacity) + 7) / 8;
  void* storage = std::calloc(1, sizeof(T) * static_cast<size_t>(capacity) + bitmapBytes);
  if (storage == nullptr) return nullptr;
  auto* block = new TPoolBlock<T>();
  block->capacity = capacity;
  block->freeCount = capacity;
  block->searchHint = 0;
  block->records = static_cast<T*>(storage);
  block->inUseBits = reinterpret_cast<uint8_t*>(block->records + capacity);
  block->nextBlock = nullptr;
  block->prevBlock = lastBlock;
  block->chainIndex = lastBlock ? lastBlock->chainIndex + 1 : 0;
  if (lastBlock) {
    lastBlock->nextBlock = block;
  } else {
    firstBlock = block;
  }
  lastBlock = block;
  if (firstOpenBlock == nullptr) firstOpenBlock = block;
  byAddress.insert(std::upper_bound(byAddress.begin(), byAddress.end(), block,
                                    [](const TPoolBlock<T>* a, const TPoolBlock<T>* b) {
                                      return a->records < b->records;
                                    }),
                   block);
  return block;
}

template <typename T>
TPoolBlock<T>* TRecordPool<T>::OpenBlockHeld() {
  TPoolBlock<T>* block = firstOpenBlock;
  while (block != nullptr && block->freeCount == 0) block = block->nextBlock;
  if (block == nullptr) {
    if (blockLimit > 0 && static_cast<int32_t>(byAddress.size()) >= blockLimit) return nullptr;
    block = AddBlock(growCapacity);
    if (block == nullptr) return nullptr;
  }
  firstOpenBlock = block;
  return block;
}

template <typename T>
T* TRecordPool<T>::Allocate() {
  std::lock_guard<std::mutex> guard(lock);
  TPoolBlock<T>* block = OpenBlockHeld();
  return block != nullptr ? block->Allocate() : nullptr;
}

template <typename T>
int32_t TRecordPool<T>::AllocateMany(T** out, int32_t count) {
  std::lock_guard<std::mutex> guard(lock);
  int32_t taken = 0;
  while (taken < count) {
    TPoolBlock<T>* block = OpenBlockHeld();
    if (block == nullptr) break;
    while (taken < count && block->freeCount > 0) out[taken++] = block->Allocate();
  }
  return taken;
}

namespace {

// Each thread's newest reserve of each pool; written and read by that
// thread alone.
thread_local TPoolReserve<TItem>* itemReserve = nullptr;
thread_local TPoolReserve<TFragment>* fragmentReserve = nullptr;

TPoolReserve<TItem>*& ReserveSlot(const TRecordPool<TItem>&) { return itemReserve; }
TPoolReserve<TFragment>*& ReserveSlot(const TRecordPool<TFragment>&) { return fragmentReserve; }

}  // namespace

template <typename T>
TPoolReserve<T>::TPoolReserve(TRecordPool<T>& pool) : pool_(pool), outer_(ReserveSlot(pool)) {
  ReserveSlot(pool) = this;
}

template <typename T>
TPoolReserve<T>::~TPoolReserve() {
  ReserveSlot(pool_) = outer_;
  if (next_ == count_) return;
  const std::unique_lock<std::mutex> held = pool_.Hold();
  for (int32_t i = next_; i < count_; ++i) pool_.ReleaseHeld(held_[i]);
}

template <typename T>
T* TPoolReserve<T>::Take() {
  if (next_ == count_) {
    next_ = 0;
    count_ = pool_.AllocateMany(held_, kReserveRecords);
    if (count_ == 0) return nullptr;
  }
  return held_[next_++];
}

template <typename T>
TPoolReserve<T>* TPoolReserve<T>::OfThisThread(const TRecordPool<T>& pool) {
  TPoolReserve<T>* reserve = ReserveSlot(pool);
  // A reserve serves its own pool only (tests make pools of their own).
  return reserve != nullptr && &reserve->pool_ == &pool ? reserve : nullptr;
}

template <typename T>
T* TakeRecord(TRecordPool<T>& pool) {
  TPoolReserve<T>* reserve = TPoolReserve<T>::OfThisThread(pool);
  return reserve != nullptr ? reserve->Take() : pool.Allocate();
}

template <typename T>
TPoolBlock<T>* TRecordPool<T>::FindHolder(const T* record) const {
  auto after = std::upper_bound(
      byAddress.begin(), byAddress.end(), record,
      [](const T* r, const TPoolBlock<T>* b) { return std::less<const T*>()(r, b->records); });
  if (after == byAddress.begin()) return nullptr;
  TPoolBlock<T>* block = *(after - 1);
  if (!std::less<const T*>()(record, block->records + block->capacity)) return nullptr;
  return block;
}

template <typename T>
void TRecordPool<T>::Release(T* record) {
  if (record == nullptr) return;
  std::lock_guard<std::mutex> guard(lock);
  ReleaseHeld(record);
}

template <typename T>
void TRecordPool<T>::ReleaseHeld(T* record) {
  TPoolBlock<T>* block = FindHolder(record);
  if (block == nullptr || !block->Release(record)) return;
  if (firstOpenBlock == nullptr || block->chainIndex < firstOpenBlock->chainIndex) {
    firstOpenBlock = block;
  }
}

template <typename T>
bool TRecordPool<T>::InUse(const T* record) {
  std::lock_guard<std::mutex> guard(lock);
  return InUseHeld(record);
}

template <typename T>
bool TRecordPool<T>::InUseHeld(const T* record) const {
  const TPoolBlock<T>* block = FindHolder(record);
  return block != nullptr && block->InUse(static_cast<int32_t>(record - block->records));
}

template <typename T>
void TRecordPool<T>::Clear() {
  std::lock_guard<std::mutex> guard(lock);
  // Every worker has ended before the process tears the pools down (the
  // entry waits for them), so the storage can go with its descriptor.
  TPoolBlock<T>* block = firstBlock;
  while (block != nullptr) {
    TPoolBlock<T>* next = block->nextBlock;
    std::free(block->records);
    delete block;
    block = next;
  }
  firstBlock = lastBlock = firstOpenBlock = nullptr;
  byAddress.clear();
}

template <typename T>
void TRecordPool<T>::SetBlockLimit(int32_t limit) {
  std::lock_guard<std::mutex> guard(lock);
  blockLimit = limit;
}

template <typename T>
int32_t TRecordPool<T>::BlockCount() {
  std::lock_guard<std::mutex> guard(lock);
  return static_cast<int32_t>(byAddress.size());
}

template <typename T>
TPoolBlock<T>* TRecordPool<T>::FirstBlock() {
  std::lock_guard<std::mutex> guard(lock);
  return firstBlock;
}

template <typename T>
TPoolBlock<T>* TRecordPool<T>::LastBlock() {
  std::lock_guard<std::mutex> guard(lock);
  return lastBlock;
}

template struct TPoolBlock<TItem>;
template struct TPoolBlock<TFragment>;
template class TRecordPool<TItem>;
template class TRecordPool<TFragment>;
template class TPoolReserve<TItem>;
template class TPoolReserve<TFragment>;
template TItem* TakeRecord(TRecordPool<TItem>& pool);
template TFragment* TakeRecord(TRecordPool<TFragment>& pool);

// Constructed in this order before main (items first, then fragments) and
// torn down in reverse at exit.
TRecordPool<TItem> itemPool(15000, 1875);
TRecordPool<TFragment> fragmentPool(30000, 3750);
