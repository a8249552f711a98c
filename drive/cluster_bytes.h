// A drive's cluster size, as its services tell it: what turns the cluster
// counts of the analysis into bytes for the summary, the export and moves.
#pragma once

#include <cstdint>

class TDriveOptimizer;

// The drive's cluster size in bytes, from the services; 0 when they cannot
// tell.
uint32_t ClusterBytesOfDrive(TDriveOptimizer& drive);
