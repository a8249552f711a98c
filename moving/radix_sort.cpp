#include "moving/radix_sort.h"

#include <cstddef>

void RadixSort(std::vector<uint64_t>* keys, int lowBit, int highBit) {
  constexpr int kDigitBits = 11;
  constexpr uint64_t kDigitMask = (uint64_t{1} << kDigitBits) - 1;
  std::vector<uint64_t> sorted(keys->size());
  for (int shift = lowBit; shift < highBit; shift += kDigitBits) {
    size_t counts[(1 << kDigitBits) + 1] = {};
    for (const uint64_t key : *keys) ++counts[((key >> shift) & kDigitMask) + 1];
    for (size_t digit = 1; digit <= (1 << kDigitBits); ++digit) counts[digit] += counts[digit - 1];
    for (const uint64_t key : *keys) sorted[counts[(key >> shift) & kDigitMask]++] = key;
    keys->swap(sorted);
  }
}

int BitsFor(uint64_t value) {
  int bits = 0;
  while (bits < 64 && (value >> bits) != 0) ++bits;
  return bits;
}
