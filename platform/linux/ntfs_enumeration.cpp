// Folder listings of an NTFS volume, as FindFirstFile and FindNextFile give
// them on Windows, and the enumeration handle over them.
#include "platform/linux/ntfs_enumeration.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "platform/linux/ntfs_collation.h"
#include "platform/linux/ntfs_disk_value.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_listed_name.h"
#include "platform/linux/ntfs_mft_view.h"
#include "platform/linux/ntfs_path.h"
#include "platform/linux/wildcard_match.h"
#include "platform/linux/windows_names.h"

namespace {

// One name of a folder's index as libntfs-3g hands it over.
struct TIndexName {
  std::vector<ntfschar> name;  // UTF-16 as stored
  int nameSpace;               // FILE_NAME_POSIX, _WIN32, _DOS or _WIN32_AND_DOS
  MFT_REF reference;           // with the sequence number
  unsigned type;               // NTFS_DT_*
};

// ntfs_readdir's callback: collects every name. Exceptions (a failed
// allocation) must not unwind through libntfs-3g's C frames: the listing
// ends with an error instead.
int CollectName(void* names, const ntfschar* name, const int length, const int nameSpace, const s64,
                const MFT_REF reference, const unsigned type) {
  try {
    static_cast<std::vector<TIndexName>*>(names)->push_back(
        TIndexName{std::vector<ntfschar>(name, name + length), nameSpace, reference, type});
  } catch (...) {
    return -1;
  }
  return 0;
}

// "." or "..", which ntfs_readdir puts first for every folder.
const char* DotName(const TIndexName& entry) {
  const std::vector<ntfschar>& name = entry.name;
  if (entry.nameSpace != FILE_NAME_POSIX || name.empty() || name.size() > 2) return nullptr;
  for (ntfschar unit : name) {
    if (le16_to_cpu(unit) != '.') return nullptr;
  }
  return name.size() == 1 ? "." : "..";
}

// The names listed by one way and not the other, or by both with other
// attributes; each name once, in byte order.
std::vector<std::string> Disagreements(std::vector<TNtfsEntry> mft, std::vector<TNtfsEntry> index) {
  const auto byName = [](const TNtfsEntry& a, const TNtfsEntry& b) {
    return a.name != b.name ? a.name < b.name : a.attributes < b.attributes;
  };
  std::sort(mft.begin(), mft.end(), byName);
  std::sort(index.begin(), index.end(), byName);
  std::vector<TNtfsEntry> differing;
  std::set_symmetric_difference(mft.begin(), mft.end(), index.begin(), index.end(),
                                std::back_inserter(differing), byName);
  std::vector<std::string> names;
  for (const TNtfsEntry& entry : differing) {
    if (names.empty() || names.back() != entry.name) names.push_back(entry.name);
  }
  return names;
}

}  // namespace

bool TNtfsVolume::ListFolder(const std::string& folderPath, const char* pattern,
                             std::vector<TNtfsEntry>* entries) {
  entries->clear();
  disagreements_.clear();
  std::vector<TNtfsEntry> collected;
  bool checked = false;
  const TNtfsMftView* view = View();
  const bool fromView = view != nullptr && ListFromView(folderPath, pattern, &collected, &checked);
  if (fromView && checked) {
    *entries = std::move(collected);
    return true;
  }
  // Read in index order, or the view cannot list this folder, or may miss
  // what its index holds (a damaged volume, a small index that holds other
  // names): the index decides, and where the two disagree is said.
  TParsedPath path;
  if (!Parse(folderPath, &path)) return false;
  Fold(&path);
  const bool listed = ListFromIndex(path, pattern, entries);
  if (fromView) disagreements_ = Disagreements(collected, *entries);
  return listed;
}

std::vector<std::string> TNtfsVolume::TakeDisagreements() { return std::move(disagreements_); }

std::vector<TVolumeDamage> TNtfsVolume::Damage() {
  std::vector<TVolumeDamage> found;
  const TNtfsMftView* view = viewRead_ ? view_.get() : nullptr;
  found = view != nullptr ? view->Damage() : forgottenDamage_;
  if (rootNotFolder_ || (view != nullptr && view->RootIsNoFolder())) {
    found.push_back(TVolumeDamage{"\\", "the root folder's record is not a folder"});
  }
  return found;
}

int64_t TNtfsVolume::ClustersHeldByNoFile() const {
  return viewRead_ && view_ != nullptr ? view_->ClustersHeldByNoFile() : forgottenClustersHeld_;
}

void TNtfsVolume::ForgetView() {
  if (view_ == nullptr) return;
  forgottenDamage_ = view_->Damage();
  forgottenClustersHeld_ = view_->ClustersHeldByNoFile();
  rootNotFolder_ = rootNotFolder_ || view_->RootIsNoFolder();
  view_.reset();
  viewRead_ = false;
}

bool TNtfsVolume::ListFromView(const std::string& folderPath, const char* pattern,
                               std::vector<TNtfsEntry>* entries, bool* checked) {
  const TNtfsMftView* view = View();
  const int64_t folder = FindFolderInView(*view, folderPath);
  std::vector<TNtfsMftView::TName> names;
  if (folder < 0 || !view->List(folder, &names)) return false;
  *checked = !view->Damaged() && !view->IndexDiffers(folder);
  // The root lists no dots; a path is the root when no name is left of it
  // once "." and ".." are resolved (a damaged index may lead elsewhere to
  // the root's record, which then lists as any folder does).
  TParsedPath parsed;
  const bool root = folder == FILE_root && Parse(folderPath, &parsed) && parsed.components.empty();
  entries->reserve(names.size() + 2);
  for (const char* dot : {".", ".."}) {
    if (!root && WildcardMatch(pattern, dot))
      entries->push_back(TNtfsEntry{dot, kAttributeDirectory});
  }
  std::string listed;
  for (size_t i = 0; i < names.size(); ++i) {
    // The names' units lie in MFT order, far apart: each name is asked for
    // a few names ahead, so that it is on its way by the time it is read.
    if (i + TNtfsMftView::kListAhead < names.size()) {
      __builtin_prefetch(names[i + TNtfsMftView::kListAhead].units);
    }
    const TNtfsMftView::TName& name = names[i];
    if (name.nameSpace == FILE_NAME_DOS || name.record < FILE_first_user) continue;
    if (!NtfsListedName(name.units, name.length, &listed) ||
        !WildcardMatch(pattern, listed.c_str())) {
      continue;
    }
    // A type only the record's data tells: the index walk tells it.
    if (!name.attributesKnown) return false;
    entries->push_back(TNtfsEntry{listed, name.attributes});
  }
  return true;
}

bool TNtfsVolume::ListFromIndex(const TParsedPath& path, const char* pattern,
                                std::vector<TNtfsEntry>* entries) {
  entries->clear();
  ntfs_inode* folder = OpenInode(path);
  if (folder == nullptr) return false;
  std::vector<TIndexName> names;
  s64 position = 0;
  const bool isFolder = (NTFS_DISK_BITS(folder->mrec, flags) & MFT_RECORD_IS_DIRECTORY) != 0;
  if (!isFolder && folder->mft_no == FILE_root) rootNotFolder_ = true;
  const bool listed = isFolder && ntfs_readdir(folder, &position, &names, CollectName) == 0;
  ntfs_inode_close(folder);
  if (!listed) return false;

  // The root lists neither "." nor "..", as on Windows; other folders list
  // both first. Short names (the DOS namespace) and the metafiles, records
  // below the first user record, are not listed, as on Windows.
  const bool root = path.components.empty();
  std::vector<const TIndexName*> listing;
  for (const TIndexName& entry : names) {
    if (const char* dot = DotName(entry)) {
      if (!root && WildcardMatch(pattern, dot))
        entries->push_back(TNtfsEntry{dot, kAttributeDirectory});
    } else if (entry.nameSpace != FILE_NAME_DOS && MREF(entry.reference) >= FILE_first_user) {
      listing.push_back(&entry);
    }
  }
  // ntfs_readdir gives the index root's names first and then each index
  // block in the order of the blocks on disk; Windows walks the B+ tree in
  // order, which is by the index's own collation.
  std::stable_sort(listing.begin(), listing.end(),
                   [this](const TIndexName* a, const TIndexName* b) {
                     return NtfsCollate(a->name.data(), static_cast<uint32_t>(a->name.size()),
                                        b->name.data(), static_cast<uint32_t>(b->name.size()),
                                        false, volume_->upcase, volume_->upcase_len) < 0;
                   });

  std::string name;
  for (const TIndexName* entry : listing) {
    if (!NtfsListedName(entry->name.data(), entry->name.size(), &name) ||
        !WildcardMatch(pattern, name.c_str())) {
      continue;
    }
    uint32_t attributes = 0;
    if (entry->type == NTFS_DT_DIR) {
      attributes = kAttributeDirectory;
    } else if (entry->type != NTFS_DT_REG) {
      attributes = AttributesFromRecord(entry->reference);
    }
    entries->push_back(TNtfsEntry{name, attributes});
    std::u16string key = path.key;
    key.push_back(u'/');
    AppendFolded(entry->name.data(), entry->name.size(), &key);
    references_[std::move(key)] = entry->reference;
  }
  return true;
}

uint32_t TNtfsVolume::AttributesFromRecord(uint64_t reference) {
  ++recordReads_;
  ntfs_inode* inode = ntfs_inode_open(volume_, reference);
  if (inode == nullptr) return 0;
  uint32_t attributes = 0;
  if (NTFS_DISK_BITS(inode->mrec, flags) & MFT_RECORD_IS_DIRECTORY)
    attributes |= kAttributeDirectory;
  if (NTFS_DISK_BITS(inode, flags) & FILE_ATTR_REPARSE_POINT) attributes |= kAttributeReparsePoint;
  ntfs_inode_close(inode);
  return attributes;
}

TNtfsFindHandle::TNtfsFindHandle(std::vector<TNtfsEntry> entries) : entries_(std::move(entries)) {}

TNtfsFindHandle* TNtfsFindHandle::Start(std::vector<TNtfsEntry> entries, TFindData* entry) {
  if (entries.empty()) return nullptr;
  auto* find = new TNtfsFindHandle(std::move(entries));
  find->Next(entry);
  return find;
}

bool TNtfsFindHandle::Next(TFindData* entry) {
  if (next_ >= entries_.size()) return false;
  const TNtfsEntry& found = entries_[next_++];
  std::memcpy(entry->name, found.name.c_str(), found.name.size() + 1);
  entry->attributes = found.attributes;
  return true;
}
