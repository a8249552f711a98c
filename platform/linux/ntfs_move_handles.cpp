#include "platform/linux/ntfs_move_handles.h"

#include <cstring>
#include <utility>

#include "platform/linux/fs_control_replies.h"

TNtStatus TNtfsMoveHandle::Fail(TIoStatusBlock* io, TNtStatus status, std::string why) {
  failure_ = std::move(why);
  return Complete(io, status);
}

TNtfsMoveVolumeHandle::TNtfsMoveVolumeHandle(std::unique_ptr<TNtfsMoveVolume> volume,
                                             TNtfsVolumePool& pool, uint64_t identity)
    : volume_(std::move(volume)), pool_(pool), identity_(identity) {}

TNtfsMoveVolumeHandle::~TNtfsMoveVolumeHandle() {
  const std::string imagePath = volume_->ImagePath();
  // The files' handles hold weak shares only: this unmounts.
  volume_.reset();
  pool_.Written(imagePath);
}

TNtStatus TNtfsMoveVolumeHandle::FsControl(uint32_t code, const void* input, uint32_t inputLength,
                                           void* output, uint32_t outputLength,
                                           TIoStatusBlock* io) {
  switch (code) {
    case kFsctlGetVolumeBitmap: {
      TNtfsMoveVolume* volume = volume_.get();
      const TBitmapReader read = [volume](int64_t firstCluster, uint32_t bytes, uint8_t* out) {
        return volume->ReadBitmap(firstCluster, bytes, out);
      };
      return VolumeBitmapReply(volume->ClusterCount(), read, input, inputLength, output,
                               outputLength, io);
    }
    case kFsctlMoveFile:
      return MoveFile(input, inputLength, io);
    case kFsctlGetRetrievalPointers:
      return Complete(io, kStatusInvalidParameter);
    default:
      return Complete(io, kStatusInvalidDeviceRequest);
  }
}

TNtStatus TNtfsMoveVolumeHandle::MoveFile(const void* input, uint32_t inputLength,
                                          TIoStatusBlock* io) {
  if (input == nullptr || inputLength < sizeof(TMoveFileData)) {
    return Fail(io, kStatusInvalidParameter,
                "the move request is shorter than MOVE_FILE_DATA (" +
                    std::to_string(sizeof(TMoveFileData)) + " bytes)");
  }
  TMoveFileData request;
  std::memcpy(&request, input, sizeof request);
  THandle file = request.fileHandle;
  auto* moved = file != nullptr && file != InvalidHandle()
                    ? dynamic_cast<TNtfsMoveFileHandle*>(static_cast<THandleObject*>(file))
                    : nullptr;
  if (moved == nullptr || moved->Volume().lock() != volume_) {
    return Fail(io, kStatusInvalidHandle, "the move names no file opened for moves on this volume");
  }
  if (request.clusterCount == 0) {
    return Fail(io, kStatusInvalidParameter, "the move names no clusters (ClusterCount 0)");
  }
  std::string why;
  const TNtStatus status = volume_->Move(moved->Item(), request.startingVcn, request.startingLcn,
                                         request.clusterCount, &why);
  if (status != kStatusSuccess) return Fail(io, status, std::move(why));
  return Complete(io, kStatusSuccess);
}

TNtfsMoveFileHandle::TNtfsMoveFileHandle(std::weak_ptr<TNtfsMoveVolume> volume, TNtfsMoveItem item,
                                         uint64_t volumeIdentity)
    : volume_(std::move(volume)), item_(item), volumeIdentity_(volumeIdentity) {}

TNtStatus TNtfsMoveFileHandle::FsControl(uint32_t code, const void* input, uint32_t inputLength,
                                         void* output, uint32_t outputLength, TIoStatusBlock* io) {
  switch (code) {
    case kFsctlGetRetrievalPointers: {
      const std::shared_ptr<TNtfsMoveVolume> volume = volume_.lock();
      if (!volume) {
        return Fail(io, kStatusInvalidHandle, "the volume this file was opened on is closed");
      }
      TNtfsItem now;
      if (!volume->Read(item_, &now) || !now.runsReadable) {
        return Fail(io, kStatusFileCorruptError,
                    "MFT record " + std::to_string(item_.Record()) +
                        " or its mapping can no longer be read");
      }
      return RetrievalPointersReply(now.runs, input, inputLength, output, outputLength, io);
    }
    case kFsctlGetVolumeBitmap:
      return Complete(io, kStatusInvalidParameter);
    default:
      return Complete(io, kStatusInvalidDeviceRequest);
  }
}

bool TNtfsMoveFileHandle::FileSize(uint32_t* low, uint32_t* high) {
  const std::shared_ptr<TNtfsMoveVolume> volume = volume_.lock();
  TNtfsItem now;
  if (!volume || !volume->Read(item_, &now)) {
    *low = 0xFFFFFFFFu;
    *high = 0;
    return false;
  }
  const uint64_t size = static_cast<uint64_t>(now.size);
  *low = static_cast<uint32_t>(size);
  *high = static_cast<uint32_t>(size >> 32);
  return true;
}

bool TNtfsMoveFileHandle::Identity(TFileIdentity* identity) {
  *identity = TFileIdentity{volumeIdentity_, item_.Record()};
  return true;
}
