// The progress of one drive on standard error when nobody sees its window
// (ui/progress_lines): a line per stage as it starts and, once a second, the
// count of items the scan or the retrieval has reached.
//
// Threads: the worker never writes here. It bumps the drive's itemsCounted,
// which this object's timer reads on the GUI thread; and its stage texts
// reach StageStarted as queued calls, each carrying the time and the counter
// taken on the worker when the stage began, so no stage is missed however
// short. All output happens on the GUI thread.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <string>

#include "ui/progress_lines.h"

class TDriveOptimizer;

class THeadlessProgress : public QObject {
 public:
  using TClock = std::chrono::steady_clock;

  // Starts the clock and the one-second look at the counter; goes with
  // parent (the drive window).
  THeadlessProgress(QObject* parent, TDriveOptimizer& optimizer, const std::string& name);

  // On the GUI thread: the stage named stage began at `at`, with the
  // drive's item counter at count.
  void StageStarted(TClock::time_point at, const std::string& stage, int64_t count);
  // On the GUI thread, once the worker has ended: why the drive could not be
  // analysed, if it could not.
  void Ended();

 private:
  void Tick();
  double SecondsAt(TClock::time_point at) const;

  TDriveOptimizer& optimizer;  // not owned; outlives the window and this
  TDriveProgress progress;     // what has been shown of the drive
  TClock::time_point started;  // when the drive's window opened
  QTimer timer;                // every kProgressMilliseconds, until the window goes
};

constexpr int kProgressMilliseconds = 1000;
