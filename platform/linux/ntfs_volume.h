// One NTFS volume mounted read-only through libntfs-3g, with what the Linux
// services ask of it: folder listings as Windows gives them, what an open
// learns of a file or folder (its size and runs), the cluster bitmap, and
// the free-cluster count. Listings and opens come from the MFT read in
// order, or folder by folder through the indexes (TNtfsReadOrder).
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
#include "platform/system_services.h"

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
  uint64_t record = 0;  // its MFT record number (the base record)
  // The unnamed data stream of a file, the $I30 index allocation of a
  // folder; merged as Windows reports them, none for a resident or missing
  // stream.
  std::vector<TStreamRun> runs;
};

class TNtfsMftView;
class TNtfsSharedViews;

// How a volume answers listings and opens.
enum class TNtfsReadOrder {
  // From one sequential read of the whole MFT, made at the first listing or
  // open (ntfs_mft_view.h); each item the collected view cannot answer is
  // read as by kIndexWalk. The default.
  kMftOrder,
  // Folder by folder through their indexes, each item's record read when it
  // is opened. DISKOPT_NTFS_READ=index chooses it for the program.
  kIndexWalk,
};

// The order DISKOPT_NTFS_READ chooses: "index" the index walk, anything
// else (or nothing) MFT order.
TNtfsReadOrder NtfsReadOrderFromEnvironment();

class TNtfsVolume {
 public:
  // Mounts the image file or block device at imagePath read-only; none when
  // it is no NTFS volume libntfs-3g can mount, or claims more clusters than
  // the device holds (a truncated image) or NTFS can number. On failure
  // *error, when given, receives why: the errno libntfs-3g left (EINVAL for a
  // damaged or truncated volume, EIO for an unreadable one, ENOMEM ...), or
  // EFBIG for more than kNtfsMaxClusters clusters; never 0. In
  // MFT order the mount answers from a view another mount of the image has
  // offered to shared (not owned; it must outlive the mount), and offers
  // the view it reads itself there; with none it reads its own.
  static std::unique_ptr<TNtfsVolume> Mount(const std::string& imagePath,
                                            TNtfsReadOrder order = TNtfsReadOrder::kMftOrder,
                                            int* error = nullptr,
                                            TNtfsSharedViews* shared = nullptr);

  ~TNtfsVolume();
  TNtfsVolume(const TNtfsVolume&) = delete;
  TNtfsVolume& operator=(const TNtfsVolume&) = delete;

  int64_t ClusterCount() const;
  uint32_t ClusterBytes() const;
  // The image's epoch (ntfs_shared_views.h) this mount read it in; 0 for a
  // mount with no shared views.
  uint64_t Epoch() const { return epoch_; }
  uint32_t SectorBytes() const;

  // The entries of the folder at folderPath ('/'-separated, "/" the root)
  // whose names match pattern (Win32 wildcards), as FindFirstFile lists
  // them: in index order (the order of the folder's B+ tree, which is by
  // the volume's upper-case table), long names only, the metafiles left out,
  // "." and ".." first except in the root. False when the folder cannot be
  // listed. Every entry listed is remembered, so opening it later costs no
  // path walk. Read in MFT order, the folder's index decides on a damaged
  // volume and for a small folder whose index holds other names than the
  // MFT, and the names on which the two disagree go to TakeDisagreements.
  bool ListFolder(const std::string& folderPath, const char* pattern,
                  std::vector<TNtfsEntry>* entries);

  // The names (UTF-8) of the last listing on which the MFT and the folder's
  // index disagree, and forgets them; none on a volume without damage.
  std::vector<std::string> TakeDisagreements();
  // What the volume's structures were found to contradict so far, beyond
  // the listings' disagreements: the MFT read in order (unreadable records,
  // a claim past its clusters, parents in a loop), a root that is no
  // folder. The same for every mount of one image that has read as much.
  std::vector<TVolumeDamage> Damage();
  // The clusters the cluster bitmap marks used that no attribute holds, as
  // the MFT read in order found them (TNtfsMftView); -1 before that read,
  // or when it could not tell.
  int64_t ClustersHeldByNoFile() const;
  // Lets this mount's hold on the MFT read in order go: on a volume of a
  // million items it takes about a hundred megabytes, which the drive no
  // longer needs once its items are read. Damage and ClustersHeldByNoFile
  // answer as before; a later listing or open finds the view again (when
  // another mount still holds it) or reads it again.
  void ForgetView();

  // Opens the file or folder at path ('/'-separated, case-insensitive as on
  // Windows) and learns what its handle needs. A folder opens only with
  // backupSemantics. False when there is no such item or it cannot be read.
  bool Open(const std::string& path, bool backupSemantics, TNtfsItem* item);
  // Opens the file table (\$MFT), the one metafile whose size and runs are
  // told, as Windows tells them to an open for attributes only. False when
  // its record cannot be read.
  bool OpenFileTable(TNtfsItem* item);
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
  // Listings and opens that read the item's own MFT record rather than
  // answering from the MFT read in order: tests and benchmarks check that a
  // volume without damage needs none in MFT order.
  int64_t RecordReads() const { return recordReads_; }

 private:
  struct TParsedPath;

  TNtfsVolume(_ntfs_volume* volume, TNtfsReadOrder order, std::string imagePath,
              TNtfsSharedViews* shared, uint64_t epoch);

  // The path's components; false when the path is not valid UTF-8.
  bool Parse(const std::string& path, TParsedPath* parsed) const;
  // Sets the path's case-folded key, which the index walk remembers
  // references by.
  void Fold(TParsedPath* parsed) const;
  // The collected view in MFT order, found or read at the first call; none
  // in index order or when the MFT cannot be read.
  const TNtfsMftView* View();
  // The record of the item at path ('/'-separated, as Open takes it) by the
  // collected view; -1 when the view cannot tell.
  int64_t FindInView(const TNtfsMftView& view, const std::string& path);
  // The record of the folder at path by the collected view, as FindInView
  // finds it, remembered for the next look-up of that path; -1 when the
  // view cannot tell.
  int64_t FindFolderInView(const TNtfsMftView& view, const std::string& path);
  // The record of the plain name `name` (UTF-8) in folder by the view; -1
  // when the view cannot tell or folder is none.
  int64_t FindNamedInView(const TNtfsMftView& view, int64_t folder, const char* name);
  // The record at a path whose last name is no plain one ("a/..", "a/.",
  // the root) by the view, the path resolved whole as Parse resolves it.
  int64_t FindWholeInView(const TNtfsMftView& view, const std::string& path);
  // The folder's entries from the collected view; false when it cannot list
  // them all. *checked is false when the folder's index must decide all the
  // same (a damaged volume, a small index that holds other names).
  bool ListFromView(const std::string& folderPath, const char* pattern,
                    std::vector<TNtfsEntry>* entries, bool* checked);
  // The folder's entries from its index.
  bool ListFromIndex(const TParsedPath& path, const char* pattern,
                     std::vector<TNtfsEntry>* entries);
  // The item at a parsed path, opened by its remembered reference or found by
  // a walk from the root; none when there is no such item.
  _ntfs_inode* OpenInode(const TParsedPath& path);
  // Appends the case-folded form of a name to key.
  void AppendFolded(const uint16_t* name, size_t length, std::u16string* key) const;
  // Attributes of the listed entry whose type libntfs-3g could not tell
  // from its index entry alone (links, reparse points, special files).
  uint32_t AttributesFromRecord(uint64_t reference);

  _ntfs_volume* volume_;  // owned: unmounted by the destructor
  const TNtfsReadOrder order_;
  const std::string imagePath_;
  TNtfsSharedViews* const shared_;  // not owned; none when views are not shared
  const uint64_t epoch_;            // the image's epoch when it was mounted
  // Held with every other mount that shares it; found or read at the first
  // use in MFT order.
  std::shared_ptr<const TNtfsMftView> view_;
  bool viewRead_ = false;  // the view has been found or read (or tried)
  // What the view this mount let go last (ForgetView) found, answered while
  // it holds none: damage in record order, and the clusters held by no file
  // (-1 when it could not tell, or before any view was read).
  std::vector<TVolumeDamage> forgottenDamage_;
  int64_t forgottenClustersHeld_ = -1;
  std::vector<std::string> disagreements_;
  bool rootNotFolder_ = false;  // the root's record was found to be no folder
  // The folder part of the path FindInView found an item in last, as given,
  // and the folder's record: items are mostly opened folder by folder.
  std::string lastFolderPath_;
  int64_t lastFolderRecord_ = -1;
  size_t findHint_ = 0;                // FindNamedInView's hint (see TNtfsMftView::FindIn)
  std::vector<uint16_t> lookupUnits_;  // the name FindNamedInView looks up; reused
  // The records of the folders found by path in the view (-1 for a path the
  // view cannot tell), by the path as given: the walk names each folder
  // to list it, to tell its identity and to open each item in it. One entry
  // per folder of the volume.
  std::unordered_map<std::string, int64_t> folderRecords_;
  // MFT references (with sequence numbers) of the items listed so far, by
  // the case-folded path: "/" and each name upper-cased by the volume's
  // table, "" for the root. Grows with every listing from an index (in MFT
  // order only those the view could not answer); a volume of 100,000 items
  // read by the index walk holds 100,000 entries.
  std::unordered_map<std::u16string, uint64_t> references_;
  int64_t pathWalks_ = 0;
  int64_t recordReads_ = 0;
};
