// Collecting the MFT read in order: records decoded with libntfs-3g's own
// fix-ups, record checks and mapping-pairs decoder, attribute-list records
// merged into their base, folder contents grouped and sorted by the index
// collation, small folders' index roots compared with their names.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "platform/linux/ntfs_collation.h"
#include "platform/linux/ntfs_disk_value.h"
#include "platform/linux/ntfs_held_clusters.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_mft_bytes.h"
#include "platform/linux/ntfs_mft_view.h"
#include "platform/linux/ntfs_mft_view_tables.h"
#include "platform/linux/run_beside.h"

namespace {

// Units of a name its sort key holds.
constexpr uint32_t kKeyUnits = 16;

// Records read at once by a collector, at most: 1 MiB of 1 KiB records,
// which stays in the core's second-level cache from its read to its decoding.
constexpr int64_t kRecordsPerRead = 1024;
// Blocks of records a reading thread asks the device for ahead of it when a
// read finds its records outside the page cache: with one read of a
// megabyte at a time a cold $MFT takes as long again as its decoding,
// where a disk with requests queued reads while the records are decoded.
constexpr int64_t kBlocksAskedAhead = 16;

// One attribute record of the stream a handle maps (a file's unnamed $DATA,
// a folder's $I30 index allocation). Read in place while its record is in
// the read buffer; copied when it must wait for every extent of its base.
// Move-only: a copy would point into the original's bytes.
struct TPiece {
  TPiece(uint32_t baseRecord, const ATTR_RECORD* record)
      : base(baseRecord),
        lowestVcn(record->non_resident ? sle64_to_cpu(record->lowest_vcn) : 0),
        attribute(record) {}
  TPiece(TPiece&&) = default;
  TPiece& operator=(TPiece&&) = default;
  TPiece(const TPiece&) = delete;
  TPiece& operator=(const TPiece&) = delete;

  // Copies the attribute, so the piece outlives the read buffer.
  void Keep() {
    const auto* bytes = reinterpret_cast<const uint8_t*>(attribute);
    kept.assign(bytes, bytes + le32_to_cpu(attribute->length));
    attribute = reinterpret_cast<const ATTR_RECORD*>(kept.data());
  }

  uint32_t base;
  int64_t lowestVcn;
  const ATTR_RECORD* attribute;  // in the read buffer, or in kept
  std::vector<uint8_t> kept;     // the attribute's bytes once kept
};

bool IsNamedI30(const ATTR_RECORD* attribute) {
  if (attribute->name_length != 4) return false;
  return std::memcmp(
             reinterpret_cast<const uint8_t*>(attribute) + le16_to_cpu(attribute->name_offset),
             NTFS_INDEX_I30, 4 * sizeof(ntfschar)) == 0;
}

bool IsStreamOf(const ATTR_RECORD* attribute, bool folder) {
  if (folder)
    return NTFS_DISK_BITS(attribute, type) == AT_INDEX_ALLOCATION && IsNamedI30(attribute);
  return NTFS_DISK_BITS(attribute, type) == AT_DATA && attribute->name_length == 0;
}

// A hash of one name of a folder: the item's reference (with its sequence
// number), the name's namespace and its units as stored. Summed over a
// folder's names, the sums of the MFT's names and of the index's entries
// agree when both hold the same names.
uint64_t NameHash(MFT_REF reference, uint8_t nameSpace, const uint8_t* units, size_t bytes) {
  uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a
  const auto mix = [&hash](uint8_t byte) { hash = (hash ^ byte) * 0x100000001B3ull; };
  for (int shift = 0; shift < 64; shift += 8) mix(static_cast<uint8_t>(reference >> shift));
  mix(nameSpace);
  for (size_t i = 0; i < bytes; ++i) mix(units[i]);
  return hash;
}

}  // namespace

// The names a small folder's index root holds (a folder without index
// blocks holds every name there), as the sum of their hashes and their
// count.
struct TNtfsMftView::TIndexSignature {
  uint32_t folder;
  uint32_t count;
  uint64_t sum;
};

// Gathers what the records say while the MFT is read, then settles what
// needs every record (extension records, folder contents).
class TNtfsMftView::TCollector {
 public:
  // volume (not owned) is the mount being read; only read here.
  TCollector(TNtfsMftView& view, ntfs_volume* volume) : view_(view), volume_(volume) {}

  // The MFT's records in blocks: `count` records, `records` a block.
  struct TBlocks {
    int64_t count;
    int64_t records;
  };
  // Reads and takes in every second block from firstBlock on; false when
  // the MFT cannot be read. Writes only those records' entries of the
  // view's record table and this collector's own tables, so two collectors
  // of one view may collect the even and the odd blocks at once.
  bool CollectBlocks(const TNtfsMftBytes& mft, const TBlocks& blocks, int64_t firstBlock);
  // Makes room in the tables for what `records` records usually hold.
  void Reserve(int64_t records);
  // Takes in what other collected of every second block from firstBlock on.
  void Absorb(TCollector& other, const TBlocks& blocks, int64_t firstBlock);
  // Settles what needs every record, and hands the tables to the view.
  void Finish();
  // After Finish: the clusters the cluster bitmap marks used that no
  // attribute of any record holds (ntfs_held_clusters.h); -1 when the view
  // cannot tell (a record it could not read or decode, damage).
  int64_t ClustersHeldByNoFile();

  // A name's place in its folder's order, as far as its first sixteen units
  // tell: see Finish.
  struct TSortKey {
    uint64_t units[4];  // units 0 to 15, upper-cased, four to a word, the first highest
    uint32_t index;     // the name's place in the grouped names before the sort
  };

 private:
  // What one record says of its base's names and stream.
  struct TFound {
    std::vector<TNameEntry> names;
    std::vector<TPiece> pieces;
    uint32_t number = 0;  // the record that says it
  };
  // The signature of a folder's $I30 index root; false when its index has
  // blocks beyond the root (the root alone says too little).
  static bool ReadIndexRoot(const ATTR_RECORD* attribute, TIndexSignature* signature);
  // Takes in what one attribute of a record of base says.
  void AddAttribute(uint32_t base, bool folder, const ATTR_RECORD* attribute, TFound* found);
  // Takes in the clusters a non-resident attribute holds beside the
  // stream a handle maps: metafiles' streams, named streams, attribute
  // lists, large folders' $BITMAP.
  void AddOtherHeld(const ATTR_RECORD* attribute);
  // Decodes the pieces of one base's stream in VCN order as libntfs-3g maps
  // a whole runlist; false when they do not make one stream.
  bool Decode(std::vector<TPiece>& pieces, TRecord* record);

  void Add(uint32_t number, MFT_RECORD* record);
  // Says which folders' parents (by their names in the MFT) lead in a loop
  // that never reaches the root: the folder indexes then decide.
  void FindParentLoops(const std::vector<TNameEntry>& names);
  // Sorts the names in listed of the folders among records [firstRecord,
  // endRecord) by keys (one per name, in the same places), then as the
  // collation says.
  // upper is scratch of two bytes per unit of nameUnits_, each thread
  // writing the places of its own folders' names.
  void SortFolders(size_t firstRecord, size_t endRecord, std::vector<TSortKey>& keys,
                   uint8_t* upper, std::vector<TListedName>* listed);

  TNtfsMftView& view_;
  ntfs_volume* const volume_;
  // The tables of the view as this collector fills them: names (with units
  // counted in nameUnits_) and decoded runs; recordRuns_ is scratch.
  std::vector<TNameEntry> names_;
  std::vector<uint16_t> nameUnits_;
  std::vector<TStreamRun> runs_;
  std::vector<TStreamRun> recordRuns_;
  // What this collector found wrong, by the record it found it in.
  std::vector<std::pair<uint32_t, std::string>> damage_;
  // Says that record `number` is damaged and how.
  void Damaged(uint32_t number, std::string what) { damage_.emplace_back(number, std::move(what)); }
  // What extension records say, with the base reference (and sequence
  // number) they name, and the pieces of bases with an attribute list;
  // settled once every base is known.
  std::vector<std::pair<MFT_REF, TFound>> extensions_;
  std::vector<TPiece> listedPieces_;
  TFound found_;  // what the record being read says; reused record after record
  std::vector<TIndexSignature> signatures_;  // of the small folders
  // The clusters held by attributes other than the records' streams (whose
  // runs are in runs_), and whether one of them could not be decoded.
  std::vector<TClusterSpan> otherHeld_;
  bool otherHeldUnknown_ = false;
};

bool TNtfsMftView::TCollector::ReadIndexRoot(const ATTR_RECORD* attribute,
                                             TIndexSignature* signature) {
  // ntfs_mft_record_check has bounded the value by the attribute.
  const uint8_t* value =
      reinterpret_cast<const uint8_t*>(attribute) + le16_to_cpu(attribute->value_offset);
  const uint8_t* valueEnd = value + le32_to_cpu(attribute->value_length);
  if (value + sizeof(INDEX_ROOT) > valueEnd) return false;
  const auto* root = reinterpret_cast<const INDEX_ROOT*>(value);
  if (NTFS_DISK_BITS(root, index.ih_flags) & LARGE_INDEX) return false;
  const uint8_t* header = value + offsetof(INDEX_ROOT, index);
  const uint8_t* end = header + le32_to_cpu(root->index.index_length);
  const uint8_t* entry = header + le32_to_cpu(root->index.entries_offset);
  if (end > valueEnd) return false;
  signature->count = 0;
  signature->sum = 0;
  while (entry + offsetof(INDEX_ENTRY, key) <= end) {
    const auto* indexEntry = reinterpret_cast<const INDEX_ENTRY*>(entry);
    const uint16_t length = le16_to_cpu(indexEntry->length);
    if (length < offsetof(INDEX_ENTRY, key) || entry + length > end) return false;
    if (NTFS_DISK_BITS(indexEntry, ie_flags) & INDEX_ENTRY_END) return true;
    const uint8_t* key = entry + offsetof(INDEX_ENTRY, key);
    if (le16_to_cpu(indexEntry->key_length) < sizeof(FILE_NAME_ATTR)) return false;
    const auto* name = reinterpret_cast<const FILE_NAME_ATTR*>(key);
    const size_t nameBytes = name->file_name_length * sizeof(ntfschar);
    if (sizeof(FILE_NAME_ATTR) + nameBytes > le16_to_cpu(indexEntry->key_length)) return false;
    signature->sum +=
        NameHash(le64_to_cpu(indexEntry->indexed_file), NTFS_DISK_BITS(name, file_name_type),
                 key + offsetof(FILE_NAME_ATTR, file_name), nameBytes);
    ++signature->count;
    entry += length;
  }
  return false;
}

void TNtfsMftView::TCollector::Add(uint32_t number, MFT_RECORD* mrec) {
  ntfs_volume* volume = volume_;
  TRecord& record = view_.records_[number];
  if (ntfs_is_baad_record(mrec->magic)) {
    // Its fix-ups failed: a torn write or a damaged sector. Whether it was
    // in use is unknown.
    record.state = TRecord::kUnreadable;
    Damaged(number, "its update sequence does not match (a torn write or a damaged sector)");
    return;
  }
  const uint16_t recordFlags = NTFS_DISK_BITS(mrec, flags);
  if (!ntfs_is_file_record(mrec->magic) || !(recordFlags & MFT_RECORD_IN_USE)) return;
  if (ntfs_mft_record_check(volume, number, mrec) != 0) {
    record.state = TRecord::kUnreadable;
    Damaged(number, "its header or attributes do not fit in it");
    return;
  }
  const MFT_REF baseReference = le64_to_cpu(mrec->base_mft_record);
  const bool inBase = baseReference == 0;
  // The base's number is 48 bits wide: it is checked whole before it is
  // narrowed, so a number past 2^32 never passes as its low half.
  if (!inBase && MREF(baseReference) >= view_.records_.size()) {
    Damaged(number, "it names base record " + std::to_string(MREF(baseReference)) +
                        ", past the MFT's " + std::to_string(view_.records_.size()) + " records");
    return;
  }
  const uint32_t base = inBase ? number : static_cast<uint32_t>(MREF(baseReference));
  const bool folder = (recordFlags & MFT_RECORD_IS_DIRECTORY) != 0;
  if (inBase) {
    record.state = TRecord::kCollected;
    record.folder = folder;
    record.sequence = le16_to_cpu(mrec->sequence_number);
  }
  TFound& found = found_;
  found.names.clear();
  found.pieces.clear();
  // ntfs_mft_record_check has bounded every attribute by the record's bytes
  // in use and checked each one's own offsets and lengths.
  const uint8_t* end = reinterpret_cast<const uint8_t*>(mrec) + le32_to_cpu(mrec->bytes_in_use);
  for (const auto* attribute = reinterpret_cast<const ATTR_RECORD*>(
           reinterpret_cast<const uint8_t*>(mrec) + le16_to_cpu(mrec->attrs_offset));
       reinterpret_cast<const uint8_t*>(attribute) + offsetof(ATTR_RECORD, resident_end) <= end &&
       NTFS_DISK_BITS(attribute, type) != AT_END && le32_to_cpu(attribute->length) != 0 &&
       le32_to_cpu(attribute->length) <= end - reinterpret_cast<const uint8_t*>(attribute);
       attribute = reinterpret_cast<const ATTR_RECORD*>(
           reinterpret_cast<const uint8_t*>(attribute) + le32_to_cpu(attribute->length))) {
    const uint32_t type = NTFS_DISK_BITS(attribute, type);
    if (inBase && type == AT_ATTRIBUTE_LIST) record.hasAttributeList = true;
    if (inBase && folder && type == AT_INDEX_ROOT && !attribute->non_resident &&
        IsNamedI30(attribute)) {
      TIndexSignature signature{number, 0, 0};
      if (ReadIndexRoot(attribute, &signature)) signatures_.push_back(signature);
    }
    if (inBase && type == AT_STANDARD_INFORMATION && !attribute->non_resident) {
      const auto* information = reinterpret_cast<const STANDARD_INFORMATION*>(
          reinterpret_cast<const uint8_t*>(attribute) + le16_to_cpu(attribute->value_offset));
      record.reparse =
          (NTFS_DISK_BITS(information, file_attributes) & FILE_ATTR_REPARSE_POINT) != 0;
    }
    // An extension record says nothing of whether its base is a folder; the
    // folder's stream is told apart by its name, the file's by having none.
    AddAttribute(base, inBase ? folder : type == AT_INDEX_ALLOCATION, attribute, &found);
  }
  if (!inBase) {
    found.number = number;
    for (TPiece& piece : found.pieces) piece.Keep();
    extensions_.emplace_back(baseReference, std::move(found));
    return;
  }
  names_.insert(names_.end(), found.names.begin(), found.names.end());
  if (record.hasAttributeList) {
    for (TPiece& piece : found.pieces) {
      piece.Keep();
      listedPieces_.push_back(std::move(piece));
    }
  } else if (!Decode(found.pieces, &record)) {
    // The common case, decoded at once: the record holds its whole stream.
    record.streamKnown = false;
  }
}

void TNtfsMftView::TCollector::AddAttribute(uint32_t base, bool folder,
                                            const ATTR_RECORD* attribute, TFound* found) {
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(attribute);
  if (NTFS_DISK_BITS(attribute, type) == AT_FILE_NAME && !attribute->non_resident) {
    const auto* name =
        reinterpret_cast<const FILE_NAME_ATTR*>(bytes + le16_to_cpu(attribute->value_offset));
    if (le32_to_cpu(attribute->value_length) <
        sizeof(FILE_NAME_ATTR) + name->file_name_length * sizeof(ntfschar)) {
      Damaged(base, "a file name is longer than its attribute");
      return;
    }
    const uint8_t nameSpace = NTFS_DISK_BITS(name, file_name_type);
    if (nameSpace > FILE_NAME_WIN32_AND_DOS) {
      Damaged(base, "a file name has namespace " + std::to_string(nameSpace) +
                        ", which NTFS does not have");
    }
    const MFT_REF parent = le64_to_cpu(name->parent_directory);
    // A folder past the MFT's end is none (and the name is dropped).
    const uint32_t folderNumber =
        MREF(parent) < view_.records_.size() ? static_cast<uint32_t>(MREF(parent)) : UINT32_MAX;
    found->names.push_back(TNtfsMftView::TNameEntry{
        static_cast<uint32_t>(nameUnits_.size()), base, folderNumber,
        le32_to_cpu(NTFS_DISK_BITS(name, file_attributes)), static_cast<uint16_t>(MSEQNO(parent)),
        name->file_name_length, nameSpace});
    // Copied byte by byte: the name need not be aligned for 16-bit reads.
    std::vector<uint16_t>& units = nameUnits_;
    units.resize(units.size() + name->file_name_length);
    std::memcpy(units.data() + units.size() - name->file_name_length,
                reinterpret_cast<const uint8_t*>(name) + offsetof(FILE_NAME_ATTR, file_name),
                name->file_name_length * sizeof(ntfschar));
  } else if (IsStreamOf(attribute, folder)) {
    found->pieces.emplace_back(base, attribute);
  } else if (attribute->non_resident) {
    AddOtherHeld(attribute);
  }
}

void TNtfsMftView::TCollector::AddOtherHeld(const ATTR_RECORD* attribute) {
  runlist_element* runs = ntfs_mapping_pairs_decompress(volume_, attribute, nullptr);
  if (runs == nullptr) {
    otherHeldUnknown_ = true;
    return;
  }
  for (const runlist_element* run = runs; run->length > 0; ++run) {
    if (run->lcn >= 0) otherHeld_.push_back(TClusterSpan{run->lcn, run->length});
  }
  std::free(runs);
}

int64_t TNtfsMftView::TCollector::ClustersHeldByNoFile() {
  if (otherHeldUnknown_ || view_.damaged_) return -1;
  int64_t held = 0;
  const int64_t clusters = volume_->nr_clusters;
  for (const TRecord& record : view_.records_) {
    if (record.state == TRecord::kUnreadable) return -1;
    if (record.state == TRecord::kCollected && !record.streamKnown) return -1;
  }
  for (const TStreamRun& run : view_.runs_) held += ClustersWithin(clusters, {run.lcn, run.length});
  for (const TClusterSpan& span : otherHeld_) held += ClustersWithin(clusters, span);
  ntfs_attr* bitmap = volume_->lcnbmp_na;
  const TClusterBitmapRead read = [bitmap](int64_t first, size_t bytes, uint8_t* out) {
    return ntfs_attr_pread(bitmap, first, static_cast<s64>(bytes), out) == static_cast<s64>(bytes);
  };
  const int64_t used = UsedClusters(clusters, read);
  // Every cluster used is held once, and no more: nothing to look for. A
  // cross-link (damage the claim checks report) hiding exactly as many
  // unheld clusters reads as none too.
  if (used < 0 || used == held) return used < 0 ? -1 : 0;
  std::vector<TClusterSpan>& spans = otherHeld_;
  spans.reserve(spans.size() + view_.runs_.size());
  for (const TStreamRun& run : view_.runs_) spans.push_back(TClusterSpan{run.lcn, run.length});
  return UnheldClusters(clusters, spans, read);
}

bool TNtfsMftView::TCollector::Decode(std::vector<TPiece>& pieces, TRecord* record) {
  record->streamKnown = true;
  record->size = 0;
  record->firstRun = static_cast<uint32_t>(runs_.size());
  record->runCount = 0;
  if (pieces.empty()) return true;  // a small folder, a file without data: no runs
  std::sort(pieces.begin(), pieces.end(),
            [](const TPiece& a, const TPiece& b) { return a.lowestVcn < b.lowestVcn; });
  const ATTR_RECORD* first = pieces.front().attribute;
  if (!first->non_resident) {
    // A resident stream: its size, no runs (END_OF_FILE to the request).
    if (pieces.size() != 1) return false;
    if (!record->folder) record->size = le32_to_cpu(first->value_length);
    return true;
  }
  if (!record->folder) record->size = sle64_to_cpu(first->data_size);
  ntfs_volume* volume = volume_;
  const int64_t lastVcn = sle64_to_cpu(first->allocated_size) >> volume->cluster_size_bits;
  // The checks libntfs-3g makes while mapping a whole runlist: extents from
  // VCN 0, each starting where the one before ended, the last ending at the
  // allocated size.
  runlist_element* runs = nullptr;
  int64_t nextVcn = 0;
  int64_t highestVcn = 0;
  bool whole = true;
  for (const TPiece& piece : pieces) {
    const ATTR_RECORD* attribute = piece.attribute;
    if (!attribute->non_resident || piece.lowestVcn != nextVcn) {
      whole = false;
      break;
    }
    runlist_element* merged = ntfs_mapping_pairs_decompress(volume, attribute, runs);
    if (merged == nullptr) {
      whole = false;
      break;
    }
    runs = merged;
    highestVcn = sle64_to_cpu(attribute->highest_vcn);
    nextVcn = highestVcn + 1;
    if (nextVcn <= 0) break;  // an empty stream
  }
  if (whole && highestVcn != 0 && highestVcn != lastVcn - 1) whole = false;
  if (whole) {
    std::vector<TStreamRun>& merged = recordRuns_;
    merged.clear();
    for (const runlist_element* run = runs; run != nullptr && run->length > 0; ++run) {
      AppendRun(&merged, run->lcn, run->length);
    }
    runs_.insert(runs_.end(), merged.begin(), merged.end());
    record->runCount = static_cast<uint32_t>(merged.size());
  }
  std::free(runs);
  return whole;
}

void TNtfsMftView::TCollector::SortFolders(size_t firstRecord, size_t endRecord,
                                           std::vector<TSortKey>& keys, uint8_t* upper,
                                           std::vector<TListedName>* listed) {
  const uint16_t* units = nameUnits_.data();
  const uint16_t* upcase = view_.upcase_.data();
  const auto upcaseLength = static_cast<uint32_t>(view_.upcase_.size());
  const TListedName* names = listed->data();
  std::vector<TListedName> sorted;
  for (size_t number = firstRecord; number < endRecord; ++number) {
    const TRecord& folder = view_.records_[number];
    const uint32_t count = NameCount(view_.records_, number, listed->size());
    if (count < 2) continue;
    TListedName* first = listed->data() + folder.firstName;
    TSortKey* firstKey = keys.data() + folder.firstName;
    // Past the keys' sixteen units, each name upper-cased once into upper,
    // big-endian, so that memcmp orders them as the collation does.
    for (uint32_t i = 0; i < count; ++i) {
      const TListedName& name = first[i];
      for (uint32_t k = kKeyUnits; k < name.length; ++k) {
        const uint16_t unit =
            NtfsUpperUnit(le16_to_cpu(units[name.firstUnit + k]), upcase, upcaseLength);
        upper[2 * (name.firstUnit + k)] = static_cast<uint8_t>(unit >> 8);
        upper[2 * (name.firstUnit + k) + 1] = static_cast<uint8_t>(unit);
      }
    }
    // The collation: upper-cased units, then the shorter first, then (names
    // equal but for case) as written. The record number settles names equal
    // in every unit, which only a damaged volume holds, so the order never
    // depends on the sort's moves.
    std::sort(firstKey, firstKey + count, [&](const TSortKey& a, const TSortKey& b) {
      for (int word = 0; word < 4; ++word) {
        if (a.units[word] != b.units[word]) return a.units[word] < b.units[word];
      }
      const TListedName& x = names[a.index];
      const TListedName& y = names[b.index];
      const uint32_t common = std::min<uint32_t>(x.length, y.length);
      if (common > kKeyUnits) {
        const int order =
            std::memcmp(upper + 2 * (x.firstUnit + kKeyUnits),
                        upper + 2 * (y.firstUnit + kKeyUnits), 2 * (common - kKeyUnits));
        if (order != 0) return order < 0;
      }
      if (x.length != y.length) return x.length < y.length;
      const int order =
          view_.Collate(units + x.firstUnit, x.length, units + y.firstUnit, y.length, false);
      return order != 0 ? order < 0 : x.record < y.record;
    });
    sorted.clear();
    for (uint32_t i = 0; i < count; ++i) sorted.push_back(names[firstKey[i].index]);
    std::copy(sorted.begin(), sorted.end(), first);
  }
}

void TNtfsMftView::TCollector::Finish() {
  std::vector<TRecord>& records = view_.records_;
  // An extension record counts only for a base in use with the sequence
  // number it names and with an attribute list (libntfs-3g finds extension
  // records through it); anything else is damage the folder indexes settle.
  for (auto& extension : extensions_) {
    const TRecord& base = records[MREF(extension.first)];
    if (base.state != TRecord::kCollected || base.sequence != MSEQNO(extension.first) ||
        !base.hasAttributeList) {
      Damaged(extension.second.number,
              "it extends record " + std::to_string(MREF(extension.first)) +
                  ", which is not in use, has another sequence number or lists no extensions");
      continue;
    }
    TFound& found = extension.second;
    names_.insert(names_.end(), found.names.begin(), found.names.end());
    for (TPiece& piece : found.pieces) listedPieces_.push_back(std::move(piece));
  }
  extensions_.clear();
  // Streams spread over several records, base by base; a base with an
  // attribute list and no piece of its stream has none.
  std::stable_sort(listedPieces_.begin(), listedPieces_.end(),
                   [](const TPiece& a, const TPiece& b) { return a.base < b.base; });
  size_t at = 0;
  for (size_t number = 0; number < records.size(); ++number) {
    TRecord& record = records[number];
    size_t end = at;
    while (end < listedPieces_.size() && listedPieces_[end].base == number) ++end;
    if (record.state == TRecord::kCollected && record.hasAttributeList) {
      std::vector<TPiece> pieces(std::make_move_iterator(listedPieces_.begin() + at),
                                 std::make_move_iterator(listedPieces_.begin() + end));
      if (!Decode(pieces, &record)) record.streamKnown = false;
    }
    at = end;
  }
  listedPieces_.clear();

  // Folder contents: names whose folder is a folder in use with the
  // sequence number they name, grouped by folder and sorted as the index.
  std::vector<TNameEntry>& names = names_;
  names.erase(std::remove_if(names.begin(), names.end(),
                             [&](const TNameEntry& name) {
                               if (name.parent >= records.size()) return true;
                               const TRecord& item = records[name.record];
                               const TRecord& folder = records[name.parent];
                               return item.state != TRecord::kCollected ||
                                      folder.state != TRecord::kCollected || !folder.folder ||
                                      folder.sequence != name.parentSequence;
                             }),
              names.end());
  FindParentLoops(names);
  // Grouped by folder in one counting pass, then each folder sorted on its
  // own: a million names in folders of a hundred take a seventh of the
  // comparisons of one sort over all of them. Each name's sort key is made
  // while the names are still in MFT order, as their units are: a name's
  // first sixteen units, upper-cased, zeros past its end (names of one
  // folder often share a prefix of eight, seldom of sixteen), which order two
  // names as the collation does wherever the keys differ. Most comparisons
  // are then of integers; names with equal keys are compared further in
  // SortFolders.
  const uint16_t* units = nameUnits_.data();
  const uint16_t* upcase = view_.upcase_.data();
  const auto upcaseLength = static_cast<uint32_t>(view_.upcase_.size());
  // Each folder's firstName first counts its names, then marks where they
  // end; each name placed, last first, moves it back to where they begin.
  for (const TNameEntry& name : names) ++records[name.parent].firstName;
  uint32_t end = 0;
  for (TRecord& record : records) {
    end += record.firstName;
    record.firstName = end;
  }
  std::vector<TListedName> listed(names.size());
  std::vector<TSortKey> keys(names.size());
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    const uint32_t at = --records[name->parent].firstName;
    listed[at] = TListedName{name->firstUnit, name->record, name->fileAttributes, name->length,
                             name->nameSpace};
    TSortKey& key = keys[at];
    for (uint32_t i = 0; i < kKeyUnits; ++i) {
      const uint16_t unit = NtfsUpperUnit(
          i < name->length ? le16_to_cpu(units[name->firstUnit + i]) : 0, upcase, upcaseLength);
      key.units[i / 4] = key.units[i / 4] << 16 | unit;
    }
    key.index = at;
  }
  std::vector<TNameEntry>().swap(names_);
  // A small folder whose index root holds other names than the MFT gives
  // it: the index decides its listing.
  for (const TIndexSignature& signature : signatures_) {
    TRecord& folder = records[signature.folder];
    const uint32_t count = NameCount(records, signature.folder, listed.size());
    uint64_t sum = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const TListedName& name = listed[folder.firstName + i];
      sum += NameHash(MK_MREF(name.record, records[name.record].sequence), name.nameSpace,
                      reinterpret_cast<const uint8_t*>(units + name.firstUnit),
                      name.length * sizeof(ntfschar));
    }
    folder.indexDiffers = sum != signature.sum || count != signature.count;
  }
  signatures_.clear();
  // The folders' sorts are apart from each other: those of the second half
  // of the names are made on a second thread (each folder's names and keys
  // are one thread's; the units are only read), without one after the first.
  size_t split = 0;
  for (size_t counted = 0; split < records.size() && counted < listed.size() / 2; ++split) {
    counted += NameCount(records, split, listed.size());
  }
  const std::unique_ptr<uint8_t[]> upper(new uint8_t[2 * nameUnits_.size()]);
  RunBeside([&] { SortFolders(split, records.size(), keys, upper.get(), &listed); },
            [&] { SortFolders(0, split, keys, upper.get(), &listed); });
  view_.names_ = std::move(listed);
  view_.nameUnits_ = std::move(nameUnits_);
  view_.runs_ = std::move(runs_);
  // Said in record order, whichever collector found it.
  std::stable_sort(damage_.begin(), damage_.end(),
                   [](const std::pair<uint32_t, std::string>& a,
                      const std::pair<uint32_t, std::string>& b) { return a.first < b.first; });
  for (auto& found : damage_) {
    view_.damage_.push_back(
        TVolumeDamage{"\\$MFT", "record " + std::to_string(found.first) + ": " + found.second});
  }
  view_.damaged_ = view_.damaged_ || !damage_.empty();
}

void TNtfsMftView::TCollector::FindParentLoops(const std::vector<TNameEntry>& names) {
  const std::vector<TRecord>& records = view_.records_;
  // Each folder's parent by its first name; the root is its own.
  constexpr uint32_t kNone = UINT32_MAX;
  std::vector<uint32_t> parentOf(records.size(), kNone);
  for (const TNameEntry& name : names) {
    if (records[name.record].folder && parentOf[name.record] == kNone) {
      parentOf[name.record] = name.parent;
    }
  }
  // Followed up from each folder until a folder already settled, the root
  // or a folder met on this same walk: the last is a loop. Each folder is
  // walked once, so the whole check is linear.
  enum : uint8_t { kUnseen, kOnWalk, kSettled };
  std::vector<uint8_t> seen(records.size(), kUnseen);
  std::vector<uint32_t> walk;
  for (uint32_t start = 0; start < records.size(); ++start) {
    walk.clear();
    uint32_t at = start;
    while (at != kNone && at != FILE_root && seen[at] == kUnseen) {
      seen[at] = kOnWalk;
      walk.push_back(at);
      at = parentOf[at];
    }
    if (at != kNone && at != FILE_root && seen[at] == kOnWalk) {
      // The folders from `at` on lead back to it.
      for (auto loop = std::find(walk.begin(), walk.end(), at); loop != walk.end(); ++loop) {
        Damaged(*loop,
                "its folder lies inside its own subtree; it is listed where the "
                "folder indexes list it");
      }
    }
    for (uint32_t folder : walk) seen[folder] = kSettled;
  }
}

void TNtfsMftView::TCollector::Reserve(int64_t records) {
  // A record in use holds one or two names (long and short) of about twenty
  // units, and its stream one or a few runs.
  const auto count = static_cast<size_t>(records);
  names_.reserve(2 * count);
  nameUnits_.reserve(32 * count);
  runs_.reserve(2 * count);
}

bool TNtfsMftView::TCollector::CollectBlocks(const TNtfsMftBytes& mft, const TBlocks& blocks,
                                             int64_t firstBlock) {
  const uint32_t recordBytes = mft.RecordBytes();
  // Left uninitialised: every read fills it before it is looked at.
  const std::unique_ptr<uint8_t[]> buffer(
      new uint8_t[static_cast<size_t>(blocks.records) * recordBytes]);
  int64_t askedUntil = firstBlock;  // this thread's blocks before it were asked for
  for (int64_t block = firstBlock; block * blocks.records < blocks.count; block += 2) {
    const int64_t at = block * blocks.records;
    const int64_t wanted = std::min(blocks.records, blocks.count - at);
    bool waited = false;
    if (!mft.Read(at, wanted, buffer.get(), &waited)) return false;
    // Cold, the device is asked for this thread's next blocks at once.
    for (askedUntil = std::max(askedUntil, block + 2);
         waited && askedUntil <= block + 2 * kBlocksAskedAhead &&
         askedUntil * blocks.records < blocks.count;
         askedUntil += 2) {
      const int64_t ahead = askedUntil * blocks.records;
      mft.AskFor(ahead, std::min(blocks.records, blocks.count - ahead));
    }
    for (int64_t i = 0; i < wanted; ++i) {
      Add(static_cast<uint32_t>(at + i),
          reinterpret_cast<MFT_RECORD*>(buffer.get() + i * recordBytes));
    }
  }
  return true;
}

void TNtfsMftView::TCollector::Absorb(TCollector& other, const TBlocks& blocks,
                                      int64_t firstBlock) {
  // other's names count their units, and its records their runs, from the
  // start of its own tables, which now follow these.
  const auto unitBase = static_cast<uint32_t>(nameUnits_.size());
  const auto runBase = static_cast<uint32_t>(runs_.size());
  for (TNameEntry name : other.names_) {
    name.firstUnit += unitBase;
    names_.push_back(name);
  }
  for (auto& extension : other.extensions_) {
    for (TNameEntry& name : extension.second.names) name.firstUnit += unitBase;
    extensions_.push_back(std::move(extension));
  }
  nameUnits_.insert(nameUnits_.end(), other.nameUnits_.begin(), other.nameUnits_.end());
  runs_.insert(runs_.end(), other.runs_.begin(), other.runs_.end());
  // Bases without an attribute list had their streams decoded by other;
  // the rest are decoded by Finish, into the merged table.
  for (int64_t block = firstBlock; block * blocks.records < blocks.count; block += 2) {
    const int64_t end = std::min(blocks.count, (block + 1) * blocks.records);
    for (int64_t number = block * blocks.records; number < end; ++number) {
      TRecord& record = view_.records_[static_cast<size_t>(number)];
      if (record.state == TRecord::kCollected && !record.hasAttributeList) {
        record.firstRun += runBase;
      }
    }
  }
  for (TPiece& piece : other.listedPieces_) listedPieces_.push_back(std::move(piece));
  signatures_.insert(signatures_.end(), other.signatures_.begin(), other.signatures_.end());
  otherHeld_.insert(otherHeld_.end(), other.otherHeld_.begin(), other.otherHeld_.end());
  otherHeldUnknown_ = otherHeldUnknown_ || other.otherHeldUnknown_;
  damage_.insert(damage_.end(), other.damage_.begin(), other.damage_.end());
}

namespace {

// How many of the MFT's first `claimed` records its clusters can hold: none
// past the end of its last allocated run, and no more than its allocated
// clusters (at most the volume's) hold. A damaged $MFT may claim far more
// (a sparse run of a terabyte on a small volume); every table is sized by
// this, never by the claim. -1 when its runs cannot be mapped.
int64_t MftRecordsHeld(ntfs_volume* volume, int64_t claimed) {
  ntfs_attr* mft = volume->mft_na;
  if (ntfs_attr_map_whole_runlist(mft) != 0) return -1;
  int64_t end = 0;        // clusters: the VCN after the last allocated run
  int64_t allocated = 0;  // clusters
  for (const runlist_element* run = mft->rl; run != nullptr && run->length > 0; ++run) {
    if (run->lcn < 0) continue;
    allocated = std::min<int64_t>(volume->nr_clusters, allocated + run->length);
    end = run->vcn + run->length;
  }
  const int64_t clusterBytes = volume->cluster_size;
  const int64_t recordBytes = volume->mft_record_size;
  return std::min(
      {claimed, end * clusterBytes / recordBytes, allocated * clusterBytes / recordBytes});
}

}  // namespace

std::unique_ptr<TNtfsMftView> TNtfsMftView::Collect(ntfs_volume* volume) {
  const int64_t claimed = volume->mft_na->initialized_size >> volume->mft_record_size_bits;
  const int64_t count = MftRecordsHeld(volume, claimed);
  if (count <= FILE_root) return nullptr;
  const std::unique_ptr<TNtfsMftBytes> mft = TNtfsMftBytes::Map(volume, count);
  if (mft == nullptr) return nullptr;
  std::unique_ptr<TNtfsMftView> view(new TNtfsMftView(volume));
  view->records_.resize(static_cast<size_t>(count));
  if (count < claimed) {
    view->damage_.push_back(TVolumeDamage{
        "\\$MFT", "it claims " + std::to_string(claimed) + " records, but its clusters hold " +
                      std::to_string(count) + "; the rest are not read"});
    view->damaged_ = true;
  }
  // Reading and decoding the records is most of the work: the MFT is cut
  // in blocks, and the odd blocks are collected on a thread of their own
  // while this thread does the even ones. Blocks of a small MFT are small,
  // so both threads have records to decode. The two collectors write apart
  // entries of the record table and tables of their own; the volume is only
  // read (its record checks and mapping-pairs decoder keep no state) and
  // the MFT's bytes come through pread. Without a thread the odd blocks
  // follow the even ones.
  const TCollector::TBlocks blocks{count,
                                   std::min(kRecordsPerRead, std::max<int64_t>(16, count / 8))};
  TCollector even(*view, volume);
  TCollector odd(*view, volume);
  // Room made at once: grown step by step the tables would be copied again
  // and again, and each larger one mapped anew and the last unmapped, which
  // stops the other thread for every unmapping. The even collector takes
  // in the odd one's tables too. Room not written is never touched.
  even.Reserve(count);
  odd.Reserve(count / 2);
  bool oddRead = false;
  bool evenRead = false;
  RunBeside([&] { oddRead = odd.CollectBlocks(*mft, blocks, 1); },
            [&] { evenRead = even.CollectBlocks(*mft, blocks, 0); });
  if (!evenRead || !oddRead) return nullptr;
  even.Absorb(odd, blocks, 1);
  even.Finish();
  view->clustersHeldByNoFile_ = even.ClustersHeldByNoFile();
  return view;
}
