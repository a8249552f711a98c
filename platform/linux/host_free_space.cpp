#include "platform/linux/host_free_space.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>

namespace {

uint32_t Clamp32(uint64_t value) {
  return static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
}

}  // namespace

TDiskGeometry GeometryFromFileSystem(uint64_t fragmentBytes, uint64_t totalFragments,
                                     uint64_t availableFragments) {
  return TDiskGeometry{1, Clamp32(fragmentBytes), Clamp32(availableFragments),
                       Clamp32(totalFragments)};
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
