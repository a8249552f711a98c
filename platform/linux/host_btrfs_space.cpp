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
#include <functional>
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

// Hands each of the `items` items of a reply (a search header, then as
// many bytes of item as it says) to take, and sets *last to the key of the
// last one. False when a header or an item runs past the reply's bytes, or
// take refuses an item.
template <typename TTake>
bool ForEachItem(const uint8_t* reply, size_t bytes, uint32_t items, TBtrfsKey* last,
                 const TTake& take) {
  size_t at = 0;
  for (uint32_t i = 0; i < items; ++i) {
    if (bytes - at < sizeof(btrfs_ioctl_search_header)) return false;
    const auto header = ReadAt<btrfs_ioctl_search_header>(reply + at);
    at += sizeof header;
    if (bytes - at < header.len) return false;
    const uint8_t* item = reply + at;
    at += header.len;
    *last = TBtrfsKey{header.objectid, header.type, header.offset};
    if (!take(header, item)) return false;
  }
  return true;
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

// The items of one reply (its bytes and item count) handed to a reader,
// which sets the last key; false when the reply cannot be read.
using TReplyReader = std::function<bool(const uint8_t*, size_t, uint32_t, TBtrfsKey*)>;

// Every item of tree `tree` from key `from` to the last of type maxType,
// reply by reply through read. False when a search fails or a reply cannot
// be read.
bool SearchTree(int fd, uint64_t tree, TBtrfsKey from, uint32_t maxType, const TReplyReader& read) {
  const uint32_t minType = from.type;
  auto search = std::make_unique<TSearch>(kReplyBytes);
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
    // keeps only those it wants.
    TBtrfsKey last;
    if (!read(args->buf, search->bytes, key.nr_items, &last)) return false;
    from = last;
    if (!NextBtrfsKey(&from)) return true;
    if (from.type < minType) from.type = minType;
  }
}

}  // namespace

bool BtrfsSpaceRecords(const uint8_t* reply, size_t bytes, uint32_t items, uint32_t nodeBytes,
                       std::vector<TFsmapRecord>* records, TBtrfsKey* last) {
  const auto record = [&](const btrfs_ioctl_search_header& header, const uint8_t* item) {
    switch (header.type) {
      case BTRFS_EXTENT_ITEM_KEY:  // objectid: start; offset: length, in bytes
        records->push_back(TFsmapRecord{header.objectid, header.offset, false});
        return true;
      case BTRFS_METADATA_ITEM_KEY:  // objectid: start; offset: the node's level
        records->push_back(TFsmapRecord{header.objectid, nodeBytes, false});
        return true;
      case BTRFS_BLOCK_GROUP_ITEM_KEY: {  // objectid: start; offset: length
        if (header.len < sizeof(btrfs_block_group_item)) return false;
        const auto group = ReadAt<btrfs_block_group_item>(item);
        if ((group.flags & BTRFS_BLOCK_GROUP_DATA) != 0) {
          records->push_back(TFsmapRecord{header.objectid, header.offset, true});
        }
        return true;
      }
      default:
        return true;
    }
  };
  return ForEachItem(reply, bytes, items, last, record);
}

bool BtrfsChunksEnd(const uint8_t* reply, size_t bytes, uint32_t items, uint64_t* end,
                    TBtrfsKey* last) {
  const auto chunk = [end](const btrfs_ioctl_search_header& header, const uint8_t* item) {
    if (header.type != BTRFS_CHUNK_ITEM_KEY) return true;
    // offset: the chunk's first logical byte; the item opens with its length.
    if (header.len < sizeof(uint64_t)) return false;
    const uint64_t length = ReadAt<uint64_t>(item);
    if (length > UINT64_MAX - header.offset) return false;
    *end = std::max<uint64_t>(*end, header.offset + length);
    return true;
  };
  return ForEachItem(reply, bytes, items, last, chunk);
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
  const TReplyReader spaceRecords = [&](const uint8_t* reply, size_t bytes, uint32_t items,
                                        TBtrfsKey* last) {
    return BtrfsSpaceRecords(reply, bytes, items, info.nodesize, &records, last);
  };
  bool read = syncfs(fd) == 0 && ioctl(fd, BTRFS_IOC_FS_INFO, &info) == 0 &&
              fstatvfs(fd, &figures) == 0 &&
              SearchTree(fd, BTRFS_EXTENT_TREE_OBJECTID, TBtrfsKey{0, BTRFS_EXTENT_ITEM_KEY, 0},
                         BTRFS_BLOCK_GROUP_ITEM_KEY, spaceRecords);
  // A file system made with a tree of its own for block groups keeps them
  // out of the extent tree.
  const auto isGroup = [](const TFsmapRecord& record) { return record.free; };
  if (read && std::none_of(records.begin(), records.end(), isGroup)) {
    read =
        SearchTree(fd, BTRFS_BLOCK_GROUP_TREE_OBJECTID, TBtrfsKey{0, BTRFS_BLOCK_GROUP_ITEM_KEY, 0},
                   BTRFS_BLOCK_GROUP_ITEM_KEY, spaceRecords);
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

bool BtrfsLogicalEnd(int fd, uint64_t* endBytes) {
  uint64_t end = 0;
  const TReplyReader chunks = [&end](const uint8_t* reply, size_t bytes, uint32_t items,
                                     TBtrfsKey* last) {
    return BtrfsChunksEnd(reply, bytes, items, &end, last);
  };
  if (!SearchTree(fd, BTRFS_CHUNK_TREE_OBJECTID,
                  TBtrfsKey{BTRFS_FIRST_CHUNK_TREE_OBJECTID, BTRFS_CHUNK_ITEM_KEY, 0},
                  BTRFS_CHUNK_ITEM_KEY, chunks)) {
    return false;
  }
  *endBytes = end;
  return true;
}
