// Carrying out the volume-aware zone layout: every file moved to the place
// the plan gives it, in an order where each step lands on clusters that are
// free at that moment. Files are taken in the order of their places on the
// volume, and what lies in a file's place is placed first, depth first, so
// that most clusters move once, straight to their place. Files that hold
// each other's places (a cycle) are parted by moving one of them out of the
// way ("parked") to free space outside every place still to be filled, from
// where its own turn later takes it.
#pragma once

#include <cstdint>
#include <vector>

#include "model/file_run.h"
#include "moving/move_layout.h"
#include "moving/move_schedule.h"

struct TOptimizeSchedule {
  TMoveSchedule moves;         // moves.files: the files taken to their places
  int64_t clustersNeeded = 0;  // clusters the places put elsewhere: what must move at least
  int64_t clustersParked = 0;  // clusters moved out of the way first, to move again later
};

// targets[i]: where the allocated clusters of layout.files[i] go, as runs in
// ascending vcn over exactly its allocated VCNs; empty for a file that stays
// where it is. Places of different files are disjoint. Steps move at most
// maxStepClusters clusters each (> 0). A file is left, with the reason,
// when its place holds clusters that never move (the file system's, or
// those of a file that stays or that may not move), when its place does not
// match its clusters, or when making room would need more free space than
// there is. A file left is not placed, but what of it lies in the place of
// a file still to be placed is moved out of the way as any file in the way
// is (parked, every cluster kept), so that a file left holds up no other.
TOptimizeSchedule ScheduleOptimize(const TMoveLayout& layout,
                                   const std::vector<std::vector<TFileRun>>& targets,
                                   int64_t maxStepClusters);
