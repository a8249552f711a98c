// The drive's real pipeline stages, in order: the directory scan, the
// free-space map, fragment retrieval and the optimizing stage. The process
// entry gives them to every drive optimizer it makes.
#pragma once

#include "drive/drive_optimizer.h"

extern const TPipelineStages kDriveStages;

// The same stages with applyMoves after the optimizing stage (the moves a
// user asked for). Function addresses only: safe to call while statics are
// set up.
TPipelineStages StagesWithMoves(void (*applyMoves)(TDriveOptimizer&));
