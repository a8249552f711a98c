#include "ui/work_controls.h"

#include "drive/drive_optimizer.h"

TWorkControls::TWorkControls(TDriveOptimizer& optimizer, const TWindowMoves& windowMoves)
    : drive(optimizer), moves(windowMoves) {}

void TWorkControls::PauseClicked() {
  if (!working) return;
  if (drive.Paused()) {
    drive.Resume();
  } else {
    drive.Pause();
  }
}

void TWorkControls::StopClicked() {
  if (!working) return;
  // Moves end after their step and leave the drive to be analysed anew;
  // anything else ends for good.
  if (moves.Moving()) {
    drive.moves.Stop();
    drive.Resume();
  } else {
    drive.RequestStop();
  }
}

void TWorkControls::WorkerEnded(bool nextWorker) {
  drive.Resume();
  working = nextWorker;
}

const char* TWorkControls::PauseLabel() const { return drive.Paused() ? "Resume" : "Pause"; }
