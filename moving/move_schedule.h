// Schedules of moves as plain data: each step moves a stretch of one file's
// stream to a target on the volume, the request FSCTL_MOVE_FILE carries out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "moving/move_layout.h"

// Moves `clusters` clusters of the stream of layout.files[file] from
// virtual cluster vcn to the volume's clusters from targetLcn.
struct TMoveStep {
  size_t file;
  int64_t vcn;
  int64_t clusters;
  int64_t targetLcn;
};

// A file the schedule leaves as it is, and why, in words.
struct TLeftFile {
  size_t file;
  std::string reason;
};

struct TMoveSchedule {
  // In the order they are carried out; the steps of one file follow one
  // another.
  std::vector<TMoveStep> steps;
  std::vector<TLeftFile> left;  // in layout order
  int64_t files = 0;            // files the steps move
  int64_t clusters = 0;         // clusters the steps move
};

// The schedule a question before moves was made from, on the layout's free
// space as the analysis read it: carried out as it stands when the volume's
// free space is still exactly that once the moves begin, and made anew
// otherwise. On a volume of a million files making it takes seconds.
struct TConfirmedSchedule {
  TMoveSchedule moves;
  int64_t clustersNeeded = 0;  // the clusters that must move at least
};
