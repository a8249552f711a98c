// The handles of moves on an NTFS volume: the volume opened for moves,
// which answers FSCTL_MOVE_FILE and the live cluster bitmap, and the files
// and folders opened on it, whose runs are read live. Each owns a share of
// the read-write mount (ntfs_move_volume.h); the volume's handle unmounts
// it when closed, after which its files' handles fail every request.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/handle_object.h"
#include "platform/linux/ntfs_move_volume.h"
#include "platform/linux/ntfs_volume_pool.h"

// What a move handle's last failed request failed for, in words, until
// taken: the services give it as LastErrorText.
class TNtfsMoveHandle : public THandleObject {
 public:
  // The reason of the last failure, then forgotten; empty when the status
  // says it all.
  std::string TakeFailure() { return std::move(failure_); }

 protected:
  // Fills io with status, keeps why and returns status.
  TNtStatus Fail(TIoStatusBlock* io, TNtStatus status, std::string why);

 private:
  std::string failure_;
};

// The volume (\\.\L: opened for moves). Used by one thread at a time.
class TNtfsMoveVolumeHandle : public TNtfsMoveHandle {
 public:
  // pool: the services' read-only mounts, told when the volume closes that
  // the image has been written (not owned; must outlive the handle).
  // identity: what stands for the volume in file identities.
  TNtfsMoveVolumeHandle(std::unique_ptr<TNtfsMoveVolume> volume, TNtfsVolumePool& pool,
                        uint64_t identity);
  // Unmounts the read-write mount (syncing it) and has every later read of
  // the image through the pool read it afresh.
  ~TNtfsMoveVolumeHandle() override;

  // FSCTL_GET_VOLUME_BITMAP from $Bitmap as it is now, and FSCTL_MOVE_FILE
  // with a MOVE_FILE_DATA whose file handle was opened on this volume.
  TNtStatus FsControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, TIoStatusBlock* io) override;

  // The mount the volume's files are opened on; none once closed.
  const std::shared_ptr<TNtfsMoveVolume>& Volume() const { return volume_; }
  uint64_t VolumeIdentity() const { return identity_; }

 private:
  TNtStatus MoveFile(const void* input, uint32_t inputLength, TIoStatusBlock* io);

  std::shared_ptr<TNtfsMoveVolume> volume_;  // shared with the files' handles
  TNtfsVolumePool& pool_;                    // not owned
  const uint64_t identity_;
};

// A file or folder of a volume opened for moves. Used by one thread at a
// time, the thread that uses its volume's handle.
class TNtfsMoveFileHandle : public TNtfsMoveHandle {
 public:
  TNtfsMoveFileHandle(std::weak_ptr<TNtfsMoveVolume> volume, TNtfsMoveItem item,
                      uint64_t volumeIdentity);

  // FSCTL_GET_RETRIEVAL_POINTERS over the stream's runs as they are now.
  TNtStatus FsControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, TIoStatusBlock* io) override;
  // The unnamed data stream's size now; 0 for a folder.
  bool FileSize(uint32_t* low, uint32_t* high) override;
  // The volume's identity and the item's MFT record number, as the
  // analysis's handles give them.
  bool Identity(TFileIdentity* identity) override;

  // The volume and item it names, for the volume's move request.
  const std::weak_ptr<TNtfsMoveVolume>& Volume() const { return volume_; }
  const TNtfsMoveItem& Item() const { return item_; }

 private:
  // Owned by the volume's handle: gone once that is closed.
  const std::weak_ptr<TNtfsMoveVolume> volume_;
  const TNtfsMoveItem item_;
  const uint64_t volumeIdentity_;
};
