#include "platform/linux/host_free_space.h"

#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

#include "platform/linux/host_btrfs_space.h"

TDiskGeometry GeometryFromFileSystem(uint64_t fragmentBytes, uint64_t totalFragments,
                                     uint64_t availableFragments) {
  // A sector is one fragment: no file system has fragments of 4 GiB.
  const uint32_t sectorBytes = static_cast<uint32_t>(std::min<uint64_t>(fragmentBytes, UINT32_MAX));
  return TDiskGeometry{1, sectorBytes, availableFragments, totalFragments};
}

bool HostDiskGeometry(const THostPath& path, TDiskGeometry* geometry) {
  const int fd = OpenHostPath(path, O_PATH | O_CLOEXEC);
  if (fd < 0) return false;
  struct statvfs figures;
  struct statfs kind;
  const bool asked = fstatvfs(fd, &figures) == 0 && fstatfs(fd, &kind) == 0;
  close(fd);
  if (!asked) return false;
  // Some file systems leave f_frsize 0; their counts are then in f_bsize.
  const uint64_t fragmentBytes = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
  uint64_t totalFragments = figures.f_blocks;
  // btrfs numbers its clusters in a logical space that outgrows the device
  // as chunks move up (balance, growth): the volume is as large as that
  // space, so that the map reaches every file's runs.
  if (kind.f_type == kBtrfsSuperMagic && fragmentBytes != 0) {
    const int readable = OpenHostPath(path, O_RDONLY | O_CLOEXEC);
    uint64_t logicalEnd = 0;
    if (readable >= 0 && BtrfsLogicalEnd(readable, &logicalEnd)) {
      totalFragments = std::max(totalFragments, (logicalEnd + fragmentBytes - 1) / fragmentBytes);
    }
    if (readable >= 0) close(readable);
  }
  *geometry = GeometryFromFileSystem(fragmentBytes, totalFragments, figures.f_bavail);
  return true;
}
