// The device under every NTFS volume the Linux services mount: an image file
// or block device opened read-only, whose operations refuse every write.
#pragma once

#include <cstdint>
#include <string>

struct ntfs_device;
struct ntfs_device_operations;

// libntfs-3g device operations that only read. Unlike libntfs-3g's own they
// open with O_CLOEXEC (no descriptor leaks into child processes); take no
// record lock (such locks belong to the process, so the unmount of one of
// its mounts of an image would drop the lock of every other); refuse opens
// for writing, writes, and every ioctl but the size and geometry queries
// (libntfs-3g would otherwise set the block size of a block device); and
// never sync. Shared by every mount; stateless.
ntfs_device_operations* ReadOnlyDeviceOperations();

// The descriptor an open device of these operations reads through; pread on
// it may run on any thread (it moves no file position).
int ReadOnlyDeviceDescriptor(struct ntfs_device* device);

// Bytes the image file or block device at path holds; -1 when unknown.
int64_t DeviceBytes(const std::string& path);

// The clusters the NTFS boot sector at the start of the image file or block
// device at path says the volume has, read from its bytes alone; -1 when
// there is no NTFS boot sector to read there.
int64_t NtfsClaimedClusters(const std::string& path);

// The most clusters an NTFS volume holds: cluster numbers are 32-bit in the
// file system's own structures.
constexpr int64_t kNtfsMaxClusters = 0xFFFFFFFF;
