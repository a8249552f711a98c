// The placement rules, free of any drive: the zone of an item by three tests
// in order (is it a folder, is its extension a program's or an archive's,
// is it small).
#pragma once

#include "model/item.h"

// Zones the rules give; 2, 4 and 6 are never given.
constexpr int kZoneFolders = 1;
constexpr int kZonePrograms = 3;
constexpr int kZoneSmallFiles = 5;
constexpr int kZoneLargeFiles = 7;
constexpr int kZoneArchives = 8;

constexpr int64_t kSmallFileLimit = 2000000;  // bytes, decimal: a file this size is small

// The zone of item from its folder flag, name and size alone.
int ZoneOf(const TItem& item);
