// The free clusters of a btrfs file system, from its block groups and the
// extents allocated in them, read with the tree search (BTRFS_IOC_TREE_SEARCH_V2,
// which needs CAP_SYS_ADMIN). btrfs answers no GETFSMAP. Addresses are the
// file system's logical ones, as FIEMAP reports a file's extents there, so
// the map and the files' runs agree; one cluster is one sector (4 KiB).
// Only data block groups offer free space: a metadata or system group's
// free space cannot hold a file's data, and logical space outside every
// group is not space at all, so both count as in use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/host_fsmap.h"

// statfs's f_type of btrfs.
constexpr long kBtrfsSuperMagic = 0x9123683E;

// A key of btrfs's trees: where one search reply ended and the next begins.
struct TBtrfsKey {
  uint64_t objectid = 0;
  uint32_t type = 0;
  uint64_t offset = 0;
};

// The items of one tree-search reply (`items` search headers, each followed
// by its item, in `bytes` bytes) that say where space lies, appended to
// records as space-map records: a data block group as free, an extent
// (metadata extents of nodeBytes) as in use; other items and other groups
// add nothing. *last is set to the key of the last item. False when a
// header or an item runs past the reply, or a group's item is too short.
bool BtrfsSpaceRecords(const uint8_t* reply, size_t bytes, uint32_t items, uint32_t nodeBytes,
                       std::vector<TFsmapRecord>* records, TBtrfsKey* last);

// Raises *end to the end, in logical bytes, of each chunk among the items
// of one chunk-tree reply (as BtrfsSpaceRecords reads a reply); *last is set
// to the key of the last item. False when the reply runs short or a chunk
// ends past 2^64.
bool BtrfsChunksEnd(const uint8_t* reply, size_t bytes, uint32_t items, uint64_t* end,
                    TBtrfsKey* last);

// The key after `key` in the trees' order; false past the last key there is.
bool NextBtrfsKey(TBtrfsKey* key);

// The end of the logical address space of the btrfs file system that fd
// (open for reading) lies on, in bytes: the end of its last chunk. A file system balanced or
// grown moves its chunks ever higher, past the device's size, and its files'
// runs (FIEMAP) with them. False where the tree search is refused (it needs
// root) or fails.
bool BtrfsLogicalEnd(int fd, uint64_t* endBytes);

// The space map of the btrfs file system holding folder; false, with map
// untouched, where the tree search is refused (it needs root) or fails.
bool ReadBtrfsSpaceMap(const std::string& folder, THostSpaceMap* map);
