// The cluster bitmap of the file system holding a host folder, from its
// space map (GETFSMAP), and the volume handle (\\.\L:) of a host-folder
// drive that answers FSCTL_GET_VOLUME_BITMAP from it. One cluster is one
// file-system block, as in the runs FIEMAP gives (host_fiemap.h).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/handle_object.h"
#include "platform/system_services.h"

// One record of the space map, in bytes.
struct TFsmapRecord {
  uint64_t physical;
  uint64_t length;
  bool free;  // owned by nobody (the FMR_OWN_FREE special owner)
};

// A file system's free clusters: its clusters, and its free stretches as
// {first cluster, clusters}, as the services hand them to the analysis.
using THostSpaceMap = TFreeSpaceExtents;

// The space map from its records: a cluster is free when free records cover
// it whole and no other record touches it. What no record covers is in use:
// ext4 leaves out the records of some file data (those of groups whose
// metadata lies in another group), so a gap is no proof of free space, and
// space that is not certainly free is never offered. The volume ends at the
// last record's end or at minimumBytes, whichever is later.
THostSpaceMap SpaceMapFromRecords(const std::vector<TFsmapRecord>& records, uint64_t clusterBytes,
                                  uint64_t minimumBytes);

// Bytes of the bitmap of `map` from the byte describing firstCluster (a
// multiple of 8): bit i of byte j set for cluster firstCluster + 8j + i in
// use. Clusters past the end read as in use.
void FillBitmap(const THostSpaceMap& map, int64_t firstCluster, uint32_t bytes, uint8_t* out);

// One GETFSMAP call (the kernel's FS_IOC_GETFSMAP, or a test's script):
// fills the records of head after its low key, fmh_keys[0], up to
// fmh_count of them, and sets fmh_entries. False when the call fails.
using TFsmapCall = std::function<bool(struct fsmap_head* head)>;

// Every record of the space map of `device` (in the kernel's 32-bit device
// encoding), asked through call in batches of `batch` records, each batch
// after the last record of the one before, until a record flagged last or
// an empty batch. On success returns true with records in the order given.
// False when a call fails, and when a batch ends no further on than the
// one before it: a reply that does not move forward would be asked for
// again forever.
bool CollectFsmapRecords(uint32_t device, uint32_t batch, const TFsmapCall& call,
                         std::vector<TFsmapRecord>* records);

// The space map of the data device of the file system holding folder, from
// GETFSMAP; false where it is refused (it needs CAP_SYS_ADMIN) or not
// answered.
bool ReadFsmapSpaceMap(const std::string& folder, THostSpaceMap* map);

// The space map of the file system holding folder: for ext2, ext3 and ext4
// from its own block bitmaps (host_ext_bitmap.h), for btrfs from its block
// groups and extents (host_btrfs_space.h), elsewhere, or where the bitmaps
// cannot be read, from the space map of its data device (GETFSMAP). False
// where none can be had: all need root (the device's node, and
// CAP_SYS_ADMIN for the tree search and GETFSMAP).
bool ReadHostSpaceMap(const std::string& folder, THostSpaceMap* map);

// The volume of a host-folder drive: its space map, read at the open.
class THostVolumeHandle : public THandleObject {
 public:
  // None when the space map cannot be read, as an unprivileged open of a
  // volume fails on Windows. The caller owns the handle.
  static THostVolumeHandle* Open(const std::string& folder);

  // FSCTL_GET_VOLUME_BITMAP; retrieval pointers are asked of files and
  // folders only (STATUS_INVALID_PARAMETER here).
  TNtStatus FsControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, TIoStatusBlock* io) override;

  // The space map the bitmap replies describe, as it was read at the open.
  const THostSpaceMap& SpaceMap() const { return map_; }

 private:
  explicit THostVolumeHandle(THostSpaceMap map);

  const THostSpaceMap map_;
};
