#include "platform/linux/host_listed_entries.h"

#include <algorithm>

THostListedEntries::TFolder& THostListedEntries::Folder(const THostPath& folder) {
  TRoot& root = roots_[folder.root];
  const auto known = root.folders.find(folder.below);
  if (known != root.folders.end()) return known->second;
  root.paths.push_back(folder.below);
  return root.folders[root.paths.back()];
}

const THostListedEntries::TFolder* THostListedEntries::Holder(const THostPath& path,
                                                              std::string_view* name) const {
  // Split as the enumeration split its pattern, so the folder reads the same.
  std::string_view folder;
  SplitHostPathViews(path, &folder, name);
  if (name->empty()) return nullptr;
  if (last_ != nullptr && lastRoot_ == path.root && lastPath_ == folder) return last_;
  const auto root = roots_.find(path.root);
  if (root == roots_.end()) return nullptr;
  const auto listed = root->second.folders.find(folder);
  if (listed == root->second.folders.end()) return nullptr;
  lastRoot_ = path.root;
  lastPath_ = listed->first;
  last_ = &listed->second;
  return last_;
}

void THostListedEntries::FolderListed(const THostPath& folder, const THostOddEntries& odd) {
  std::lock_guard<std::mutex> hold(lock_);
  TFolder& known = Folder(folder);
  known.listedToEnd = true;
  for (const auto& entry : odd) {
    // The kinds are in the order of care: the later the more careful.
    const auto found = known.odd.emplace(entry.first, entry.second);
    found.first->second = std::max(found.first->second, entry.second);
  }
}

void THostListedEntries::SubfolderListed(const THostPath& folder, const std::string& name,
                                         TFileIdentity identity) {
  std::lock_guard<std::mutex> hold(lock_);
  Folder(folder).subfolders[name] = identity;
}

THostEntryKind THostListedEntries::ListedKind(const THostPath& path) const {
  std::string_view name;
  std::lock_guard<std::mutex> hold(lock_);
  const TFolder* folder = Holder(path, &name);
  if (folder == nullptr || !folder->listedToEnd) return THostEntryKind::kOther;
  // Most folders hold no odd entry: their names need no copy to look up.
  if (folder->odd.empty()) return THostEntryKind::kPlain;
  const auto odd = folder->odd.find(std::string(name));
  return odd != folder->odd.end() ? odd->second : THostEntryKind::kPlain;
}

bool THostListedEntries::ListedIdentity(const THostPath& path, TFileIdentity* identity) const {
  THostPath named = path;
  while (named.below.size() > 1 && named.below.back() == '/') named.below.pop_back();
  std::string_view name;
  std::lock_guard<std::mutex> hold(lock_);
  const TFolder* folder = Holder(named, &name);
  if (folder == nullptr) return false;
  const auto subfolder = folder->subfolders.find(std::string(name));
  if (subfolder == folder->subfolders.end()) return false;
  *identity = subfolder->second;
  return true;
}
