// The NTFS volumes of one TLinuxServices: one libntfs-3g mount per thread and
// image, since libntfs-3g keeps no locks of its own. A drive's worker, the
// main thread (-m mode) and a window thread may read the same image at once,
// each through a mount of its own. Mounts are made on first use and
// unmounted when their thread ends or the pool goes, whichever comes first.
#pragma once

#include <memory>
#include <string>

#include "platform/linux/ntfs_volume.h"

class TNtfsVolumePool {
 public:
  // Every mount reads its volume in `order`.
  explicit TNtfsVolumePool(TNtfsReadOrder order = TNtfsReadOrder::kMftOrder);
  // Unmounts every volume of every thread. No thread may be using one then
  // (the services outlive every call made on them).
  ~TNtfsVolumePool();
  TNtfsVolumePool(const TNtfsVolumePool&) = delete;
  TNtfsVolumePool& operator=(const TNtfsVolumePool&) = delete;

  // The calling thread's mount of the image at imagePath, made now if there
  // is none; none when the image does not mount (it is tried again on the
  // next call). Owned by the pool; used by the calling thread alone, and
  // valid until that thread ends or the pool goes.
  TNtfsVolume* ForThisThread(const std::string& imagePath);

  // What the pool and the thread-exit hooks share (ntfs_volume_pool.cpp).
  struct TState;

 private:
  // Shared with the thread-exit hooks of every thread that mounted here, so
  // a thread that outlives the pool finds its mounts already gone.
  std::shared_ptr<TState> state_;
  const TNtfsReadOrder order_;
};
