#include "platform/linux/host_ext_bitmap.h"

#include <ext2fs/ext2fs.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/linux/cached_read.h"
#include "platform/linux/host_ext_metadata.h"
#include "platform/linux/run_beside.h"

std::string BlockDevicePath(dev_t device) {
  std::ifstream uevent("/sys/dev/block/" + std::to_string(major(device)) + ":" +
                       std::to_string(minor(device)) + "/uevent");
  std::string line;
  while (std::getline(uevent, line)) {
    if (line.rfind("DEVNAME=", 0) != 0) continue;
    const std::string path = "/dev/" + line.substr(8);
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISBLK(status.st_mode) || status.st_rdev != device) {
      return std::string();
    }
    return path;
  }
  return std::string();
}

namespace {

// Bytes read at most per call where the blocks to read lie side by side:
// the descriptor blocks of a volume without meta_bg, and the bitmaps of a
// flex group's groups (flex_bg puts them in one stretch).
constexpr uint64_t kBatchReadBytes = 1 << 20;

// Batches of one thread asked of the device together when a read finds
// its blocks outside the page cache: a disk then has hundreds of requests
// in flight instead of one a thread, which on a cold start is most of the
// run (tens of thousands of blocks, each in a place of its own).
constexpr size_t kAskAhead = 256;

// Free stretches as they are found in ascending order, each joined to the
// one before where it goes on from it.
void AppendFree(std::vector<TBlockStretch>* free, int64_t first, int64_t end) {
  if (first >= end) return;
  if (!free->empty() && free->back().first + free->back().second == first) {
    free->back().second += end - first;
  } else {
    free->emplace_back(first, end - first);
  }
}

// The clear bits of a group's bitmap as free stretches: bit i is block
// groupFirst + i, of `blocks` blocks. Taken a 64-bit word at a time: a
// word's runs begin and end where its bits change, found by counting
// trailing zeros, so a word costs as many steps as it holds changes, not
// 64. The bitmap fills whole words of its block (blocks is at most the
// block's bits); bits past `blocks` count as in use.
void AppendClearBits(const uint8_t* bits, int64_t groupFirst, int64_t blocks,
                     std::vector<TBlockStretch>* free) {
  int64_t runStart = -1;  // the first clear bit of the run still open
  for (int64_t base = 0; base < blocks; base += 64) {
    uint64_t used;
    std::memcpy(&used, bits + base / 8, sizeof used);
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    used = __builtin_bswap64(used);
#endif
    if (blocks - base < 64) used |= ~uint64_t{0} << (blocks - base);
    for (int at = 0; at < 64;) {
      // Ones where the bits change from what the run state is.
      const uint64_t change = (runStart < 0 ? ~used : used) >> at;
      if (change == 0) break;
      at += __builtin_ctzll(change);
      if (runStart < 0) {
        runStart = base + at;
      } else {
        AppendFree(free, groupFirst + runStart, groupFirst + base + at);
        runStart = -1;
      }
    }
  }
  if (runStart >= 0) AppendFree(free, groupFirst + runStart, groupFirst + blocks);
}

// What a group's descriptor tells the free-space read, decoded from its
// bytes on the device (little-endian; the high halves only in the wide
// descriptors of a 64-bit volume).
struct TGroupDescriptor {
  blk64_t blockBitmap;
  blk64_t inodeBitmap;
  blk64_t inodeTable;
  uint32_t freeBlocks;
  uint16_t flags;
};

TGroupDescriptor DecodeGroupDescriptor(const uint8_t* bytes, bool wide) {
  ext4_group_desc raw{};
  std::memcpy(&raw, bytes, wide ? sizeof raw : EXT2_MIN_DESC_SIZE);
  const auto join = [wide](uint32_t low, uint32_t high) {
    return blk64_t{ext2fs_le32_to_cpu(low)} |
           (wide ? blk64_t{ext2fs_le32_to_cpu(high)} << 32 : blk64_t{0});
  };
  TGroupDescriptor descriptor;
  descriptor.blockBitmap = join(raw.bg_block_bitmap, raw.bg_block_bitmap_hi);
  descriptor.inodeBitmap = join(raw.bg_inode_bitmap, raw.bg_inode_bitmap_hi);
  descriptor.inodeTable = join(raw.bg_inode_table, raw.bg_inode_table_hi);
  descriptor.freeBlocks =
      uint32_t{ext2fs_le16_to_cpu(raw.bg_free_blocks_count)} |
      (wide ? uint32_t{ext2fs_le16_to_cpu(raw.bg_free_blocks_count_hi)} << 16 : uint32_t{0});
  descriptor.flags = ext2fs_le16_to_cpu(raw.bg_flags);
  return descriptor;
}

// Items [at, end) of a list of blocks, to be read in one call.
using TBatch = std::pair<size_t, size_t>;

// The list of `count` blocks (blockOf(i) the i-th) cut into batches of
// blocks that lie side by side, each at most kBatchReadBytes.
template <typename TBlockOf>
std::vector<TBatch> SideBySide(size_t count, uint64_t blockBytes, TBlockOf blockOf) {
  std::vector<TBatch> batches;
  for (size_t at = 0; at < count;) {
    size_t end = at + 1;
    while (end < count && blockOf(end) == blockOf(end - 1) + 1 &&
           (end - at + 1) * blockBytes <= kBatchReadBytes) {
      ++end;
    }
    batches.emplace_back(at, end);
    at = end;
  }
  return batches;
}

// Reads the list of `count` blocks (blockOf(i) the i-th), those side by
// side in one call (SideBySide), and hands each batch's blocks to use(half,
// batch, bytes): the odd batches (half 1) on a second thread while this one
// reads the even ones (half 0), each thread in ascending order. On a nearly
// full volume nearly every batch is one block (the few groups left partly
// used lie far apart, and meta_bg puts each descriptor block in a group of
// its own): warm, the time goes to the reads' calls and the page cache's
// lookups, tens of thousands of them at about a microsecond each; cold, to
// the device, which is asked for many batches at once (kAskAhead), not one
// at a time. use must keep what each half finds apart; pread keeps no file
// position. False when a read falls short.
template <typename TBlockOf, typename TUse>
bool ReadOnTwoThreads(int device, uint64_t blockBytes, size_t count, TBlockOf blockOf, TUse use) {
  const std::vector<TBatch> batches = SideBySide(count, blockBytes, blockOf);
  const auto bytesOf = [&](size_t batch) {
    return static_cast<off_t>((batches[batch].second - batches[batch].first) * blockBytes);
  };
  const auto offsetOf = [&](size_t batch) {
    return static_cast<off_t>(blockOf(batches[batch].first) * blockBytes);
  };
  const auto readHalf = [&](size_t half) {
    std::vector<uint8_t> buffer;
    size_t askedUntil = half;  // this half's batches before it were asked for
    bool canTell = true;       // false once the device refuses reads that do not wait
    for (size_t batch = half; batch < batches.size(); batch += 2) {
      buffer.resize(static_cast<size_t>(bytesOf(batch)));
      const off_t offset = offsetOf(batch);
      const ssize_t wanted = static_cast<ssize_t>(buffer.size());
      // What the page cache holds is read at once; a batch it lacks, or
      // holds only part of, first asks the device for the next kAskAhead
      // batches together.
      const ssize_t cached =
          canTell ? ReadCachedPart(device, buffer.data(), buffer.size(), offset) : -1;
      if (cached != wanted) {
        if (cached < 0) canTell = false;
        for (; canTell && askedUntil < batches.size() && askedUntil < batch + 2 * kAskAhead;
             askedUntil += 2) {
          posix_fadvise(device, offsetOf(askedUntil), bytesOf(askedUntil), POSIX_FADV_WILLNEED);
        }
        if (pread(device, buffer.data(), buffer.size(), offset) != wanted) return false;
      }
      use(half, batches[batch], buffer.data());
    }
    return true;
  };
  bool ok = false;
  bool okBeside = false;
  RunBeside([&] { okBeside = readHalf(1); }, [&] { ok = readHalf(0); });
  return ok && okBeside;
}

// A group with a written bitmap and some blocks free.
struct TWrittenGroup {
  dgrp_t group;
  blk64_t bitmap;  // where its block bitmap lies
  uint32_t freeBlocks;
};

// The groups whose free blocks must be told, as their descriptors give them.
struct TGroupsWithFreeBlocks {
  std::vector<TWrittenGroup> written;
  // Groups whose bitmap was never written (BLOCK_UNINIT): free but for the
  // metadata in them.
  std::vector<dgrp_t> unwritten;
};

// The group descriptors, read straight from the device rather than kept by
// the library: 15 TiB in 2 KiB blocks has 491,520 of them (30 MiB), of
// which only the groups with free blocks are kept (in ascending order), and
// of the others only where their bitmaps and inode tables lie (*metadata,
// as Joined gives it). False when a read fails or a descriptor puts them
// past the volume's end.
bool ReadGroupDescriptors(ext2_filsys fs, int device, TGroupsWithFreeBlocks* groups,
                          std::vector<TBlockStretch>* metadata) {
  const uint64_t blockBytes = fs->blocksize;
  const uint64_t descriptorBytes = EXT2_DESC_SIZE(fs->super);
  if (descriptorBytes < EXT2_MIN_DESC_SIZE || descriptorBytes > blockBytes) return false;
  const bool wide =
      ext2fs_has_feature_64bit(fs->super) && descriptorBytes >= EXT2_MIN_DESC_SIZE_64BIT;
  const uint64_t perBlock = blockBytes / descriptorBytes;
  const bool uninitKnown = ext2fs_has_group_desc_csum(fs);
  const int64_t inodeTableBlocks = fs->inode_blocks_per_group;
  const blk64_t count = ext2fs_blocks_count(fs->super);
  // Whether the `blocks` blocks from first lie inside the volume.
  const auto inside = [count](blk64_t first, blk64_t blocks) {
    return first < count && blocks <= count - first;
  };
  const auto blockOf = [fs](size_t index) {
    return ext2fs_descriptor_block_loc2(fs, fs->super->s_first_data_block,
                                        static_cast<dgrp_t>(index));
  };
  TGroupsWithFreeBlocks halves[2];
  TMetadataStretches halvesMetadata[2];
  bool halvesOutside[2] = {false, false};  // each written by its half only
  const auto use = [&](size_t half, TBatch batch, const uint8_t* bytes) {
    TGroupsWithFreeBlocks& found = halves[half];
    TMetadataStretches& stretches = halvesMetadata[half];
    const uint64_t first = batch.first * perBlock;
    const uint64_t end = std::min<uint64_t>(batch.second * perBlock, fs->group_desc_count);
    for (uint64_t group = first; group < end; ++group) {
      const TGroupDescriptor descriptor =
          DecodeGroupDescriptor(bytes + (group - first) * descriptorBytes, wide);
      // A descriptor that puts a bitmap or inode table past the volume's end
      // (the kernel refuses to mount such a volume; it can only have been
      // written since) is not believed, and with it none of the rest.
      if (!inside(descriptor.blockBitmap, 1) || !inside(descriptor.inodeBitmap, 1) ||
          !inside(descriptor.inodeTable, static_cast<blk64_t>(inodeTableBlocks))) {
        halvesOutside[half] = true;
        continue;
      }
      stretches.Add(TMetadataStretches::kBlockBitmap, static_cast<int64_t>(descriptor.blockBitmap),
                    1);
      stretches.Add(TMetadataStretches::kInodeBitmap, static_cast<int64_t>(descriptor.inodeBitmap),
                    1);
      stretches.Add(TMetadataStretches::kInodeTable, static_cast<int64_t>(descriptor.inodeTable),
                    inodeTableBlocks);
      if (descriptor.freeBlocks == 0) continue;
      if (uninitKnown && (descriptor.flags & EXT2_BG_BLOCK_UNINIT) != 0) {
        found.unwritten.push_back(static_cast<dgrp_t>(group));
      } else {
        found.written.push_back(TWrittenGroup{static_cast<dgrp_t>(group), descriptor.blockBitmap,
                                              descriptor.freeBlocks});
      }
    }
  };
  if (!ReadOnTwoThreads(device, blockBytes, fs->desc_blocks, blockOf, use)) return false;
  if (halvesOutside[0] || halvesOutside[1]) return false;
  // Each half found its groups in ascending order.
  const auto byGroup = [](const TWrittenGroup& a, const TWrittenGroup& b) {
    return a.group < b.group;
  };
  std::merge(halves[0].written.begin(), halves[0].written.end(), halves[1].written.begin(),
             halves[1].written.end(), std::back_inserter(groups->written), byGroup);
  std::merge(halves[0].unwritten.begin(), halves[0].unwritten.end(), halves[1].unwritten.begin(),
             halves[1].unwritten.end(), std::back_inserter(groups->unwritten));
  *metadata = Joined(halvesMetadata[0].Take(), halvesMetadata[1].Take());
  return true;
}

// The free stretches of fs group by group: a group its descriptor counts
// no free block in is passed over unread; a group whose bitmap was never
// written (BLOCK_UNINIT), or whose descriptor counts free every block but
// its metadata, is the group less its metadata, unread; only the others'
// bitmaps are read, side by side ones in one read. On a nearly full volume
// of half a million groups that reads a few bitmaps instead of all.
bool ReadGroupByGroup(ext2_filsys fs, int device, THostSpaceMap* map) {
  const blk64_t count = ext2fs_blocks_count(fs->super);
  const uint64_t blockBytes = fs->blocksize;
  const uint64_t bitmapBytes = EXT2_CLUSTERS_PER_GROUP(fs->super) / 8;
  if (count == 0 || bitmapBytes == 0 || bitmapBytes > blockBytes) return false;
  TGroupsWithFreeBlocks groups;
  std::vector<TBlockStretch> metadata;
  if (!ReadGroupDescriptors(fs, device, &groups, &metadata)) return false;
  // A group's first block and its blocks (the last group may be short).
  const auto span = [fs, count](dgrp_t group) {
    const blk64_t first = ext2fs_group_first_block2(fs, group);
    const blk64_t last = std::min(ext2fs_group_last_block2(fs, group), count - 1);
    return TBlockStretch(static_cast<int64_t>(first), static_cast<int64_t>(last - first + 1));
  };
  // Free stretches in the order found: the bitmaps are read in the order
  // they lie, which need not be the groups'. The groups free but for their
  // metadata add their superblock and descriptor copies to it, as the
  // kernel and e2fsprogs set an unwritten group's bitmap up; a read bitmap
  // marks its group's in use already.
  std::vector<TBlockStretch> found;
  std::vector<std::pair<blk64_t, dgrp_t>> toRead;
  TMetadataStretches copies;
  size_t metadataAt = 0;
  auto unwritten = groups.unwritten.begin();
  const auto unwrittenBefore = [&](uint64_t group) {
    for (; unwritten != groups.unwritten.end() && *unwritten < group; ++unwritten) {
      copies.AddSuperAndDescriptors(fs, *unwritten);
      found.push_back(span(*unwritten));
    }
  };
  for (const TWrittenGroup& written : groups.written) {
    unwrittenBefore(written.group);
    const auto [first, blocks] = span(written.group);
    if (blocks - BlocksWithin(metadata, first, blocks, &metadataAt) -
            SuperAndDescriptorBlocks(fs, written.group) ==
        written.freeBlocks) {
      copies.AddSuperAndDescriptors(fs, written.group);
      found.emplace_back(first, blocks);
    } else {
      toRead.emplace_back(written.bitmap, written.group);
    }
  }
  unwrittenBefore(uint64_t{fs->group_desc_count});
  metadata = Joined(metadata, copies.Take());
  std::sort(toRead.begin(), toRead.end());
  const auto blockOf = [&toRead](size_t index) { return toRead[index].first; };
  std::vector<TBlockStretch> foundBeside;
  std::vector<TBlockStretch>* const halves[2] = {&found, &foundBeside};
  const auto use = [&](size_t half, TBatch batch, const uint8_t* bytes) {
    for (size_t i = batch.first; i < batch.second; ++i) {
      const auto [first, blocks] = span(toRead[i].second);
      AppendClearBits(bytes + (i - batch.first) * blockBytes, first, blocks, halves[half]);
    }
  };
  if (!ReadOnTwoThreads(device, blockBytes, toRead.size(), blockOf, use)) return false;
  found.insert(found.end(), foundBeside.begin(), foundBeside.end());
  std::sort(found.begin(), found.end());
  std::vector<TBlockStretch> free;
  for (const auto& [first, clusters] : found) AppendFree(&free, first, first + clusters);
  map->clusterCount = static_cast<int64_t>(count);
  // A read bitmap marks its metadata in use already; the rest is taken off.
  map->free = Less(free, metadata);
  return true;
}

}  // namespace

bool ReadExtSpaceMap(const std::string& devicePath, THostSpaceMap* map) {
  ext2_filsys fs = nullptr;
  // Read-only; a mounted file system's bitmaps and descriptors come through
  // the device's page cache, which holds the kernel's own copies of them. A
  // checksum caught between two updates does not stop the read. The
  // superblock only: the group descriptors are read here, as they are
  // needed, except on a volume of clusters of several blocks, whose bitmaps
  // the library reads.
  const int flags = EXT2_FLAG_64BITS | EXT2_FLAG_IGNORE_CSUM_ERRORS | EXT2_FLAG_SKIP_MMP;
  if (ext2fs_open2(devicePath.c_str(), nullptr, flags | EXT2_FLAG_SUPER_ONLY, 0, 0, unix_io_manager,
                   &fs) != 0) {
    return false;
  }
  if (ext2fs_has_feature_bigalloc(fs->super)) {
    ext2fs_close_free(&fs);
    if (ext2fs_open2(devicePath.c_str(), nullptr, flags, 0, 0, unix_io_manager, &fs) != 0) {
      return false;
    }
  }
  // A tree of extents rather than one bit per block: 8G blocks would
  // otherwise take 1 GiB.
  fs->default_bitmap_type = EXT2FS_BMAP64_RBTREE;
  THostSpaceMap read;
  bool ok = false;
  if (!ext2fs_has_feature_bigalloc(fs->super)) {
    const int device = open(devicePath.c_str(), O_RDONLY | O_CLOEXEC);
    ok = device >= 0 && ReadGroupByGroup(fs, device, &read);
    if (device >= 0) close(device);
  } else if (ext2fs_read_block_bitmap(fs) == 0) {
    // Bitmaps of clusters of several blocks: the library reads them whole.
    ok = true;
    const blk64_t count = ext2fs_blocks_count(fs->super);
    read.clusterCount = static_cast<int64_t>(count);
    const blk64_t last = count - 1;
    for (blk64_t block = fs->super->s_first_data_block; count > 0 && block <= last;) {
      blk64_t first = 0;
      if (ext2fs_find_first_zero_block_bitmap2(fs->block_map, block, last, &first) != 0) break;
      blk64_t used = 0;
      const blk64_t end =
          ext2fs_find_first_set_block_bitmap2(fs->block_map, first, last, &used) == 0 ? used
                                                                                      : count;
      read.free.emplace_back(static_cast<int64_t>(first), static_cast<int64_t>(end - first));
      block = end;
    }
  }
  ext2fs_close_free(&fs);
  if (!ok || read.clusterCount <= 0) return false;
  *map = std::move(read);
  return true;
}
