// Proof of a schedule before anything is moved: its steps played on the
// layout in memory, as the file system would carry them out.
#pragma once

#include <string>
#include <vector>

#include "moving/move_layout.h"
#include "moving/move_schedule.h"

// Plays every step in order on a copy of the layout: each must move clusters
// its file holds (allocated VCNs, no hole) to clusters inside the volume that
// are free at that moment, and frees the clusters it moved from. Afterwards
// every file the steps moved must be in one piece. Empty when all holds;
// else what does not, naming the step (from 1) and its file.
std::string ReplaySchedule(const TMoveLayout& layout, const TMoveSchedule& schedule);

// Plays the steps as ReplaySchedule does; afterwards every file with a
// place (targets[i], allocated runs in ascending vcn; empty for none) lies
// exactly there, unless the schedule left it, and no file without a place,
// or that may not move, has moved. A file left may have been moved out of
// the way anywhere: that each of its steps moved clusters it held onto free
// ones is what keeps it whole, every VCN it held on clusters of its own.
std::string ReplayOptimize(const TMoveLayout& layout,
                           const std::vector<std::vector<TFileRun>>& targets,
                           const TMoveSchedule& schedule);

// The runs of a stream once `clusters` clusters from vcn have moved to
// targetLcn, merged as the file system reports them; none when the range is
// not wholly allocated. The moved-from clusters, allocated runs in vcn
// order, go to `from` when given.
bool MoveRuns(const std::vector<TFileRun>& runs, int64_t vcn, int64_t clusters, int64_t targetLcn,
              std::vector<TFileRun>* moved, std::vector<TFileRun>* from = nullptr);
// The same for the count runs from runs.
bool MoveRuns(const TFileRun* runs, size_t count, int64_t vcn, int64_t clusters, int64_t targetLcn,
              std::vector<TFileRun>* moved, std::vector<TFileRun>* from);
