// The items that keep their place whatever a plan says, because moves never
// touch them: the plan lays the others out around them, and the move engine
// names the same reason for each. Plain data in, a constant text out.
#pragma once

#include "model/item.h"

// Why the item is never moved, in words; nullptr when it may be. NOMOVE is
// not among the reasons: an item in place may still move when a schedule
// needs its clusters.
const char* WhyItemStays(const TItem& item);
