// The analysis's progress bar as the drive's counters drive it: busy with
// the items scanned until the total is known, then the items read of it,
// with the time left at the rate seen since the total appeared.
#include "ui/work_progress.h"

#include <gtest/gtest.h>

namespace {

struct TStep {
  TItemFigures figures;
  double seconds;
  bool busy;
  int64_t value;
  int64_t maximum;
  const char* text;
};

TEST(WorkProgressTest, BusyWhileScanningThenReadOfTheTotalWithTheTimeLeft) {
  // 5,000 items scanned; the retrieval then reads 5,000 (root included)
  // from counter 5,000 on.
  const TStep steps[] = {
      {{0, 0, -1}, 0.0, true, 0, 0, "0 items scanned"},
      {{1200, 0, -1}, 0.5, true, 0, 0, "1,200 items scanned"},
      {{5000, 0, -1}, 1.0, true, 0, 0, "5,000 items scanned"},
      // The total is seen: no rate yet.
      {{5001, 5000, 5000}, 1.5, false, 1, 5000, "read 1 of 5,000 items"},
      // 999 more in 1 s: 4,000 left take about 4 s.
      {{6000, 5000, 5000}, 2.5, false, 1000, 5000, "read 1,000 of 5,000 items, about 4 s left"},
      {{7000, 5000, 5000}, 3.5, false, 2000, 5000, "read 2,000 of 5,000 items, about 3 s left"},
      // Done: no time left shown; a counter past the total is held to it.
      {{10010, 5000, 5000}, 6.0, false, 5000, 5000, "read 5,000 of 5,000 items"},
  };
  TWorkProgress progress;
  for (const TStep& step : steps) {
    const TProgressBarState bar = progress.Now(step.figures, step.seconds);
    EXPECT_EQ(bar.busy, step.busy) << step.text;
    EXPECT_EQ(bar.value, step.value) << step.text;
    EXPECT_EQ(bar.maximum, step.maximum) << step.text;
    EXPECT_EQ(bar.text, step.text);
  }
}

TEST(WorkProgressTest, LongEstimatesInMinutesAndNoRateBeforeTimePasses) {
  TWorkProgress progress;
  EXPECT_EQ(progress.Now({100, 0, 1000000}, 10.0).text, "read 100 of 1,000,000 items");
  // Read again at the same moment: no time has passed, no estimate.
  EXPECT_EQ(progress.Now({200, 0, 1000000}, 10.0).text, "read 200 of 1,000,000 items");
  // 1,000 items in 10 s: 998,900 left take 9,989 s.
  EXPECT_EQ(progress.Now({1100, 0, 1000000}, 20.0).text,
            "read 1,100 of 1,000,000 items, about 166 min left");
}

}  // namespace
