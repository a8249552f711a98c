#include "platform/linux/host_listed_entries.h"

namespace {

// The root's descriptor, then the folder's path below it: the same folder
// below two roots gives two keys.
std::string FolderKey(const THostPath& folder) {
  std::string key(reinterpret_cast<const char*>(&folder.root), sizeof folder.root);
  key += folder.below;
  return key;
}

}  // namespace

void THostListedEntries::FolderListed(const THostPath& folder,
                                      const std::vector<std::string>& oddNames) {
  std::lock_guard<std::mutex> hold(lock_);
  std::unordered_set<std::string>& odd = folders_[FolderKey(folder)];
  odd.insert(oddNames.begin(), oddNames.end());
}

bool THostListedEntries::ListedPlain(const THostPath& path) const {
  // Split as the enumeration split its pattern, so the folder reads the same.
  THostPath folder;
  std::string name;
  SplitHostPath(path, &folder, &name);
  if (name.empty()) return false;
  const std::string key = FolderKey(folder);
  std::lock_guard<std::mutex> hold(lock_);
  const auto listed = folders_.find(key);
  return listed != folders_.end() && listed->second.count(name) == 0;
}
