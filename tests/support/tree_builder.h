// Builds item trees by hand for tests of the planning stages.
#pragma once

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "model/item.h"

inline char* HeapName(const char* text) {
  char* copy = static_cast<char*>(std::malloc(std::strlen(text) + 1));
  std::strcpy(copy, text);
  return copy;
}

// An item with the given runs, each {lcn, length}, laid one after another
// from vcn 0; clusters and fragmentCount follow from them.
inline TItem* AddItem(TItem* parent, const char* name, int64_t size, bool folder,
                      std::initializer_list<std::pair<int64_t, int64_t>> runs = {}) {
  TItem* item = NewItem(parent, HeapName(name), size, folder ? kItemFolder : 0);
  TFragment* tail = nullptr;
  for (const auto& run : runs) {
    TFragment* fragment = NewFragment(item, item->clusters, run.first, run.second);
    if (tail == nullptr) {
      item->fragments = fragment;
    } else {
      tail->next = fragment;
    }
    tail = fragment;
    item->clusters += run.second;
    ++item->fragmentCount;
  }
  return item;
}
