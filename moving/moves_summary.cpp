#include "moving/moves_summary.h"

#include "moving/move_layout.h"

std::string FormatMovesSummary(char driveLetter, const TMovesDone& done) {
  std::string text = std::string("Drive ") + driveLetter + ": defragmentation\n";
  if (done.started) {
    text += "  Made whole:         " + GroupedNumber(done.filesMoved) +
            (done.filesMoved == 1 ? " file, " : " files, ") + GroupedNumber(done.clustersMoved) +
            " clusters moved in " + GroupedNumber(done.stepsDone) +
            (done.stepsDone == 1 ? " step\n" : " steps\n");
  }
  if (!done.left.empty()) {
    text += "  Left as they were:  " + GroupedNumber(static_cast<int64_t>(done.left.size())) +
            (done.left.size() == 1 ? " file\n" : " files\n");
    for (const TFileLeft& file : done.left) {
      text += "    " + file.listingPath + ": " + file.reason + "\n";
    }
  }
  if (done.stopped) text += "  Stopped before the end: run --defragment again to go on\n";
  if (!done.failure.empty()) text += "  Failed: " + done.failure + "\n";
  return text;
}
