#include "moving/defragment_stage.h"

#include "drive/cluster_bytes.h"
#include "moving/move_executor.h"
#include "moving/move_journal.h"
#include "moving/whole_file_moves.h"
#include "planning/drive_stages.h"

std::string DamageRefusal(const TDriveOptimizer& drive) {
  const size_t problems = drive.damage.Count();
  if (problems == 0) return std::string();
  return "nothing was moved: the volume contradicts itself in " + std::to_string(problems) +
         (problems == 1 ? " place" : " places") +
         " (see the export); repair it first (chkdsk /f on Windows)";
}

TMoveLayout LayoutOfDrive(TDriveOptimizer& drive) {
  return LayoutFromTree(drive.driveLetter, drive.root, drive.freeExtents, drive.totalClusters,
                        ClusterBytesOfDrive(drive));
}

void DefragmentDrive(TDriveOptimizer& drive) {
  drive.statusText.Set("Defragmenting");
  if (RefuseDamagedVolume(drive, TMovesKind::kDefragment)) return;
  DefragmentLayout(drive, LayoutOfDrive(drive), {});
}

bool RefuseDamagedVolume(TDriveOptimizer& drive, TMovesKind kind) {
  // What the analysis found damaged, the services too: a volume that
  // contradicts itself is never written.
  drive.TakeVolumeDamage();
  const std::string refusal = DamageRefusal(drive);
  if (refusal.empty()) return false;
  drive.movesDone = TMovesDone();
  drive.movesDone.kind = kind;
  drive.movesDone.asked = true;
  drive.movesDone.failure = refusal;
  drive.Fail(drive.movesDone.failure);
  return true;
}

void DefragmentLayout(TDriveOptimizer& drive, TMoveLayout layout, const TFileMovedCall& fileMoved,
                      TConfirmedSchedule* confirmed) {
  CarryOutLayout(drive, TMovesKind::kDefragment, std::move(layout), fileMoved, confirmed);
}

void CarryOutLayout(TDriveOptimizer& drive, TMovesKind kind, TMoveLayout layout,
                    const TFileMovedCall& fileMoved, TConfirmedSchedule* confirmed) {
  drive.movesDone = TMovesDone();
  drive.movesDone.kind = kind;
  drive.movesDone.asked = true;
  // Every step is journalled: without a journal nothing is moved.
  TMoveJournal journal(drive.services, drive.LogNames(kAppliedLogName).back());
  if (!journal.IsOpen()) {
    drive.movesDone.failure = "nothing was moved: " + journal.FailureText();
    drive.Fail(drive.movesDone.failure);
    return;
  }
  const auto showFile = [&drive](const std::string& path) { drive.detailText.Set(path.c_str()); };
  const int64_t fragmentedBefore = drive.summary.fragmentedFiles;
  if (kind == TMovesKind::kOptimize) {
    drive.movesDone = CarryOutOptimize(drive.services, std::move(layout), &journal, drive.moves,
                                       showFile, fileMoved, confirmed);
  } else if (MovesWholeFiles(drive.services, drive.driveLetter)) {
    // A Linux folder: its file system places the data, so files are made
    // whole by its own operation rather than moved to chosen clusters.
    drive.movesDone = CarryOutWholeFiles(drive.services, std::move(layout), drive.wholeFileOptions,
                                         &journal, drive.moves, showFile, fileMoved);
  } else {
    drive.movesDone = CarryOutDefragment(drive.services, std::move(layout), &journal, drive.moves,
                                         showFile, fileMoved, confirmed);
  }
  drive.movesDone.fragmentedBefore = fragmentedBefore;
  // Nothing moved: the drive is not analysed anew, and lies as before.
  if (drive.movesDone.stepsDone == 0) drive.movesDone.fragmentedAfter = fragmentedBefore;
  const std::string unjournalled = journal.Close();
  if (drive.movesDone.failure.empty() && !unjournalled.empty()) {
    drive.movesDone.failure = unjournalled;
  }
  if (!drive.movesDone.failure.empty()) drive.Fail(drive.movesDone.failure);
}

const TPipelineStages kDefragmentStages = StagesWithMoves(DefragmentDrive);
