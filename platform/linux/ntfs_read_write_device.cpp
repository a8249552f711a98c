#include "platform/linux/ntfs_read_write_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/ntfs_device_descriptor.h"
#include "platform/linux/ntfs_library.h"

namespace {

int Open(struct ntfs_device* device, int flags) {
  if (NDevOpen(device)) {
    errno = EBUSY;
    return -1;
  }
  struct stat status;
  if (device->d_private == nullptr || fstat(DeviceDescriptor(device), &status) != 0) {
    errno = EBADF;
    return -1;
  }
  if (S_ISBLK(status.st_mode)) NDevSetBlock(device);
  if ((flags & O_ACCMODE) == O_RDONLY) NDevSetReadOnly(device);
  NDevSetOpen(device);
  return 0;
}

int Close(struct ntfs_device* device) {
  if (!NDevOpen(device)) {
    errno = EBADF;
    return -1;
  }
  if (NDevDirty(device)) fsync(DeviceDescriptor(device));
  NDevClearOpen(device);
  return 0;
}

s64 Write(struct ntfs_device* device, const void* buffer, s64 count) {
  NDevSetDirty(device);
  return write(DeviceDescriptor(device), buffer, static_cast<size_t>(count));
}

s64 WriteAt(struct ntfs_device* device, const void* buffer, s64 count, s64 offset) {
  NDevSetDirty(device);
  return pwrite(DeviceDescriptor(device), buffer, static_cast<size_t>(count), offset);
}

int Sync(struct ntfs_device* device) {
  if (fsync(DeviceDescriptor(device)) != 0) return -1;
  NDevClearDirty(device);
  return 0;
}

}  // namespace

ntfs_device_operations* ReadWriteDeviceOperations() {
  static ntfs_device_operations operations = [] {
    ntfs_device_operations named = {};
    named.open = Open;
    named.close = Close;
    named.seek = DescriptorSeek;
    named.read = DescriptorRead;
    named.write = Write;
    named.pread = DescriptorReadAt;
    named.pwrite = WriteAt;
    named.sync = Sync;
    named.stat = DescriptorStatus;
    named.ioctl = DescriptorControl;
    return named;
  }();
  return &operations;
}
