// The slot of an item's zone in the per-zone tables: zone - 1, and slot 0
// for an unclassified item (zone 0), which thus shares zone 1's place.
#pragma once

#include "model/item.h"

// Slots ZoneSlot can give: the zone has four bits, though the rules give only
// zones 1 to 8.
constexpr int kZoneSlotLimit = 15;

inline int ZoneSlot(const TItem& item) {
  const int zone = item.Zone();
  return zone == 0 ? 0 : zone - 1;
}
