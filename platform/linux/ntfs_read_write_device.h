// The device under the read-write mount that moves clusters: an image file
// or block device that the mount's owner has already opened for reading and
// writing, checked and locked (ntfs_move_access.h).
#pragma once

struct ntfs_device;
struct ntfs_device_operations;

// libntfs-3g device operations over a descriptor opened beforehand: `open`
// adopts the descriptor that d_private points to (an int, owned by the
// caller, which outlives the device) rather than opening the path again, so
// the checks and the lock made on that descriptor hold for the mount;
// `close` leaves it open for its owner. Reads and writes are pread and
// pwrite; sync is fsync; ioctls are limited to the size and geometry
// queries, as for read-only mounts. Shared by every read-write mount;
// stateless.
ntfs_device_operations* ReadWriteDeviceOperations();
