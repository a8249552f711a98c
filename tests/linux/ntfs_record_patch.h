// Damaging a built NTFS image on purpose, byte by byte, as a faulty disk or
// an attacker would: where an item's MFT record lies in the image, and an
// index entry made to name another record. The image's own structures are
// read with explicit little-endian decoding, never through libntfs-3g's
// structure declarations, so the bytes written are the ones described here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/ntfs_image_builder.h"

// The unsigned value of sizeof(T) bytes stored little-endian at bytes[at].
template <typename T>
T LittleEndian(const std::vector<uint8_t>& bytes, size_t at) {
  T value = 0;
  for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(bytes[at + i]) << (8 * i);
  return value;
}

// Where the MFT record of one item lies, as libntfs-3g finds it on a
// read-only mount.
struct TMftRecordPlace {
  int64_t offset = -1;     // bytes from the image start; -1 when not found
  uint32_t bytes = 0;      // the record's size (1,024 on volumes mkntfs makes)
  uint64_t reference = 0;  // record number, sequence number in the top 16 bits
};

// The record of the item at path ('/'-separated, "/" the root). Needs the
// record's bytes to lie in one cluster run of $MFT, as they always do for
// records of at most one cluster.
TMftRecordPlace FindMftRecord(const std::string& image, const char* path);

// Makes the entry named `name` in the index root of the folder at
// folderPath name the record of the item at targetPath (its reference with
// the sequence number), leaving the entry's name and type as they were. The
// folder's index must be small enough to lie whole in its index root. The
// record's update-sequence fix-ups are kept valid: the record is decoded,
// patched and encoded again, so even a reference lying across a sector's
// check bytes is written where the fix-up array keeps it. Fails, changing
// nothing, when the entry is not there exactly once (long names only, the
// DOS name is left alone).
TBuildStatus PointIndexEntryAt(const std::string& image, const char* folderPath,
                               const std::string& name, const char* targetPath);
