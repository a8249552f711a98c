#include "ui/window_moves.h"

#include <memory>
#include <new>
#include <utility>

#include "model/item.h"
#include "moving/defragment_schedule.h"
#include "moving/defragment_stage.h"
#include "moving/moves_summary.h"
#include "moving/optimize_stage.h"
#include "moving/whole_file_moves.h"
#include "planning/drive_stages.h"
#include "ui/cluster_map.h"
#include "ui/progress_lines.h"

namespace {

// Replaces item's current runs with runs; false, changing nothing, when the
// pool has no fragment to give.
bool ReplaceRuns(TItem* item, const std::vector<TFileRun>& runs) {
  TFragment* first = nullptr;
  TFragment** link = &first;
  for (const TFileRun& run : runs) {
    TFragment* fragment = NewFragment(item, run.vcn, run.lcn, run.length);
    if (fragment == nullptr) {
      ReleaseFragments(first);
      return false;
    }
    *link = fragment;
    link = &fragment->next;
  }
  ReleaseFragments(item->fragments);
  item->fragments = first;
  item->fragmentCount = static_cast<int32_t>(runs.size());
  return true;
}

// The summary's lines below its heading, apart from the files left one by
// one (the summary box names them), joined by "; " without their padding.
std::string SummaryLineOf(const std::string& summary, TMovesKind kind) {
  std::string line;
  for (size_t at = summary.find('\n'); at != std::string::npos && at + 1 < summary.size();) {
    const size_t end = summary.find('\n', at + 1);
    std::string part = summary.substr(at + 1, end - at - 1);
    at = end;
    if (part.compare(0, 4, "    ") == 0) continue;
    part.erase(0, part.find_first_not_of(' '));
    for (size_t gap = part.find("  "); gap != std::string::npos; gap = part.find("  "))
      part.erase(gap, 1);
    line += (line.empty() ? "" : "; ") + part;
  }
  return (kind == TMovesKind::kOptimize ? "Optimized: " : "Defragmented: ") + line;
}

// The question for moves of kind on drive as analysed now, with the
// layout it shows and the schedule it was made from (none for a drive whose
// files are made whole by its file system).
TDefragmentConfirmation WorkOut(TDriveOptimizer& drive, bool wholeFiles, TMovesKind kind,
                                TMoveLayout* layout, std::optional<TConfirmedSchedule>* confirmed) {
  confirmed->reset();
  if (wholeFiles) {
    *layout = LayoutOfDrive(drive);
    if (kind == TMovesKind::kDefragment)
      return WholeFileConfirmation(*layout, DamageRefusal(drive));
    return OptimizeConfirmation(*layout, TOptimizeSchedule(), kWholeFileOptimizeRefusal);
  }
  if (kind == TMovesKind::kOptimize) {
    *layout = PlanLayoutOfDrive(drive);
    TOptimizeSchedule schedule =
        ScheduleOptimize(*layout, layout->places, StepClustersFor(layout->clusterBytes));
    TDefragmentConfirmation question =
        OptimizeConfirmation(*layout, schedule, DamageRefusal(drive));
    *confirmed = TConfirmedSchedule{std::move(schedule.moves), schedule.clustersNeeded};
    return question;
  }
  *layout = LayoutOfDrive(drive);
  TMoveSchedule schedule = ScheduleDefragment(*layout, StepClustersFor(layout->clusterBytes));
  TDefragmentConfirmation question =
      DefragmentConfirmation(*layout, schedule, DamageRefusal(drive));
  const int64_t clusters = schedule.clusters;
  *confirmed = TConfirmedSchedule{std::move(schedule), clusters};
  return question;
}

}  // namespace

TWindowMoves::TWindowMoves(TDriveOptimizer& optimizer)
    : drive(optimizer), wholeFiles(MovesWholeFiles(optimizer.services, optimizer.driveLetter)) {}

bool TWindowMoves::CanDefragment() const {
  // "Finished" first: the worker publishes it after its last write of the
  // tree, so the tree is read only once the text's lock has ordered them.
  return state == TState::kIdle && drive.statusText.Get() == "Finished" && drive.root != nullptr &&
         drive.FailureReason().empty() && !drive.StopRequested();
}

TDefragmentConfirmation TWindowMoves::Confirm(TMovesKind asked) {
  kind = asked;
  return WorkOut(drive, wholeFiles, asked, &layout, &confirmed);
}

bool TWindowMoves::Ask(TMovesKind asked) {
  if (!CanDefragment()) return false;
  kind = asked;
  state = TState::kAsking;
  drive.detailText.Set(asked == TMovesKind::kOptimize ? kWorkingOutLayoutText : kWorkingOutText);
  auto worked = std::make_shared<TWorkedOut>();
  workedOut = worked;
  const bool whole = wholeFiles;
  const bool started = drive.StartWorker([worked, whole, asked](TDriveOptimizer& worker) {
    try {
      worked->question = WorkOut(worker, whole, asked, &worked->layout, &worked->confirmed);
    } catch (const std::bad_alloc&) {
      worked->confirmed.reset();
      worked->question = TDefragmentConfirmation{kQuestionOutOfMemoryText, false};
    }
  });
  if (!started) {
    state = TState::kIdle;
    workedOut.reset();
    drive.detailText.Set("Finished");
  }
  return started;
}

bool TWindowMoves::Start() {
  drive.moves.Restart();
  drive.moves.movedFiles.Take();
  const bool optimize = kind == TMovesKind::kOptimize;
  drive.statusText.Set(optimize ? "Applying optimized tree" : "Defragmenting");
  drive.detailText.Set("");
  // The worker gets its own copy of the layout: it never reads the tree,
  // which this thread changes as the files move.
  const bool started = drive.StartWorker(
      [moves = layout, schedule = std::move(confirmed), optimize](TDriveOptimizer& worker) mutable {
        const TFileMovedCall told = [&worker](const TMovableFile& file,
                                              const std::vector<TFileRun>& runs) {
          worker.moves.movedFiles.Add(TFileMoved{file.listingPath, runs});
        };
        TConfirmedSchedule* const made = schedule ? &*schedule : nullptr;
        if (optimize) {
          OptimizeLayout(worker, moves, told, made);
        } else {
          DefragmentLayout(worker, moves, told, made);
        }
      });
  confirmed.reset();
  if (started) {
    state = TState::kMoving;
  } else {
    drive.statusText.Set("Finished");
    drive.detailText.Set("Finished");
  }
  return started;
}

bool TWindowMoves::ApplyMovedFiles() {
  bool changed = false;
  for (const TFileMoved& moved : drive.moves.movedFiles.Take()) {
    TItem* item =
        moved.listingPath.empty() ? drive.root : ItemAtListingPath(drive.root, moved.listingPath);
    if (item != nullptr && ReplaceRuns(item, moved.runs)) changed = true;
  }
  // The map's chain runs through the fragments just released: it is built
  // again before anything draws.
  if (changed && drive.clusterMap != nullptr) {
    drive.clusterMap->Init(drive.root, false);
    drive.clusterMap->Build(drive.services);
  }
  return changed;
}

std::string TWindowMoves::StatusLine(const std::string& detail, double secondsMoving) const {
  if (!Moving()) {
    // After moves and the analysis anew: what the moves did.
    const bool analysedAnew = detail == "Finished" && CanDefragment();
    return analysedAnew && !summaryLine.empty() ? summaryLine : detail;
  }
  const TMoveProgress& moves = drive.moves;
  const TMovesFigures figures{moves.filesDone.load(std::memory_order_relaxed),
                              moves.filesTotal.load(std::memory_order_relaxed),
                              moves.clustersDone.load(std::memory_order_relaxed),
                              moves.clustersTotal.load(std::memory_order_relaxed),
                              moves.clusterBytes.load(std::memory_order_relaxed)};
  std::string text = MovesProgressText(figures, secondsMoving);
  if (moves.Paused()) text = "Paused: " + text;
  return detail.empty() ? text : detail + "  (" + text + ")";
}

TWindowMoves::TEnd TWindowMoves::WorkerEnded() {
  if (state == TState::kAsking) {
    state = TState::kIdle;
    layout = std::move(workedOut->layout);
    confirmed = std::move(workedOut->confirmed);
    question = std::move(workedOut->question);
    workedOut.reset();
    drive.detailText.Set("Finished");
    return TEnd::kQuestionReady;
  }
  if (state == TState::kMoving) {
    summary = FormatMovesSummary(drive.driveLetter, drive.movesDone);
    summaryLine = SummaryLineOf(summary, kind);
    return TEnd::kMovesEnded;
  }
  state = TState::kIdle;
  return TEnd::kAnalysisEnded;
}

bool TWindowMoves::Reanalyse() {
  drive.ForgetAnalysis();
  // The analysis alone: the moves are the user's to ask for again.
  const bool started =
      drive.StartWorker([](TDriveOptimizer& worker) { worker.RunPipeline(kDriveStages); });
  state = started ? TState::kAnalysing : TState::kIdle;
  if (!started) {
    drive.Fail("the drive could not be analysed again after the moves: no thread could be started");
    drive.statusText.Set("Finished");
    drive.detailText.Set(drive.FailureReason().c_str());
  }
  return started;
}
