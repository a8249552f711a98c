#include "moving/schedule_replay.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "moving/paged_free_space.h"
#include "moving/prefetch.h"

namespace {

// Appends a run, merged into the last one where it continues it.
void Append(std::vector<TFileRun>* runs, int64_t vcn, int64_t lcn, int64_t length) {
  if (length <= 0) return;
  if (!runs->empty()) {
    TFileRun& last = runs->back();
    const bool continues = last.lcn < 0 ? lcn < 0 : lcn == last.lcn + last.length;
    if (last.vcn + last.length == vcn && continues) {
      last.length += length;
      return;
    }
  }
  runs->push_back(TFileRun{vcn, lcn < 0 ? kLcnNoClusters : lcn, length});
}

}  // namespace

bool MoveRuns(const std::vector<TFileRun>& runs, int64_t vcn, int64_t clusters, int64_t targetLcn,
              std::vector<TFileRun>* moved, std::vector<TFileRun>* from) {
  return MoveRuns(runs.data(), runs.size(), vcn, clusters, targetLcn, moved, from);
}

bool MoveRuns(const TFileRun* runs, size_t count, int64_t vcn, int64_t clusters, int64_t targetLcn,
              std::vector<TFileRun>* moved, std::vector<TFileRun>* from) {
  const int64_t end = vcn + clusters;
  if (clusters <= 0) return false;
  moved->clear();
  int64_t covered = 0;  // clusters of [vcn, end) found allocated
  for (const TFileRun* run = runs; run != runs + count; ++run) {
    const int64_t runEnd = run->vcn + run->length;
    // The part before the range, the part inside it, the part after it.
    const int64_t cutStart = std::max(run->vcn, vcn);
    const int64_t cutEnd = std::min(runEnd, end);
    if (cutStart >= cutEnd) {
      Append(moved, run->vcn, run->lcn, run->length);
      continue;
    }
    if (run->lcn < 0) return false;
    Append(moved, run->vcn, run->lcn, cutStart - run->vcn);
    Append(moved, cutStart, targetLcn + (cutStart - vcn), cutEnd - cutStart);
    if (from != nullptr)
      from->push_back(TFileRun{cutStart, run->lcn + (cutStart - run->vcn), cutEnd - cutStart});
    Append(moved, cutEnd, run->lcn + (cutEnd - run->vcn), runEnd - cutEnd);
    covered += cutEnd - cutStart;
  }
  return covered == clusters;
}

namespace {

// The runs of the files the steps moved, one list for all: a file's are
// from where[file].first, where[file].second of them; a file no step has
// moved has the layout's (where[file].first is kUnmoved). The steps of one
// file mostly follow one another, so its runs are mostly the last in the
// list and are written over in place.
struct TPlayedRuns {
  static constexpr size_t kUnmoved = SIZE_MAX;
  std::vector<TFileRun> movedRuns;
  std::vector<std::pair<size_t, size_t>> where;

  bool Moved(size_t file) const { return where[file].first != kUnmoved; }
  // A moved file's runs after the steps, into runs.
  void RunsOf(size_t file, std::vector<TFileRun>* runs) const {
    const auto first = movedRuns.begin() + static_cast<std::ptrdiff_t>(where[file].first);
    runs->assign(first, first + static_cast<std::ptrdiff_t>(where[file].second));
  }
};

// Plays every step in order on the layout in memory, as the file system
// would carry them out; the runs they leave go to played. Empty when every
// step was legal; else what was not, naming the step (from 1) and its file.
std::string PlaySteps(const TMoveLayout& layout, const TMoveSchedule& schedule,
                      TPlayedRuns* played) {
  TPagedFreeSpace free(layout.freeExtents, layout.totalClusters);
  constexpr size_t kUnmoved = TPlayedRuns::kUnmoved;
  std::vector<TFileRun>& movedRuns = played->movedRuns;
  std::vector<std::pair<size_t, size_t>>& where = played->where;
  where.assign(layout.files.size(), {kUnmoved, 0});
  // About one run each a file moved ends in, written once: no copying as
  // the list grows.
  movedRuns.reserve(schedule.steps.size());
  std::vector<TFileRun> moved;  // reused from step to step
  std::vector<TFileRun> from;
  // The steps jump about the layout and the volume (largest files first):
  // what the steps some way ahead will read is fetched early, so that those
  // reads overlap with the work of the steps at hand.
  constexpr size_t kStepsAhead = 16;
  const std::vector<TMoveStep>& steps = schedule.steps;
  for (size_t n = 0; n < steps.size(); ++n) {
    if (n + kStepsAhead < steps.size()) {
      const TMoveStep& ahead = steps[n + kStepsAhead];
      free.PrefetchPage(ahead.targetLcn);
      if (ahead.file < layout.files.size()) {
        PrefetchRead(&layout.files[ahead.file]);
        PrefetchRead(&where[ahead.file]);
      }
    }
    if (n + kStepsAhead / 2 < steps.size()) {
      const TMoveStep& ahead = steps[n + kStepsAhead / 2];
      free.PrefetchExtents(ahead.targetLcn);
      if (ahead.file < layout.files.size() && where[ahead.file].first == kUnmoved) {
        PrefetchRead(layout.files[ahead.file].runs.data());
      }
    }
    const TMoveStep& step = steps[n];
    // What a refusal names, made only for one.
    const auto which = [&layout, &step, n]() {
      return "step " + std::to_string(n + 1) + " (" +
             (step.file < layout.files.size() ? layout.files[step.file].listingPath
                                              : std::string("no such file")) +
             ")";
    };
    if (step.file >= layout.files.size()) return which() + " names no file";
    std::pair<size_t, size_t>& runs = where[step.file];
    const TFileRun* first = runs.first == kUnmoved ? layout.files[step.file].runs.data()
                                                   : movedRuns.data() + runs.first;
    const size_t count = runs.first == kUnmoved ? layout.files[step.file].runs.size() : runs.second;
    const int64_t targetEnd = step.targetLcn + step.clusters;
    if (step.targetLcn < 0 || targetEnd > layout.totalClusters) {
      return which() + " moves to clusters outside the volume";
    }
    // Taken before the file's runs are checked: a refusal ends the replay,
    // so nothing taken in vain is ever looked at.
    if (!free.TakeIfAllFree(step.targetLcn, targetEnd)) {
      return which() + " moves onto clusters in use";
    }
    from.clear();
    if (!MoveRuns(first, count, step.vcn, step.clusters, step.targetLcn, &moved, &from)) {
      return which() + " moves clusters its file does not hold";
    }
    for (const TFileRun& run : from) {
      if (!free.GiveIfNoneFree(run.lcn, run.lcn + run.length)) {
        return which() + " frees clusters already free";
      }
    }
    if (runs.first != kUnmoved && runs.first + runs.second == movedRuns.size()) {
      movedRuns.resize(runs.first);
    }
    runs = {movedRuns.size(), moved.size()};
    movedRuns.insert(movedRuns.end(), moved.begin(), moved.end());
  }
  return std::string();
}

}  // namespace

std::string ReplaySchedule(const TMoveLayout& layout, const TMoveSchedule& schedule) {
  TPlayedRuns played;
  const std::string refused = PlaySteps(layout, schedule, &played);
  if (!refused.empty()) return refused;
  std::vector<TFileRun> moved;
  for (size_t file = 0; file < layout.files.size(); ++file) {
    if (!played.Moved(file)) continue;
    played.RunsOf(file, &moved);
    const int64_t pieces = CountPieces(moved);
    if (pieces == 1) continue;
    return layout.files[file].listingPath + " is left in " + std::to_string(pieces) + " pieces";
  }
  return std::string();
}

std::string ReplayOptimize(const TMoveLayout& layout,
                           const std::vector<std::vector<TFileRun>>& targets,
                           const TMoveSchedule& schedule) {
  TPlayedRuns played;
  const std::string refused = PlaySteps(layout, schedule, &played);
  if (!refused.empty()) return refused;
  std::vector<char> left(layout.files.size(), 0);
  for (const TLeftFile& file : schedule.left) {
    if (file.file < left.size()) left[file.file] = 1;
  }
  std::vector<TFileRun> runs;
  std::vector<TFileRun> after;
  std::vector<TFileRun> place;
  for (size_t file = 0; file < layout.files.size(); ++file) {
    const bool hasPlace = file < targets.size() && !targets[file].empty();
    if (!hasPlace && played.Moved(file)) {
      return layout.files[file].listingPath + " moved, though it has no place to go to";
    }
    if (!layout.files[file].notMovable.empty() && played.Moved(file)) {
      return layout.files[file].listingPath + " moved, though it may not move";
    }
    // A file left may have been moved out of the way: its steps were legal,
    // so it holds every cluster it held, wherever it lies.
    if (!hasPlace || left[file] != 0) continue;
    if (played.Moved(file)) {
      played.RunsOf(file, &runs);
    } else {
      runs = layout.files[file].runs;
    }
    after.clear();
    for (const TFileRun& run : runs) {
      if (run.lcn >= 0) Append(&after, run.vcn, run.lcn, run.length);
    }
    place.clear();
    for (const TFileRun& run : targets[file]) Append(&place, run.vcn, run.lcn, run.length);
    if (after != place) return layout.files[file].listingPath + " does not end at its place";
  }
  return std::string();
}
