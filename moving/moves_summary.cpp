#include "moving/moves_summary.h"

#include <cstdio>

#include "moving/move_layout.h"

namespace {

// What moves carrying out the zone layout did: items, clusters with what
// parking added, and fragmented files before and after.
std::string OptimizedLines(const TMovesDone& done) {
  std::string text = "  Items moved:        " + GroupedNumber(done.filesMoved) + "\n";
  text += "  Clusters moved:     " + GroupedNumber(done.clustersMoved) + " in " +
          GroupedNumber(done.stepsDone) + (done.stepsDone == 1 ? " step" : " steps");
  const int64_t straight = done.clustersMoved - done.clustersParked;
  if (done.clustersParked > 0 && straight > 0) {
    // Parked clusters move again to their place: every cluster beyond one
    // per cluster that reached its place is parking's overhead.
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.2f",
                  static_cast<double>(done.clustersMoved) / static_cast<double>(straight));
    text += ", " + GroupedNumber(done.clustersParked) + " of them parked out of the way first (" +
            ratio + " moved for each that had to)";
  }
  text += "\n";
  if (done.fragmentedBefore >= 0) {
    text += "  Fragmented files:   " + GroupedNumber(done.fragmentedBefore) + " before";
    if (done.fragmentedAfter >= 0) text += ", " + GroupedNumber(done.fragmentedAfter) + " after";
    text += "\n";
  }
  return text;
}

}  // namespace

std::string FormatMovesSummary(char driveLetter, const TMovesDone& done) {
  const bool optimize = done.kind == TMovesKind::kOptimize;
  std::string text = std::string("Drive ") + driveLetter +
                     (optimize ? ": optimized layout\n" : ": defragmentation\n");
  if (done.started && optimize) {
    text += OptimizedLines(done);
  } else if (done.started) {
    text += "  Made whole:         " + GroupedNumber(done.filesMoved) +
            (done.filesMoved == 1 ? " file, " : " files, ") + GroupedNumber(done.clustersMoved) +
            " clusters moved in " + GroupedNumber(done.stepsDone) +
            (done.stepsDone == 1 ? " step\n" : " steps\n");
  }
  for (const std::string& note : done.notes) text += "  Note: " + note + "\n";
  if (!done.left.empty()) {
    text += "  Left as they were:  " + GroupedNumber(static_cast<int64_t>(done.left.size())) +
            (done.left.size() == 1 ? " file\n" : " files\n");
    for (const TFileLeft& file : done.left) {
      text += "    " + file.listingPath + ": " + file.reason + "\n";
    }
  }
  if (done.stopped) {
    text += std::string("  Stopped before the end: run ") +
            (optimize ? "--optimize" : "--defragment") + " again to go on\n";
  }
  if (!done.failure.empty()) text += "  Failed: " + done.failure + "\n";
  return text;
}
