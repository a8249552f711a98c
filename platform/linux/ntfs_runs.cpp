// Opening a file or folder of an NTFS volume: what its handle will answer,
// its size and the runs of its stream, read once at the open.
#include <cerrno>

#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_mft_view.h"
#include "platform/linux/ntfs_path.h"
#include "platform/linux/ntfs_volume.h"

bool TNtfsVolume::Open(const std::string& path, bool backupSemantics, TNtfsItem* item) {
  TParsedPath parsed;
  if (!Parse(path, &parsed)) return false;
  // From the collected view when it can tell; from the item's record else.
  if (const TNtfsMftView* view = View()) {
    if (view->Answer(view->Find(parsed.components), item)) return !item->folder || backupSemantics;
  }
  Fold(&parsed);
  ntfs_inode* inode = OpenInode(parsed);
  if (inode == nullptr) return false;
  const bool folder = (inode->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0;
  // As CreateFile: a folder only with backup semantics, a file either way.
  if (folder && !backupSemantics) {
    ntfs_inode_close(inode);
    return false;
  }
  *item = TNtfsItem();
  item->folder = folder;
  ReadStream(inode, item);
  ntfs_inode_close(inode);
  return true;
}

void TNtfsVolume::ReadStream(ntfs_inode* inode, TNtfsItem* item) {
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
