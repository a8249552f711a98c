#include "platform/linux/host_fsmap.h"

#include <fcntl.h>
#include <linux/fsmap.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/linux/fs_control_replies.h"
#include "platform/linux/host_btrfs_space.h"
#include "platform/linux/host_ext_bitmap.h"

namespace {

// Records asked for per GETFSMAP call (64 bytes each).
constexpr uint32_t kRecordsPerCall = 1024;

uint64_t CeilDiv(uint64_t value, uint64_t divisor) { return (value + divisor - 1) / divisor; }

// Clears bits [from, to) of a bitmap: single bits up to a byte boundary,
// then whole bytes, then single bits again.
void ClearBits(uint8_t* bits, int64_t from, int64_t to) {
  auto clearOne = [bits](int64_t bit) {
    bits[bit / 8] &= static_cast<uint8_t>(~(1u << (bit % 8)));
  };
  for (; from < to && from % 8 != 0; ++from) clearOne(from);
  const int64_t wholeBytes = (to - from) / 8;
  if (wholeBytes > 0) std::memset(bits + from / 8, 0, static_cast<size_t>(wholeBytes));
  for (from += wholeBytes * 8; from < to; ++from) clearOne(from);
}

// Merges sorted {first, end} stretches into {first, clusters} ones.
std::vector<std::pair<int64_t, int64_t>> Merged(std::vector<std::pair<int64_t, int64_t>> ranges) {
  std::sort(ranges.begin(), ranges.end());
  std::vector<std::pair<int64_t, int64_t>> merged;
  for (const auto& [first, end] : ranges) {
    if (end <= first) continue;
    if (!merged.empty() && first <= merged.back().first + merged.back().second) {
      std::pair<int64_t, int64_t>& last = merged.back();
      last.second = std::max(last.second, end - last.first);
    } else {
      merged.emplace_back(first, end - first);
    }
  }
  return merged;
}

}  // namespace

THostSpaceMap SpaceMapFromRecords(const std::vector<TFsmapRecord>& records, uint64_t clusterBytes,
                                  uint64_t minimumBytes) {
  THostSpaceMap map;
  if (clusterBytes == 0) return map;
  uint64_t endBytes = minimumBytes;
  std::vector<std::pair<int64_t, int64_t>> free;  // {first, end}: clusters wholly free
  std::vector<std::pair<int64_t, int64_t>> used;  // {first, end}: clusters touched
  for (const TFsmapRecord& record : records) {
    const uint64_t end = record.physical + record.length;
    endBytes = std::max(endBytes, end);
    if (record.free) {
      free.emplace_back(CeilDiv(record.physical, clusterBytes), end / clusterBytes);
    } else {
      used.emplace_back(record.physical / clusterBytes, CeilDiv(end, clusterBytes));
    }
  }
  map.clusterCount = static_cast<int64_t>(CeilDiv(endBytes, clusterBytes));
  // Free stretches less every cluster a record in use touches.
  const std::vector<std::pair<int64_t, int64_t>> inUse = Merged(std::move(used));
  std::vector<std::pair<int64_t, int64_t>> certain;
  auto busy = inUse.begin();
  for (const auto& [first, clusters] : Merged(std::move(free))) {
    int64_t from = first;
    const int64_t end = first + clusters;
    while (busy != inUse.end() && busy->first + busy->second <= from) ++busy;
    for (auto at = busy; at != inUse.end() && at->first < end; ++at) {
      if (at->first > from) certain.emplace_back(from, at->first);
      from = std::max(from, at->first + at->second);
    }
    if (from < end) certain.emplace_back(from, end);
  }
  map.free = Merged(std::move(certain));
  return map;
}

void FillBitmap(const THostSpaceMap& map, int64_t firstCluster, uint32_t bytes, uint8_t* out) {
  std::memset(out, 0xFF, bytes);
  const int64_t endCluster = std::min(firstCluster + int64_t{bytes} * 8, map.clusterCount);
  // The first stretch that ends after firstCluster.
  auto stretch = std::upper_bound(map.free.begin(), map.free.end(), firstCluster,
                                  [](int64_t cluster, const std::pair<int64_t, int64_t>& free) {
                                    return cluster < free.first + free.second;
                                  });
  for (; stretch != map.free.end() && stretch->first < endCluster; ++stretch) {
    const int64_t from = std::max(stretch->first, firstCluster);
    const int64_t to = std::min(stretch->first + stretch->second, endCluster);
    ClearBits(out, from - firstCluster, to - firstCluster);
  }
}

bool CollectFsmapRecords(uint32_t device, uint32_t batch, const TFsmapCall& call,
                         std::vector<TFsmapRecord>* records) {
  if (batch == 0) return false;
  std::unique_ptr<struct fsmap_head, decltype(&std::free)> head(
      static_cast<struct fsmap_head*>(std::calloc(1, fsmap_sizeof(batch))), &std::free);
  if (!head) return false;
  // Only the device that holds the folder's file system (its data device):
  // a file system may also keep a log or realtime device of its own.
  head->fmh_keys[0].fmr_device = device;
  head->fmh_keys[1].fmr_device = device;
  head->fmh_keys[1].fmr_physical = UINT64_MAX;
  head->fmh_keys[1].fmr_owner = UINT64_MAX;
  head->fmh_keys[1].fmr_offset = UINT64_MAX;
  head->fmh_keys[1].fmr_flags = UINT32_MAX;
  uint64_t reached = 0;  // bytes: the end of the last record of the batch before
  for (;;) {
    head->fmh_count = batch;
    head->fmh_entries = 0;
    if (!call(head.get())) return false;
    const uint32_t entries = std::min(head->fmh_entries, batch);
    for (uint32_t i = 0; i < entries; ++i) {
      const struct fsmap& record = head->fmh_recs[i];
      const bool free =
          (record.fmr_flags & FMR_OF_SPECIAL_OWNER) != 0 && record.fmr_owner == FMR_OWN_FREE;
      records->push_back(TFsmapRecord{record.fmr_physical, record.fmr_length, free});
    }
    if (entries == 0) return true;
    const struct fsmap& last = head->fmh_recs[entries - 1];
    if ((last.fmr_flags & FMR_OF_LAST) != 0) return true;
    // The next batch starts after the last record returned.
    const uint64_t end = last.fmr_physical + last.fmr_length;
    if (end < last.fmr_physical || end <= reached) return false;
    reached = end;
    head->fmh_entries = entries;
    fsmap_advance(head.get());
  }
}

bool ReadFsmapSpaceMap(const std::string& folder, THostSpaceMap* map) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status;
  struct statvfs figures;
  if (fstat(fd, &status) != 0 || fstatvfs(fd, &figures) != 0) {
    close(fd);
    return false;
  }
  const TFsmapCall call = [fd](struct fsmap_head* head) {
    return ioctl(fd, FS_IOC_GETFSMAP, head) == 0;
  };
  // The space map names devices in the kernel's 32-bit encoding, which is
  // the low half of st_dev.
  std::vector<TFsmapRecord> records;
  const bool read =
      CollectFsmapRecords(static_cast<uint32_t>(status.st_dev), kRecordsPerCall, call, &records);
  close(fd);
  if (!read || records.empty()) return false;
  const uint64_t blockBytes = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
  THostSpaceMap found =
      SpaceMapFromRecords(records, blockBytes, uint64_t{figures.f_blocks} * blockBytes);
  if (found.clusterCount <= 0) return false;
  *map = std::move(found);
  return true;
}

bool ReadHostSpaceMap(const std::string& folder, THostSpaceMap* map) {
  struct stat status;
  struct statfs kind;
  if (stat(folder.c_str(), &status) != 0 || statfs(folder.c_str(), &kind) != 0) return false;
  if (kind.f_type == kExtSuperMagic) {
    const std::string device = BlockDevicePath(status.st_dev);
    if (!device.empty() && ReadExtSpaceMap(device, map)) return true;
  }
  if (kind.f_type == kBtrfsSuperMagic) return ReadBtrfsSpaceMap(folder, map);
  return ReadFsmapSpaceMap(folder, map);
}

THostVolumeHandle::THostVolumeHandle(THostSpaceMap map) : map_(std::move(map)) {}

THostVolumeHandle* THostVolumeHandle::Open(const std::string& folder) {
  THostSpaceMap map;
  if (!ReadHostSpaceMap(folder, &map)) return nullptr;
  return new THostVolumeHandle(std::move(map));
}

TNtStatus THostVolumeHandle::FsControl(uint32_t code, const void* input, uint32_t inputLength,
                                       void* output, uint32_t outputLength, TIoStatusBlock* io) {
  switch (code) {
    case kFsctlGetVolumeBitmap: {
      const TBitmapReader read = [this](int64_t firstCluster, uint32_t bytes, uint8_t* out) {
        FillBitmap(map_, firstCluster, bytes, out);
        return true;
      };
      return VolumeBitmapReply(map_.clusterCount, read, input, inputLength, output, outputLength,
                               io);
    }
    case kFsctlGetRetrievalPointers:
      return Complete(io, kStatusInvalidParameter);
    default:
      return Complete(io, kStatusInvalidDeviceRequest);
  }
}
