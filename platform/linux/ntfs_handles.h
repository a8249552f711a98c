// Handles of files, folders and whole volumes inside NTFS volumes, answering
// the size query and the two file-system control requests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handle_object.h"
#include "platform/linux/ntfs_volume.h"
#include "platform/linux/ntfs_volume_pool.h"

// A file or folder. What the open learned is all it answers from, so it
// needs no volume and may be used from any thread, one at a time.
class TNtfsFileHandle : public THandleObject {
 public:
  // volume: what stands for the item's volume in its identity.
  TNtfsFileHandle(TNtfsItem item, uint64_t volume);

  // FSCTL_GET_RETRIEVAL_POINTERS over the runs read at the open; the volume
  // bitmap is asked of volume handles only (STATUS_INVALID_PARAMETER here).
  TNtStatus FsControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, TIoStatusBlock* io) override;
  // The unnamed data stream's size; 0 for a folder.
  bool FileSize(uint32_t* low, uint32_t* high) override;
  // The volume given and the item's MFT record number.
  bool Identity(TFileIdentity* identity) override;

 private:
  const TNtfsItem item_;
  const uint64_t volume_;
};

// The volume itself (\\.\L:). Its bitmap is read through the calling
// thread's own mount, so any thread may use it, one at a time; the pool
// must outlive it.
class TNtfsVolumeHandle : public THandleObject {
 public:
  TNtfsVolumeHandle(TNtfsVolumePool& pool, std::string imagePath, int64_t clusterCount);

  // FSCTL_GET_VOLUME_BITMAP from $Bitmap; retrieval pointers are asked of
  // files and folders only (STATUS_INVALID_PARAMETER here).
  TNtStatus FsControl(uint32_t code, const void* input, uint32_t inputLength, void* output,
                      uint32_t outputLength, TIoStatusBlock* io) override;

 private:
  TNtfsVolumePool& pool_;        // not owned
  const std::string imagePath_;  // the image file or block device
  const int64_t clusterCount_;   // clusters of the volume
};
