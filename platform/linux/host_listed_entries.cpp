#include "platform/linux/host_listed_entries.h"

#include <algorithm>

namespace {

// The root's descriptor, then the folder's path below it: the same folder
// below two roots gives two keys.
std::string FolderKey(const THostPath& folder) {
  std::string key(reinterpret_cast<const char*>(&folder.root), sizeof folder.root);
  key += folder.below;
  return key;
}

}  // namespace

void THostListedEntries::FolderListed(const THostPath& folder, const THostOddEntries& odd) {
  std::lock_guard<std::mutex> hold(lock_);
  auto& entries = folders_[FolderKey(folder)];
  for (const auto& entry : odd) {
    // The kinds are in the order of care: the later the more careful.
    const auto known = entries.emplace(entry.first, entry.second);
    known.first->second = std::max(known.first->second, entry.second);
  }
}

THostEntryKind THostListedEntries::ListedKind(const THostPath& path) const {
  // Split as the enumeration split its pattern, so the folder reads the same.
  THostPath folder;
  std::string name;
  SplitHostPath(path, &folder, &name);
  if (name.empty()) return THostEntryKind::kOther;
  const std::string key = FolderKey(folder);
  std::lock_guard<std::mutex> hold(lock_);
  const auto listed = folders_.find(key);
  if (listed == folders_.end()) return THostEntryKind::kOther;
  const auto odd = listed->second.find(name);
  return odd != listed->second.end() ? odd->second : THostEntryKind::kPlain;
}
