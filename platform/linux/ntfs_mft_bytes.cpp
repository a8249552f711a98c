#include "platform/linux/ntfs_mft_bytes.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/linux/cached_read.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_read_only_device.h"

extern "C" {
#include <ntfs-3g/mst.h>
}

std::unique_ptr<TNtfsMftBytes> TNtfsMftBytes::Map(ntfs_volume* volume, int64_t records) {
  ntfs_attr* mft = volume->mft_na;
  if (ntfs_attr_map_whole_runlist(mft) != 0) return nullptr;
  const int64_t clusterBytes = volume->cluster_size;
  const int64_t total = records * volume->mft_record_size;
  // The runs in VCN order, one after another from the MFT's first byte, cut
  // at the records wanted; anything else (a run not mapped, a gap) is a
  // $MFT this reader does not know how to read.
  std::vector<TExtent> extents;
  int64_t covered = 0;
  for (const runlist_element* run = mft->rl; run != nullptr && run->length > 0 && covered < total;
       ++run) {
    if (run->vcn * clusterBytes != covered) return nullptr;
    if (run->lcn < 0 && run->lcn != LCN_HOLE) return nullptr;
    const int64_t bytes = std::min(run->length * clusterBytes, total - covered);
    extents.push_back(TExtent{covered, run->lcn < 0 ? -1 : run->lcn * clusterBytes, bytes});
    covered += bytes;
  }
  if (covered < total) return nullptr;
  return std::unique_ptr<TNtfsMftBytes>(new TNtfsMftBytes(volume, std::move(extents)));
}

TNtfsMftBytes::TNtfsMftBytes(ntfs_volume* volume, std::vector<TExtent> extents)
    : descriptor_(ReadOnlyDeviceDescriptor(volume->dev)),
      recordBytes_(volume->mft_record_size),
      warn_(!NVolNoFixupWarn(volume)),
      extents_(std::move(extents)) {}

template <typename TUse>
bool TNtfsMftBytes::ForEachPiece(int64_t first, int64_t count, TUse use) const {
  int64_t offset = first * recordBytes_;
  int64_t bytes = count * recordBytes_;
  int64_t done = 0;
  // The extent holding offset (the first starts at 0), then those after it.
  auto extent = std::upper_bound(
      extents_.begin(), extents_.end(), offset,
      [](int64_t wanted, const TExtent& candidate) { return wanted < candidate.streamOffset; });
  if (extent == extents_.begin()) return false;
  --extent;
  while (bytes > 0) {
    if (extent == extents_.end()) return false;
    const int64_t into = offset - extent->streamOffset;
    const int64_t piece = std::min(bytes, extent->bytes - into);
    if (!use(extent->deviceOffset < 0 ? -1 : extent->deviceOffset + into, piece, done)) {
      return false;
    }
    done += piece;
    offset += piece;
    bytes -= piece;
    ++extent;
  }
  return true;
}

bool TNtfsMftBytes::Read(int64_t first, int64_t count, uint8_t* out, bool* waited) const {
  const auto read = [&](int64_t deviceOffset, int64_t piece, int64_t outOffset) {
    uint8_t* const at = out + outOffset;
    if (deviceOffset < 0) {
      std::memset(at, 0, static_cast<size_t>(piece));
      return true;
    }
    int64_t done = 0;
    if (waited != nullptr && !*waited) {
      // What the page cache holds is taken at once; the rest the device
      // must give.
      const ssize_t got = ReadCachedPart(descriptor_, at, static_cast<size_t>(piece), deviceOffset);
      if (got < 0) return Whole(at, piece, deviceOffset);
      done = got;
      *waited = done < piece;
    }
    return Whole(at + done, piece - done, deviceOffset + done);
  };
  if (!ForEachPiece(first, count, read)) return false;
  for (int64_t i = 0; i < count; ++i) {
    ntfs_mst_post_read_fixup_warn(reinterpret_cast<NTFS_RECORD*>(out + i * recordBytes_),
                                  recordBytes_, warn_ ? TRUE : FALSE);
  }
  return true;
}

bool TNtfsMftBytes::Whole(uint8_t* out, int64_t bytes, int64_t deviceOffset) const {
  for (int64_t done = 0; done < bytes;) {
    const ssize_t got =
        pread(descriptor_, out + done, static_cast<size_t>(bytes - done), deviceOffset + done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += got;
  }
  return true;
}

void TNtfsMftBytes::AskFor(int64_t first, int64_t count) const {
  ForEachPiece(first, count, [this](int64_t deviceOffset, int64_t piece, int64_t) {
    if (deviceOffset >= 0) posix_fadvise(descriptor_, deviceOffset, piece, POSIX_FADV_WILLNEED);
    return true;
  });
}
