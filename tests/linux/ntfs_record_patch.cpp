#include "tests/linux/ntfs_record_patch.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "platform/linux/ntfs_library.h"

namespace {

// Offsets into an MFT record ("FILE"), an attribute record, an index root's
// value, an index entry and the file name key it holds, in bytes.
constexpr size_t kRecordUsaOffset = 0x04;       // u16: where the fix-up array starts
constexpr size_t kRecordUsaCount = 0x06;        // u16: the sequence number and one per sector
constexpr size_t kRecordAttributes = 0x14;      // u16: the first attribute
constexpr size_t kAttributeLength = 0x04;       // u32
constexpr size_t kAttributeResident = 0x08;     // u8: 0 when the value is in the record
constexpr size_t kAttributeValueLength = 0x10;  // u32
constexpr size_t kAttributeValueOffset = 0x14;  // u16, from the attribute's start
constexpr size_t kRootHeader = 0x10;            // the index header inside the value
constexpr size_t kHeaderEntries = 0x00;         // u32, from the header's start
constexpr size_t kHeaderLength = 0x04;          // u32: bytes of entries, from the header's start
constexpr size_t kEntryLength = 0x08;           // u16; the reference is the u64 at 0
constexpr size_t kEntryFlags = 0x0C;            // u16
constexpr size_t kEntryKey = 0x10;              // the file name attribute
constexpr size_t kKeyNameLength = 0x40;         // u8, in UTF-16 units
constexpr size_t kKeyNameSpace = 0x41;          // u8
constexpr size_t kKeyName = 0x42;               // UTF-16LE
constexpr uint32_t kTypeIndexRoot = 0x90;
constexpr uint32_t kTypeEnd = 0xFFFFFFFF;
constexpr uint16_t kEntryIsLast = 0x02;
constexpr uint8_t kDosNameSpace = 2;
constexpr size_t kSectorBytes = 512;  // what the fix-ups protect, whatever the device's sectors

// Replaces each sector's last two bytes by what the fix-up array keeps for
// it (decode) or the fix-up array's entries by those bytes, putting the
// update sequence number there (encode). False when the array does not fit
// the record or, decoding, a sector's check bytes differ from it.
bool Decode(std::vector<uint8_t>& record) {
  const size_t usa = LittleEndian<uint16_t>(record, kRecordUsaOffset);
  const size_t count = LittleEndian<uint16_t>(record, kRecordUsaCount);
  if (count == 0 || count - 1 != record.size() / kSectorBytes || usa + 2 * count > record.size()) {
    return false;
  }
  for (size_t sector = 1; sector < count; ++sector) {
    const size_t end = sector * kSectorBytes - 2;
    if (record[end] != record[usa] || record[end + 1] != record[usa + 1]) return false;
    record[end] = record[usa + 2 * sector];
    record[end + 1] = record[usa + 2 * sector + 1];
  }
  return true;
}

void Encode(std::vector<uint8_t>& record) {
  const size_t usa = LittleEndian<uint16_t>(record, kRecordUsaOffset);
  const size_t count = LittleEndian<uint16_t>(record, kRecordUsaCount);
  for (size_t sector = 1; sector < count; ++sector) {
    const size_t end = sector * kSectorBytes - 2;
    record[usa + 2 * sector] = record[end];
    record[usa + 2 * sector + 1] = record[end + 1];
    record[end] = record[usa];
    record[end + 1] = record[usa + 1];
  }
}

// The name as stored in a file name key: UTF-16LE bytes.
std::vector<uint8_t> StoredName(const std::string& name) {
  ntfschar* wide = nullptr;
  const int length = ntfs_mbstoucs(name.c_str(), &wide);
  std::vector<uint8_t> bytes;
  for (int i = 0; i < length; ++i) {
    const uint16_t unit = le16_to_cpu(wide[i]);
    bytes.push_back(static_cast<uint8_t>(unit));
    bytes.push_back(static_cast<uint8_t>(unit >> 8));
  }
  std::free(wide);
  return bytes;
}

// The offsets in a decoded record of the index root's entries holding a
// long name equal to `name`; empty when there is no index root.
std::vector<size_t> EntriesNamed(const std::vector<uint8_t>& record,
                                 const std::vector<uint8_t>& name) {
  std::vector<size_t> found;
  const size_t used = LittleEndian<uint32_t>(record, kRecordBytesInUse);
  if (used > record.size()) return found;
  size_t attribute = LittleEndian<uint16_t>(record, kRecordAttributes);
  while (attribute + kAttributeValueOffset + 2 <= used) {
    const uint32_t type = LittleEndian<uint32_t>(record, attribute);
    const uint32_t length = LittleEndian<uint32_t>(record, attribute + kAttributeLength);
    if (type == kTypeEnd || length == 0 || attribute + length > used) break;
    if (type == kTypeIndexRoot && record[attribute + kAttributeResident] == 0) {
      const size_t value =
          attribute + LittleEndian<uint16_t>(record, attribute + kAttributeValueOffset);
      const size_t valueEnd =
          value + LittleEndian<uint32_t>(record, attribute + kAttributeValueLength);
      const size_t header = value + kRootHeader;
      if (valueEnd > attribute + length || header + 8 > valueEnd) break;
      const size_t entriesEnd = header + LittleEndian<uint32_t>(record, header + kHeaderLength);
      size_t entry = header + LittleEndian<uint32_t>(record, header + kHeaderEntries);
      while (entry + kEntryKey <= entriesEnd && entriesEnd <= valueEnd) {
        const uint16_t entryLength = LittleEndian<uint16_t>(record, entry + kEntryLength);
        if (LittleEndian<uint16_t>(record, entry + kEntryFlags) & kEntryIsLast) break;
        if (entryLength < kEntryKey + kKeyName || entry + entryLength > entriesEnd) break;
        const size_t key = entry + kEntryKey;
        const size_t nameBytes = 2 * size_t{record[key + kKeyNameLength]};
        if (record[key + kKeyNameSpace] != kDosNameSpace && nameBytes == name.size() &&
            key + kKeyName + nameBytes <= entry + entryLength &&
            std::equal(name.begin(), name.end(), record.begin() + key + kKeyName)) {
          found.push_back(entry);
        }
        entry += entryLength;
      }
    }
    attribute += length;
  }
  return found;
}

}  // namespace

TMftRecordPlace FindMftRecord(const std::string& image, const char* path) {
  TMftRecordPlace place;
  ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (volume == nullptr) return place;
  if (ntfs_inode* inode = ntfs_pathname_to_inode(volume, nullptr, path)) {
    const int64_t byte = static_cast<int64_t>(inode->mft_no) * volume->mft_record_size;
    const LCN lcn = ntfs_attr_vcn_to_lcn(volume->mft_na, byte >> volume->cluster_size_bits);
    if (lcn >= 0) {
      place.offset = lcn * volume->cluster_size + (byte & (volume->cluster_size - 1));
      place.bytes = volume->mft_record_size;
      place.reference = MK_MREF(inode->mft_no, le16_to_cpu(inode->mrec->sequence_number));
      if (static_cast<int64_t>(inode->mft_no) < volume->mftmirr_size) {
        place.mirrorOffset = volume->mftmirr_lcn * volume->cluster_size + byte;
      }
    }
    ntfs_inode_close(inode);
  }
  ntfs_umount(volume, FALSE);
  return place;
}

TBuildStatus PatchIndexEntry(const std::string& image, const char* folderPath,
                             const std::string& name,
                             const std::function<void(std::vector<uint8_t>&, size_t)>& patch) {
  const std::vector<uint8_t> stored = StoredName(name);
  return PatchMftRecord(image, folderPath, [&](std::vector<uint8_t>& record) {
    const std::vector<size_t> entries = EntriesNamed(record, stored);
    if (entries.size() != 1) return false;
    patch(record, entries.front());
    return true;
  });
}

TBuildStatus PointIndexEntryAt(const std::string& image, const char* folderPath,
                               const std::string& name, const char* targetPath) {
  const TMftRecordPlace target = FindMftRecord(image, targetPath);
  if (target.offset < 0) {
    return TBuildStatus::Failure(std::string("PointIndexEntryAt: no record for ") + targetPath);
  }
  return PatchIndexEntry(image, folderPath, name, [&](std::vector<uint8_t>& record, size_t entry) {
    StoreLittleEndian<uint64_t>(record, entry, target.reference);
  });
}

int64_t FindAttribute(const std::vector<uint8_t>& record, uint32_t type, size_t* value) {
  const size_t used =
      std::min<size_t>(LittleEndian<uint32_t>(record, kRecordBytesInUse), record.size());
  size_t attribute = LittleEndian<uint16_t>(record, kRecordAttributes);
  while (attribute + kAttributeValueOffset + 2 <= used) {
    const uint32_t found = LittleEndian<uint32_t>(record, attribute);
    const uint32_t length = LittleEndian<uint32_t>(record, attribute + kAttributeLength);
    if (found == kTypeEnd || length == 0 || attribute + length > used) break;
    if (found == type) {
      if (value != nullptr) {
        *value = attribute + LittleEndian<uint16_t>(record, attribute + kAttributeValueOffset);
      }
      return static_cast<int64_t>(attribute);
    }
    attribute += length;
  }
  return -1;
}

TBuildStatus PatchMftRecord(const std::string& image, const char* path,
                            const std::function<bool(std::vector<uint8_t>&)>& patch) {
  const std::string step = std::string("PatchMftRecord ") + path + ": ";
  const TMftRecordPlace place = FindMftRecord(image, path);
  if (place.offset < 0) return TBuildStatus::Failure(step + "no record");
  const int fd = open(image.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return TBuildStatus::Failure(step + "cannot open the image");
  std::vector<uint8_t> record(place.bytes);
  const ssize_t size = static_cast<ssize_t>(record.size());
  std::string failure;
  if (pread(fd, record.data(), record.size(), place.offset) != size || !Decode(record)) {
    failure = "record unreadable";
  } else if (!patch(record)) {
    failure = "the patch found nothing to change";
  } else {
    Encode(record);
    for (const int64_t at : {place.offset, place.mirrorOffset}) {
      if (at >= 0 && pwrite(fd, record.data(), record.size(), at) != size) failure = "not written";
    }
  }
  close(fd);
  return failure.empty() ? TBuildStatus::Success() : TBuildStatus::Failure(step + failure);
}

TBuildStatus ClearClusterBitmap(const std::string& image) {
  ntfs_volume* volume = ntfs_mount(image.c_str(), 0);
  if (volume == nullptr) return TBuildStatus::Failure("ClearClusterBitmap: no mount");
  const std::vector<uint8_t> zeros(static_cast<size_t>(volume->lcnbmp_na->data_size), 0);
  const s64 written =
      ntfs_attr_pwrite(volume->lcnbmp_na, 0, static_cast<s64>(zeros.size()), zeros.data());
  const bool unmounted = ntfs_umount(volume, FALSE) == 0;
  if (written != static_cast<s64>(zeros.size()) || !unmounted) {
    return TBuildStatus::Failure("ClearClusterBitmap: not written");
  }
  return TBuildStatus::Success();
}

TBuildStatus MarkClustersUsed(const std::string& image, int64_t lcn, int64_t count) {
  ntfs_volume* volume = ntfs_mount(image.c_str(), 0);
  if (volume == nullptr) return TBuildStatus::Failure("MarkClustersUsed: no mount");
  // Whole bytes of the bitmap around the range, read, changed, written.
  const int64_t firstByte = lcn / 8;
  std::vector<uint8_t> bits(static_cast<size_t>((lcn + count + 7) / 8 - firstByte));
  const auto bytes = static_cast<s64>(bits.size());
  bool free = ntfs_attr_pread(volume->lcnbmp_na, firstByte, bytes, bits.data()) == bytes;
  for (int64_t cluster = lcn; free && cluster < lcn + count; ++cluster) {
    uint8_t& byte = bits[static_cast<size_t>(cluster / 8 - firstByte)];
    free = (byte & (1u << (cluster % 8))) == 0;
    byte = static_cast<uint8_t>(byte | (1u << (cluster % 8)));
  }
  const bool written =
      free && ntfs_attr_pwrite(volume->lcnbmp_na, firstByte, bytes, bits.data()) == bytes;
  const bool unmounted = ntfs_umount(volume, FALSE) == 0;
  if (!free) return TBuildStatus::Failure("MarkClustersUsed: a cluster is used already");
  if (!written || !unmounted) return TBuildStatus::Failure("MarkClustersUsed: not written");
  return TBuildStatus::Success();
}

TBuildStatus PointDataAt(const std::string& image, const char* path, int64_t lcn) {
  return PatchMftRecord(image, path, [lcn](std::vector<uint8_t>& record) {
    const int64_t data = FindAttribute(record, kTypeData);
    if (data < 0) return false;
    const size_t pairs = data + LittleEndian<uint16_t>(record, data + kNonResidentPairs);
    const uint8_t header = record[pairs];
    const size_t lengthBytes = header & 0x0F;
    const size_t lcnBytes = header >> 4;
    for (size_t i = 0; i < lcnBytes; ++i) {
      record[pairs + 1 + lengthBytes + i] = static_cast<uint8_t>(lcn >> (8 * i));
    }
    return lcnBytes > 0;
  });
}
