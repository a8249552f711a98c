// The progress bar of a drive's analysis, free of any window system: while
// the scan runs, a busy bar with the items scanned; once the retrieval knows
// how many items it will read, a bar of the items read of that total, with
// the time left at the rate seen so far. Either shell reads the drive's
// figures every refresh and shows what Now gives back.
//
//   12,345 items scanned
//   read 1,234 of 5,678 items, about 12 s left
#pragma once

#include <cstdint>
#include <string>

// The drive's counters as the worker published them (drive_optimizer.h).
struct TItemFigures {
  int64_t counted;   // itemsCounted: items scanned, then plus items read
  int64_t readFrom;  // itemsCounted when the retrieval began
  int64_t toRead;    // items the retrieval reads; -1 while not known
};

struct TProgressBarState {
  bool busy;        // no total yet: the bar shows activity, not a share
  int64_t value;    // items read; 0 while busy
  int64_t maximum;  // items to read; 0 while busy
  std::string text;
};

// One per drive window, on its thread; made anew for each analysis.
class TWorkProgress {
 public:
  // The bar for figures seen at seconds (any clock that only goes on).
  TProgressBarState Now(const TItemFigures& figures, double seconds);

 private:
  double totalSeenAt = -1;   // seconds when the total was first seen; none yet
  int64_t readWhenSeen = 0;  // items read then
};
