// A drive's run of moves as the drive keeps it: how far it has come, the
// user's say over it (pause, resume and stop, honoured between steps), and
// what it did in the end.
//
// Threads: the executor (on the drive's worker) writes the counts; the
// window's timer and the headless progress read them about once a second.
// They are relaxed atomics: counts that order nothing else. Pause and stop
// are set by the window's thread (or the worker's own stop) and waited on
// by the executor between steps (work_gate.h). The files moved so far
// are handed from the worker to the window's thread through a queue of
// their own (TMovedFiles).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "drive/work_gate.h"
#include "model/file_run.h"

// A file whose moves have ended (made whole, or stopped or failed midway),
// with its runs as read back from the volume: what a window needs to draw
// it where it lies now.
struct TFileMoved {
  std::string listingPath;     // as the logs name it: "\docs\a.txt"
  std::vector<TFileRun> runs;  // ascending vcn
};

// The files a window's run of moves has moved and its map does not show yet.
// Filled by the drive's worker after each file, taken by the window's thread
// on its refresh; guarded by the lock, and kept by the drive, which outlives
// both, so neither ever reads what the other frees.
class TMovedFiles {
 public:
  void Add(TFileMoved file) {
    std::lock_guard<std::mutex> guard(lock_);
    files_.push_back(std::move(file));
  }
  // Every file added since the last call, in the order added.
  std::vector<TFileMoved> Take() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::exchange(files_, {});
  }

 private:
  std::mutex lock_;
  std::vector<TFileMoved> files_;
};

// The moves' own gate (work_gate.h): pause, resume and stop between steps,
// reopened for each run of moves.
class TMoveProgress : public TWorkGate {
 public:
  std::atomic<bool> active{false};  // moves are being carried out now
  std::atomic<int64_t> filesTotal{0};
  std::atomic<int64_t> filesDone{0};  // files made whole so far
  std::atomic<int64_t> clustersTotal{0};
  std::atomic<int64_t> clustersDone{0};  // clusters moved so far
  std::atomic<uint32_t> clusterBytes{0};
  // The files a window's moves have moved, for its map (see TMovedFiles).
  TMovedFiles movedFiles;

  // Back to no moves done and neither paused nor stopped, for a new run of
  // moves; only while none runs (the window's thread, between runs).
  void Restart() {
    filesTotal = 0;
    filesDone = 0;
    clustersTotal = 0;
    clustersDone = 0;
    Reopen();
  }
};

// A file left as it was, and why, in words.
struct TFileLeft {
  std::string listingPath;
  std::string reason;
};

// What a run of moves is for: every fragmented file made whole, or the
// volume-aware zone layout carried out.
enum class TMovesKind { kDefragment, kOptimize };

// What a run of moves did. Written by the drive's worker before it ends;
// read by other threads only after it has ended.
struct TMovesDone {
  TMovesKind kind = TMovesKind::kDefragment;
  bool asked = false;    // the user asked for moves on this drive
  bool started = false;  // the volume was opened for moves
  // Why the moves could not start or a step failed (the first such); empty
  // when every step planned was carried out.
  std::string failure;
  bool stopped = false;       // a stop ended the run before its end
  int64_t filesMoved = 0;     // files made whole, or brought to their place
  int64_t clustersMoved = 0;  // clusters moved by steps that succeeded
  int64_t stepsDone = 0;
  std::vector<TFileLeft> left;  // files left fragmented, in the order met
  // Carrying out the zone layout: the clusters the first schedule had to
  // move at least (those whose place is elsewhere), and those of the steps
  // done that went out of the way first rather than to their place.
  int64_t clustersNeeded = 0;
  int64_t clustersParked = 0;
  // Files in more than one piece when the moves began, and once the drive
  // has been analysed anew after them (-1 until then); none moved, the same.
  int64_t fragmentedBefore = -1;
  int64_t fragmentedAfter = -1;
  // What the user must know of the run beyond its counts, in words (a file
  // system's operation that unshares extents, files skipped as another
  // user's); said after them.
  std::vector<std::string> notes;
};
