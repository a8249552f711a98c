// Free space of host file systems, in the figures GetDiskFreeSpaceA gives.
#pragma once

#include <cstdint>
#include <string>

#include "platform/linux/host_paths.h"
#include "platform/system_services.h"

// Geometry from file-system figures: a cluster is one fragment of
// fragmentBytes (one sector per cluster), counts in full 64 bits, also past
// 2^32 fragments. availableFragments is what an unprivileged writer
// may still use, as Windows reports the caller's share.
TDiskGeometry GeometryFromFileSystem(uint64_t fragmentBytes, uint64_t totalFragments,
                                     uint64_t availableFragments);

// The geometry of the file system holding path; false when it cannot be asked.
bool HostDiskGeometry(const THostPath& path, TDiskGeometry* geometry);
