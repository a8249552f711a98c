#include "model/name_pool.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

TNamePool::~TNamePool() {
  for (const TBlock& block : blocks_) std::free(block.bytes);
}

TNamePool::TBlock* TNamePool::Holder(const char* name) {
  auto after = std::upper_bound(
      blocks_.begin(), blocks_.end(), name,
      [](const char* n, const TBlock& b) { return std::less<const char*>()(n, b.bytes); });
  if (after == blocks_.begin()) return nullptr;
  TBlock& block = *(after - 1);
  return std::less<const char*>()(name, block.bytes + block.used) ? &block : nullptr;
}

char* TNamePool::Copy(const char* text, size_t length) {
  const std::lock_guard<std::mutex> guard(lock_);
  TBlock* block = filling_ != nullptr ? Holder(filling_) : nullptr;
  if (block == nullptr || block->capacity - block->used < length + 1) {
    const size_t capacity = std::max(kBlockBytes, length + 1);
    char* bytes = static_cast<char*>(std::malloc(capacity));
    if (bytes == nullptr) return nullptr;
    // The block filled so far is freed once its last name goes, as any other.
    if (block != nullptr && block->live == 0) {
      std::free(block->bytes);
      blocks_.erase(blocks_.begin() + (block - blocks_.data()));
    }
    const TBlock fresh{bytes, capacity, 0, 0};
    const auto at = std::upper_bound(blocks_.begin(), blocks_.end(), fresh,
                                     [](const TBlock& a, const TBlock& b) {
                                       return std::less<const char*>()(a.bytes, b.bytes);
                                     });
    block = &*blocks_.insert(at, fresh);
    filling_ = bytes;
  }
  char* copy = block->bytes + block->used;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  block->used += length + 1;
  ++block->live;
  return copy;
}

bool TNamePool::Release(const char* name) {
  if (name == nullptr) return false;
  const std::lock_guard<std::mutex> guard(lock_);
  TBlock* block = Holder(name);
  if (block == nullptr) return false;
  if (--block->live == 0 && block->bytes != filling_) {
    std::free(block->bytes);
    blocks_.erase(blocks_.begin() + (block - blocks_.data()));
  }
  return true;
}

size_t TNamePool::BlockCount() {
  const std::lock_guard<std::mutex> guard(lock_);
  return blocks_.size();
}

// Made before main and torn down after it, with the record pools.
TNamePool namePool;

char* CopyName(const char* text, size_t length) { return namePool.Copy(text, length); }

void ReleaseName(char* name) {
  if (!namePool.Release(name)) std::free(name);
}
