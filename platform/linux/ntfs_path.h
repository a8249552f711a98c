// A path inside an NTFS volume as TNtfsVolume looks it up: its names, and
// the key under which the reference of the item it leads to is remembered.
// Shared by the files that implement TNtfsVolume only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/ntfs_volume.h"

struct TNtfsVolume::TParsedPath {
  // The names from the root down, UTF-16 as written ("." and ".." resolved);
  // none for the root.
  std::vector<std::vector<uint16_t>> components;
  // "/" and each name upper-cased by the volume's table; "" for the root.
  // Set by TNtfsVolume::Fold, only when the index walk needs it.
  std::u16string key;
};

// The UTF-16 units (little-endian, as stored) of a UTF-8 text, into *units;
// false when it is not valid UTF-8 as libntfs-3g reads it.
bool NtfsUnits(const char* text, std::vector<uint16_t>* units);
