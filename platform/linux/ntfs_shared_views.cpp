#include "platform/linux/ntfs_shared_views.h"

std::shared_ptr<const TNtfsMftView> TNtfsSharedViews::Find(const std::string& imagePath) {
  std::lock_guard<std::mutex> guard(lock_);
  const auto found = views_.find(imagePath);
  return found != views_.end() ? found->second.lock() : nullptr;
}

void TNtfsSharedViews::Offer(const std::string& imagePath,
                             const std::shared_ptr<const TNtfsMftView>& view) {
  std::lock_guard<std::mutex> guard(lock_);
  views_[imagePath] = view;
  ++offered_;
}

int64_t TNtfsSharedViews::Offered() const {
  std::lock_guard<std::mutex> guard(lock_);
  return offered_;
}
