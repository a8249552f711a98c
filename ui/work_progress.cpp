#include "ui/work_progress.h"

#include <cstdio>

#include "moving/move_layout.h"

TProgressBarState TWorkProgress::Now(const TItemFigures& figures, double seconds) {
  if (figures.toRead < 0) {
    return TProgressBarState{true, 0, 0, GroupedNumber(figures.counted) + " items scanned"};
  }
  int64_t read = figures.counted - figures.readFrom;
  if (read > figures.toRead) read = figures.toRead;
  if (read < 0) read = 0;
  if (totalSeenAt < 0) {
    totalSeenAt = seconds;
    readWhenSeen = read;
  }
  std::string text =
      "read " + GroupedNumber(read) + " of " + GroupedNumber(figures.toRead) + " items";
  // The rate since the total was first seen; none before any item of it.
  const int64_t readSince = read - readWhenSeen;
  const double elapsed = seconds - totalSeenAt;
  if (readSince > 0 && elapsed > 0 && read < figures.toRead) {
    const double left =
        elapsed * static_cast<double>(figures.toRead - read) / static_cast<double>(readSince);
    char estimate[64];
    if (left < 90) {
      std::snprintf(estimate, sizeof estimate, ", about %.0f s left", left);
    } else {
      std::snprintf(estimate, sizeof estimate, ", about %.0f min left", left / 60);
    }
    text += estimate;
  }
  return TProgressBarState{false, read, figures.toRead, text};
}
