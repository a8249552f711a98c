// Sorting many distinct numbers where each packs a sort key above an index:
// by their bits eleven at a time from the lowest, each pass reading and
// writing every number once, where a comparison sort would read each some
// twenty times over a million of them.
#pragma once

#include <cstdint>
#include <vector>

// Sorts keys ascending by their bits [lowBit, highBit); the bits below
// lowBit (an index, unique) keep keys that agree above them in the order
// they had. Uses a buffer as large as keys.
void RadixSort(std::vector<uint64_t>* keys, int lowBit, int highBit);

// The bits a number needs: 0 for 0, 1 for 1, 20 for a million.
int BitsFor(uint64_t value);
