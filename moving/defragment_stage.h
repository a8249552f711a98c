// The drive's stages when the user asked to defragment it: the analysis,
// then the defragmentation of what it found.
#pragma once

#include <string>

#include "drive/drive_optimizer.h"
#include "moving/move_executor.h"
#include "moving/move_layout.h"

extern const TPipelineStages kDefragmentStages;

// The defragmentation stage: refuses a volume the analysis found damaged,
// starts the journal, carries out the moves (move_executor.h) and keeps
// what they did in the drive's movesDone. A failure to start or a failed
// step is the drive's failure too.
void DefragmentDrive(TDriveOptimizer& drive);

// Why the drive may not be written, in words ("nothing was moved: the volume
// contradicts itself in 3 places ..."); empty when it may. Reads the damage
// found so far only.
std::string DamageRefusal(const TDriveOptimizer& drive);

// The layout of the drive's analysed tree and free space, with its cluster
// size from the services. Reads the tree: call while nothing changes it.
TMoveLayout LayoutOfDrive(TDriveOptimizer& drive);

// The moves of a layout made already, of either kind: starts the journal,
// carries out the moves (move_executor.h), keeps what they did in
// movesDone, with the count of fragmented files the analysis found; a
// failure to start or a failed step is the drive's failure too. fileMoved
// and confirmed as CarryOutDefragment's (confirmed is not used where the
// file system makes files whole itself).
void CarryOutLayout(TDriveOptimizer& drive, TMovesKind kind, TMoveLayout layout,
                    const TFileMovedCall& fileMoved, TConfirmedSchedule* confirmed = nullptr);

// Refuses moves on a volume the analysis found damaged: true, with the
// reason kept in movesDone and said as the drive's failure, when so.
bool RefuseDamagedVolume(TDriveOptimizer& drive, TMovesKind kind);

// The moves of DefragmentDrive, of a layout made already (by the window,
// which showed it for confirmation), without reading the tree: starts the
// journal, carries out the moves and keeps what they did in movesDone;
// fileMoved and confirmed as CarryOutDefragment's. A failure is the drive's
// failure too. The caller publishes the stage's text ("Defragmenting").
void DefragmentLayout(TDriveOptimizer& drive, TMoveLayout layout, const TFileMovedCall& fileMoved,
                      TConfirmedSchedule* confirmed = nullptr);
