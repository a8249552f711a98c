// Finding items by their path, for the search box beside the map.
#pragma once

#include <string>
#include <vector>

#include "model/item.h"

// The items of root's tree (may be none) whose listing path ("\docs\a.txt")
// holds text, ASCII letters matched in either case, in the listing's order;
// none for an empty text, and never the root, whose path is empty. The
// items are root's, not owned.
std::vector<const TItem*> ItemsWhosePathHolds(const TItem* root, const std::string& text);
