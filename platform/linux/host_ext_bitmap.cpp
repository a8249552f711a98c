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

// Bytes read at most per call when consecutive groups keep their bitmaps
// side by side (flex_bg puts a flex group's bitmaps in one stretch).
constexpr uint64_t kBitmapReadBytes = 1 << 20;

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
  // Free stretches in the order found: the bitmaps are read in the order
  // they lie, which need not be the groups'.
  std::vector<std::pair<int64_t, int64_t>> found;
  // The groups whose bitmaps must be read, by where the bitmap lies.
  std::vector<std::pair<blk64_t, dgrp_t>> toRead;
  ext2fs_block_bitmap uninitMetadata = nullptr;
  const bool uninitKnown = ext2fs_has_group_desc_csum(fs);
  for (dgrp_t group = 0; group < fs->group_desc_count; ++group) {
    if (ext2fs_bg_free_blocks_count(fs, group) == 0) continue;
    if (uninitKnown && ext2fs_bg_flags_test(fs, group, EXT2_BG_BLOCK_UNINIT)) {
      if (uninitMetadata == nullptr &&
          ext2fs_allocate_block_bitmap(fs, "uninit", &uninitMetadata) != 0) {
        return false;
      }
      // As the kernel and e2fsprogs set such a group's bitmap up: its
      // superblock and descriptor copies, and its own bitmaps and inode
      // table wherever they lie.
      ext2fs_reserve_super_and_bgd(fs, group, uninitMetadata);
      ext2fs_mark_block_bitmap2(uninitMetadata, ext2fs_block_bitmap_loc(fs, group));
      ext2fs_mark_block_bitmap2(uninitMetadata, ext2fs_inode_bitmap_loc(fs, group));
      ext2fs_mark_block_bitmap_range2(uninitMetadata, ext2fs_inode_table_loc(fs, group),
                                      fs->inode_blocks_per_group);
      const blk64_t first = ext2fs_group_first_block2(fs, group);
      const blk64_t last = std::min(ext2fs_group_last_block2(fs, group), count - 1);
      found.emplace_back(static_cast<int64_t>(first), static_cast<int64_t>(last - first + 1));
      continue;
    }
    toRead.emplace_back(ext2fs_block_bitmap_loc(fs, group), group);
  }
  std::sort(toRead.begin(), toRead.end());
  // Bitmaps that lie side by side are read together, a batch at a time.
  std::vector<std::pair<size_t, size_t>> batches;
  for (size_t at = 0; at < toRead.size();) {
    size_t end = at + 1;
    while (end < toRead.size() && toRead[end].first == toRead[end - 1].first + 1 &&
           (end - at + 1) * blockBytes <= kBitmapReadBytes) {
      ++end;
    }
    batches.emplace_back(at, end);
    at = end;
  }
  // On a nearly full volume nearly every batch is one bitmap block (flex_bg
  // leaves free blocks in a flex group's first group only), and the time
  // goes to the reads' calls, tens of thousands of them: the odd batches are
  // read on a second thread while this one reads the even ones, each thread
  // in ascending order. Both only read fs, the batches and the device (pread
  // keeps no file position); each writes its own buffer and stretches.
  const auto readBatches = [&](size_t parity, std::vector<std::pair<int64_t, int64_t>>* free) {
    std::vector<uint8_t> buffer;
    for (size_t batch = parity; batch < batches.size(); batch += 2) {
      const auto [at, end] = batches[batch];
      buffer.resize((end - at) * blockBytes);
      const off_t offset = static_cast<off_t>(toRead[at].first * blockBytes);
      if (pread(device, buffer.data(), buffer.size(), offset) !=
          static_cast<ssize_t>(buffer.size())) {
        return false;
      }
      for (size_t i = at; i < end; ++i) {
        const dgrp_t group = toRead[i].second;
        const blk64_t first = ext2fs_group_first_block2(fs, group);
        const blk64_t last = std::min(ext2fs_group_last_block2(fs, group), count - 1);
        AppendClearBits(buffer.data() + (i - at) * blockBytes, static_cast<int64_t>(first),
                        static_cast<int64_t>(last - first + 1), free);
      }
    }
    return true;
  };
  std::vector<std::pair<int64_t, int64_t>> foundBeside;
  bool ok = false;
  bool okBeside = false;
  RunBeside([&] { okBeside = readBatches(1, &foundBeside); }, [&] { ok = readBatches(0, &found); });
  ok = ok && okBeside;
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
  // checksum caught between two updates does not stop the read.
  const int flags = EXT2_FLAG_64BITS | EXT2_FLAG_IGNORE_CSUM_ERRORS | EXT2_FLAG_SKIP_MMP;
  if (ext2fs_open2(devicePath.c_str(), nullptr, flags, 0, 0, unix_io_manager, &fs) != 0) {
    return false;
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
