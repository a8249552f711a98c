#include "moving/optimize_stage.h"

#include "drive/cluster_bytes.h"
#include "moving/defragment_stage.h"
#include "planning/drive_stages.h"

TMoveLayout PlanLayoutOfDrive(TDriveOptimizer& drive) {
  return LayoutFromPlan(drive.driveLetter, drive.volumePlan, drive.freeExtents, drive.totalClusters,
                        ClusterBytesOfDrive(drive));
}

void OptimizeDrive(TDriveOptimizer& drive) {
  if (RefuseDamagedVolume(drive, TMovesKind::kOptimize)) return;
  OptimizeLayout(drive, PlanLayoutOfDrive(drive), {});
}

void OptimizeLayout(TDriveOptimizer& drive, TMoveLayout layout, const TFileMovedCall& fileMoved,
                    TConfirmedSchedule* confirmed) {
  CarryOutLayout(drive, TMovesKind::kOptimize, std::move(layout), fileMoved, confirmed);
}

const TPipelineStages kOptimizeStages = StagesWithMoves(OptimizeDrive);
