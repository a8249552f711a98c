#include "platform/linux/ntfs_volume_pool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/linux/ntfs_shared_views.h"
#include "platform/linux/ntfs_volume.h"

namespace {

// One thread's mounts, by image path.
using TThreadVolumes = std::map<std::string, std::unique_ptr<TNtfsVolume>>;

}  // namespace

struct TNtfsVolumePool::TState {
  // Guards threads. Taken briefly by every call (to find the caller's
  // mount), by a thread that ends and by the pool's destructor; mounts and
  // unmounts happen outside it.
  std::mutex lock;
  // Each thread's mounts. A thread reads and writes only its own entry's
  // volumes, and only while it runs; the entries themselves change under
  // the lock.
  std::unordered_map<std::thread::id, TThreadVolumes> threads;
  // Images refused for good, with the errno of the refusal; entries are
  // added under the lock and never removed.
  std::map<std::string, int> refused;
  // Mounts tried, under the lock.
  int64_t mountsTried = 0;
  // The MFT views the mounts share, guarded by a lock of their own.
  TNtfsSharedViews views;
};

namespace {

// Ends this thread's mounts in every pool it used that still exists, when
// the thread ends.
class TThreadExitHook {
 public:
  ~TThreadExitHook() {
    const std::thread::id self = std::this_thread::get_id();
    for (const std::weak_ptr<TNtfsVolumePool::TState>& pool : pools_) {
      const std::shared_ptr<TNtfsVolumePool::TState> state = pool.lock();
      if (!state) continue;
      TThreadVolumes ending;
      {
        std::lock_guard<std::mutex> guard(state->lock);
        const auto mine = state->threads.find(self);
        if (mine == state->threads.end()) continue;
        ending = std::move(mine->second);
        state->threads.erase(mine);
      }
      // `ending` unmounts here, outside the lock.
    }
  }

  // Called by this thread alone, so it needs no lock. Pools gone since are
  // forgotten, so a thread that outlives many services keeps a short list.
  void Watch(const std::shared_ptr<TNtfsVolumePool::TState>& state) {
    pools_.erase(std::remove_if(pools_.begin(), pools_.end(),
                                [](const std::weak_ptr<TNtfsVolumePool::TState>& pool) {
                                  return pool.expired();
                                }),
                 pools_.end());
    const bool watched = std::any_of(
        pools_.begin(), pools_.end(), [&](const std::weak_ptr<TNtfsVolumePool::TState>& pool) {
          return !pool.owner_before(state) && !state.owner_before(pool);
        });
    if (!watched) pools_.push_back(state);
  }

 private:
  std::vector<std::weak_ptr<TNtfsVolumePool::TState>> pools_;
};

thread_local TThreadExitHook exitHook;

// Tells pools apart for the whole process, so a pool made where a gone one
// stood is never taken for it.
std::atomic<uint64_t> poolSerials{0};

// The mount this thread was given last: the stages ask for the same one for
// every item, and finding it in the pool's tables takes the pool's lock.
// Valid while its pool exists (the serial tells) and this thread runs.
struct TLastMount {
  uint64_t pool = 0;  // 0: none
  std::string imagePath;
  TNtfsVolume* volume = nullptr;
  uint64_t writes = 0;  // the pool's image writes (TNtfsSharedViews::Writes) when remembered
};
thread_local TLastMount lastMount;

// Failures that say nothing of the image: the next try may succeed.
bool IsTransient(int error) {
  return error == ENOMEM || error == EMFILE || error == ENFILE || error == EINTR || error == EAGAIN;
}

}  // namespace

TNtfsVolumePool::TNtfsVolumePool(TNtfsReadOrder order)
    : state_(std::make_shared<TState>()), order_(order), serial_(++poolSerials) {}

TNtfsVolumePool::~TNtfsVolumePool() {
  std::unordered_map<std::thread::id, TThreadVolumes> ending;
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    ending.swap(state_->threads);
  }
}

TNtfsVolume* TNtfsVolumePool::ForThisThread(const std::string& imagePath) {
  const uint64_t writes = state_->views.Writes();
  if (lastMount.pool == serial_ && lastMount.imagePath == imagePath && lastMount.writes == writes) {
    return lastMount.volume;
  }
  const std::thread::id self = std::this_thread::get_id();
  // A mount of an image written since it was made is unmounted (outside
  // the lock) and made again.
  std::unique_ptr<TNtfsVolume> stale;
  {
    const uint64_t epoch = state_->views.Epoch(imagePath);
    std::lock_guard<std::mutex> guard(state_->lock);
    const auto mine = state_->threads.find(self);
    if (mine != state_->threads.end()) {
      const auto volume = mine->second.find(imagePath);
      if (volume != mine->second.end()) {
        if (volume->second->Epoch() == epoch) {
          return Remember(imagePath, volume->second.get(), writes);
        }
        stale = std::move(volume->second);
        mine->second.erase(volume);
      }
    }
  }
  stale.reset();
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    if (state_->refused.count(imagePath) != 0) return nullptr;
    ++state_->mountsTried;
  }
  // Mounted outside the lock: other threads need not wait for it.
  int error = 0;
  std::unique_ptr<TNtfsVolume> mounted =
      TNtfsVolume::Mount(imagePath, order_, &error, &state_->views);
  if (!mounted) {
    if (!IsTransient(error)) {
      std::lock_guard<std::mutex> guard(state_->lock);
      state_->refused.emplace(imagePath, error);
    }
    return nullptr;
  }
  exitHook.Watch(state_);
  std::lock_guard<std::mutex> guard(state_->lock);
  std::unique_ptr<TNtfsVolume>& slot = state_->threads[self][imagePath];
  slot = std::move(mounted);
  return Remember(imagePath, slot.get(), writes);
}

void TNtfsVolumePool::Written(const std::string& imagePath) { state_->views.Written(imagePath); }

TNtfsVolume* TNtfsVolumePool::Remember(const std::string& imagePath, TNtfsVolume* volume,
                                       uint64_t writes) const {
  lastMount.pool = serial_;
  lastMount.writes = writes;
  lastMount.imagePath = imagePath;
  lastMount.volume = volume;
  return volume;
}

int TNtfsVolumePool::RefusedMount(const std::string& imagePath) const {
  std::lock_guard<std::mutex> guard(state_->lock);
  const auto found = state_->refused.find(imagePath);
  return found != state_->refused.end() ? found->second : 0;
}

int64_t TNtfsVolumePool::MountsTried() const {
  std::lock_guard<std::mutex> guard(state_->lock);
  return state_->mountsTried;
}

int64_t TNtfsVolumePool::ViewsRead() const { return state_->views.Offered(); }
