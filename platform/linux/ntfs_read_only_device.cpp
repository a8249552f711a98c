#include "platform/linux/ntfs_read_only_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/linux/ntfs_device_descriptor.h"
#include "platform/linux/ntfs_library.h"

namespace {

int Open(struct ntfs_device* device, int flags) {
  if ((flags & O_ACCMODE) != O_RDONLY) {
    errno = EROFS;
    return -1;
  }
  if (NDevOpen(device)) {
    errno = EBUSY;
    return -1;
  }
  // O_NONBLOCK: a pipe put at the path must not stall the mount; it is
  // refused below, and reads of files and block devices ignore the flag.
  const int fd = open(device->d_name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat status;
  if (fstat(fd, &status) != 0 || !(S_ISREG(status.st_mode) || S_ISBLK(status.st_mode))) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  auto* owned = static_cast<int*>(std::malloc(sizeof(int)));
  if (owned == nullptr) {
    close(fd);
    errno = ENOMEM;
    return -1;
  }
  *owned = fd;
  device->d_private = owned;
  if (S_ISBLK(status.st_mode)) NDevSetBlock(device);
  NDevSetReadOnly(device);
  NDevSetOpen(device);
  return 0;
}

int Close(struct ntfs_device* device) {
  if (!NDevOpen(device)) {
    errno = EBADF;
    return -1;
  }
  close(DeviceDescriptor(device));
  std::free(device->d_private);
  device->d_private = nullptr;
  NDevClearOpen(device);
  return 0;
}

s64 RefuseWrite(struct ntfs_device*, const void*, s64) {
  errno = EROFS;
  return -1;
}

s64 RefuseWriteAt(struct ntfs_device*, const void*, s64, s64) {
  errno = EROFS;
  return -1;
}

// Nothing is ever written, so there is nothing to sync.
int Sync(struct ntfs_device*) { return 0; }

}  // namespace

ntfs_device_operations* ReadOnlyDeviceOperations() {
  static ntfs_device_operations operations = [] {
    ntfs_device_operations named = {};
    named.open = Open;
    named.close = Close;
    named.seek = DescriptorSeek;
    named.read = DescriptorRead;
    named.write = RefuseWrite;
    named.pread = DescriptorReadAt;
    named.pwrite = RefuseWriteAt;
    named.sync = Sync;
    named.stat = DescriptorStatus;
    named.ioctl = DescriptorControl;
    return named;
  }();
  return &operations;
}

int ReadOnlyDeviceDescriptor(struct ntfs_device* device) { return DeviceDescriptor(device); }

int64_t DeviceBytes(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat status;
  int64_t bytes = -1;
  if (fstat(fd, &status) == 0) {
    if (S_ISREG(status.st_mode)) {
      bytes = status.st_size;
    } else if (S_ISBLK(status.st_mode)) {
      uint64_t blockBytes = 0;
      if (ioctl(fd, BLKGETSIZE64, &blockBytes) == 0) bytes = static_cast<int64_t>(blockBytes);
    }
  }
  close(fd);
  return bytes;
}

int64_t NtfsClaimedClusters(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  uint8_t boot[512];
  const bool read = pread(fd, boot, sizeof boot, 0) == static_cast<ssize_t>(sizeof boot);
  close(fd);
  // The OEM name, then the sectors per cluster (a power of two; from 0x80
  // on, 2 to the power of 256 minus it) and the sectors of the volume.
  if (!read || std::memcmp(boot + 3, "NTFS    ", 8) != 0) return -1;
  const unsigned perCluster = boot[0x0D];
  int shift = -1;  // sectors per cluster, as a power of two
  if (perCluster >= 0x80) {
    shift = static_cast<int>(256 - perCluster);
  } else if (perCluster != 0 && (perCluster & (perCluster - 1)) == 0) {
    shift = __builtin_ctz(perCluster);
  }
  if (shift < 0 || shift > 31) return -1;
  uint64_t sectors = 0;
  for (int i = 7; i >= 0; --i) sectors = sectors << 8 | boot[0x28 + i];
  return static_cast<int64_t>((sectors >> shift) & 0x7FFFFFFFFFFFFFFFull);
}
