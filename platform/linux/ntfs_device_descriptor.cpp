#include "platform/linux/ntfs_device_descriptor.h"

#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/ntfs_library.h"

int DeviceDescriptor(struct ntfs_device* device) { return *static_cast<int*>(device->d_private); }

int64_t DescriptorSeek(struct ntfs_device* device, int64_t offset, int whence) {
  return lseek(DeviceDescriptor(device), offset, whence);
}

int64_t DescriptorRead(struct ntfs_device* device, void* buffer, int64_t count) {
  return read(DeviceDescriptor(device), buffer, static_cast<size_t>(count));
}

int64_t DescriptorReadAt(struct ntfs_device* device, void* buffer, int64_t count, int64_t offset) {
  return pread(DeviceDescriptor(device), buffer, static_cast<size_t>(count), offset);
}

int DescriptorStatus(struct ntfs_device* device, struct stat* status) {
  return fstat(DeviceDescriptor(device), status);
}

int DescriptorControl(struct ntfs_device* device, unsigned long request, void* argument) {
  switch (request) {
    case BLKGETSIZE:
    case BLKGETSIZE64:
    case BLKSSZGET:
    case HDIO_GETGEO:
      return ioctl(DeviceDescriptor(device), request, argument);
    default:
      errno = ENOTTY;
      return -1;
  }
}
