// A drive window's "Pause" and "Stop" buttons, free of any window system.
// They act on whatever the drive's worker is doing: the analysis (Stop ends
// it at the next item, and the stage label says "Stopped"), the moves of
// the window's "Defragment..." (Stop ends them after the step under way,
// and the drive is analysed anew, as after any moves), or that analysis
// made anew. Pause holds the worker at the next item of any stage until the
// button, which reads "Resume" meanwhile, is pressed again. Both are
// disabled once the work is done. Either shell keeps one per drive window
// beside its TWindowMoves and tells it when the worker ends.
//
// Threads: lives on the window's thread, which alone calls it. It acts on
// the worker only through the drive's gates (work_gate.h), which wake a
// held worker on a stop and on the window's close (RequestStop).
#pragma once

#include "ui/window_moves.h"

class TDriveOptimizer;

class TWorkControls {
 public:
  // The drive and moves outlive the object. Made with the window, whose
  // drive starts its analysis at once: the work runs from then on.
  TWorkControls(TDriveOptimizer& drive, const TWindowMoves& moves);

  // "Pause" (or "Resume") pressed; nothing once the work is done.
  void PauseClicked();
  // "Stop" pressed; nothing once the work is done.
  void StopClicked();
  // The window's "Defragment..." started moves on a new worker.
  void MovesStarted() { working = true; }
  // The worker has ended (its notice reached the window's thread);
  // nextWorker: whether the window started another at once (the analysis
  // after the moves). A worker paused at its end leaves no pause behind.
  void WorkerEnded(bool nextWorker);

  // Whether the buttons are enabled: the work is still under way.
  bool Enabled() const { return working; }
  // The text of the "Pause" button: "Resume" while the work is paused.
  const char* PauseLabel() const;

 private:
  TDriveOptimizer& drive;     // not owned
  const TWindowMoves& moves;  // not owned; whether moves run
  bool working = true;        // a worker of the window runs or is about to
};
