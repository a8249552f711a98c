// A gate for the scripted volume's moves, for tests that act (pause, stop,
// close a window) while a step is under way.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "tests/support/scripted_volume.h"

// Holds each move of the scripted volume at a gate until the test lets it
// go, so the test can act (pause, stop, close) while a step is under way.
// The moves' worker waits in the volume's beforeMove; the test's thread
// opens the gate. The counts are guarded by lock_.
class TMoveGate {
 public:
  explicit TMoveGate(TScriptedVolume& volume) {
    volume.moveFaults.beforeMove = [this](int, const TMoveFileData&) { Pass(); };
  }
  // Lets count more moves go on; -1 lets every move go.
  void Allow(int count) {
    std::lock_guard<std::mutex> guard(lock_);
    allowed_ = count < 0 || allowed_ < 0 ? -1 : allowed_ + count;
    changed_.notify_all();
  }
  // Whether a move is held at the gate within timeoutMs milliseconds.
  bool WaitForHeld(int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                             [this] { return held_ > 0; });
  }
  // Moves let through (each then carried out: none is refused here).
  int Passed() {
    std::lock_guard<std::mutex> guard(lock_);
    return passed_;
  }

 private:
  void Pass() {
    std::unique_lock<std::mutex> guard(lock_);
    ++held_;
    changed_.notify_all();
    changed_.wait(guard, [this] { return allowed_ != 0; });
    --held_;
    if (allowed_ > 0) --allowed_;
    ++passed_;
  }

  std::mutex lock_;
  std::condition_variable changed_;
  int allowed_ = 0;
  int held_ = 0;
  int passed_ = 0;
};
