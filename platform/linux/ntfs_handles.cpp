#include "platform/linux/ntfs_handles.h"

#include <utility>

TNtfsFileHandle::TNtfsFileHandle(TNtfsItem item, uint64_t volume)
    : item_(std::move(item)), volume_(volume) {}

bool TNtfsFileHandle::Identity(TFileIdentity* identity) {
  *identity = TFileIdentity{volume_, item_.record};
  return true;
}

TNtStatus TNtfsFileHandle::FsControl(uint32_t code, const void* input, uint32_t inputLength,
                                     void* output, uint32_t outputLength, TIoStatusBlock* io) {
  switch (code) {
    case kFsctlGetRetrievalPointers:
      if (!item_.runsReadable) return Complete(io, kStatusFileCorruptError);
      return RetrievalPointersReply(item_.runs, input, inputLength, output, outputLength, io);
    case kFsctlGetVolumeBitmap:
      return Complete(io, kStatusInvalidParameter);
    default:
      return Complete(io, kStatusInvalidDeviceRequest);
  }
}

bool TNtfsFileHandle::FileSize(uint32_t* low, uint32_t* high) {
  const uint64_t size = static_cast<uint64_t>(item_.size);
  *low = static_cast<uint32_t>(size);
  *high = static_cast<uint32_t>(size >> 32);
  return true;
}

TNtfsVolumeHandle::TNtfsVolumeHandle(TNtfsVolumePool& pool, std::string imagePath,
                                     int64_t clusterCount)
    : pool_(pool), imagePath_(std::move(imagePath)), clusterCount_(clusterCount) {}

TNtStatus TNtfsVolumeHandle::FsControl(uint32_t code, const void* input, uint32_t inputLength,
                                       void* output, uint32_t outputLength, TIoStatusBlock* io) {
  switch (code) {
    case kFsctlGetVolumeBitmap: {
      TNtfsVolume* volume = pool_.ForThisThread(imagePath_);
      const TBitmapReader read = [volume](int64_t firstCluster, uint32_t bytes, uint8_t* out) {
        return volume != nullptr && volume->ReadBitmap(firstCluster, bytes, out);
      };
      return VolumeBitmapReply(clusterCount_, read, input, inputLength, output, outputLength, io);
    }
    case kFsctlGetRetrievalPointers:
      return Complete(io, kStatusInvalidParameter);
    default:
      return Complete(io, kStatusInvalidDeviceRequest);
  }
}
