// Which MFT record a folder path of an NTFS volume leads to: two paths lead
// to one folder when an index entry names a folder already on the path.
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_path.h"
#include "platform/linux/ntfs_volume.h"

bool TNtfsVolume::FolderRecord(const std::string& path, uint64_t* record) {
  TParsedPath parsed;
  if (!Parse(path, &parsed)) return false;
  ntfs_inode* inode = OpenInode(parsed);
  if (inode == nullptr) return false;
  const bool folder = (inode->mrec->flags & MFT_RECORD_IS_DIRECTORY) != 0;
  *record = inode->mft_no;
  ntfs_inode_close(inode);
  return folder;
}
