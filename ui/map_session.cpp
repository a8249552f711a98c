#include "ui/map_session.h"

#include <cstring>

#include "drive/drive_optimizer.h"
#include "planning/drive_export.h"
#include "planning/fragment_pieces.h"
#include "planning/volume_summary.h"
#include "ui/cell_hover.h"
#include "ui/cluster_map.h"
#include "ui/map_legend.h"
#include "ui/readable_size.h"

TMapSession::TMapSession(TDriveOptimizer& optimizer)
    : drive(optimizer), freeSpace(optimizer.freeExtents), paths(UserPathsOf(optimizer)) {}

std::string TMapSession::PathOf(const TItem* item) const {
  return UserPath(paths, ListingPath(item), item->IsFolder());
}

bool TMapSession::PollWorkFinished() {
  if (!workFinished) workFinished = drive.statusText.Get() == "Finished";
  return workFinished;
}

bool TMapSession::SetMode(TFragmentViewLogic& logic, TMapMode mode) {
  // A drive whose optimizing stage did not run has no plan to show.
  if (mode == TMapMode::kPlanned && !logic.HasPlannedMap() && PollWorkFinished() &&
      !drive.volumePlan.items.empty()) {
    plannedMap = TPlannedMap(drive.volumePlan, logic.ClusterMap()->totalClusters);
    logic.SetPlannedMap(&plannedMap);
  }
  return logic.SetMode(mode);
}

std::string TMapSession::HoverAt(const TFragmentViewLogic& logic, int x, int y) const {
  const int cell = logic.CellAt(x, y);
  if (cell < 0) return std::string();
  if (logic.Mode() == TMapMode::kPlanned) {
    return PlannedHoverText(plannedMap, paths, logic.CellFirstCluster(cell),
                            logic.CellEndCluster(cell));
  }
  return HoverText(*logic.ClusterMap(), freeSpace, paths, logic.CellFirstCluster(cell),
                   logic.CellEndCluster(cell), workFinished);
}

bool TMapSession::Apply(TMapCommand command, TFragmentViewLogic& logic) {
  switch (command) {
    case TMapCommand::kZoomIn:
      return logic.ZoomIn();
    case TMapCommand::kZoomOut:
      return logic.ZoomOut();
    case TMapCommand::kTogglePlan:
      return SetMode(logic, logic.Mode() == TMapMode::kNow ? TMapMode::kPlanned : TMapMode::kNow);
    case TMapCommand::kClearSelection:
      if (logic.Selected() == nullptr) return false;
      logic.ClearSelection();
      return true;
    case TMapCommand::kSummary:
    case TMapCommand::kLegend:
    case TMapCommand::kExportJson:
    case TMapCommand::kSavePicture:
      break;
  }
  return false;
}

std::string TMapSession::SummaryText() const {
  if (!workFinished || drive.root == nullptr) {
    return "The summary is ready once the analysis has finished.";
  }
  std::string text = FormatSummary(drive.driveLetter, drive.summary);
  if (!movesSummary.empty()) text += "\n" + movesSummary;
  return text;
}

std::string TMapSession::LegendText(const TFragmentViewLogic& logic) {
  return LegendMessage(logic);
}

std::string SelectedItemText(const TItem* item, const std::string& path) {
  const int64_t pieces = CountPieces(item->fragments);
  return path + ", " + ReadableSize(item->size) + ", " + std::to_string(pieces) +
         (pieces == 1 ? " fragment" : " fragments");
}

std::string TMapSession::SelectionText(const TFragmentViewLogic& logic) const {
  const TItem* item = logic.Selected();
  return item != nullptr ? SelectedItemText(item, PathOf(item)) : std::string();
}

std::string TMapSession::ViewStateText(const TFragmentViewLogic& logic) {
  const int64_t clusters = logic.ClustersPerCell();
  return std::to_string(clusters) + (clusters == 1 ? " cluster" : " clusters") + " per cell, " +
         (logic.Mode() == TMapMode::kPlanned ? "volume after the plan" : "volume now");
}

std::string TMapSession::ExportJson(const std::string& folder) const {
  if (!workFinished || drive.root == nullptr) return "the analysis has not finished yet";
  const std::vector<TVolumeDamage> places = drive.damage.Places();
  const TDriveReport report{
      drive.driveLetter, drive.root, drive.freeExtents, drive.totalClusters, &drive.summary,
      &drive.volumePlan, &places};
  // A set of its own: the export goes in place at once, apart from the run's.
  TOutputSet output;
  ExportDrive(drive.services, folder, report, output);
  return output.Commit();
}
