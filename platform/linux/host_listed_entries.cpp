#include "platform/linux/host_listed_entries.h"

#include <algorithm>
#include <utility>

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
  TFolder& known = folders_[FolderKey(folder)];
  known.listedToEnd = true;
  for (const auto& entry : odd) {
    // The kinds are in the order of care: the later the more careful.
    const auto found = known.odd.emplace(entry.first, entry.second);
    found.first->second = std::max(found.first->second, entry.second);
  }
}

void THostListedEntries::SubfolderListed(const THostPath& folder, const std::string& name,
                                         TFileIdentity identity) {
  std::string key = FolderKey(folder);
  std::lock_guard<std::mutex> hold(lock_);
  folders_[std::move(key)].subfolders[name] = identity;
}

const THostListedEntries::TFolder* THostListedEntries::Holder(const THostPath& path,
                                                              std::string* name) const {
  // Split as the enumeration split its pattern, so the folder reads the same.
  THostPath folder;
  SplitHostPath(path, &folder, name);
  if (name->empty()) return nullptr;
  const auto listed = folders_.find(FolderKey(folder));
  return listed != folders_.end() ? &listed->second : nullptr;
}

THostEntryKind THostListedEntries::ListedKind(const THostPath& path) const {
  std::string name;
  std::lock_guard<std::mutex> hold(lock_);
  const TFolder* folder = Holder(path, &name);
  if (folder == nullptr || !folder->listedToEnd) return THostEntryKind::kOther;
  const auto odd = folder->odd.find(name);
  return odd != folder->odd.end() ? odd->second : THostEntryKind::kPlain;
}

bool THostListedEntries::ListedIdentity(const THostPath& path, TFileIdentity* identity) const {
  THostPath named = path;
  while (named.below.size() > 1 && named.below.back() == '/') named.below.pop_back();
  std::string name;
  std::lock_guard<std::mutex> hold(lock_);
  const TFolder* folder = Holder(named, &name);
  if (folder == nullptr) return false;
  const auto subfolder = folder->subfolders.find(name);
  if (subfolder == folder->subfolders.end()) return false;
  *identity = subfolder->second;
  return true;
}
