// libntfs-3g device operations shared by the read-only device of the
// analysis (ntfs_read_only_device.h) and the read-write device of moves
// (ntfs_read_write_device.h): both keep the descriptor they read through
// as an int that d_private points to.
#pragma once

#include <sys/stat.h>

#include <cstdint>

struct ntfs_device;

// The descriptor d_private points to.
int DeviceDescriptor(struct ntfs_device* device);

int64_t DescriptorSeek(struct ntfs_device* device, int64_t offset, int whence);
int64_t DescriptorRead(struct ntfs_device* device, void* buffer, int64_t count);
int64_t DescriptorReadAt(struct ntfs_device* device, void* buffer, int64_t count, int64_t offset);
int DescriptorStatus(struct ntfs_device* device, struct stat* status);
// The size and geometry queries only; every other request fails with
// ENOTTY (libntfs-3g would otherwise set the block size of a block device).
int DescriptorControl(struct ntfs_device* device, unsigned long request, void* argument);
