#include "moving/defragment_stage.h"

#include "moving/move_executor.h"
#include "moving/move_journal.h"
#include "planning/drive_stages.h"

void DefragmentDrive(TDriveOptimizer& drive) {
  drive.statusText.Set("Defragmenting");
  drive.movesDone = TMovesDone();
  drive.movesDone.asked = true;
  // What the analysis found damaged, the services too: a volume that
  // contradicts itself is never written.
  drive.TakeVolumeDamage();
  const size_t problems = drive.damage.Count();
  if (problems > 0) {
    drive.movesDone.failure = "nothing was moved: the volume contradicts itself in " +
                              std::to_string(problems) + (problems == 1 ? " place" : " places") +
                              " (see the export); repair it first (chkdsk /f on Windows)";
    drive.Fail(drive.movesDone.failure);
    return;
  }
  char rootPath[4] = "A:\\";
  rootPath[0] = drive.driveLetter;
  TDiskGeometry geometry{};
  const uint32_t clusterBytes = drive.services.DiskFreeSpace(rootPath, &geometry)
                                    ? geometry.sectorsPerCluster * geometry.bytesPerSector
                                    : 0;
  TMoveLayout layout = LayoutFromTree(drive.driveLetter, drive.root, drive.freeExtents,
                                      drive.totalClusters, clusterBytes);
  // Every step is journalled: without a journal nothing is moved.
  TMoveJournal journal(drive.services, drive.LogNames(kAppliedLogName).back());
  if (!journal.IsOpen()) {
    drive.movesDone.failure = "nothing was moved: " + journal.FailureText();
    drive.Fail(drive.movesDone.failure);
    return;
  }
  drive.movesDone =
      CarryOutDefragment(drive.services, std::move(layout), &journal, drive.moves,
                         [&drive](const std::string& path) { drive.detailText.Set(path.c_str()); });
  const std::string unjournalled = journal.Close();
  if (drive.movesDone.failure.empty() && !unjournalled.empty()) {
    drive.movesDone.failure = unjournalled;
  }
  if (!drive.movesDone.failure.empty()) drive.Fail(drive.movesDone.failure);
}

namespace {

void CreateMemoryTreeStage(TDriveOptimizer& drive) { kDriveStages.createMemoryTree(drive); }
void MapFreeSpaceStage(TDriveOptimizer& drive) { kDriveStages.mapFreeSpace(drive); }
void FillMemoryTreeStage(TDriveOptimizer& drive) { kDriveStages.fillMemoryTree(drive); }
void OptimizeTreeStage(TDriveOptimizer& drive) { kDriveStages.optimizeTree(drive); }

}  // namespace

const TPipelineStages kDefragmentStages = {CreateMemoryTreeStage, MapFreeSpaceStage,
                                           FillMemoryTreeStage, OptimizeTreeStage, DefragmentDrive};
