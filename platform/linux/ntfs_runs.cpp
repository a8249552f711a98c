// Opening a file or folder of an NTFS volume: what its handle will answer,
// its size and the runs of its stream, read once at the open.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/linux/ntfs_disk_value.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_mft_view.h"
#include "platform/linux/ntfs_path.h"
#include "platform/linux/ntfs_volume.h"

bool TNtfsVolume::Open(const std::string& path, bool backupSemantics, TNtfsItem* item) {
  // From the collected view when it can tell; from the item's record else.
  if (const TNtfsMftView* view = View()) {
    const int64_t record = FindInView(*view, path);
    if (view->Answer(record, item)) {
      item->record = static_cast<uint64_t>(record);
      return !item->folder || backupSemantics;
    }
  }
  TParsedPath parsed;
  if (!Parse(path, &parsed)) return false;
  Fold(&parsed);
  ntfs_inode* inode = OpenInode(parsed);
  if (inode == nullptr) return false;
  const bool folder = (NTFS_DISK_BITS(inode->mrec, flags) & MFT_RECORD_IS_DIRECTORY) != 0;
  // As CreateFile: a folder only with backup semantics, a file either way.
  if (folder && !backupSemantics) {
    ntfs_inode_close(inode);
    return false;
  }
  *item = TNtfsItem();
  item->folder = folder;
  item->record = inode->mft_no;
  ReadItemStream(inode, item);
  ntfs_inode_close(inode);
  return true;
}

bool TNtfsVolume::OpenFileTable(TNtfsItem* item) {
  ntfs_inode* inode = ntfs_inode_open(volume_, FILE_MFT);
  if (inode == nullptr) return false;
  *item = TNtfsItem();
  item->record = FILE_MFT;
  ReadItemStream(inode, item);
  ntfs_inode_close(inode);
  return true;
}

void ReadItemStream(ntfs_inode* inode, TNtfsItem* item) {
  // A file's runs are those of its unnamed data stream; a folder's those of
  // its file name index, the only stream Windows maps for a folder.
  ntfs_attr* stream = item->folder ? ntfs_attr_open(inode, AT_INDEX_ALLOCATION, NTFS_INDEX_I30, 4)
                                   : ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0);
  if (stream == nullptr) {
    // No such stream (a small folder, a file without data) has no runs; any
    // other failure is a record that cannot be read.
    item->runsReadable = errno == ENOENT;
    return;
  }
  if (!item->folder) item->size = stream->data_size;
  if (NAttrNonResident(stream)) {
    // The whole mapping, also the parts that other MFT records hold when
    // the stream has an attribute list: Windows maps it as one.
    if (ntfs_attr_map_whole_runlist(stream) != 0) {
      item->runsReadable = false;
    } else {
      for (const runlist_element* run = stream->rl; run != nullptr && run->length > 0; ++run) {
        AppendRun(&item->runs, run->lcn, run->length);
      }
    }
  }
  ntfs_attr_close(stream);
}

namespace {

// The name after the last '/' of path, and in *slash where that '/' stands;
// "" when there is none.
const char* LastName(const std::string& path, size_t* slash) {
  // memrchr looks at many bytes at once; every item's open asks this.
  const void* last = memrchr(path.data(), '/', path.size());
  if (last == nullptr) {
    *slash = std::string::npos;
    return "";
  }
  *slash = static_cast<size_t>(static_cast<const char*>(last) - path.data());
  return path.c_str() + *slash + 1;
}

// A name that leads one level down: not empty, "." or "..".
bool IsPlainName(const char* name) {
  return name[0] != '\0' && std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

}  // namespace

int64_t TNtfsVolume::FindInView(const TNtfsMftView& view, const std::string& path) {
  // A folder opened as "a/b/" is the folder "a/b", remembered as such for
  // the look-ups of its items that follow.
  if (path.size() > 1 && path.back() == '/') {
    return FindFolderInView(view, path.substr(0, path.find_last_not_of('/') + 1));
  }
  size_t slash = 0;
  const char* name = LastName(path, &slash);
  if (!IsPlainName(name)) return FindWholeInView(view, path);
  // Items are mostly opened folder by folder: the last folder is compared
  // before its path is hashed.
  if (lastFolderRecord_ < 0 || path.compare(0, slash, lastFolderPath_) != 0) {
    lastFolderPath_.assign(path, 0, slash);
    lastFolderRecord_ = FindFolderInView(view, lastFolderPath_);
  }
  return FindNamedInView(view, lastFolderRecord_, name);
}

int64_t TNtfsVolume::FindFolderInView(const TNtfsMftView& view, const std::string& path) {
  const auto known = folderRecords_.find(path);
  if (known != folderRecords_.end()) return known->second;
  // A path whose last name is a plain one leads where that name leads in
  // the folder before it; any other is resolved whole.
  size_t slash = 0;
  const char* name = LastName(path, &slash);
  const int64_t record =
      IsPlainName(name) ? FindNamedInView(view, FindFolderInView(view, path.substr(0, slash)), name)
                        : FindWholeInView(view, path);
  folderRecords_.emplace(path, record);
  return record;
}

int64_t TNtfsVolume::FindNamedInView(const TNtfsMftView& view, int64_t folder, const char* name) {
  if (folder < 0 || !NtfsUnits(name, &lookupUnits_)) return -1;
  return view.FindIn(folder, lookupUnits_.data(), lookupUnits_.size(), &findHint_);
}

int64_t TNtfsVolume::FindWholeInView(const TNtfsMftView& view, const std::string& path) {
  TParsedPath parsed;
  return Parse(path, &parsed) ? view.Find(parsed.components) : -1;
}
