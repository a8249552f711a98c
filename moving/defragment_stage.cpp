#include "moving/defragment_stage.h"

#include "moving/move_executor.h"
#include "moving/move_journal.h"
#include "planning/drive_stages.h"

std::string DamageRefusal(const TDriveOptimizer& drive) {
  const size_t problems = drive.damage.Count();
  if (problems == 0) return std::string();
  return "nothing was moved: the volume contradicts itself in " + std::to_string(problems) +
         (problems == 1 ? " place" : " places") +
         " (see the export); repair it first (chkdsk /f on Windows)";
}

TMoveLayout LayoutOfDrive(TDriveOptimizer& drive) {
  char rootPath[4] = "A:\\";
  rootPath[0] = drive.driveLetter;
  TDiskGeometry geometry{};
  const uint32_t clusterBytes = drive.services.DiskFreeSpace(rootPath, &geometry)
                                    ? geometry.sectorsPerCluster * geometry.bytesPerSector
                                    : 0;
  return LayoutFromTree(drive.driveLetter, drive.root, drive.freeExtents, drive.totalClusters,
                        clusterBytes);
}

void DefragmentDrive(TDriveOptimizer& drive) {
  drive.statusText.Set("Defragmenting");
  // What the analysis found damaged, the services too: a volume that
  // contradicts itself is never written.
  drive.TakeVolumeDamage();
  const std::string refusal = DamageRefusal(drive);
  if (!refusal.empty()) {
    drive.movesDone = TMovesDone();
    drive.movesDone.asked = true;
    drive.movesDone.failure = refusal;
    drive.Fail(drive.movesDone.failure);
    return;
  }
  DefragmentLayout(drive, LayoutOfDrive(drive), {});
}

void DefragmentLayout(TDriveOptimizer& drive, TMoveLayout layout, const TFileMovedCall& fileMoved) {
  drive.movesDone = TMovesDone();
  drive.movesDone.asked = true;
  // Every step is journalled: without a journal nothing is moved.
  TMoveJournal journal(drive.services, drive.LogNames(kAppliedLogName).back());
  if (!journal.IsOpen()) {
    drive.movesDone.failure = "nothing was moved: " + journal.FailureText();
    drive.Fail(drive.movesDone.failure);
    return;
  }
  drive.movesDone = CarryOutDefragment(
      drive.services, std::move(layout), &journal, drive.moves,
      [&drive](const std::string& path) { drive.detailText.Set(path.c_str()); }, fileMoved);
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
