#include "tests/linux/ntfs_bitmap_check.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/linux/ntfs_library.h"
#include "tests/linux/ntfs_record_patch.h"

namespace {

constexpr size_t kMaxExamples = 8;

// Offsets in a decoded MFT record and attribute record, in bytes.
constexpr size_t kRecordAttributes = 0x14;   // u16: the first attribute
constexpr size_t kAttributeLength = 0x04;    // u32
constexpr size_t kAttributeResident = 0x08;  // u8: 0 when the value is in the record
constexpr uint16_t kRecordInUse = 0x0001;
constexpr uint32_t kTypeEnd = 0xFFFFFFFF;

struct TMounted {
  ntfs_volume* volume = nullptr;
  explicit TMounted(const std::string& image)
      : volume(ntfs_mount(image.c_str(), NTFS_MNT_RDONLY)) {}
  ~TMounted() {
    if (volume != nullptr) ntfs_umount(volume, FALSE);
  }
};

void Note(TBitmapCheck* check, const std::string& what) {
  if (check->examples.size() < kMaxExamples) check->examples.push_back(what);
}

// Marks the clusters the attribute at `at` of the decoded record holds as
// held by holder; *owners has one entry per cluster, -1 for none.
void CollectClusters(ntfs_volume* volume, const std::vector<uint8_t>& record, size_t at,
                     int64_t holder, const std::string& name, std::vector<int64_t>* owners,
                     std::vector<std::string>* holders, TBitmapCheck* check) {
  std::vector<uint8_t> attribute(record.begin() + static_cast<std::ptrdiff_t>(at), record.end());
  runlist_element* runs = ntfs_mapping_pairs_decompress(
      volume, reinterpret_cast<ATTR_RECORD*>(attribute.data()), nullptr);
  if (runs == nullptr) {
    Note(check, name + ": its mapping pairs do not decode");
    ++check->sharedClusters;
    return;
  }
  for (const runlist_element* run = runs; run->length > 0; ++run) {
    if (run->lcn < 0) continue;
    for (int64_t cluster = run->lcn; cluster < run->lcn + run->length; ++cluster) {
      if (cluster >= static_cast<int64_t>(owners->size())) {
        Note(check, name + " holds cluster " + std::to_string(cluster) + ", past the volume");
        ++check->sharedClusters;
        continue;
      }
      int64_t& owner = (*owners)[static_cast<size_t>(cluster)];
      if (owner >= 0) {
        ++check->sharedClusters;
        Note(check, "cluster " + std::to_string(cluster) + " is held by " +
                        (*holders)[static_cast<size_t>(owner)] + " and by " + name);
      } else {
        owner = holder;
      }
    }
  }
  std::free(runs);
}

uint64_t Fnv1a(uint64_t hash, const uint8_t* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
  return hash;
}

// The bytes of the stream hashed; 0 when it cannot be read whole.
uint64_t HashStream(ntfs_inode* inode, ntfschar* name, uint32_t nameLength) {
  ntfs_attr* stream = ntfs_attr_open(inode, AT_DATA, name, nameLength);
  if (stream == nullptr) return 0;
  uint64_t hash = 0xCBF29CE484222325ull;
  std::vector<uint8_t> buffer(1 << 20);
  for (s64 offset = 0; offset < stream->data_size;) {
    const s64 got = ntfs_attr_pread(stream, offset, static_cast<s64>(buffer.size()), buffer.data());
    if (got <= 0) {
      hash = 0;
      break;
    }
    hash = Fnv1a(hash, buffer.data(), static_cast<size_t>(got));
    offset += got;
  }
  ntfs_attr_close(stream);
  return hash;
}

struct TListing {
  std::vector<std::pair<std::string, uint64_t>> entries;  // name, reference
};

int CollectEntry(void* listing, const ntfschar* name, const int nameLength, const int nameSpace,
                 const s64 /*position*/, const MFT_REF reference, const unsigned /*type*/) {
  if (nameSpace == FILE_NAME_DOS || MREF(reference) < FILE_first_user) return 0;
  char* utf8 = nullptr;
  if (ntfs_ucstombs(name, nameLength, &utf8, 0) < 0) return 0;
  static_cast<TListing*>(listing)->entries.emplace_back(utf8, reference);
  std::free(utf8);
  return 0;
}

void HashFolder(ntfs_volume* volume, uint64_t folder, const std::string& path, int depth,
                std::map<std::string, uint64_t>* hashes) {
  if (depth > 64) return;
  ntfs_inode* inode = ntfs_inode_open(volume, folder);
  if (inode == nullptr) return;
  TListing listing;
  s64 position = 0;
  ntfs_readdir(inode, &position, &listing, CollectEntry);
  ntfs_inode_close(inode);
  for (const auto& entry : listing.entries) {
    if (entry.first == "." || entry.first == "..") continue;
    const std::string childPath = path + "/" + entry.first;
    ntfs_inode* child = ntfs_inode_open(volume, entry.second);
    if (child == nullptr) {
      (*hashes)[childPath] = 0;
      continue;
    }
    const bool isFolder =
        (le16_to_cpu(child->mrec->flags) & le16_to_cpu(MFT_RECORD_IS_DIRECTORY)) != 0;
    // Every $DATA attribute: the unnamed stream and the named ones.
    ntfs_attr_search_ctx* context = ntfs_attr_get_search_ctx(child, nullptr);
    std::vector<std::vector<ntfschar>> names;
    while (context != nullptr &&
           ntfs_attr_lookup(AT_DATA, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, context) == 0) {
      const ATTR_RECORD* attribute = context->attr;
      const auto* name = reinterpret_cast<const ntfschar*>(
          reinterpret_cast<const uint8_t*>(attribute) + le16_to_cpu(attribute->name_offset));
      // Extents of one stream appear once per record: keep each name once.
      std::vector<ntfschar> units(name, name + attribute->name_length);
      if (attribute->lowest_vcn == 0 || !attribute->non_resident) names.push_back(units);
    }
    if (context != nullptr) ntfs_attr_put_search_ctx(context);
    for (std::vector<ntfschar>& name : names) {
      std::string key = childPath;
      if (!name.empty()) {
        char* utf8 = nullptr;
        if (ntfs_ucstombs(name.data(), static_cast<int>(name.size()), &utf8, 0) >= 0) {
          key += std::string(":") + utf8;
          std::free(utf8);
        }
      }
      (*hashes)[key] = HashStream(child, name.empty() ? AT_UNNAMED : name.data(),
                                  static_cast<uint32_t>(name.size()));
    }
    ntfs_inode_close(child);
    if (isFolder) HashFolder(volume, entry.second, childPath, depth + 1, hashes);
  }
}

}  // namespace

std::string TBitmapCheck::Text() const {
  std::string text = error.empty() ? "" : "not checked: " + error + "\n";
  text += std::to_string(sharedClusters) + " clusters held twice, " + std::to_string(heldButFree) +
          " held but free, " + std::to_string(usedButUnheld) + " used but held by nothing";
  for (const std::string& example : examples) text += "\n  " + example;
  return text;
}

TBitmapCheck CheckClusterBitmap(const std::string& image) {
  TBitmapCheck check;
  TMounted mounted(image);
  ntfs_volume* volume = mounted.volume;
  if (volume == nullptr) {
    check.error = image + ": does not mount: " + std::strerror(errno);
    return check;
  }
  const int64_t clusters = volume->nr_clusters;
  std::vector<int64_t> owners(static_cast<size_t>(clusters), -1);
  std::vector<std::string> holders;
  const int64_t records = volume->mft_na->initialized_size >> volume->mft_record_size_bits;
  std::vector<uint8_t> record(volume->mft_record_size);
  for (int64_t number = 0; number < records; ++number) {
    if (ntfs_mft_record_read(volume, static_cast<MFT_REF>(number),
                             reinterpret_cast<MFT_RECORD*>(record.data())) != 0) {
      continue;  // not in use, or never written: nothing it says counts
    }
    if ((LittleEndian<uint16_t>(record, kRecordFlags) & kRecordInUse) == 0) continue;
    const uint32_t inUse = std::min<uint32_t>(LittleEndian<uint32_t>(record, kRecordBytesInUse),
                                              static_cast<uint32_t>(record.size()));
    for (size_t at = LittleEndian<uint16_t>(record, kRecordAttributes); at + 0x10 <= inUse;) {
      const uint32_t type = LittleEndian<uint32_t>(record, at);
      const uint32_t length = LittleEndian<uint32_t>(record, at + kAttributeLength);
      if (type == kTypeEnd || length == 0 || at + length > inUse) break;
      if (record[at + kAttributeResident] != 0) {
        holders.push_back("record " + std::to_string(number) + " attribute 0x" + [type] {
          char hex[16];
          std::snprintf(hex, sizeof hex, "%X", type);
          return std::string(hex);
        }() + " at " + std::to_string(at));
        CollectClusters(volume, record, at, static_cast<int64_t>(holders.size() - 1),
                        holders.back(), &owners, &holders, &check);
      }
      at += length;
    }
  }
  std::vector<uint8_t> bitmap(static_cast<size_t>((clusters + 7) / 8));
  if (ntfs_attr_pread(volume->lcnbmp_na, 0, static_cast<s64>(bitmap.size()), bitmap.data()) !=
      static_cast<s64>(bitmap.size())) {
    check.error = image + ": its cluster bitmap does not read";
    return check;
  }
  for (int64_t cluster = 0; cluster < clusters; ++cluster) {
    const bool used = (bitmap[static_cast<size_t>(cluster / 8)] >> (cluster % 8) & 1) != 0;
    const int64_t owner = owners[static_cast<size_t>(cluster)];
    if (owner >= 0 && !used) {
      ++check.heldButFree;
      Note(&check, "cluster " + std::to_string(cluster) + " is held by " +
                       holders[static_cast<size_t>(owner)] + " but free in $Bitmap");
    } else if (owner < 0 && used) {
      ++check.usedButUnheld;
    }
  }
  return check;
}

std::map<std::string, uint64_t> HashStreams(const std::string& image) {
  std::map<std::string, uint64_t> hashes;
  TMounted mounted(image);
  if (mounted.volume != nullptr) HashFolder(mounted.volume, FILE_root, "", 0, &hashes);
  return hashes;
}
