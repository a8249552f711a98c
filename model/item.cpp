#include "model/item.h"

#include <cstdlib>

#include "model/record_pool.h"

TItem* NewItem(TItem* parent, char* name, int64_t size, uint32_t flags) {
  TItem* item = itemPool.Allocate();
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
  TFragment* fragment = fragmentPool.Allocate();
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

void ReleaseItem(TItem* item) {
  // A record already free is left alone, and so is whatever its stale links
  // name: those records may belong to other items by now.
  if (item == nullptr || !itemPool.InUse(item)) return;
  // Everything the release needs is read while the slot is still ours: once
  // it is freed another worker may reuse and overwrite it at once.
  TItem* child = item->firstChild;
  TFragment* fragments = item->fragments;
  item->fragments = nullptr;
  while (child != nullptr) {
    TItem* next = child->nextSibling;
    ReleaseItem(child);
    child = next;
  }
  ReleaseFragments(fragments);
  std::free(item->name);
  itemPool.Release(item);
}

void ReleaseFragments(TFragment* first) {
  while (first != nullptr) {
    TFragment* next = first->next;
    fragmentPool.Release(first);
    first = next;
  }
}
