// The user's say over a drive's worker between two items of its work: a
// pause that holds the worker until it is lifted, and a stop that ends the
// work for good and lifts any pause.
//
// Threads: Pause, Resume, Stop and Reopen are called by the window's thread
// (a stop also by whoever ends the drive: a closed window, a test's time
// limit); WaitToGoOn by the threads that do the work (the worker, and the
// helper thread that fills half the tree), between items. The flags are
// written under the lock, and the waiters test them under it, so a change
// made while a waiter is about to sleep still wakes it. The flags are also
// atomic so the check between items that finds no pause takes no lock: the
// worker then sees a pause at the next item, a stop at once or at the next
// item, which is all the user is promised.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

class TWorkGate {
 public:
  void Pause() { Set(paused_, true); }
  void Resume() { Set(paused_, false); }
  // Ends the work at the next item, for good; wakes a held worker.
  void Stop() { Set(stopped_, true); }
  // Neither paused nor stopped again, for new work; only while none runs.
  void Reopen() {
    Set(paused_, false);
    Set(stopped_, false);
  }
  bool Paused() const { return paused_.load(); }
  bool Stopped() const { return stopped_.load(); }
  // Between two items: waits while paused; false once stopped (at once, or
  // while waiting).
  bool WaitToGoOn() {
    if (!paused_.load()) return !stopped_.load();
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [this] { return !paused_.load() || stopped_.load(); });
    return !stopped_.load();
  }

 private:
  void Set(std::atomic<bool>& flag, bool value) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      flag.store(value);
    }
    changed_.notify_all();
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::atomic<bool> paused_{false};   // written under lock_
  std::atomic<bool> stopped_{false};  // written under lock_
};
