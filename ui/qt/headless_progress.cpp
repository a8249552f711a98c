#include "ui/qt/headless_progress.h"

#include <unistd.h>

#include <cstdio>

#include "drive/drive_optimizer.h"

namespace {

// Every drive's lines share standard error; made on first use, on the GUI
// thread, the only thread that writes progress.
TProgressLines& StandardErrorProgress() {
  static TProgressLines lines(stderr, isatty(STDERR_FILENO) != 0);
  return lines;
}

}  // namespace

THeadlessProgress::THeadlessProgress(QObject* parent, TDriveOptimizer& drive,
                                     const std::string& name)
    : QObject(parent), optimizer(drive), started(TClock::now()) {
  progress.name = name;
  timer.setInterval(kProgressMilliseconds);
  connect(&timer, &QTimer::timeout, this, &THeadlessProgress::Tick);
  timer.start();
}

void THeadlessProgress::StageStarted(TClock::time_point at, const std::string& stage,
                                     int64_t count) {
  StandardErrorProgress().StageStarted(progress, SecondsAt(at), stage.c_str(), count);
}

void THeadlessProgress::Ended() {
  for (const TVolumeDamage& place : optimizer.damage.Places()) {
    StandardErrorProgress().Failed(progress, "damaged: " + place.path + ": " + place.what);
  }
  const std::string reason = optimizer.FailureReason();
  if (!reason.empty()) StandardErrorProgress().Failed(progress, reason);
}

void THeadlessProgress::Tick() {
  const TMoveProgress& moves = optimizer.moves;
  if (moves.active.load(std::memory_order_relaxed)) {
    const TMovesFigures figures{moves.filesDone.load(std::memory_order_relaxed),
                                moves.filesTotal.load(std::memory_order_relaxed),
                                moves.clustersDone.load(std::memory_order_relaxed),
                                moves.clustersTotal.load(std::memory_order_relaxed),
                                moves.clusterBytes.load(std::memory_order_relaxed)};
    StandardErrorProgress().MovesNow(progress, SecondsAt(TClock::now()), figures);
    return;
  }
  const int64_t count = optimizer.itemsCounted.load(std::memory_order_relaxed);
  StandardErrorProgress().CountNow(progress, SecondsAt(TClock::now()), count);
}

double THeadlessProgress::SecondsAt(TClock::time_point at) const {
  return std::chrono::duration<double>(at - started).count();
}
