// Defragmenting: every fragmented file and folder index moved whole into one
// free extent, largest first, each into the smallest free extent that holds
// it (best fit), the clusters that earlier moves release counted free again.
// A file that no free extent holds whole is left where it is, with the
// numbers that say why.
#pragma once

#include <cstdint>

#include "moving/move_layout.h"
#include "moving/move_schedule.h"

// Steps move at most maxStepClusters clusters each (> 0), so that a pause or
// a stop waits for little and the progress moves; the steps of one file are
// laid end to end at its target.
TMoveSchedule ScheduleDefragment(const TMoveLayout& layout, int64_t maxStepClusters);

// What a step holds at most: 64 MiB of clusters of clusterBytes bytes, and
// never less than one cluster.
int64_t StepClustersFor(uint32_t clusterBytes);
