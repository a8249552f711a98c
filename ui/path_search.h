// Finding items by their path, for the search box beside the map.
#pragma once

#include <string>
#include <vector>

#include "drive/user_paths.h"
#include "model/item.h"

// The items of root's tree (may be none) whose path as paths name it
// ("D:\docs\a.txt", "/usr/share/doc/a.txt": what the window shows) holds
// text, ASCII letters matched in either case, in the listing's order; none
// for an empty text, and never the root. The items are root's, not owned.
std::vector<const TItem*> ItemsWhosePathHolds(const TItem* root, const TUserPaths& paths,
                                              const std::string& text);
