#include "platform/linux/host_ext_bitmap.h"

#include <ext2fs/ext2fs.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

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

bool ReadExtSpaceMap(const std::string& devicePath, THostSpaceMap* map) {
  ext2_filsys fs = nullptr;
  // Read-only; a mounted file system's bitmaps come through the device's
  // page cache, which holds the kernel's own copies of them. A checksum
  // caught between two updates does not stop the read.
  const int flags = EXT2_FLAG_64BITS | EXT2_FLAG_IGNORE_CSUM_ERRORS | EXT2_FLAG_SKIP_MMP;
  if (ext2fs_open2(devicePath.c_str(), nullptr, flags, 0, 0, unix_io_manager, &fs) != 0) {
    return false;
  }
  // A tree of extents rather than one bit per block: 8G blocks would
  // otherwise take 1 GiB.
  fs->default_bitmap_type = EXT2FS_BMAP64_RBTREE;
  THostSpaceMap read;
  bool ok = ext2fs_read_block_bitmap(fs) == 0;
  if (ok) {
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
