#include "platform/linux/host_btrfs_space.h"

#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/btrfs_tree.h>
#include <sys/ioctl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Bytes of the reply buffer asked for per search; a reply that needs more
// for a single item says how much (EOVERFLOW), and the buffer grows once.
constexpr uint64_t kReplyBytes = 256 << 10;

template <typename T>
T ReadAt(const uint8_t* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// The search arguments with their reply buffer behind them.
struct TSearch {
  explicit TSearch(uint64_t bufferBytes)
      : storage(new uint64_t[(sizeof(btrfs_ioctl_search_args_v2) + bufferBytes + 7) / 8]()),
        bytes(bufferBytes) {}
  btrfs_ioctl_search_args_v2* Args() {
    return reinterpret_cast<btrfs_ioctl_search_args_v2*>(storage.get());
  }
  std::unique_ptr<uint64_t[]> storage;
  uint64_t bytes;
};

// Every item of types [minType, maxType] of tree `tree`, as space-map
// records. False when a search fails or a reply cannot be read.
bool SearchTree(int fd, uint64_t tree, uint32_t minType, uint32_t maxType, uint32_t nodeBytes,
                std::vector<TFsmapRecord>* records) {
  auto search = std::make_unique<TSearch>(kReplyBytes);
  TBtrfsKey from;
  for (;;) {
    btrfs_ioctl_search_args_v2* args = search->Args();
    btrfs_ioctl_search_key& key = args->key;
    key = btrfs_ioctl_search_key{};
    key.tree_id = tree;
    key.min_objectid = from.objectid;
    key.min_type = from.type;
    key.min_offset = from.offset;
    key.max_objectid = UINT64_MAX;
    key.max_type = maxType;
    key.max_offset = UINT64_MAX;
    key.max_transid = UINT64_MAX;
    key.nr_items = UINT32_MAX;
    args->buf_size = search->bytes;
    if (ioctl(fd, BTRFS_IOC_TREE_SEARCH_V2, args) != 0) {
      if (errno != EOVERFLOW || args->buf_size <= search->bytes) return false;
      search = std::make_unique<TSearch>(args->buf_size);
      continue;
    }
    if (key.nr_items == 0) return true;
    // The search range is one interval of whole keys, so items of other
    // types between the first and last key come too: the reply's reader
    // keeps only groups and extents.
    TBtrfsKey last;
    if (!BtrfsSpaceRecords(args->buf, search->bytes, key.nr_items, nodeBytes, records, &last)) {
      return false;
    }
    from = last;
    if (!NextBtrfsKey(&from)) return true;
    if (from.type < minType) from.type = minType;
  }
}

}  // namespace

bool BtrfsSpaceRecords(const uint8_t* reply, size_t bytes, uint32_t items, uint32_t nodeBytes,
                       std::vector<TFsmapRecord>* records, TBtrfsKey* last) {
  size_t at = 0;
  for (uint32_t i = 0; i < items; ++i) {
    if (bytes - at < sizeof(btrfs_ioctl_search_header)) return false;
    const auto header = ReadAt<btrfs_ioctl_search_header>(reply + at);
    at += sizeof header;
    if (bytes - at < header.len) return false;
    const uint8_t* item = reply + at;
    at += header.len;
    *last = TBtrfsKey{header.objectid, header.type, header.offset};
    switch (header.type) {
      case BTRFS_EXTENT_ITEM_KEY:  // objectid: start; offset: length, in bytes
        records->push_back(TFsmapRecord{header.objectid, header.offset, false});
        break;
      case BTRFS_METADATA_ITEM_KEY:  // objectid: start; offset: the node's level
        records->push_back(TFsmapRecord{header.objectid, nodeBytes, false});
        break;
      case BTRFS_BLOCK_GROUP_ITEM_KEY: {  // objectid: start; offset: length
        if (header.len < sizeof(btrfs_block_group_item)) return false;
        const auto group = ReadAt<btrfs_block_group_item>(item);
        if ((group.flags & BTRFS_BLOCK_GROUP_DATA) != 0) {
          records->push_back(TFsmapRecord{header.objectid, header.offset, true});
        }
        break;
      }
      default:
        break;
    }
  }
  return true;
}

bool NextBtrfsKey(TBtrfsKey* key) {
  if (key->offset != UINT64_MAX) {
    ++key->offset;
    return true;
  }
  key->offset = 0;
  if (key->type < UINT8_MAX) {
    ++key->type;
    return true;
  }
  key->type = 0;
  if (key->objectid == UINT64_MAX) return false;
  ++key->objectid;
  return true;
}

bool ReadBtrfsSpaceMap(const std::string& folder, THostSpaceMap* map) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  btrfs_ioctl_fs_info_args info{};
  struct statvfs figures;
  std::vector<TFsmapRecord> records;
  // btrfs adds a new extent's item to its extent tree only when the
  // transaction that wrote it commits: a file written or defragmented a
  // moment ago would lie in space the tree still calls free. syncfs writes
  // what waits and commits.
  bool read = syncfs(fd) == 0 && ioctl(fd, BTRFS_IOC_FS_INFO, &info) == 0 &&
              fstatvfs(fd, &figures) == 0 &&
              SearchTree(fd, BTRFS_EXTENT_TREE_OBJECTID, BTRFS_EXTENT_ITEM_KEY,
                         BTRFS_BLOCK_GROUP_ITEM_KEY, info.nodesize, &records);
  // A file system made with a tree of its own for block groups keeps them
  // out of the extent tree.
  const auto isGroup = [](const TFsmapRecord& record) { return record.free; };
  if (read && std::none_of(records.begin(), records.end(), isGroup)) {
    read = SearchTree(fd, BTRFS_BLOCK_GROUP_TREE_OBJECTID, BTRFS_BLOCK_GROUP_ITEM_KEY,
                      BTRFS_BLOCK_GROUP_ITEM_KEY, info.nodesize, &records);
  }
  const int error = errno;
  close(fd);
  if (!read) {
    errno = error;
    return false;
  }
  // Clusters of the size FIEMAP's runs are counted in (host_fiemap.cpp).
  const uint64_t blockBytes = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
  THostSpaceMap found =
      SpaceMapFromRecords(records, blockBytes, uint64_t{figures.f_blocks} * blockBytes);
  if (found.clusterCount <= 0) return false;
  *map = std::move(found);
  return true;
}
