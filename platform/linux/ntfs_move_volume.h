// One NTFS volume mounted read-write through libntfs-3g, to move the
// clusters of its files' streams as FSCTL_MOVE_FILE moves them on Windows:
// what the moves' handles (ntfs_move_handles.h) ask of it. Everything is
// read from the mount as it stands at each call, never from what an
// analysis read before.
//
// Used by one thread at a time (libntfs-3g keeps no locks); the descriptor
// under the mount is locked against any second mount for moves
// (ntfs_move_access.h).
//
// The volume's dirty mark is never set: libntfs-3g neither sets nor checks
// it on a read-write mount, and the order of a move's writes keeps the
// volume consistent at every instant (at worst clusters marked used that
// nothing holds), so a run killed midway leaves nothing for chkdsk to
// repair and the next open for moves is not refused for it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/fs_control_replies.h"
#include "platform/linux/ntfs_volume.h"
#include "platform/nt_types.h"

struct _ntfs_volume;

// A read or write of the volume failed (STATUS_UNEXPECTED_IO_ERROR).
constexpr TNtStatus kStatusUnexpectedIoError = static_cast<TNtStatus>(0xC00000E9u);

// The stream of an item that moves: a file's unnamed data stream, or a
// folder's $I30 index allocation.
struct TNtfsMoveItem {
  uint64_t reference = 0;  // MFT reference: record number, sequence number in the top 16 bits
  bool folder = false;

  // The MFT record number alone.
  uint64_t Record() const { return reference & 0x0000FFFFFFFFFFFFull; }
};

class TNtfsMoveVolume {
 public:
  // Opens, checks and mounts the image file or block device at imagePath
  // read-write; none when refused, with *reason saying why and the cure:
  // it cannot be written, it is in use (ntfs_move_access.h), it is no NTFS
  // volume, Windows is hibernated on it or left its journal unclean, it is
  // marked dirty, or libntfs-3g refuses it read-write for another reason.
  static std::unique_ptr<TNtfsMoveVolume> Open(const std::string& imagePath, std::string* reason);
  // Unmounts (writing out what libntfs-3g holds), syncs and unlocks.
  ~TNtfsMoveVolume();
  TNtfsMoveVolume(const TNtfsMoveVolume&) = delete;
  TNtfsMoveVolume& operator=(const TNtfsMoveVolume&) = delete;

  const std::string& ImagePath() const { return imagePath_; }
  int64_t ClusterCount() const;

  // Bytes of the cluster bitmap ($Bitmap) from the one describing
  // firstCluster (a multiple of 8); false when they cannot be read.
  bool ReadBitmap(int64_t firstCluster, uint32_t bytes, uint8_t* out);

  // The item at path ('/'-separated, case-insensitive as on Windows; the
  // metafiles too, so that a move can refuse them by status): a folder only
  // when folder is set, a file only when it is not. False, with *reason,
  // when there is no such item or it is of the other kind.
  bool Find(const std::string& path, bool folder, TNtfsMoveItem* item, std::string* reason);

  // What the item's stream is now: size and runs (ntfs_volume.h). False
  // when the item can no longer be opened.
  bool Read(const TNtfsMoveItem& item, TNtfsItem* read);

  // Moves count clusters of the item's stream from vcn to the volume's
  // clusters from lcn, as FSCTL_MOVE_FILE does: kStatusSuccess, or on
  // failure a status with *reason in words (see ntfs_cluster_move.cpp for
  // which and for the order of the writes, which keeps every file's data
  // whole at every instant).
  TNtStatus Move(const TNtfsMoveItem& item, int64_t vcn, int64_t lcn, int64_t count,
                 std::string* reason);

  // Syncs the device: what libntfs-3g and the moves wrote is on the disk.
  bool Sync();

 private:
  TNtfsMoveVolume(std::string imagePath, std::unique_ptr<int> descriptor, _ntfs_volume* volume);

  const std::string imagePath_;
  // The image opened for writing and locked (ntfs_move_access.h); closed by
  // the destructor after the unmount. The device's d_private points at it,
  // so it lives on the heap, where it stays put.
  std::unique_ptr<int> descriptor_;
  _ntfs_volume* volume_;  // owned: unmounted by the destructor
};
