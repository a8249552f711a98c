// The drive's stages when the user asked to defragment it: the analysis,
// then the defragmentation of what it found.
#pragma once

#include "drive/drive_optimizer.h"

extern const TPipelineStages kDefragmentStages;

// The defragmentation stage: refuses a volume the analysis found damaged,
// starts the journal, carries out the moves (move_executor.h) and keeps
// what they did in the drive's movesDone. A failure to start or a failed
// step is the drive's failure too.
void DefragmentDrive(TDriveOptimizer& drive);
