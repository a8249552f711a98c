#include "moving/optimize_schedule.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <string>

#include "moving/schedule_replay.h"

namespace {

// The allocated runs of a stream, touching ones merged: what a place is
// compared with.
std::vector<TFileRun> AllocatedRuns(const std::vector<TFileRun>& runs) {
  std::vector<TFileRun> allocated;
  for (const TFileRun& run : runs) {
    if (run.lcn < 0 || run.length <= 0) continue;
    if (!allocated.empty()) {
      TFileRun& last = allocated.back();
      if (last.vcn + last.length == run.vcn && last.lcn + last.length == run.lcn) {
        last.length += run.length;
        continue;
      }
    }
    allocated.push_back(run);
  }
  return allocated;
}

// Clusters of runs (allocated, ascending vcn) that already lie where place
// (ascending vcn) puts them.
int64_t ClustersInPlace(const std::vector<TFileRun>& runs, const std::vector<TFileRun>& place) {
  int64_t clusters = 0;
  size_t p = 0;
  for (const TFileRun& run : runs) {
    while (p < place.size() && place[p].vcn + place[p].length <= run.vcn) ++p;
    for (size_t q = p; q < place.size() && place[q].vcn < run.vcn + run.length; ++q) {
      const int64_t from = std::max(run.vcn, place[q].vcn);
      const int64_t to = std::min(run.vcn + run.length, place[q].vcn + place[q].length);
      const bool same = run.lcn - run.vcn == place[q].lcn - place[q].vcn;
      if (from < to && same) clusters += to - from;
    }
  }
  return clusters;
}

// Whether place covers exactly the allocated VCNs of runs, each run of it
// inside the volume.
bool PlaceMatches(const std::vector<TFileRun>& allocated, const std::vector<TFileRun>& place,
                  int64_t totalClusters) {
  std::vector<TFileRun> byVcn;  // place's vcn ranges, touching ones joined
  for (const TFileRun& run : place) {
    if (run.length <= 0 || run.lcn < 0 || run.lcn + run.length > totalClusters) return false;
    if (!byVcn.empty() && byVcn.back().vcn + byVcn.back().length == run.vcn) {
      byVcn.back().length += run.length;
    } else {
      byVcn.push_back(TFileRun{run.vcn, 0, run.length});
    }
  }
  std::vector<TFileRun> held;
  for (const TFileRun& run : allocated) {
    if (!held.empty() && held.back().vcn + held.back().length == run.vcn) {
      held.back().length += run.length;
    } else {
      held.push_back(TFileRun{run.vcn, 0, run.length});
    }
  }
  return byVcn == held;
}

enum class TFileState : char {
  kStays,    // no place of its own: never moves
  kPending,  // to be placed; may be parked on the way
  kPlaced,   // at its place
  kLeft,     // could not be placed: never moves again
};

// A stretch of one file's stream: clusters from vcn.
struct TPiece {
  size_t file;
  int64_t vcn;
  int64_t clusters;
  int64_t targetLcn;  // where it goes straight to; -1: parked
};

class TPlacer {
 public:
  TPlacer(const TMoveLayout& layout, const std::vector<std::vector<TFileRun>>& targets,
          int64_t maxStepClusters, TOptimizeSchedule* out)
      : layout_(layout),
        targets_(targets),
        maxStep_(maxStepClusters),
        out_(*out),
        runs_(layout.files.size()),
        state_(layout.files.size(), TFileState::kStays),
        moved_(layout.files.size(), 0) {
    for (const TClusterExtent& extent : layout.freeExtents) GiveFree(extent.lcn, extent.End());
    for (size_t file = 0; file < layout.files.size(); ++file) {
      runs_[file] = AllocatedRuns(layout.files[file].runs);
      for (const TFileRun& run : runs_[file]) {
        held_[run.lcn] = THeld{run.lcn + run.length, file, run.vcn};
      }
    }
  }

  // Files with a place, in the order of their places on the volume.
  std::vector<size_t> Admit() {
    std::vector<size_t> order;
    for (size_t file = 0; file < layout_.files.size() && file < targets_.size(); ++file) {
      const std::vector<TFileRun>& place = targets_[file];
      if (place.empty()) continue;
      const TMovableFile& movable = layout_.files[file];
      const int64_t clusters = AllocatedClusters(runs_[file]);
      const int64_t needed = clusters - ClustersInPlace(runs_[file], place);
      const bool matches = PlaceMatches(runs_[file], place, layout_.totalClusters);
      if (needed == 0 && matches) {
        state_[file] = TFileState::kPlaced;
        continue;
      }
      out_.clustersNeeded += needed;
      if (!movable.notMovable.empty()) {
        Leave(file, movable.notMovable);
      } else if (!matches) {
        Leave(file, "its place does not match its clusters");
      } else {
        state_[file] = TFileState::kPending;
        for (const TFileRun& run : place) places_[run.lcn] = TPlace{run.lcn + run.length, file};
        order.push_back(file);
      }
    }
    for (const auto& free : free_) FileFree(free.first, free.second);
    std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
      return targets_[a].front().lcn < targets_[b].front().lcn;
    });
    return order;
  }

  // Places a pending file, or leaves it with the reason. Room is made a
  // stretch at a time: whatever of the place is free takes the file's own
  // clusters at once, which frees where they were; what lies in the way goes
  // straight to its own place when that is free, else is parked in as much
  // free space as there is. So a place is filled with any free space at
  // all, however little.
  void Place(size_t file) {
    if (state_[file] != TFileState::kPending) return;
    std::vector<TPiece> inTheWay;
    std::string why;
    if (!FindWhatIsInTheWay(file, &inTheWay, &why)) {
      Leave(file, why);
      return;
    }
    std::vector<TClusterExtent> spots;
    for (;;) {
      const size_t stepsBefore = out_.moves.steps.size();
      FillFreePlace(file);
      inTheWay.clear();
      FindWhatIsInTheWay(file, &inTheWay, &why);
      if (inTheWay.empty()) {
        // All of the place is free now but for what of the file lies right.
        FillFreePlace(file);
        break;
      }
      for (const TPiece& piece : inTheWay) {
        const int64_t straight = StraightPlace(file, piece);
        if (straight >= 0) {
          Move(piece.file, piece.vcn, piece.clusters, straight);
          continue;
        }
        spots.clear();
        ParkingSpace(file, piece.clusters, &spots);
        if (spots.empty()) break;
        int64_t done = 0;
        for (const TClusterExtent& spot : spots) {
          Move(piece.file, piece.vcn + done, spot.length, spot.lcn);
          out_.clustersParked += spot.length;
          done += spot.length;
        }
      }
      if (out_.moves.steps.size() == stepsBefore) {
        // No free cluster outside the place, and none in it.
        Leave(file, "there is no free space to make room for it");
        return;
      }
    }
    Settle(file, TFileState::kPlaced);
  }

 private:
  struct THeld {
    int64_t end;
    size_t file;
    int64_t vcn;  // of the run's first cluster
  };
  struct TPlace {
    int64_t end;
    size_t file;
  };

  // The stretches of other files (and of the file itself, where they lie
  // wrong) on the file's place; false with the reason when something there
  // may not move.
  bool FindWhatIsInTheWay(size_t file, std::vector<TPiece>* pieces, std::string* why) const {
    for (const TFileRun& run : targets_[file]) {
      const int64_t end = run.lcn + run.length;
      for (int64_t lcn = run.lcn; lcn < end;) {
        const auto free = FreeAt(lcn);
        if (free != free_.end()) {
          lcn = std::min(end, free->second);
          continue;
        }
        const auto held = HeldAt(lcn);
        if (held == held_.end()) {
          *why = "its place holds clusters of the file system, which cannot move";
          return false;
        }
        const int64_t stop = std::min(end, held->second.end);
        const THeld& owner = held->second;
        const int64_t vcn = owner.vcn + (lcn - held->first);
        if (owner.file == file && vcn == run.vcn + (lcn - run.lcn)) {
          lcn = stop;
          continue;
        }
        if (owner.file != file && state_[owner.file] != TFileState::kPending) {
          *why = "its place holds " + layout_.files[owner.file].listingPath +
                 ", which stays where it is";
          return false;
        }
        pieces->push_back(TPiece{owner.file, vcn, stop - lcn, -1});
        lcn = stop;
      }
    }
    return true;
  }

  // Where a stretch in the way may go at once: its own place, when that is
  // one run that is wholly free now; -1 when it must be parked.
  int64_t StraightPlace(size_t placing, const TPiece& piece) const {
    if (piece.file == placing) return -1;
    for (const TFileRun& run : targets_[piece.file]) {
      if (piece.vcn < run.vcn || piece.vcn + piece.clusters > run.vcn + run.length) continue;
      const int64_t lcn = run.lcn + (piece.vcn - run.vcn);
      const auto free = FreeAt(lcn);
      return free != free_.end() && lcn + piece.clusters <= free->second ? lcn : -1;
    }
    return -1;
  }

  // Free space to park `clusters` clusters in, out of the placing file's
  // place: first what lies outside every place still to fill, taken from
  // the end of the volume (places fill it from its start); then what lies
  // in the places filled last, which their own turn clears again (a parked
  // stretch mostly leaves for its own place before). Returns the clusters
  // found, with the extents in spots.
  int64_t ParkingSpace(size_t placing, int64_t clusters, std::vector<TClusterExtent>* spots) const {
    int64_t found = 0;
    const auto take = [&](int64_t lcn, int64_t end) {
      const int64_t length = std::min(end - lcn, clusters - found);
      if (length <= 0) return;
      spots->push_back(TClusterExtent{end - length, length});
      found += length;
    };
    for (auto free = outside_.rbegin(); free != outside_.rend() && found < clusters; ++free) {
      take(free->first, free->second);
    }
    for (auto free = inside_.rbegin(); free != inside_.rend() && found < clusters; ++free) {
      const auto place = std::prev(places_.upper_bound(free->first));
      if (place->second.file != placing) take(free->first, free->second);
    }
    return found;
  }

  // Moves every cluster of the file whose spot in its place is free there.
  void FillFreePlace(size_t file) {
    for (const TFileRun& run : targets_[file]) {
      for (const TPiece& piece : Misplaced(file, run)) {
        const int64_t end = piece.targetLcn + piece.clusters;
        for (int64_t lcn = piece.targetLcn; lcn < end;) {
          const auto free = FreeAt(lcn);
          if (free == free_.end()) {
            const auto held = HeldAt(lcn);
            lcn = held == held_.end() ? end : std::min(end, held->second.end);
            continue;
          }
          const int64_t stop = std::min(end, free->second);
          Move(file, piece.vcn + (lcn - piece.targetLcn), stop - lcn, lcn);
          lcn = stop;
        }
      }
    }
  }

  // The stretches of the file's stream in place run's VCNs that lie
  // elsewhere, each with where it goes.
  std::vector<TPiece> Misplaced(size_t file, const TFileRun& place) const {
    std::vector<TPiece> pieces;
    for (const TFileRun& run : runs_[file]) {
      const int64_t from = std::max(run.vcn, place.vcn);
      const int64_t to = std::min(run.vcn + run.length, place.vcn + place.length);
      if (from >= to) continue;
      const int64_t target = place.lcn + (from - place.vcn);
      if (run.lcn + (from - run.vcn) != target) {
        pieces.push_back(TPiece{file, from, to - from, target});
      }
    }
    return pieces;
  }

  // Moves a stretch in steps of at most maxStep_ clusters laid end to end,
  // and follows it in the model.
  void Move(size_t file, int64_t vcn, int64_t clusters, int64_t targetLcn) {
    for (int64_t done = 0; done < clusters; done += maxStep_) {
      const int64_t length = std::min(maxStep_, clusters - done);
      const TMoveStep step{file, vcn + done, length, targetLcn + done};
      out_.moves.steps.push_back(step);
      out_.moves.clusters += length;
      from_.clear();
      MoveRuns(runs_[file], step.vcn, step.clusters, step.targetLcn, &scratch_, &from_);
      runs_[file] = AllocatedRuns(scratch_);
      TakeFree(step.targetLcn, step.targetLcn + length);
      CutOut(&inside_, step.targetLcn, step.targetLcn + length);
      CutOut(&outside_, step.targetLcn, step.targetLcn + length);
      held_[step.targetLcn] = THeld{step.targetLcn + length, file, step.vcn};
      for (const TFileRun& run : from_) {
        DropHeld(run.lcn, run.lcn + run.length);
        GiveFree(run.lcn, run.lcn + run.length);
        FileFree(run.lcn, run.lcn + run.length);
      }
    }
    if (moved_[file] == 0) {
      moved_[file] = 1;
      ++out_.moves.files;
    }
  }

  void Leave(size_t file, const std::string& reason) {
    out_.moves.left.push_back(TLeftFile{file, reason});
    Settle(file, TFileState::kLeft);
  }

  // The file is done with: its place is no longer one to keep free.
  void Settle(size_t file, TFileState state) {
    if (state_[file] == TFileState::kPending) {
      for (const TFileRun& run : targets_[file]) {
        places_.erase(run.lcn);
        // What of it is free now lies outside every place still to fill.
        auto free = inside_.lower_bound(run.lcn);
        while (free != inside_.end() && free->first < run.lcn + run.length) {
          outside_.emplace(free->first, free->second);
          free = inside_.erase(free);
        }
      }
    }
    state_[file] = state;
  }

  std::map<int64_t, int64_t>::const_iterator FreeAt(int64_t lcn) const {
    auto free = free_.upper_bound(lcn);
    if (free == free_.begin()) return free_.end();
    --free;
    return free->second > lcn ? free : free_.end();
  }
  std::map<int64_t, THeld>::const_iterator HeldAt(int64_t lcn) const {
    auto held = held_.upper_bound(lcn);
    if (held == held_.begin()) return held_.end();
    --held;
    return held->second.end > lcn ? held : held_.end();
  }

  // [lcn, end) becomes free, merged with the free extents it touches.
  void GiveFree(int64_t lcn, int64_t end) {
    auto after = free_.upper_bound(lcn);
    if (after != free_.begin() && std::prev(after)->second >= lcn) {
      const auto before = std::prev(after);
      lcn = before->first;
      end = std::max(end, before->second);
      free_.erase(before);
    }
    while (after != free_.end() && after->first <= end) {
      end = std::max(end, after->second);
      after = free_.erase(after);
    }
    free_.emplace_hint(after, lcn, end);
  }
  // [lcn, end), free, is taken: the extent holding it is cut.
  void TakeFree(int64_t lcn, int64_t end) {
    const auto free = FreeAt(lcn);
    if (free == free_.end()) return;
    const int64_t start = free->first;
    const int64_t stop = free->second;
    free_.erase(free);
    if (start < lcn) free_[start] = lcn;
    if (end < stop) free_[end] = stop;
  }
  // Adds the free clusters [lcn, end) to inside_ where they lie in a place
  // still to fill and to outside_ elsewhere, cut at the places' edges.
  void FileFree(int64_t lcn, int64_t end) {
    auto place = places_.upper_bound(lcn);
    if (place != places_.begin() && std::prev(place)->second.end > lcn) --place;
    for (int64_t at = lcn; at < end; ++place) {
      if (place == places_.end() || place->first >= end) {
        outside_[at] = end;
        break;
      }
      if (place->first > at) {
        outside_[at] = place->first;
        at = place->first;
      }
      const int64_t stop = std::min(end, place->second.end);
      inside_[at] = stop;
      at = stop;
    }
  }
  // Takes [lcn, end) out of disjoint extents (first -> the cluster after),
  // cutting those it overlaps.
  static void CutOut(std::map<int64_t, int64_t>* extents, int64_t lcn, int64_t end) {
    auto extent = extents->upper_bound(lcn);
    if (extent != extents->begin() && std::prev(extent)->second > lcn) --extent;
    while (extent != extents->end() && extent->first < end) {
      const int64_t start = extent->first;
      const int64_t stop = extent->second;
      extent = extents->erase(extent);
      if (start < lcn) (*extents)[start] = lcn;
      if (end < stop) {
        extents->emplace_hint(extent, end, stop);
        break;
      }
    }
  }
  // Clusters [lcn, end) are no longer held: the runs over them are cut.
  void DropHeld(int64_t lcn, int64_t end) {
    auto held = held_.upper_bound(lcn);
    if (held != held_.begin() && std::prev(held)->second.end > lcn) --held;
    while (held != held_.end() && held->first < end) {
      const int64_t start = held->first;
      const THeld owner = held->second;
      held = held_.erase(held);
      if (start < lcn) held_[start] = THeld{lcn, owner.file, owner.vcn};
      if (end < owner.end) {
        held =
            held_.emplace_hint(held, end, THeld{owner.end, owner.file, owner.vcn + (end - start)});
        ++held;
      }
    }
  }

  const TMoveLayout& layout_;
  const std::vector<std::vector<TFileRun>>& targets_;
  const int64_t maxStep_;
  TOptimizeSchedule& out_;
  std::vector<std::vector<TFileRun>> runs_;  // each file's allocated runs now
  std::vector<TFileState> state_;
  std::vector<char> moved_;          // whether a step has moved the file
  std::map<int64_t, THeld> held_;    // clusters the files hold now, by first cluster
  std::map<int64_t, int64_t> free_;  // free extents now: first cluster -> the one after
  // The same clusters cut in two: those in places still to fill, and the
  // others, each as disjoint extents (not joined where they touch).
  std::map<int64_t, int64_t> inside_;
  std::map<int64_t, int64_t> outside_;
  std::map<int64_t, TPlace> places_;  // the runs of places still to fill, by first cluster
  std::vector<TFileRun> scratch_;     // reused by Move
  std::vector<TFileRun> from_;
};

}  // namespace

TOptimizeSchedule ScheduleOptimize(const TMoveLayout& layout,
                                   const std::vector<std::vector<TFileRun>>& targets,
                                   int64_t maxStepClusters) {
  TOptimizeSchedule schedule;
  TPlacer placer(layout, targets, maxStepClusters, &schedule);
  for (const size_t file : placer.Admit()) placer.Place(file);
  std::sort(schedule.moves.left.begin(), schedule.moves.left.end(),
            [](const TLeftFile& a, const TLeftFile& b) { return a.file < b.file; });
  return schedule;
}
