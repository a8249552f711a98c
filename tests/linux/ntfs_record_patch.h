// Damaging a built NTFS image on purpose, byte by byte, as a faulty disk or
// an attacker would: where an item's MFT record lies in the image, and an
// index entry made to name another record. The image's own structures are
// read with explicit little-endian decoding, never through libntfs-3g's
// structure declarations, so the bytes written are the ones described here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// Stores the low sizeof(T) bytes of value little-endian at bytes[at].
template <typename T>
void StoreLittleEndian(std::vector<uint8_t>& bytes, size_t at, T value) {
  for (size_t i = 0; i < sizeof(T); ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Where the MFT record of one item lies, as libntfs-3g finds it on a
// read-only mount.
struct TMftRecordPlace {
  int64_t offset = -1;     // bytes from the image start; -1 when not found
  uint32_t bytes = 0;      // the record's size (1,024 on volumes mkntfs makes)
  uint64_t reference = 0;  // record number, sequence number in the top 16 bits
  // Where $MFTMirr keeps a copy of the record (the first four records), -1
  // for the others: the mount compares the two.
  int64_t mirrorOffset = -1;
};

// Offsets in a decoded MFT record and its attributes, in bytes.
constexpr size_t kRecordFlags = 0x16;             // u16: in use, folder
constexpr size_t kRecordBytesInUse = 0x18;        // u32
constexpr size_t kRecordBaseReference = 0x20;     // u64: the base record, 0 in a base
constexpr size_t kFileNameParent = 0x00;          // u64, in a $FILE_NAME value
constexpr size_t kFileNameAttributes = 0x38;      // u32, in a $FILE_NAME value
constexpr size_t kFileNameNameSpace = 0x41;       // u8, in a $FILE_NAME value
constexpr size_t kInformationAttributes = 0x20;   // u32, in a $STANDARD_INFORMATION value
constexpr size_t kNonResidentHighestVcn = 0x18;   // s64
constexpr size_t kNonResidentPairs = 0x20;        // u16: where the mapping pairs start
constexpr size_t kNonResidentAllocated = 0x28;    // s64, bytes
constexpr size_t kNonResidentDataSize = 0x30;     // s64, bytes
constexpr size_t kNonResidentInitialized = 0x38;  // s64, bytes
constexpr uint32_t kTypeStandardInformation = 0x10;
constexpr uint32_t kTypeFileName = 0x30;
constexpr uint32_t kTypeData = 0x80;

// The offset of the first attribute of `type` in a decoded record, and of
// its value (resident) in *value when asked; -1 when there is none.
int64_t FindAttribute(const std::vector<uint8_t>& record, uint32_t type, size_t* value = nullptr);

// Changes the MFT record of the item at path in place: decodes it (the
// fix-ups undone), lets patch change its bytes (false: nothing written),
// encodes it and writes it back, to its mirror in $MFTMirr too.
TBuildStatus PatchMftRecord(const std::string& image, const char* path,
                            const std::function<bool(std::vector<uint8_t>&)>& patch);

// Marks every cluster of the volume free in its cluster bitmap ($Bitmap).
TBuildStatus ClearClusterBitmap(const std::string& image);

// Marks clusters [lcn, lcn + count) used in the cluster bitmap, as a run of
// moves cut off after taking its target leaves them; fails, changing
// nothing, when one of them is used already.
TBuildStatus MarkClustersUsed(const std::string& image, int64_t lcn, int64_t count);

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

// Lets patch change the entry named `name` in the index root of the folder
// at folderPath: the decoded record and the entry's offset in it (its
// reference at +0, its file name key at +0x10). Fails, changing nothing, as
// PointIndexEntryAt does.
TBuildStatus PatchIndexEntry(const std::string& image, const char* folderPath,
                             const std::string& name,
                             const std::function<void(std::vector<uint8_t>&, size_t)>& patch);

// Changes the first mapping pair of the item's unnamed $DATA: its LCN field
// (the pair's own width) to lcn.
TBuildStatus PointDataAt(const std::string& image, const char* path, int64_t lcn);
