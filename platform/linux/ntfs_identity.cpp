// Which MFT record a folder path of an NTFS volume leads to: two paths lead
// to one folder when an index entry names a folder already on the path.
#include "platform/linux/ntfs_disk_value.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_mft_view.h"
#include "platform/linux/ntfs_path.h"
#include "platform/linux/ntfs_volume.h"

bool TNtfsVolume::FolderRecord(const std::string& path, uint64_t* record) {
  // From the collected view when it can tell; from the path walk else.
  if (const TNtfsMftView* view = View()) {
    const int64_t found = FindInView(*view, path);
    TNtfsItem item;
    if (found >= 0 && view->Answer(found, &item)) {
      *record = static_cast<uint64_t>(found);
      return item.folder;
    }
  }
  TParsedPath parsed;
  if (!Parse(path, &parsed)) return false;
  Fold(&parsed);
  ntfs_inode* inode = OpenInode(parsed);
  if (inode == nullptr) return false;
  const bool folder = (NTFS_DISK_BITS(inode->mrec, flags) & MFT_RECORD_IS_DIRECTORY) != 0;
  *record = inode->mft_no;
  ntfs_inode_close(inode);
  return folder;
}
