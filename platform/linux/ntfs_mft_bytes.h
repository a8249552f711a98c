// The records of an NTFS volume's MFT read straight from its device, with
// the fix-ups libntfs-3g applies: any number of threads may read at once,
// which libntfs-3g's own reads of a mount do not allow. The $MFT's runs are
// mapped once, by the thread that owns the mount, before any read.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct _ntfs_volume;

class TNtfsMftBytes {
 public:
  // The first `records` MFT records of volume (not owned; it must outlive
  // the reads). None when the $MFT's runs cannot be mapped or leave a gap.
  static std::unique_ptr<TNtfsMftBytes> Map(_ntfs_volume* volume, int64_t records);

  // Reads records [first, first + count) into out (count records' bytes) and
  // applies each one's fix-ups; a record whose fix-ups fail is marked BAAD,
  // as libntfs-3g marks it. False when the device fails or ends early.
  // Read-only on this object: safe on any thread.
  bool Read(int64_t first, int64_t count, uint8_t* out) const;

  uint32_t RecordBytes() const { return recordBytes_; }

 private:
  // A stretch of the MFT's bytes on the device; a hole reads as zeros.
  struct TExtent {
    int64_t streamOffset;  // bytes into the MFT
    int64_t deviceOffset;  // bytes into the device; -1 for a hole
    int64_t bytes;
  };

  TNtfsMftBytes(_ntfs_volume* volume, std::vector<TExtent> extents);

  const int descriptor_;  // the mount's device, read with pread only
  const uint32_t recordBytes_;
  const bool warn_;                     // fix-up failures are logged, as the mount says
  const std::vector<TExtent> extents_;  // in MFT order, from its first byte
};
