// The places where a drive's volume contradicts itself, as the stages find
// them: written by the worker and the retrieval's helper thread, read by the
// window layer and the reports once the worker has finished (and by tests at
// any time). One small lock guards the list; each call holds it for one
// append or one copy.
#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

#include "platform/system_services.h"

class TDamageList {
 public:
  void Add(TVolumeDamage damage) {
    std::lock_guard<std::mutex> guard(lock_);
    places_.push_back(std::move(damage));
  }
  // A copy of every place found so far, in the order found.
  std::vector<TVolumeDamage> Places() const {
    std::lock_guard<std::mutex> guard(lock_);
    return places_;
  }
  // Forgets every place, for an analysis made anew.
  void Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    places_.clear();
  }
  size_t Count() const {
    std::lock_guard<std::mutex> guard(lock_);
    return places_.size();
  }

 private:
  mutable std::mutex lock_;
  std::vector<TVolumeDamage> places_;
};
