// The free clusters of an ext2, ext3 or ext4 file system, read from its own
// group descriptors and block bitmaps on its device, its superblock and
// layout told by e2fsprogs' library. The space map
// (GETFSMAP) of ext4 walks the fixed metadata of every block group still
// ahead for each record it reports: on a volume of hundreds of thousands of
// groups (15 TiB in 2 KiB blocks has 491,520, and its descriptors lie in
// groups of their own) that is minutes to hours in the kernel, where the
// bitmaps take seconds. One cluster is one file-system block, as FIEMAP
// counts them.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/linux/host_fsmap.h"

// statfs's f_type of ext2, ext3 and ext4.
constexpr long kExtSuperMagic = 0xEF53;

// The node in /dev of the block device `device` (a st_dev), as sysfs names
// it ("/dev/loop0"), checked to be that device; empty when there is none
// (a file system without a block device of its own, as btrfs's subvolumes
// and tmpfs).
std::string BlockDevicePath(dev_t device);

// The free clusters of the ext2/3/4 file system on the device at
// devicePath, opened read-only: clusterCount its blocks, free its maximal
// stretches of clear bits (blocks before its first data block count as in
// use). False, with map untouched, when the device cannot be opened (it
// needs root) or holds no ext file system the library can read. Memory
// grows with the free stretches, not with the blocks.
bool ReadExtSpaceMap(const std::string& devicePath, THostSpaceMap* map);
