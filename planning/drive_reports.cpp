// The reports beside the described logs, made at the end of the optimizing
// stage: the volume-aware plan, its moves log, the summary and the export.
// They publish no stage text: the window shows the described ones.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "drive/cluster_bytes.h"
#include "drive/drive_optimizer.h"
#include "drive/user_paths.h"
#include "planning/drive_export.h"
#include "planning/mft_layout.h"
#include "planning/moves_log.h"

void TDriveOptimizer::WriteReports(TOutputSet& reports) {
  if (root == nullptr) return;
  volumePlan = PlanVolume(root, freeExtents, totalClusters);
  // Between the reports, as the listing beside them stops between items.
  if (HoldOrStop()) return;
  for (const std::string& name : LogNames(kMovesLogName)) {
    TLogFile log(services, name.c_str(), reports);
    if (log.IsOpen()) WriteMovesLog(log, root, volumePlan);
  }
  if (HoldOrStop()) return;
  summary = SummarizeVolume(root, freeExtents, totalClusters, volumePlan.totals, &volumePlan.items);
  // Damage found so far: the stages that read the volume have ended.
  const std::vector<TVolumeDamage> places = damage.Places();
  summary.damage = static_cast<int64_t>(places.size());
  summary.clustersHeldByNoFile = clustersHeldByNoFile;
  summary.clusterBytes = ClusterBytesOfDrive(*this);
  const TMftLayout mft = MftLayoutOfDrive(*this);
  summary.mftBytes = mft.bytes;
  summary.mftFragments = mft.fragments;
  summary.analysed = AnalysedLine(services.DriveOrigin(driveLetter));
  if (exportFolder.empty()) return;
  const TDriveReport report{driveLetter, root,        freeExtents, totalClusters,
                            &summary,    &volumePlan, &places};
  if (exportFolder != kExportToStandardOutput) {
    ExportDrive(services, exportFolder, report, reports);
    return;
  }
  // A pipe takes the export as it is written: there is no old one to keep.
  int error = WriteDriveExport(stdout, report, services);
  if (error == 0 && std::fflush(stdout) != 0) error = errno;
  if (error != 0) reports.AddFailure("the export to standard output", std::strerror(error));
}
