// The tables of TNtfsMftView, shared by the files that implement it only:
// ntfs_mft_collector.cpp fills them while the MFT is read,
// ntfs_mft_view.cpp answers from them.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/linux/ntfs_mft_view.h"

// One record of the MFT, 24 bytes: a volume of a million items keeps a
// million of them while its items are read.
struct TNtfsMftView::TRecord {
  enum TState : uint8_t { kUnused, kCollected, kUnreadable };
  int64_t size = 0;  // bytes of the unnamed data stream; 0 for a folder
  uint32_t firstRun = 0;
  uint32_t runCount = 0;
  // A folder's names in the view's names_, up to the next record's
  // firstName (NameCount): every record's firstName counts the names of
  // the records before it.
  uint32_t firstName = 0;
  uint16_t sequence = 0;
  TState state = kUnused;
  bool folder : 1;            // MFT_RECORD_IS_DIRECTORY
  bool reparse : 1;           // FILE_ATTR_REPARSE_POINT in its standard information
  bool hasAttributeList : 1;  // its attributes may lie in extension records
  bool streamKnown : 1;       // size and runs decoded
  bool indexDiffers : 1;      // a folder whose index root holds other names than the MFT

  TRecord()
      : folder(false),
        reparse(false),
        hasAttributeList(false),
        streamKnown(false),
        indexDiffers(false) {}
};
static_assert(sizeof(TNtfsMftView::TRecord) == 24, "a million records take 24 MB");

// How many names the folder of record `number` holds, in a table of
// `names` names grouped by folder in record order.
inline uint32_t NameCount(const std::vector<TNtfsMftView::TRecord>& records, size_t number,
                          size_t names) {
  const size_t end = number + 1 < records.size() ? records[number + 1].firstName : names;
  return static_cast<uint32_t>(end - records[number].firstName);
}

// A name as the MFT read in order finds it in a record.
struct TNtfsMftView::TNameEntry {
  uint32_t firstUnit;  // in nameUnits_
  uint32_t record;     // the named item (a base record)
  uint32_t parent;     // the folder's record number
  uint32_t fileAttributes;
  uint16_t parentSequence;
  uint8_t length;  // units
  uint8_t nameSpace;
};

// A name as its folder lists it, once the names are grouped by folder: the
// folder is the record whose range holds it.
struct TNtfsMftView::TListedName {
  uint32_t firstUnit;  // in nameUnits_
  uint32_t record;     // the named item (a base record)
  uint32_t fileAttributes;
  uint8_t length;  // units
  uint8_t nameSpace;
};
static_assert(sizeof(TNtfsMftView::TListedName) == 16, "a million names take 16 MB");
