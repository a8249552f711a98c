// Makes the process-wide fragment pool run out for the life of the object:
// the chain is capped at its present blocks and every free slot is taken.
#pragma once

#include <vector>

#include "model/record_pool.h"

class TFragmentPoolExhaustion {
 public:
  TFragmentPoolExhaustion() {
    fragmentPool.SetBlockLimit(fragmentPool.BlockCount());
    while (TFragment* record = fragmentPool.Allocate()) taken.push_back(record);
  }
  ~TFragmentPoolExhaustion() {
    for (TFragment* record : taken) fragmentPool.Release(record);
    fragmentPool.SetBlockLimit(0);
  }
  TFragmentPoolExhaustion(const TFragmentPoolExhaustion&) = delete;
  TFragmentPoolExhaustion& operator=(const TFragmentPoolExhaustion&) = delete;

 private:
  std::vector<TFragment*> taken;
};
