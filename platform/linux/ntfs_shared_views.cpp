#include "platform/linux/ntfs_shared_views.h"

std::shared_ptr<const TNtfsMftView> TNtfsSharedViews::Find(const std::string& imagePath,
                                                           uint64_t epoch) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = views_.find(imagePath);
  if (found == views_.end()) return nullptr;
  const auto written = epochs_.find(imagePath);
  if (epoch != (written != epochs_.end() ? written->second : 0)) return nullptr;
  return found->second.lock();
}

void TNtfsSharedViews::Offer(const std::string& imagePath, uint64_t epoch,
                             const std::shared_ptr<const TNtfsMftView>& view) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto written = epochs_.find(imagePath);
  if (epoch != (written != epochs_.end() ? written->second : 0)) return;
  views_[imagePath] = view;
  ++offered_;
}

int64_t TNtfsSharedViews::Offered() const {
  std::lock_guard<std::mutex> guard(lock_);
  return offered_;
}

uint64_t TNtfsSharedViews::Epoch(const std::string& imagePath) const {
  std::lock_guard<std::mutex> guard(lock_);
  const auto written = epochs_.find(imagePath);
  return written != epochs_.end() ? written->second : 0;
}

void TNtfsSharedViews::Written(const std::string& imagePath) {
  std::lock_guard<std::mutex> guard(lock_);
  views_.erase(imagePath);
  ++epochs_[imagePath];
  writes_.fetch_add(1, std::memory_order_release);
}
