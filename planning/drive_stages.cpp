#include "planning/drive_stages.h"

namespace {

void CreateMemoryTreeStage(TDriveOptimizer& drive) { drive.CreateMemoryTree(); }
void MapFreeSpaceStage(TDriveOptimizer& drive) { drive.MapFreeSpace(); }
void FillMemoryTreeStage(TDriveOptimizer& drive) { drive.FillMemoryTree(); }
void OptimizeTreeStage(TDriveOptimizer& drive) { drive.OptimizeTree(); }

}  // namespace

const TPipelineStages kDriveStages = {CreateMemoryTreeStage, MapFreeSpaceStage, FillMemoryTreeStage,
                                      OptimizeTreeStage, nullptr};

TPipelineStages StagesWithMoves(void (*applyMoves)(TDriveOptimizer&)) {
  return TPipelineStages{CreateMemoryTreeStage, MapFreeSpaceStage, FillMemoryTreeStage,
                         OptimizeTreeStage, applyMoves};
}
