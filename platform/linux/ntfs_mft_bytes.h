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
  // With waited given (false on the call), it tells whether the device had
  // to be waited for, the bytes not all in the page cache. Read-only on this
  // object: safe on any thread.
  bool Read(int64_t first, int64_t count, uint8_t* out, bool* waited = nullptr) const;
  // Asks the device for records [first, first + count) ahead of their read,
  // without waiting: a reader that finds its records outside the page cache
  // keeps many requests in flight instead of one.
  void AskFor(int64_t first, int64_t count) const;

  uint32_t RecordBytes() const { return recordBytes_; }

 private:
  // A stretch of the MFT's bytes on the device; a hole reads as zeros.
  struct TExtent {
    int64_t streamOffset;  // bytes into the MFT
    int64_t deviceOffset;  // bytes into the device; -1 for a hole
    int64_t bytes;
  };

  TNtfsMftBytes(_ntfs_volume* volume, std::vector<TExtent> extents);
  // Calls use(deviceOffset, bytes, outOffset) for each stretch of the
  // device records [first, first + count) lie in, in order (deviceOffset -1
  // for a hole; outOffset bytes into the records); false when use is, or
  // when the records run past the extents.
  template <typename TUse>
  bool ForEachPiece(int64_t first, int64_t count, TUse use) const;
  // Reads `bytes` bytes of the device from deviceOffset, however many calls
  // it takes; false when the device fails or ends early.
  bool Whole(uint8_t* out, int64_t bytes, int64_t deviceOffset) const;

  const int descriptor_;  // the mount's device, read with pread only
  const uint32_t recordBytes_;
  const bool warn_;                     // fix-up failures are logged, as the mount says
  const std::vector<TExtent> extents_;  // in MFT order, from its first byte
};
