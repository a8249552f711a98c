// The NTFS volumes of one TLinuxServices: one libntfs-3g mount per thread and
// image, since libntfs-3g keeps no locks of its own. A drive's worker, the
// main thread (-m mode) and a window thread may read the same image at once,
// each through a mount of its own; the mounts of one image share the view
// of its MFT that the first of them read (ntfs_shared_views.h). Mounts are
// made on first use and unmounted when their thread ends or the pool goes,
// whichever comes first.
#pragma once

#include <cstdint>
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
  // is none; none when the image does not mount. A mount refused for what
  // the image holds (a damaged volume, an unreadable device) is never tried
  // again by any thread of the pool: it would fail the same way, and each
  // try costs a read of the volume's metadata and leaks in libntfs-3g's own
  // error paths. Only a transient failure (memory, descriptors, an
  // interrupted call) is tried again on the next call. Owned by the pool;
  // used by the calling thread alone, and valid until that thread ends or
  // the pool goes.
  TNtfsVolume* ForThisThread(const std::string& imagePath);

  // Says that the image at imagePath has been written (clusters moved
  // through a read-write mount of it): every mount of it made before, on
  // any thread, is unmounted and made afresh at its thread's next call, and
  // the MFT view they shared is read again. Any thread.
  void Written(const std::string& imagePath);

  // Why the image at imagePath was refused for good (an errno value), 0
  // while it was not.
  int RefusedMount(const std::string& imagePath) const;

  // Mounts tried so far, by every thread; tests check that a refused image
  // is not tried again.
  int64_t MountsTried() const;
  // MFT views read so far by every mount; tests check that the mounts of
  // one image share one.
  int64_t ViewsRead() const;

  // What the pool and the thread-exit hooks share (ntfs_volume_pool.cpp).
  struct TState;

 private:
  // Makes volume the calling thread's last mount, current as of the pool's
  // image writes `writes`; returns it.
  TNtfsVolume* Remember(const std::string& imagePath, TNtfsVolume* volume, uint64_t writes) const;

  // Shared with the thread-exit hooks of every thread that mounted here, so
  // a thread that outlives the pool finds its mounts already gone.
  std::shared_ptr<TState> state_;
  const TNtfsReadOrder order_;
  const uint64_t serial_;  // this pool among every pool of the process
};
