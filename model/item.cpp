#include "model/item.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "model/name_pool.h"
#include "model/record_pool.h"

TItem* NewItem(TItem* parent, char* name, int64_t size, uint32_t flags) {
  TItem* item = TakeRecord(itemPool);
  if (item == nullptr) return nullptr;
  *item = TItem{};
  item->name = name;
  item->parent = parent;
  item->size = size;
  item->flags = flags;
  if (parent != nullptr) {
    if (parent->firstChild == nullptr) {
      parent->firstChild = item;
    } else {
      parent->lastChild->nextSibling = item;
    }
    parent->lastChild = item;
  }
  return item;
}

TFragment* NewFragment(TItem* owner, int64_t vcn, int64_t lcn, int64_t length) {
  TFragment* fragment = TakeRecord(fragmentPool);
  if (fragment == nullptr) return nullptr;
  *fragment = TFragment{owner, vcn, lcn, length, nullptr, nullptr};
  return fragment;
}

TItem* TItem::UnlinkChild(TItem* child) {
  TItem* previous = nullptr;
  TItem* current = firstChild;
  while (current != nullptr && current != child) {
    previous = current;
    current = current->nextSibling;
  }
  if (current == nullptr) return nullptr;
  return UnlinkChildAfter(previous, child);
}

TItem* TItem::UnlinkChildAfter(TItem* previous, TItem* child) {
  if (child == nullptr || (previous == nullptr ? firstChild : previous->nextSibling) != child) {
    return UnlinkChild(child);
  }
  TItem* following = child->nextSibling;
  if (previous == nullptr) {
    firstChild = following;
    if (firstChild == nullptr) lastChild = nullptr;
  } else {
    previous->nextSibling = following;
  }
  if (lastChild == child) lastChild = previous;
  return following;
}

namespace {

// Releases the runs of a chain from the fragment pool, which the caller
// holds. Each link is read before its record is released; while the pool
// is held nobody can take the record meanwhile.
void ReleaseHeldFragments(TFragment* first) {
  while (first != nullptr) {
    TFragment* next = first->next;
    fragmentPool.ReleaseHeld(first);
    first = next;
  }
}

// Releases item and everything below it from the item pool, with their
// names and runs; the caller holds both pools.
void ReleaseHeldTree(TItem* item) {
  if (item == nullptr || !itemPool.InUseHeld(item)) return;
  TItem* child = item->firstChild;
  while (child != nullptr) {
    TItem* next = child->nextSibling;
    ReleaseHeldTree(child);
    child = next;
  }
  ReleaseHeldFragments(item->fragments);
  item->fragments = nullptr;
  ReleaseName(item->name);
  itemPool.ReleaseHeld(item);
}

}  // namespace

void ReleaseItem(TItem* item) {
  // A whole tree goes under one hold of each pool rather than two locks per
  // item: while the item pool is held nobody else can take a slot, so every
  // link is read before its record could be reused. A record already free is
  // left alone, and so is whatever its stale links name: those records may
  // belong to other items by now. Other drives' workers wait for a large
  // tree (a million items take about 30 ms) where they would otherwise
  // wait as long in a million turns.
  const std::unique_lock<std::mutex> heldItems = itemPool.Hold();
  const std::unique_lock<std::mutex> heldFragments = fragmentPool.Hold();
  ReleaseHeldTree(item);
}

void ReleaseFragments(TFragment* first) {
  const std::unique_lock<std::mutex> held = fragmentPool.Hold();
  ReleaseHeldFragments(first);
}

std::string ListingPath(const TItem* item) {
  std::string path;
  for (; item != nullptr && item->parent != nullptr; item = item->parent) {
    path.insert(0, item->name);
    path.insert(0, 1, '\\');
  }
  return path;
}

TItem* ItemAtListingPath(TItem* root, const std::string& path) {
  if (path.empty() || path[0] != '\\') return nullptr;
  TItem* item = root;
  for (size_t at = 1; item != nullptr && at < path.size();) {
    const size_t end = std::min(path.find('\\', at), path.size());
    const std::string name = path.substr(at, end - at);
    TItem* child = item->firstChild;
    while (child != nullptr && name != child->name) child = child->nextSibling;
    item = child;
    at = end + 1;
  }
  return item;
}
