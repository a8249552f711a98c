// A path inside an NTFS volume as TNtfsVolume looks it up: its names, and
// the key under which the reference of the item it leads to is remembered.
// Shared by the files that implement TNtfsVolume and by the read-write
// mount for moves (ntfs_move_volume.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/ntfs_volume.h"

struct _ntfs_inode;

struct TNtfsVolume::TParsedPath {
  // The names from the root down, UTF-16 as written ("." and ".." resolved);
  // none for the root.
  std::vector<std::vector<uint16_t>> components;
  // "/" and each name upper-cased by the volume's table; "" for the root.
  // Set by TNtfsVolume::Fold, only when the index walk needs it.
  std::u16string key;
};

// The UTF-16 units (little-endian, as stored) of a UTF-8 text, into *units;
// false when it is not valid UTF-8 as libntfs-3g reads it.
bool NtfsUnits(const char* text, std::vector<uint16_t>* units);

// The names of path ('/'-separated) from the root down, UTF-16 as stored,
// "." and ".." resolved as Win32 resolves them; none for the root. False
// when path is not valid UTF-8.
bool ParseNtfsPath(const std::string& path, std::vector<std::vector<uint16_t>>* components);

// The MFT reference (with its sequence number) of the item named `name` in
// the open folder, compared ignoring case by the volume's upper-case table
// as Windows compares names; (u64)-1 when there is none.
uint64_t NtfsLookUpIgnoringCase(_ntfs_inode* folder, const std::vector<uint16_t>& name);

// What an open learns of the stream of an open item whose `folder` is set:
// its size and runs (a file's unnamed data stream, a folder's $I30 index
// allocation), merged as Windows reports them, into *item.
void ReadItemStream(_ntfs_inode* inode, TNtfsItem* item);
