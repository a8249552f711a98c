#include "platform/linux/host_fiemap.h"

#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

// Extents asked for per FIEMAP call: most files need one call.
constexpr uint32_t kExtentsPerCall = 256;

// Extents whose data lies in no block of its own (inline in the inode, or
// packed with other files' tails).
constexpr uint32_t kNoBlocks = FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_NOT_ALIGNED;
// Extents whose blocks the file system has yet to place (delayed
// allocation), or whose place it cannot tell.
constexpr uint32_t kNotPlaced = FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC;

uint64_t CeilDiv(uint64_t value, uint64_t divisor) { return (value + divisor - 1) / divisor; }

}  // namespace

bool ReadFiemap(int fd, std::vector<TFiemapExtent>* extents) {
  extents->clear();
  // The request and the room for its reply, on the stack: the kernel fills
  // in only the extents it reports, so nothing needs clearing first.
  alignas(struct fiemap) unsigned char
      buffer[sizeof(struct fiemap) + kExtentsPerCall * sizeof(struct fiemap_extent)];
  auto* map = reinterpret_cast<struct fiemap*>(buffer);
  map->fm_reserved = 0;
  uint64_t start = 0;
  for (;;) {
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    // Data written a moment ago is placed first, as it would be at the next
    // write-back: its real blocks, not a promise of them.
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = kExtentsPerCall;
    map->fm_mapped_extents = 0;
    if (ioctl(fd, FS_IOC_FIEMAP, map) != 0) return false;
    const uint32_t mapped = map->fm_mapped_extents;
    if (mapped == 0) return true;
    for (uint32_t i = 0; i < mapped; ++i) {
      const struct fiemap_extent& found = map->fm_extents[i];
      extents->push_back(
          TFiemapExtent{found.fe_logical, found.fe_physical, found.fe_length, found.fe_flags});
      if (found.fe_flags & FIEMAP_EXTENT_LAST) return true;
    }
    const struct fiemap_extent& last = map->fm_extents[mapped - 1];
    // An extent that ends nowhere further would be asked for forever.
    if (last.fe_logical + last.fe_length <= start) return true;
    start = last.fe_logical + last.fe_length;
  }
}

std::vector<TStreamRun> RunsFromExtents(const std::vector<TFiemapExtent>& extents,
                                        uint64_t sizeBytes, uint64_t blockBytes) {
  std::vector<TStreamRun> runs;
  if (blockBytes == 0) return runs;
  uint64_t covered = 0;  // blocks of the stream described so far
  for (const TFiemapExtent& extent : extents) {
    const bool notPlaced = (extent.flags & kNotPlaced) != 0 && (extent.flags & kNoBlocks) == 0;
    if (!notPlaced && (extent.flags & (kNoBlocks | FIEMAP_EXTENT_UNKNOWN)) != 0) continue;
    uint64_t first = extent.logical / blockBytes;
    const uint64_t end = CeilDiv(extent.logical + extent.length, blockBytes);
    uint64_t lcn = extent.physical / blockBytes;
    // File systems report extents in file order without overlaps; a block
    // reported twice is described once all the same.
    if (first < covered) {
      lcn += covered - first;
      first = covered;
    }
    if (end <= first) continue;
    if (first > covered) AppendRun(&runs, kLcnNoClusters, static_cast<int64_t>(first - covered));
    if (notPlaced) {
      AppendNotPlacedRun(&runs, static_cast<int64_t>(end - first));
    } else {
      AppendRun(&runs, static_cast<int64_t>(lcn), static_cast<int64_t>(end - first));
    }
    covered = end;
  }
  const uint64_t streamBlocks = CeilDiv(sizeBytes, blockBytes);
  if (!runs.empty() && streamBlocks > covered) {
    AppendRun(&runs, kLcnNoClusters, static_cast<int64_t>(streamBlocks - covered));
  }
  return runs;
}

bool HostStreamRuns(int fd, uint64_t sizeBytes, uint64_t device, std::vector<TStreamRun>* runs) {
  // The block of the file system's own counts, as its free space is counted;
  // asked once per device and thread, not once per file.
  thread_local uint64_t knownDevice = 0;
  thread_local uint64_t knownBlockBytes = 0;
  if (knownBlockBytes == 0 || knownDevice != device) {
    struct statvfs figures;
    if (fstatvfs(fd, &figures) != 0) return false;
    knownDevice = device;
    knownBlockBytes = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
  }
  std::vector<TFiemapExtent> extents;
  if (!ReadFiemap(fd, &extents)) return false;
  *runs = RunsFromExtents(extents, sizeBytes, knownBlockBytes);
  return true;
}
