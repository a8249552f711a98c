// Answers from the MFT read in order: items found by path, folder
// listings, what an open learns.
#include "platform/linux/ntfs_mft_view.h"

#include <algorithm>

#include "platform/linux/ntfs_collation.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_mft_view_tables.h"
#include "platform/system_services.h"

TNtfsMftView::TNtfsMftView(const ntfs_volume* volume)
    : upcase_(volume->upcase, volume->upcase + volume->upcase_len) {}

TNtfsMftView::~TNtfsMftView() = default;

int TNtfsMftView::Collate(const uint16_t* a, uint32_t aLength, const uint16_t* b, uint32_t bLength,
                          bool ignoreCase) const {
  return NtfsCollate(a, aLength, b, bLength, ignoreCase, upcase_.data(),
                     static_cast<uint32_t>(upcase_.size()));
}

int64_t TNtfsMftView::FindInFolder(uint32_t folder, const uint16_t* name, uint32_t length,
                                   size_t* hint) const {
  const TRecord& record = records_[folder];
  if (record.state != TRecord::kCollected || !record.folder) return -1;
  const uint32_t count = NameCount(records_, folder, names_.size());
  const TListedName* begin = names_.data() + record.firstName;
  const TListedName* end = begin + count;
  const uint16_t* units = nameUnits_.data();
  const auto compare = [&](const TListedName& entry) {
    return Collate(units + entry.firstUnit, entry.length, name, length, true);
  };
  // Names equal ignoring case have equal lengths: most neighbours are told
  // apart without comparing a unit.
  const auto equal = [&](const TListedName& entry) {
    return entry.length == length && compare(entry) == 0;
  };
  // The index order sorts by the upper-cased name first, so the names equal
  // to it ignoring case stand together. Items are mostly opened in the order
  // their folder lists them: the few names after the one found last are
  // tried before a search.
  const TListedName* first = nullptr;
  for (size_t next = *hint;
       next >= record.firstName && next < record.firstName + count && next < *hint + 3; ++next) {
    if (equal(names_[next])) {
      first = &names_[next];
      break;
    }
  }
  const TListedName* last = first;
  if (first != nullptr) {
    while (first > begin && equal(first[-1])) --first;
    ++last;
    while (last < end && equal(*last)) ++last;
  } else {
    first = std::lower_bound(begin, end, 0,
                             [&](const TListedName& entry, int) { return compare(entry) < 0; });
    last = std::upper_bound(first, end, 0,
                            [&](int, const TListedName& entry) { return compare(entry) > 0; });
  }
  *hint = static_cast<size_t>(last - names_.data());
  // The name after is most likely the next one asked for: its units and
  // record, which lie far apart in MFT order, are fetched meanwhile.
  if (last < end) {
    __builtin_prefetch(units + last->firstUnit);
    __builtin_prefetch(&records_[last->record]);
  }
  // Several names of one item (its long and short name) lead to it alike.
  if (first == last) return -1;
  for (const TListedName* other = first; other != last; ++other) {
    if (other->record != first->record) return -1;
  }
  return first->record;
}

int64_t TNtfsMftView::FindIn(int64_t folder, const uint16_t* name, size_t length,
                             size_t* hint) const {
  if (folder < 0 || static_cast<size_t>(folder) >= records_.size()) return -1;
  // A small folder whose index holds other names or references than the
  // MFT gives it: its index decides what a name there leads to (an entry
  // may name another record, even the folder itself), as it decides the
  // folder's listing.
  if (records_[static_cast<size_t>(folder)].indexDiffers) return -1;
  const int64_t record =
      FindInFolder(static_cast<uint32_t>(folder), name, static_cast<uint32_t>(length), hint);
  // Metafiles are neither listed nor opened, as on Windows.
  if (record < FILE_first_user) return -1;
  return records_[static_cast<size_t>(record)].state == TRecord::kCollected ? record : -1;
}

int64_t TNtfsMftView::Find(const std::vector<std::vector<uint16_t>>& components) const {
  if (records_.size() <= FILE_root || records_[FILE_root].state != TRecord::kCollected) return -1;
  int64_t record = FILE_root;
  size_t hint = 0;
  for (const std::vector<uint16_t>& name : components) {
    record = FindIn(record, name.data(), name.size(), &hint);
    if (record < 0) return -1;
  }
  return record;
}

bool TNtfsMftView::List(int64_t folder, std::vector<TName>* names) const {
  names->clear();
  const TRecord& record = records_[static_cast<size_t>(folder)];
  if (record.state != TRecord::kCollected || !record.folder) return false;
  const uint32_t count = NameCount(records_, static_cast<size_t>(folder), names_.size());
  for (uint32_t i = 0; i < count; ++i) {
    // The names' records lie in MFT order, far apart: each is asked for a
    // few names ahead, so that it is on its way by the time it is read.
    if (i + kListAhead < count) {
      __builtin_prefetch(&records_[names_[record.firstName + i + kListAhead].record]);
    }
    const TListedName& entry = names_[record.firstName + i];
    const TRecord& item = records_[entry.record];
    // The listing's type as libntfs-3g derives it from the index entry's
    // copy of the attributes, opening the record only for reparse points
    // and system files.
    TName name{
        nameUnits_.data() + entry.firstUnit, entry.length, entry.nameSpace, entry.record, 0, true};
    const uint32_t attributes = entry.fileAttributes;
    const bool indexed = (attributes & le32_to_cpu(FILE_ATTR_I30_INDEX_PRESENT)) != 0;
    const uint32_t fromRecord =
        (item.folder ? kAttributeDirectory : 0) | (item.reparse ? kAttributeReparsePoint : 0);
    if (attributes & le32_to_cpu(FILE_ATTR_REPARSE_POINT)) {
      name.attributes = fromRecord;
    } else if (attributes & le32_to_cpu(FILE_ATTR_SYSTEM)) {
      // A system file that is no folder may be an Interix special file,
      // which only its data tells; it lists as 0 either way unless its
      // record says otherwise.
      name.attributes = indexed ? kAttributeDirectory : 0;
      name.attributesKnown = indexed || fromRecord == 0;
    } else {
      name.attributes = indexed ? kAttributeDirectory : 0;
    }
    names->push_back(name);
  }
  return true;
}

bool TNtfsMftView::IndexDiffers(int64_t folder) const {
  return records_[static_cast<size_t>(folder)].indexDiffers;
}

bool TNtfsMftView::Answer(int64_t number, TNtfsItem* item) const {
  if (number < 0 || static_cast<size_t>(number) >= records_.size()) return false;
  const TRecord& record = records_[static_cast<size_t>(number)];
  // A stream spread over extension records is trusted only on a volume
  // without damage.
  if (record.state != TRecord::kCollected || !record.streamKnown) return false;
  if (record.hasAttributeList && damaged_) return false;
  *item = TNtfsItem();
  item->folder = record.folder;
  item->size = record.size;
  item->runs.assign(runs_.begin() + record.firstRun,
                    runs_.begin() + record.firstRun + record.runCount);
  return true;
}

bool TNtfsMftView::RootIsNoFolder() const {
  const TRecord& root = records_[FILE_root];
  return root.state == TRecord::kCollected && !root.folder;
}
