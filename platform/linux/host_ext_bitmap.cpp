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

// Free stretches as they are found in ascending order, each joined to the
// one before where it goes on from it.
void AppendFree(std::vector<std::pair<int64_t, int64_t>>* free, int64_t first, int64_t end) {
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
                     std::vector<std::pair<int64_t, int64_t>>* free) {
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

// Free stretches less the blocks set in `used` (ascending, apart).
std::vector<std::pair<int64_t, int64_t>> Without(
    const std::vector<std::pair<int64_t, int64_t>>& free, ext2fs_block_bitmap used, blk64_t last) {
  std::vector<std::pair<int64_t, int64_t>> kept;
  for (const auto& [first, clusters] : free) {
    blk64_t from = static_cast<blk64_t>(first);
    const blk64_t end = static_cast<blk64_t>(first + clusters);
    while (from < end) {
      blk64_t set = 0;
      const blk64_t stop =
          ext2fs_find_first_set_block_bitmap2(used, from, std::min(end - 1, last), &set) == 0 ? set
                                                                                              : end;
      AppendFree(&kept, static_cast<int64_t>(from), static_cast<int64_t>(stop));
      if (stop >= end) break;
      blk64_t clear = 0;
      if (ext2fs_find_first_zero_block_bitmap2(used, stop, std::min(end - 1, last), &clear) != 0)
        break;
      from = clear;
    }
  }
  return kept;
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
// reads the even ones (half 0), each thread in ascending order, so that a
// disk sees two nearby streams. On a nearly full volume nearly every batch
// is one block (flex_bg leaves free blocks in a flex group's first group
// only, meta_bg puts each descriptor block in a group of its own) and the
// time goes to the reads' calls, tens of thousands of them. use must keep what each half
// finds apart; pread keeps no file position. False when a read falls short.
template <typename TBlockOf, typename TUse>
bool ReadOnTwoThreads(int device, uint64_t blockBytes, size_t count, TBlockOf blockOf, TUse use) {
  const std::vector<TBatch> batches = SideBySide(count, blockBytes, blockOf);
  const auto readHalf = [&](size_t half) {
    std::vector<uint8_t> buffer;
    for (size_t batch = half; batch < batches.size(); batch += 2) {
      const auto [at, end] = batches[batch];
      buffer.resize((end - at) * blockBytes);
      const off_t offset = static_cast<off_t>(blockOf(at) * blockBytes);
      if (pread(device, buffer.data(), buffer.size(), offset) !=
          static_cast<ssize_t>(buffer.size())) {
        return false;
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

// The groups whose free blocks the bitmaps must tell.
struct TGroupsToRead {
  // Groups with a written bitmap and some blocks free, by where the bitmap lies.
  std::vector<std::pair<blk64_t, dgrp_t>> bitmaps;
  // Groups whose bitmap was never written (BLOCK_UNINIT), with some blocks free.
  std::vector<std::pair<dgrp_t, TGroupDescriptor>> unwritten;
};

// The group descriptors, read straight from the device rather than kept by
// the library: 15 TiB in 2 KiB blocks has 491,520 of them (30 MiB), of
// which only the few groups with free blocks are needed. A group its
// descriptor counts no free block in is passed over.
bool ReadGroupDescriptors(ext2_filsys fs, int device, TGroupsToRead* groups) {
  const uint64_t blockBytes = fs->blocksize;
  const uint64_t descriptorBytes = EXT2_DESC_SIZE(fs->super);
  if (descriptorBytes < EXT2_MIN_DESC_SIZE || descriptorBytes > blockBytes) return false;
  const bool wide =
      ext2fs_has_feature_64bit(fs->super) && descriptorBytes >= EXT2_MIN_DESC_SIZE_64BIT;
  const uint64_t perBlock = blockBytes / descriptorBytes;
  const bool uninitKnown = ext2fs_has_group_desc_csum(fs);
  const auto blockOf = [fs](size_t index) {
    return ext2fs_descriptor_block_loc2(fs, fs->super->s_first_data_block,
                                        static_cast<dgrp_t>(index));
  };
  TGroupsToRead halves[2];
  const auto use = [&](size_t half, TBatch batch, const uint8_t* bytes) {
    TGroupsToRead& found = halves[half];
    const uint64_t first = batch.first * perBlock;
    const uint64_t end = std::min<uint64_t>(batch.second * perBlock, fs->group_desc_count);
    for (uint64_t group = first; group < end; ++group) {
      const TGroupDescriptor descriptor =
          DecodeGroupDescriptor(bytes + (group - first) * descriptorBytes, wide);
      if (descriptor.freeBlocks == 0) continue;
      if (uninitKnown && (descriptor.flags & EXT2_BG_BLOCK_UNINIT) != 0) {
        found.unwritten.emplace_back(static_cast<dgrp_t>(group), descriptor);
      } else {
        found.bitmaps.emplace_back(descriptor.blockBitmap, static_cast<dgrp_t>(group));
      }
    }
  };
  if (!ReadOnTwoThreads(device, blockBytes, fs->desc_blocks, blockOf, use)) return false;
  *groups = std::move(halves[0]);
  groups->bitmaps.insert(groups->bitmaps.end(), halves[1].bitmaps.begin(), halves[1].bitmaps.end());
  groups->unwritten.insert(groups->unwritten.end(), halves[1].unwritten.begin(),
                           halves[1].unwritten.end());
  return true;
}

// The free stretches of fs group by group: a group its descriptor counts
// no free block in is passed over unread, a group whose bitmap was never
// written (BLOCK_UNINIT) is free but for its own metadata, and only the
// others' bitmaps are read, side by side ones in one read. On a nearly full
// volume of half a million groups that reads a few bitmaps instead of all.
bool ReadGroupByGroup(ext2_filsys fs, int device, THostSpaceMap* map) {
  const blk64_t count = ext2fs_blocks_count(fs->super);
  const uint64_t blockBytes = fs->blocksize;
  const uint64_t bitmapBytes = EXT2_CLUSTERS_PER_GROUP(fs->super) / 8;
  if (count == 0 || bitmapBytes == 0 || bitmapBytes > blockBytes) return false;
  TGroupsToRead groups;
  if (!ReadGroupDescriptors(fs, device, &groups)) return false;
  // A group's first block and its blocks (the last group may be short).
  const auto span = [fs, count](dgrp_t group) {
    const blk64_t first = ext2fs_group_first_block2(fs, group);
    const blk64_t last = std::min(ext2fs_group_last_block2(fs, group), count - 1);
    return std::pair<int64_t, int64_t>(static_cast<int64_t>(first),
                                       static_cast<int64_t>(last - first + 1));
  };
  // Free stretches in the order found: the bitmaps are read in the order
  // they lie, which need not be the groups'.
  std::vector<std::pair<int64_t, int64_t>> found;
  ext2fs_block_bitmap uninitMetadata = nullptr;
  for (const auto& [group, descriptor] : groups.unwritten) {
    if (uninitMetadata == nullptr &&
        ext2fs_allocate_block_bitmap(fs, "uninit", &uninitMetadata) != 0) {
      return false;
    }
    // As the kernel and e2fsprogs set such a group's bitmap up: its
    // superblock and descriptor copies, and its own bitmaps and inode
    // table wherever they lie.
    ext2fs_reserve_super_and_bgd(fs, group, uninitMetadata);
    ext2fs_mark_block_bitmap2(uninitMetadata, descriptor.blockBitmap);
    ext2fs_mark_block_bitmap2(uninitMetadata, descriptor.inodeBitmap);
    ext2fs_mark_block_bitmap_range2(uninitMetadata, descriptor.inodeTable,
                                    fs->inode_blocks_per_group);
    found.push_back(span(group));
  }
  std::vector<std::pair<blk64_t, dgrp_t>>& toRead = groups.bitmaps;
  std::sort(toRead.begin(), toRead.end());
  const auto blockOf = [&toRead](size_t index) { return toRead[index].first; };
  std::vector<std::pair<int64_t, int64_t>> foundBeside;
  std::vector<std::pair<int64_t, int64_t>>* const halves[2] = {&found, &foundBeside};
  const auto use = [&](size_t half, TBatch batch, const uint8_t* bytes) {
    for (size_t i = batch.first; i < batch.second; ++i) {
      const auto [first, blocks] = span(toRead[i].second);
      AppendClearBits(bytes + (i - batch.first) * blockBytes, first, blocks, halves[half]);
    }
  };
  const bool ok = ReadOnTwoThreads(device, blockBytes, toRead.size(), blockOf, use);
  found.insert(found.end(), foundBeside.begin(), foundBeside.end());
  std::sort(found.begin(), found.end());
  std::vector<std::pair<int64_t, int64_t>> free;
  for (const auto& [first, clusters] : found) AppendFree(&free, first, first + clusters);
  if (ok && uninitMetadata != nullptr) free = Without(free, uninitMetadata, count - 1);
  if (uninitMetadata != nullptr) ext2fs_free_block_bitmap(uninitMetadata);
  if (!ok) return false;
  map->clusterCount = static_cast<int64_t>(count);
  map->free = std::move(free);
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
