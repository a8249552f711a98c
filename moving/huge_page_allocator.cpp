#include "moving/huge_page_allocator.h"

#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t Rounded(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace
#endif

void* AllocateHugePageBacked(size_t bytes) {
#if defined(__linux__)
  if (bytes >= kHugePage) {
    // A 2 MiB page needs a 2 MiB-aligned address: a page more is mapped,
    // and the slack on either side given back.
    const size_t rounded = Rounded(bytes);
    void* mapped = mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    char* start = static_cast<char*>(mapped);
    char* aligned = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(start) + kHugePage - 1) /
                                            kHugePage * kHugePage);
    if (aligned > start) munmap(start, static_cast<size_t>(aligned - start));
    char* end = start + rounded + kHugePage;
    if (end > aligned + rounded)
      munmap(aligned + rounded, static_cast<size_t>(end - aligned - rounded));
    // A hint: where it is refused, the memory is ordinary.
    madvise(aligned, rounded, MADV_HUGEPAGE);
    return aligned;
  }
#endif
  return ::operator new(bytes);
}

void FreeHugePageBacked(void* memory, size_t bytes) {
#if defined(__linux__)
  if (bytes >= kHugePage) {
    munmap(memory, Rounded(bytes));
    return;
  }
#endif
  ::operator delete(memory, bytes);
}
