// What one sequential pass over an NTFS volume's MFT learns of every item:
// its names in each folder (as the folder indexes hold them), whether it is
// a folder, and the size and runs its handle answers. A TNtfsVolume reading
// in MFT order answers listings and opens from it instead of opening each
// item's record on its own.
//
// Built by the thread that owns the mount it reads (see ntfs_volume.h), then
// only read: the mounts of one image in a pool share it, each on its own
// thread, so it holds no state of any caller and nothing here is guarded.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/linux/ntfs_volume.h"
#include "platform/system_services.h"

struct _ntfs_volume;

class TNtfsMftView {
 public:
  // Reads the whole MFT of volume (not owned; needed only during the call)
  // in reads of many records each, half of them on a second thread. Called
  // by the thread that owns the volume. None when the MFT cannot be read.
  static std::unique_ptr<TNtfsMftView> Collect(_ntfs_volume* volume);

  // True when a record in use could not be read, or an extension record
  // names a base that is not there: the view may then miss names that the
  // folder indexes hold, so listings are checked against the indexes.
  bool Damaged() const { return damaged_; }
  // What was found wrong while the MFT was read, in record order.
  const std::vector<TVolumeDamage>& Damage() const { return damage_; }
  // True when the root's record is in use but no folder.
  bool RootIsNoFolder() const;
  // The clusters the cluster bitmap marked used, when the MFT was read,
  // that no attribute of any record held: an interrupted run of moves
  // leaves them. -1 when the view cannot tell (damage).
  int64_t ClustersHeldByNoFile() const { return clustersHeldByNoFile_; }

  // The record of the item at components (names from the root down, UTF-16
  // as written), each name found in its folder ignoring case as Windows
  // finds it, the root for none; -1 when the view cannot tell (a name
  // missing, met more than once, or a metafile; a record it could not read).
  int64_t Find(const std::vector<std::vector<uint16_t>>& components) const;
  // The record of the item named name (`length` UTF-16 units as written)
  // in folder, found as by Find; -1 when the view cannot tell, also in a
  // folder whose index differs from the MFT (see IndexDiffers). *hint is
  // the caller's own, kept across calls (0 to begin): where the name found
  // last ended, since items are mostly looked up in their folder's order.
  int64_t FindIn(int64_t folder, const uint16_t* name, size_t length, size_t* hint) const;

  // One name of a folder's listing.
  struct TName {
    const uint16_t* units;  // UTF-16 as stored; owned by the view
    uint8_t length;         // units
    uint8_t nameSpace;      // FILE_NAME_POSIX, _WIN32, _DOS or _WIN32_AND_DOS
    uint32_t record;        // the item's record number
    uint32_t attributes;    // the listing's attributes, when attributesKnown
    bool attributesKnown;   // false when the record must be opened to tell
  };
  // The names in folder (a record Find gave), in the order of the folder's
  // index (its collation: upper-cased by the volume's table, then as
  // written), short names and metafiles included; false when the view
  // cannot list it.
  bool List(int64_t folder, std::vector<TName>* names) const;
  // How many names ahead a walk over a folder's names asks for the memory it
  // will read.
  static constexpr uint32_t kListAhead = 8;

  // True when the folder's index is small enough to live in its record and
  // holds other names than the MFT gives the folder: its index then decides.
  // Larger indexes are not compared (their blocks lie outside the MFT).
  bool IndexDiffers(int64_t folder) const;

  // What an open of the record learns; false when the view cannot tell
  // (then the record itself must be read).
  bool Answer(int64_t record, TNtfsItem* item) const;

  TNtfsMftView(const TNtfsMftView&) = delete;
  TNtfsMftView& operator=(const TNtfsMftView&) = delete;

  struct TRecord;
  struct TNameEntry;
  struct TListedName;
  struct TIndexSignature;

 private:
  explicit TNtfsMftView(const _ntfs_volume* volume);
  ~TNtfsMftView();
  friend struct std::default_delete<TNtfsMftView>;
  class TCollector;

  // The record of the name equal to name, ignoring case, in folder; -1 when
  // there is none or more than one. *hint as FindIn takes it.
  int64_t FindInFolder(uint32_t folder, const uint16_t* name, uint32_t length, size_t* hint) const;
  // Compares two names as the volume's upper-case table does.
  int Collate(const uint16_t* a, uint32_t aLength, const uint16_t* b, uint32_t bLength,
              bool ignoreCase) const;

  // The volume's upper-case table, copied: the view outlives the mount
  // that read it when other mounts share it.
  const std::vector<uint16_t> upcase_;
  bool damaged_ = false;
  std::vector<TVolumeDamage> damage_;
  int64_t clustersHeldByNoFile_ = -1;
  // By record number; a record holds the range of names_ listed in it (a
  // folder) and of runs_ its stream has. A volume of 1,000,000 items holds
  // about 1,000,000 records, names and units of names times 20.
  std::vector<TRecord> records_;
  std::vector<TListedName> names_;      // folder after folder, each in index order
  std::vector<uint16_t> nameUnits_;     // every name's UTF-16 units
  std::vector<TStreamRun> runs_;        // every record's runs, merged as Windows reports them
  std::vector<TStreamRun> recordRuns_;  // the runs of the record being decoded
};
