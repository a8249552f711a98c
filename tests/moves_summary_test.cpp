// What a run of moves that carried out the zone layout says it did: items
// moved, clusters moved with what parking added, and fragmented files
// before and after, whether the run ended, stopped or never began.
#include "moving/moves_summary.h"

#include <gtest/gtest.h>

namespace {

TMovesDone Optimized(int64_t clustersMoved, int64_t clustersParked) {
  TMovesDone done;
  done.kind = TMovesKind::kOptimize;
  done.asked = true;
  done.started = true;
  done.filesMoved = 1200;
  done.clustersMoved = clustersMoved;
  done.clustersParked = clustersParked;
  done.stepsDone = 14;
  done.fragmentedBefore = 31;
  done.fragmentedAfter = 0;
  return done;
}

TEST(MovesSummary, TheZoneLayoutSaysItemsClustersParkingAndFragmentedFiles) {
  TMovesDone stopped = Optimized(1000, 0);
  stopped.stopped = true;
  stopped.fragmentedAfter = -1;
  TMovesDone refused;
  refused.kind = TMovesKind::kOptimize;
  refused.asked = true;
  refused.failure = "nothing was moved: the volume contradicts itself in 1 place";
  const struct {
    const char* what;
    TMovesDone done;
    const char* text;
  } cases[] = {
      {"nothing parked", Optimized(3400, 0),
       "Drive D: optimized layout\n"
       "  Items moved:        1,200\n"
       "  Clusters moved:     3,400 in 14 steps\n"
       "  Fragmented files:   31 before, 0 after\n"},
      {"a quarter of what reached its place parked first", Optimized(5000, 1000),
       "Drive D: optimized layout\n"
       "  Items moved:        1,200\n"
       "  Clusters moved:     5,000 in 14 steps, 1,000 of them parked out of the way first "
       "(1.25 moved for each that had to)\n"
       "  Fragmented files:   31 before, 0 after\n"},
      {"stopped, not analysed anew", stopped,
       "Drive D: optimized layout\n"
       "  Items moved:        1,200\n"
       "  Clusters moved:     1,000 in 14 steps\n"
       "  Fragmented files:   31 before\n"
       "  Stopped before the end: run --optimize again to go on\n"},
      {"refused", refused,
       "Drive D: optimized layout\n"
       "  Failed: nothing was moved: the volume contradicts itself in 1 place\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatMovesSummary('D', c.done), c.text) << c.what;
}

}  // namespace
