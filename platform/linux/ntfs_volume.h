// One NTFS volume mounted read-only through libntfs-3g, with what the Linux
// services ask of it: folder listings as Windows gives them, what an open
// learns of a file or folder (its size and runs), the cluster bitmap, and
// the free-cluster count.
//
// libntfs-3g keeps no locks: a mounted volume is used by one thread only
// (see ntfs_volume_pool.h), so nothing here is guarded.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/linux/fs_control_replies.h"

struct _ntfs_volume;
struct _ntfs_inode;

// One entry of a folder listing.
struct TNtfsEntry {
  // Long name, UTF-8 in listed form (windows_names.h), shorter than
  // kMaxPath bytes.
  std::string name;
  uint32_t attributes;  // kAttributeDirectory, kAttributeReparsePoint
};

// What an open learns of a file or folder: everything its handle answers.
struct TNtfsItem {
  bool folder = false;
  int64_t size = 0;  // bytes of the unnamed data stream; 0 for a folder
  // False when the stream's mapping could not be read: the item opens (as
  // on Windows) but its retrieval pointers fail.
  bool runsReadable = true;
  // The unnamed data stream of a file, the $I30 index allocation of a
  // folder; merged as Windows reports them, none for a resident or missing
  // stream.
  std::vector<TStreamRun> runs;
};

class TNtfsVolume {
 public:
  // Mounts the image file or block device at imagePath read-only; none when
  // it is no NTFS volume libntfs-3g can mount, or claims more clusters than
  // the device holds (a truncated image). On failure *error, when given,
  // receives why: the errno libntfs-3g left (EINVAL for a damaged or
  // truncated volume, EIO for an unreadable one, ENOMEM ...), never 0.
  static std::unique_ptr<TNtfsVolume> Mount(const std::string& imagePath, int* error = nullptr);

  ~TNtfsVolume();
  TNtfsVolume(const TNtfsVolume&) = delete;
  TNtfsVolume& operator=(const TNtfsVolume&) = delete;

  int64_t ClusterCount() const;
  uint32_t ClusterBytes() const;
  uint32_t SectorBytes() const;

  // The entries of the folder at folderPath ('/'-separated, "/" the root)
  // whose names match pattern (Win32 wildcards), as FindFirstFile lists
  // them: in index order (the order of the folder's B+ tree, which is by
  // the volume's upper-case table), long names only, the metafiles left out,
  // "." and ".." first except in the root. False when the folder cannot be
  // listed. Every entry listed is remembered, so opening it later costs no
  // path walk.
  bool ListFolder(const std::string& folderPath, const char* pattern,
                  std::vector<TNtfsEntry>* entries);

  // Opens the file or folder at path ('/'-separated, case-insensitive as on
  // Windows) and learns what its handle needs. A folder opens only with
  // backupSemantics. False when there is no such item or it cannot be read.
  bool Open(const std::string& path, bool backupSemantics, TNtfsItem* item);
  // The MFT record number of the folder at path; false when path names no
  // folder.
  bool FolderRecord(const std::string& path, uint64_t* record);

  // Bytes of the cluster bitmap ($Bitmap) from the one describing
  // firstCluster (a multiple of 8); false when they cannot be read.
  bool ReadBitmap(int64_t firstCluster, uint32_t bytes, uint8_t* out);

  // Clusters not in use, by the cluster bitmap; -1 when it cannot be read.
  int64_t FreeClusters();

  // Opens that found their item by walking the path from the root, folder by
  // folder, rather than by a remembered reference: tests and benchmarks
  // check that listed items open without a walk.
  int64_t PathWalks() const { return pathWalks_; }

 private:
  struct TParsedPath;

  explicit TNtfsVolume(_ntfs_volume* volume);

  // The path's components and its case-folded key; false when the path is
  // not valid UTF-8.
  bool Parse(const std::string& path, TParsedPath* parsed) const;
  // The item at a parsed path, opened by its remembered reference or found by
  // a walk from the root; none when there is no such item.
  _ntfs_inode* OpenInode(const TParsedPath& path);
  // Appends the case-folded form of a name to key.
  void AppendFolded(const uint16_t* name, size_t length, std::u16string* key) const;
  // The stream runs and size of an open item.
  void ReadStream(_ntfs_inode* inode, TNtfsItem* item);
  // Attributes of the listed entry whose type libntfs-3g could not tell
  // from its index entry alone (links, reparse points, special files).
  uint32_t AttributesFromRecord(uint64_t reference);

  _ntfs_volume* volume_;  // owned: unmounted by the destructor
  // MFT references (with sequence numbers) of the items listed so far, by
  // the case-folded path: "/" and each name upper-cased by the volume's
  // table, "" for the root. Grows with every listing; a volume of 100,000
  // items holds 100,000 entries.
  std::unordered_map<std::u16string, uint64_t> references_;
  int64_t pathWalks_ = 0;
};
