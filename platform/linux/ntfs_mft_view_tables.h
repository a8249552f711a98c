// The tables of TNtfsMftView, shared by the files that implement it only:
// ntfs_mft_collector.cpp fills them while the MFT is read,
// ntfs_mft_view.cpp answers from them.
#pragma once

#include <cstdint>

#include "platform/linux/ntfs_mft_view.h"

struct TNtfsMftView::TRecord {
  enum TState : uint8_t { kUnused, kCollected, kUnreadable };
  TState state = kUnused;
  bool folder = false;            // MFT_RECORD_IS_DIRECTORY
  bool reparse = false;           // FILE_ATTR_REPARSE_POINT in its standard information
  bool hasAttributeList = false;  // its attributes may lie in extension records
  bool streamKnown = false;       // size and runs decoded
  bool indexDiffers = false;      // a folder whose index root holds other names than the MFT
  uint16_t sequence = 0;
  int64_t size = 0;  // bytes of the unnamed data stream; 0 for a folder
  uint32_t firstRun = 0;
  uint32_t runCount = 0;
  uint32_t firstName = 0;  // a folder's names in names_
  uint32_t nameCount = 0;
};

struct TNtfsMftView::TNameEntry {
  uint32_t firstUnit;  // in nameUnits_
  uint32_t record;     // the named item (a base record)
  uint32_t parent;     // the folder's record number
  uint32_t fileAttributes;
  uint16_t parentSequence;
  uint8_t length;  // units
  uint8_t nameSpace;
};
