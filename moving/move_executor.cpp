#include "moving/move_executor.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/fs_control.h"
#include "moving/defragment_schedule.h"
#include "moving/optimize_schedule.h"
#include "moving/schedule_replay.h"
#include "moving/volume_reads.h"

namespace {

// What a kind of moves changes in the one execution: how the files still to
// handle are scheduled and proven, and when a file whose steps are done lies
// as they meant it to.
struct TMoveKind {
  TMovesKind kind;
  // The schedule of layout's files on its free space, in steps of at most
  // maxStep clusters; needed: the clusters that must move at least.
  TMoveSchedule (*schedule)(const TMoveLayout& layout, int64_t maxStep, int64_t* needed);
  // Empty when the replay of schedule on layout holds it, else why not.
  std::string (*prove)(const TMoveLayout& layout, const TMoveSchedule& schedule);
  // Empty when a file lies as meant (runs as read back, place its layout's
  // place or none), else why not, in words.
  std::string (*notReached)(const std::vector<TFileRun>& runs, const std::vector<TFileRun>* place);
};

TMoveSchedule ScheduleWhole(const TMoveLayout& layout, int64_t maxStep, int64_t* needed) {
  TMoveSchedule schedule = ScheduleDefragment(layout, maxStep);
  *needed = schedule.clusters;
  return schedule;
}

std::string NotWhole(const std::vector<TFileRun>& runs, const std::vector<TFileRun>*) {
  const int64_t pieces = CountPieces(runs);
  if (pieces == 1) return std::string();
  return "it is still in " + std::to_string(pieces) + " pieces after its moves";
}

TMoveSchedule ScheduleInPlaces(const TMoveLayout& layout, int64_t maxStep, int64_t* needed) {
  TOptimizeSchedule schedule = ScheduleOptimize(layout, layout.places, maxStep);
  *needed = schedule.clustersNeeded;
  return std::move(schedule.moves);
}

std::string ProveInPlaces(const TMoveLayout& layout, const TMoveSchedule& schedule) {
  return ReplayOptimize(layout, layout.places, schedule);
}

std::string NotInPlace(const std::vector<TFileRun>& runs, const std::vector<TFileRun>* place) {
  if (place != nullptr && JoinedAllocatedRuns(runs) == JoinedAllocatedRuns(*place))
    return std::string();
  return "it does not lie at its place after its moves";
}

const TMoveKind kDefragmentKind = {TMovesKind::kDefragment, ScheduleWhole, ReplaySchedule,
                                   NotWhole};
const TMoveKind kOptimizeKind = {TMovesKind::kOptimize, ScheduleInPlaces, ProveInPlaces,
                                 NotInPlace};

// Whether a step takes its clusters to where the place puts them (else it
// parks them out of the way).
bool LandsInPlace(const std::vector<TFileRun>& place, const TMoveStep& step) {
  for (const TFileRun& run : place) {
    if (step.vcn < run.vcn || step.vcn >= run.vcn + run.length) continue;
    return step.vcn + step.clusters <= run.vcn + run.length &&
           step.targetLcn == run.lcn + (step.vcn - run.vcn);
  }
  return false;
}

// One run of moves on an open volume.
class TExecution {
 public:
  TExecution(const TMoveKind& kind, TSystemServices& services, TMoveLayout& layout, THandle volume,
             TMoveJournal* journal, TMoveProgress& progress,
             const std::function<void(const std::string&)>& showFile,
             const TFileMovedCall& fileMoved, TConfirmedSchedule* confirmed, TMovesDone& done)
      : kind_(kind),
        services_(services),
        layout_(layout),
        volume_(volume),
        journal_(journal),
        progress_(progress),
        showFile_(showFile),
        fileMoved_(fileMoved),
        confirmed_(confirmed),
        done_(done),
        state_(layout.files.size(), TFileState::kToDo),
        reasons_(layout.files.size()),
        metAlready_(layout.files.size(), 0) {}

  // Schedules the files not yet done with on the free space as it is now
  // and carries the schedule out, again after each surprise, until every
  // file is moved or left; then names the files left, in the order met.
  void Run();

 private:
  // Where a file stands.
  enum class TFileState : char {
    kToDo,     // to move, or lies as meant without a step
    kLeft,     // the last schedule leaves it; a later one may still move it
    kRefused,  // a move of it failed, or it cannot be moved: never scheduled again
    kDone,     // lies as meant
  };

  // The rounds of scheduling and moving; Run names the files left after.
  void RunRounds();
  // The files not done with, for a schedule anew on the free space of now,
  // with their places; rest's file i is the layout's original[i]. A file
  // refused is among them as one that may not move, so that its clusters
  // are known as a file's that stays, and a file left may still be moved
  // out of another's place or reach its own.
  void FilesNotDone(TMoveLayout* rest, std::vector<size_t>* original) const;
  // Reads the free space as it is now into the layout; false, with the
  // failure said, when it cannot be read.
  bool ReadFreeSpace();
  // The schedule of planned's files, made on its free space, or the one
  // confirmed when that still holds: planned is the layout the question
  // saw, with the free space it was made on.
  TMoveSchedule Schedule(const TMoveLayout& planned, bool confirmedHolds, int64_t* needed);
  // Carries out steps of one file that follow one another in the schedule,
  // from the runs its earlier steps left; last: no later step of the
  // schedule moves it, so it is done with. False when the file was not
  // moved as scheduled (it is left, with the reason), so that the clusters
  // the schedule counted on it releasing are not free: what is left must be
  // scheduled anew.
  bool MoveFile(size_t file, const std::vector<TMoveStep>& steps, bool last);
  // The schedule leaves the file as it is, for reason; a file refused
  // keeps its own reason.
  void Leave(size_t file, const std::string& reason);
  // The file is not moved again: reason says why.
  void Refuse(size_t file, const std::string& reason);
  // Notes a file left or refused, once.
  void Meet(size_t file);
  // Refuses every file not done with yet, for reason.
  void LeaveUnreached(const std::string& reason);
  // Records the first failure of a step.
  void StepFailed(const std::string& reason);

  const TMoveKind& kind_;
  TSystemServices& services_;
  TMoveLayout& layout_;
  const THandle volume_;
  TMoveJournal* const journal_;
  TMoveProgress& progress_;
  const std::function<void(const std::string&)>& showFile_;
  const TFileMovedCall& fileMoved_;
  TConfirmedSchedule* const confirmed_;  // not owned; may be null
  TMovesDone& done_;
  // By layout index: where each file stands, and why it is left or refused.
  std::vector<TFileState> state_;
  std::vector<std::string> reasons_;
  // Files left or refused, each once, in the order first met; metAlready_
  // by layout index.
  std::vector<size_t> met_;
  std::vector<char> metAlready_;
  int64_t notSupported_ = 0;  // moves the file system refused as not supported
  std::string lastRefusal_;   // its words for the last of them
};

// Refusals as not supported, with nothing moved yet, after which the file
// system is taken to move nothing at all (as under Wine).
constexpr int64_t kRefusalsBeforeGivingUp = 3;

bool TExecution::ReadFreeSpace() {
  int64_t totalClusters = 0;
  if (!ReadFreeExtents(services_, volume_, &layout_.freeExtents, &totalClusters)) {
    done_.failure = "the free space could not be read: " + services_.LastErrorText();
    return false;
  }
  layout_.totalClusters = totalClusters;
  return true;
}

void TExecution::Meet(size_t file) {
  if (metAlready_[file] != 0) return;
  metAlready_[file] = 1;
  met_.push_back(file);
}

void TExecution::Leave(size_t file, const std::string& reason) {
  if (state_[file] == TFileState::kRefused) return;
  Meet(file);
  state_[file] = TFileState::kLeft;
  reasons_[file] = reason;
}

void TExecution::Refuse(size_t file, const std::string& reason) {
  Meet(file);
  state_[file] = TFileState::kRefused;
  reasons_[file] = reason;
}

void TExecution::FilesNotDone(TMoveLayout* rest, std::vector<size_t>* original) const {
  rest->driveLetter = layout_.driveLetter;
  rest->totalClusters = layout_.totalClusters;
  rest->clusterBytes = layout_.clusterBytes;
  rest->freeExtents = layout_.freeExtents;
  for (size_t i = 0; i < layout_.files.size(); ++i) {
    if (state_[i] == TFileState::kDone) continue;
    rest->files.push_back(layout_.files[i]);
    // The words never show: a file refused keeps its own reason.
    if (state_[i] == TFileState::kRefused) rest->files.back().notMovable = "refused before";
    if (!layout_.places.empty()) rest->places.push_back(layout_.places[i]);
    original->push_back(i);
  }
}

void TExecution::StepFailed(const std::string& reason) {
  if (done_.failure.empty()) done_.failure = reason;
}

void TExecution::Run() {
  RunRounds();
  for (const size_t i : met_) {
    if (state_[i] == TFileState::kLeft || state_[i] == TFileState::kRefused) {
      done_.left.push_back(TFileLeft{layout_.files[i].listingPath, reasons_[i]});
    }
  }
}

TMoveSchedule TExecution::Schedule(const TMoveLayout& planned, bool confirmedHolds,
                                   int64_t* needed) {
  if (confirmedHolds) {
    *needed = confirmed_->clustersNeeded;
    return std::move(confirmed_->moves);
  }
  return kind_.schedule(planned, StepClustersFor(planned.clusterBytes), needed);
}

void TExecution::RunRounds() {
  bool first = true;
  while (!progress_.Stopped()) {
    // The free space the question's schedule was made on.
    const bool asked = first && confirmed_ != nullptr;
    const std::vector<TClusterExtent> analysedFree =
        asked ? layout_.freeExtents : std::vector<TClusterExtent>();
    const int64_t analysedClusters = layout_.totalClusters;
    if (!ReadFreeSpace()) return;
    const bool confirmedHolds =
        asked && analysedClusters == layout_.totalClusters && analysedFree == layout_.freeExtents;
    // The files still to handle, scheduled on the free space of now: the
    // layout itself in the first round, then the files not done with.
    TMoveLayout rest;
    std::vector<size_t> original;  // rest's files -> the layout's; empty: the same
    if (!first) FilesNotDone(&rest, &original);
    const TMoveLayout& planned = first ? layout_ : rest;
    const auto inLayout = [&original](size_t file) {
      return original.empty() ? file : original[file];
    };
    int64_t needed = 0;
    const TMoveSchedule schedule = Schedule(planned, confirmedHolds, &needed);
    const std::string proof = kind_.prove(planned, schedule);
    if (!proof.empty()) {
      done_.failure = "the moves were not carried out: their schedule does not hold: " + proof;
      return;
    }
    for (size_t i = 0; i < planned.files.size(); ++i) {
      if (state_[inLayout(i)] == TFileState::kLeft) state_[inLayout(i)] = TFileState::kToDo;
    }
    for (const TLeftFile& left : schedule.left) Leave(inLayout(left.file), left.reason);
    if (first) {
      progress_.filesTotal.store(schedule.files, std::memory_order_relaxed);
      progress_.clustersTotal.store(schedule.clusters, std::memory_order_relaxed);
      done_.clustersNeeded = needed;
      first = false;
    } else {
      // Files left before may reach their places now: the total grows by
      // them, so the count done never passes it.
      const int64_t total = progress_.filesDone.load(std::memory_order_relaxed) + schedule.files;
      if (total > progress_.filesTotal.load(std::memory_order_relaxed)) {
        progress_.filesTotal.store(total, std::memory_order_relaxed);
      }
    }
    // Each file's last step: its moves end there. A file with none that the
    // schedule does not leave lies as meant already.
    std::vector<size_t> lastStep(planned.files.size(), SIZE_MAX);
    for (size_t n = 0; n < schedule.steps.size(); ++n) lastStep[schedule.steps[n].file] = n;
    for (size_t i = 0; i < planned.files.size(); ++i) {
      if (lastStep[i] == SIZE_MAX && state_[inLayout(i)] == TFileState::kToDo) {
        state_[inLayout(i)] = TFileState::kDone;
      }
    }
    bool surprised = false;
    for (size_t at = 0; at < schedule.steps.size() && !surprised;) {
      // The steps of one file that follow one another.
      const size_t file = schedule.steps[at].file;
      size_t end = at;
      std::vector<TMoveStep> steps;
      while (end < schedule.steps.size() && schedule.steps[end].file == file) {
        TMoveStep step = schedule.steps[end++];
        step.file = inLayout(step.file);
        steps.push_back(step);
      }
      if (!progress_.WaitToGoOn()) {
        done_.stopped = true;
        LeaveUnreached("the moves were stopped before it");
        return;
      }
      surprised = !MoveFile(inLayout(file), steps, end - 1 == lastStep[file]);
      at = end;
      if (done_.stepsDone == 0 && notSupported_ >= kRefusalsBeforeGivingUp) {
        done_.failure = "the file system moves no data here: " + lastRefusal_;
        LeaveUnreached("not tried: the file system moves no data here");
        return;
      }
    }
    if (!surprised) return;
  }
  done_.stopped = true;
  LeaveUnreached("the moves were stopped before it");
}

void TExecution::LeaveUnreached(const std::string& reason) {
  for (size_t i = 0; i < layout_.files.size(); ++i) {
    if (state_[i] == TFileState::kToDo) Refuse(i, reason);
  }
}

bool TExecution::MoveFile(size_t index, const std::vector<TMoveStep>& steps, bool last) {
  const TMovableFile& file = layout_.files[index];
  const std::vector<TFileRun>* place = layout_.places.empty() ? nullptr : &layout_.places[index];
  const std::string path = MovePath(layout_.driveLetter, file);
  if (showFile_) showFile_(path);
  const bool folder = file.stream == TMoveStream::kFolderIndex;
  THandle handle = services_.OpenFileForMoves(volume_, path.c_str(), folder);
  if (handle == InvalidHandle()) {
    // The clusters the schedule gave the next files after this one stay
    // taken: what is left is scheduled anew.
    Refuse(index, "it could not be opened: " + services_.LastErrorText());
    return false;
  }
  TFileIdentity identity{};
  std::vector<TFileRun> runs;
  bool ok = true;
  int64_t stepsDone = 0;  // steps of this file that moved its clusters
  if (file.fileId != 0 && services_.FileIdentity(handle, &identity) &&
      identity.file != file.fileId) {
    Refuse(index, "another file has taken its name since the analysis");
    ok = false;
  } else if (!ReadStreamRuns(services_, handle, &runs)) {
    Refuse(index, "its runs could not be read: " + services_.LastErrorText());
    ok = false;
  } else if (AllocatedClusters(runs) != AllocatedClusters(file.runs) ||
             CountPieces(runs) != CountPieces(file.runs)) {
    // file.runs: as the analysis read them, or as its earlier steps left
    // them.
    Refuse(index, "it changed since the analysis");
    ok = false;
  }
  for (size_t n = 0; ok && n < steps.size(); ++n) {
    const TMoveStep& step = steps[n];
    // A pause holds between steps; a stop ends the file where it is, whole
    // in its data, in more pieces than planned.
    if (n > 0 && !progress_.WaitToGoOn()) {
      Refuse(index, "the moves were stopped");
      break;
    }
    std::vector<TFileRun> expected;
    std::vector<TFileRun> from;
    if (!MoveRuns(runs, step.vcn, step.clusters, step.targetLcn, &expected, &from)) {
      Refuse(index, "it changed since the analysis");
      ok = false;
      break;
    }
    TMoveFileData request{handle, step.vcn, step.targetLcn, static_cast<uint32_t>(step.clusters)};
    uintptr_t replyBytes = 0;
    const TNtStatus status = IssueFsControl(services_, volume_, kFsctlMoveFile, &request,
                                            sizeof(request), nullptr, 0, &replyBytes);
    std::string failure;
    if (status == kStatusNotSupported) {
      // The file system will not move this stream (compressed, encrypted,
      // one of its own files) or moves nothing at all: the file stays as it
      // is, and the free space is as it was.
      const std::string reason = services_.LastErrorText();
      if (journal_ != nullptr) journal_->Step(file, step, from, "not moved: " + reason);
      Refuse(index, reason);
      ++notSupported_;
      lastRefusal_ = reason;
      ok = false;
      break;
    }
    if (status != kStatusSuccess) {
      failure = services_.LastErrorText();
    } else if (!ReadStreamRuns(services_, handle, &runs)) {
      failure = "its runs could not be read back: " + services_.LastErrorText();
    } else if (!MoveRuns(runs, step.vcn, step.clusters, step.targetLcn, &expected) ||
               expected != runs) {
      // Moving a range onto itself leaves the runs as they are: the read
      // back runs hold the range at the target exactly when so.
      failure = "its runs read back do not lie at the target";
    }
    if (journal_ != nullptr)
      journal_->Step(file, step, from, failure.empty() ? "moved" : "failed: " + failure);
    if (!failure.empty()) {
      Refuse(index, failure);
      StepFailed("moving " + file.listingPath + " failed: " + failure);
      ok = false;
      break;
    }
    ++stepsDone;
    ++done_.stepsDone;
    done_.clustersMoved += step.clusters;
    if (place != nullptr && !LandsInPlace(*place, step)) done_.clustersParked += step.clusters;
    progress_.clustersDone.fetch_add(step.clusters, std::memory_order_relaxed);
  }
  services_.Close(handle);
  if (stepsDone > 0 && fileMoved_) fileMoved_(file, runs);
  if (!ok) return false;
  // A later step of the file starts from here: also for a file the
  // schedule left, which may be moved out of the way more than once.
  layout_.files[index].runs = runs;
  // Left (moved out of the way only), or stopped midway.
  if (state_[index] != TFileState::kToDo || !last) return true;
  const std::string notReached = kind_.notReached(runs, place);
  if (!notReached.empty()) {
    Refuse(index, notReached);
    return true;
  }
  state_[index] = TFileState::kDone;
  ++done_.filesMoved;
  progress_.filesDone.fetch_add(1, std::memory_order_relaxed);
  return true;
}

// Opens the volume for moves and carries out the moves of kind there.
TMovesDone CarryOut(const TMoveKind& kind, TSystemServices& services, TMoveLayout layout,
                    TMoveJournal* journal, TMoveProgress& progress,
                    const std::function<void(const std::string&)>& showFile,
                    const TFileMovedCall& fileMoved, TConfirmedSchedule* confirmed) {
  TMovesDone done;
  done.kind = kind.kind;
  done.asked = true;
  THandle volume = services.OpenVolumeForMoves(layout.driveLetter);
  if (volume == InvalidHandle()) {
    done.failure = "the volume could not be opened for moves: " + services.LastErrorText();
    return done;
  }
  done.started = true;
  progress.clusterBytes.store(layout.clusterBytes, std::memory_order_relaxed);
  progress.active.store(true, std::memory_order_relaxed);
  TExecution(kind, services, layout, volume, journal, progress, showFile, fileMoved, confirmed,
             done)
      .Run();
  progress.active.store(false, std::memory_order_relaxed);
  services.Close(volume);
  return done;
}

}  // namespace

TMovesDone CarryOutDefragment(TSystemServices& services, TMoveLayout layout, TMoveJournal* journal,
                              TMoveProgress& progress,
                              const std::function<void(const std::string&)>& showFile,
                              const TFileMovedCall& fileMoved, TConfirmedSchedule* confirmed) {
  return CarryOut(kDefragmentKind, services, std::move(layout), journal, progress, showFile,
                  fileMoved, confirmed);
}

TMovesDone CarryOutOptimize(TSystemServices& services, TMoveLayout layout, TMoveJournal* journal,
                            TMoveProgress& progress,
                            const std::function<void(const std::string&)>& showFile,
                            const TFileMovedCall& fileMoved, TConfirmedSchedule* confirmed) {
  return CarryOut(kOptimizeKind, services, std::move(layout), journal, progress, showFile,
                  fileMoved, confirmed);
}
