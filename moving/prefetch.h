// Asking for memory before it is read, where a loop visits records scattered
// over hundreds of MiB in an order known ahead (a schedule's files, largest
// first): the reads of several records then overlap instead of each waiting
// its turn for main memory. A hint only: no effect on what is computed.
#pragma once

inline void PrefetchRead(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address, 0, 3);
#else
  (void)address;
#endif
}
