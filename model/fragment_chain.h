// A chain of fragments built front to back: the stages append runs in the
// order they are read, and keep the head where the chain belongs.
#pragma once

#include "model/item.h"

struct TFragmentChain {
  TFragment* head = nullptr;  // first fragment; none while the chain is empty
  TFragment* tail = nullptr;  // last fragment; none while the chain is empty

  // Links fragment (unlinked, not none) after the tail.
  void Append(TFragment* fragment) {
    if (tail == nullptr) {
      head = fragment;
    } else {
      tail->next = fragment;
    }
    tail = fragment;
  }
};
