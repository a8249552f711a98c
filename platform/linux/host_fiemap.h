// Where the data of a host file or folder lies on its device, by FIEMAP,
// told in the runs of clusters the retrieval pointers request reports: one
// cluster is one file-system block.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/linux/fs_control_replies.h"

// One FIEMAP extent, in bytes, with its FIEMAP_EXTENT_* flags.
struct TFiemapExtent {
  uint64_t logical;
  uint64_t physical;
  uint64_t length;
  uint32_t flags;
};

// Every extent of the file or folder open as fd, in file order, after the
// file system has placed what was still waiting to be written
// (FIEMAP_FLAG_SYNC); false when its file system does not answer FIEMAP
// (tmpfs, procfs, ...).
bool ReadFiemap(int fd, std::vector<TFiemapExtent>* extents);

// The runs of a stream of sizeBytes bytes whose extents are `extents`, in
// blocks of blockBytes: VCN = logical / blockBytes, LCN = physical /
// blockBytes. Extents whose blocks the file system has not placed yet
// (FIEMAP_EXTENT_DELALLOC or _UNKNOWN) are runs at kLcnNotPlaced: they will
// take clusters, just not known ones. Stretches without clusters of their
// own - holes between extents, and data kept with no block of its own
// (FIEMAP_EXTENT_DATA_INLINE, _NOT_ALIGNED) - are runs at kLcnNoClusters up
// to the stream's last block; preallocated (unwritten) extents keep their
// clusters, which are in use. A stream with no such extent at all has no
// runs.
std::vector<TStreamRun> RunsFromExtents(const std::vector<TFiemapExtent>& extents,
                                        uint64_t sizeBytes, uint64_t blockBytes);

// The runs of the host file or folder open as fd, of sizeBytes bytes and on
// the device `device` (its st_dev), in blocks of its file system; false when
// FIEMAP is not answered there.
bool HostStreamRuns(int fd, uint64_t sizeBytes, uint64_t device, std::vector<TStreamRun>* runs);
