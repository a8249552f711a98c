// The drive's stages when the user asked to carry out its zone layout: the
// analysis, then "Applying optimized tree" moves every item the
// volume-aware plan moves to its target.
#pragma once

#include "drive/drive_optimizer.h"
#include "moving/move_executor.h"
#include "moving/move_layout.h"

extern const TPipelineStages kOptimizeStages;

// The moves of "Applying optimized tree": refuses a volume the analysis
// found damaged, starts the journal, carries out the volume-aware plan
// (move_executor.h) and keeps what the moves did in the drive's movesDone.
// A failure to start or a failed step is the drive's failure too.
void OptimizeDrive(TDriveOptimizer& drive);

// The layout that carries out the drive's volume-aware plan, with its
// cluster size from the services. Reads the tree and the plan: call while
// nothing changes them.
TMoveLayout PlanLayoutOfDrive(TDriveOptimizer& drive);

// The moves of OptimizeDrive, of a layout made already (by the window,
// which showed it for confirmation), without reading the tree; fileMoved
// and confirmed as CarryOutOptimize's. The caller publishes the stage's
// text.
void OptimizeLayout(TDriveOptimizer& drive, TMoveLayout layout, const TFileMovedCall& fileMoved,
                    TConfirmedSchedule* confirmed = nullptr);
