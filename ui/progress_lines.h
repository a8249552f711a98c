// The progress a run without a display writes to standard error: one line
// per stage as it starts, with the seconds since its drive started, and
// while a stage counts items (the scan, the retrieval) their count about
// once a second. On a terminal the count is rewritten in place; elsewhere
// (a pipe, a file) every count is a line of its own. When a stage ends
// after counting, its final count stays on a line of its own.
//
//   diskopt: D: 0.00 s Creating memory tree
//   diskopt: D: 1.41 s 71342 items
//   diskopt: D: 1.41 s Mapping free space
//
// While a drive's moves run, their progress takes the count's place:
//
//   diskopt: D: 9.02 s moved 3 of 12 files, 1,200 of 9,000 clusters, 85.3 MiB/s, 42 s left
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// What has been shown of one drive.
struct TDriveProgress {
  std::string name;            // the drive as titles name it: "D", or the path given
  int64_t stageBase = 0;       // the drive's item counter when the current stage began
  int64_t shownCount = 0;      // the counter when its value was last shown
  double movesSince = -1;      // seconds at which its moves were first seen running; none yet
  int64_t shownClusters = -1;  // clusters moved when last shown; none yet
};

// How far a drive's moves have come, read from its TMoveProgress.
struct TMovesFigures {
  int64_t filesDone;
  int64_t filesTotal;
  int64_t clustersDone;
  int64_t clustersTotal;
  uint32_t clusterBytes;
};

// "moved 3 of 12 files, 1,200 of 9,000 clusters, 85.3 MiB/s, 42 s left",
// the rate over the seconds the moves have run (none shown before any
// clusters moved).
std::string MovesProgressText(const TMovesFigures& figures, double secondsMoving);

// One per process: every drive's lines share the one output, whose in-place
// line it tracks. Not thread-safe: used by one thread (Qt's GUI thread).
class TProgressLines {
 public:
  // terminal: whether `to` is a terminal, where a count is rewritten in place.
  TProgressLines(FILE* to, bool terminal);

  // A stage named stage began at seconds, with the drive's item counter at
  // count: first the final count of the stage before, if it counted.
  void StageStarted(TDriveProgress& drive, double seconds, const char* stage, int64_t count);
  // The drive's item counter at seconds: shown if it moved since last shown.
  void CountNow(TDriveProgress& drive, double seconds, int64_t count);
  // The drive's moves at seconds, while they run: shown when they moved on.
  void MovesNow(TDriveProgress& drive, double seconds, const TMovesFigures& figures);
  // Why the drive could not be analysed: "diskopt: D: <reason>" on a line of
  // its own.
  void Failed(const TDriveProgress& drive, const std::string& reason);

 private:
  void ShowCount(TDriveProgress& drive, double seconds, int64_t count, bool final);
  // A line that a later one of the drive replaces on a terminal.
  void ShowInPlace(const TDriveProgress& drive, const std::string& line, bool final);
  // Ends an open in-place line, so the next output starts a line of its own.
  void EndInPlaceLine();

  FILE* to_;  // not owned
  bool terminal_;
  const TDriveProgress* inPlaceOwner_ = nullptr;  // whose count is open in place; none
  size_t inPlaceLength_ = 0;                      // characters of that line
};
