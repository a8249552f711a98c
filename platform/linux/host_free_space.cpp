#include "platform/linux/host_free_space.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

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
  const bool asked = fstatvfs(fd, &figures) == 0;
  close(fd);
  if (!asked) return false;
  // Some file systems leave f_frsize 0; their counts are then in f_bsize.
  const uint64_t fragmentBytes = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
  *geometry = GeometryFromFileSystem(fragmentBytes, figures.f_blocks, figures.f_bavail);
  return true;
}
