// Memory for the tables a schedule reads at random, hundreds of MiB for a
// million files: backed, where the kernel grants it, by pages of 2 MiB, so
// that a read at random finds its page in the TLB rather than walking the
// page tables first. Small tables, and systems without such pages, get
// ordinary memory.
#pragma once

#include <cstddef>

// bytes of memory, from one of the two kinds by its size; Free must be
// given the same size.
void* AllocateHugePageBacked(size_t bytes);
void FreeHugePageBacked(void* memory, size_t bytes);

template <typename T>
struct THugePageAllocator {
  using value_type = T;

  THugePageAllocator() = default;
  template <typename U>
  THugePageAllocator(const THugePageAllocator<U>&) {}

  T* allocate(size_t count) { return static_cast<T*>(AllocateHugePageBacked(count * sizeof(T))); }
  void deallocate(T* memory, size_t count) { FreeHugePageBacked(memory, count * sizeof(T)); }

  friend bool operator==(const THugePageAllocator&, const THugePageAllocator&) { return true; }
  friend bool operator!=(const THugePageAllocator&, const THugePageAllocator&) { return false; }
};
