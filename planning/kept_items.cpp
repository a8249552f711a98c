#include "planning/kept_items.h"

#include "planning/fragment_pieces.h"

const char* WhyItemStays(const TItem& item) {
  if ((item.flags & kItemDamaged) != 0) return "the volume contradicts itself about it";
  if (item.parent == nullptr) return "the root folder's index is not moved";
  if (ClustersNotPlaced(item.fragments) > 0) return "the file system has not placed all of it";
  for (const TFragment* run = item.fragments; run != nullptr; run = run->next) {
    if (run->lcn < 0) return "sparse or compressed: its holes are not moved";
  }
  return nullptr;
}
