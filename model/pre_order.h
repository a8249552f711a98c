// The tree's pre-order (an item, then each child's subtree in list order)
// as a step from one item to the next, so long walks need no recursion.
#pragma once

#include "model/item.h"

// The item after item in the pre-order of root's subtree; none after the
// last one.
inline const TItem* NextInPreOrder(const TItem* item, const TItem* root) {
  if (item->firstChild != nullptr) return item->firstChild;
  while (item != root && item->nextSibling == nullptr) item = item->parent;
  return item == root ? nullptr : item->nextSibling;
}
