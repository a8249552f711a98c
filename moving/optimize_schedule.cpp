#include "moving/optimize_schedule.h"

#include <algorithm>
#include <string>
#include <utility>

#include "moving/cluster_marks.h"
#include "moving/cluster_owners.h"
#include "moving/huge_page_allocator.h"
#include "moving/schedule_replay.h"

namespace {

template <typename T>
using THugeVector = std::vector<T, THugePageAllocator<T>>;

// Runs that lie side by side in a list, as a range.
struct TRunSpan {
  const TFileRun* first;
  const TFileRun* last;
  const TFileRun* begin() const { return first; }
  const TFileRun* end() const { return last; }
  const TFileRun& front() const { return *first; }
  size_t size() const { return static_cast<size_t>(last - first); }
};

// Appends the allocated runs of a stream, touching ones merged: what a place
// is compared with.
void AppendAllocatedRuns(const std::vector<TFileRun>& runs, THugeVector<TFileRun>* allocated,
                         size_t first) {
  for (const TFileRun& run : runs) {
    if (run.lcn < 0 || run.length <= 0) continue;
    if (allocated->size() > first) {
      TFileRun& last = allocated->back();
      if (last.vcn + last.length == run.vcn && last.lcn + last.length == run.lcn) {
        last.length += run.length;
        continue;
      }
    }
    allocated->push_back(run);
  }
}

// Clusters of runs (allocated, ascending vcn) that already lie where place
// (ascending vcn) puts them.
int64_t ClustersInPlace(const TFileRun* runs, size_t count, TRunSpan place) {
  int64_t clusters = 0;
  size_t p = 0;
  for (const TFileRun* run = runs; run != runs + count; ++run) {
    while (p < place.size() && place.first[p].vcn + place.first[p].length <= run->vcn) ++p;
    for (size_t q = p; q < place.size() && place.first[q].vcn < run->vcn + run->length; ++q) {
      const TFileRun& spot = place.first[q];
      const int64_t from = std::max(run->vcn, spot.vcn);
      const int64_t to = std::min(run->vcn + run->length, spot.vcn + spot.length);
      const bool same = run->lcn - run->vcn == spot.lcn - spot.vcn;
      if (from < to && same) clusters += to - from;
    }
  }
  return clusters;
}

// The next range of VCNs of runs (ascending vcn) from *at, runs that touch
// joined: [*vcn, *end); false after the last.
bool NextVcnRange(const TFileRun* runs, size_t count, size_t* at, int64_t* vcn, int64_t* end) {
  if (*at >= count) return false;
  *vcn = runs[*at].vcn;
  *end = *vcn;
  while (*at < count && runs[*at].vcn == *end) *end += runs[(*at)++].length;
  return true;
}

// Whether place covers exactly the allocated VCNs of runs, each run of it
// inside the volume.
bool PlaceMatches(const TFileRun* runs, size_t count, TRunSpan place, int64_t totalClusters) {
  for (const TFileRun& run : place) {
    if (run.length <= 0 || run.lcn < 0 || run.lcn + run.length > totalClusters) return false;
  }
  size_t held = 0;
  size_t placed = 0;
  int64_t heldVcn = 0, heldEnd = 0, placeVcn = 0, placeEnd = 0;
  for (;;) {
    const bool more = NextVcnRange(runs, count, &held, &heldVcn, &heldEnd);
    if (more != NextVcnRange(place.first, place.size(), &placed, &placeVcn, &placeEnd)) {
      return false;
    }
    if (!more) return true;
    if (heldVcn != placeVcn || heldEnd != placeEnd) return false;
  }
}

enum class TFileState : char {
  kStays,    // no place of its own: never moves
  kPending,  // to be placed; may be parked on the way
  kOnStack,  // being placed: waits for what lies in its place to go first
  kPlaced,   // at its place
  kLeft,     // could not be placed: moves only out of the way of others
};

// One run of a place still to fill, and whose it is.
struct TPlaceRun {
  int64_t lcn;
  int64_t end;
  size_t file;
};

// A file waiting for its place to be cleared: how far the clearing got.
struct TFrame {
  size_t file;
  size_t run;       // the run of its place being cleared
  int64_t lcn;      // in that run: what lies before is clear
  size_t leftSeen;  // files left when it last looked: a file left since may lie anywhere
};

constexpr uint32_t kFree = TClusterOwners::kFree;
constexpr uint32_t kFileSystem = TClusterOwners::kFileSystem;
// Free stretches, from the volume's end down, looked at for one that holds
// a piece to park whole: enough to pass the few holes of a cluster or two
// that lie highest, few enough that the look costs less than the steps it
// saves.
constexpr int kWholeSpotStretches = 16;

// Places files depth first: what lies in a file's place is placed first
// (its own place cleared the same way), so most clusters move once, straight
// to their place. A file met again while still waiting (a cycle) is parked
// out of the way, in free space outside the places still to fill (else in
// any but the place being cleared), and takes its place on its own turn.
// The model of the volume is flat: who holds each cluster in pages of
// stretches, every file's runs in one list, the places in one sorted list.
class TPlacer {
 public:
  TPlacer(const TMoveLayout& layout, const std::vector<std::vector<TFileRun>>& targets,
          int64_t maxStepClusters, TOptimizeSchedule* out)
      : layout_(layout),
        maxStep_(maxStepClusters),
        out_(*out),
        files_(layout.files.size()),
        states_(layout.files.size(), TFileState::kStays),
        owners_(layout.totalClusters, CountStretches(layout)),
        outside_(layout.totalClusters, layout.freeExtents.size()) {
    runs_.reserve(CountStretches(layout) - layout.freeExtents.size());
    size_t placeRuns = 0;
    for (size_t file = 0; file < layout.files.size() && file < targets.size(); ++file) {
      placeRuns += targets[file].size();
    }
    placeRuns_.reserve(placeRuns);
    for (size_t file = 0; file < layout.files.size(); ++file) {
      const size_t first = runs_.size();
      AppendAllocatedRuns(layout.files[file].runs, &runs_, first);
      TFileNow& now = files_[file];
      now.runs = first;
      now.runCount = static_cast<uint32_t>(runs_.size() - first);
      now.place = placeRuns_.size();
      if (file < targets.size() && targets[file].size() == 1) {
        now.onlyPlace = targets[file].front();
        now.placeCount = 1;
      } else {
        if (file < targets.size()) {
          placeRuns_.insert(placeRuns_.end(), targets[file].begin(), targets[file].end());
        }
        now.placeCount = static_cast<uint32_t>(placeRuns_.size() - now.place);
      }
      for (size_t run = first; run < runs_.size(); ++run) {
        owners_.Add(runs_[run].lcn, runs_[run].lcn + runs_[run].length, static_cast<uint32_t>(file),
                    runs_[run].vcn);
      }
    }
    for (const TClusterExtent& extent : layout.freeExtents) {
      owners_.Add(extent.lcn, extent.End(), kFree, 0);
    }
    owners_.Seal();
  }

  // Files with a place, in the order of their places on the volume; those
  // that cannot be placed, whatever the others do, are left first.
  std::vector<size_t> Admit() {
    std::vector<size_t> order;
    for (size_t file = 0; file < layout_.files.size(); ++file) {
      const TRunSpan place = PlaceOf(file);
      if (place.size() == 0) continue;
      const TFileRun* runs = runs_.data() + files_[file].runs;
      const size_t count = files_[file].runCount;
      int64_t clusters = 0;
      for (size_t run = 0; run < count; ++run) clusters += runs[run].length;
      const int64_t needed = clusters - ClustersInPlace(runs, count, place);
      const bool matches = PlaceMatches(runs, count, place, layout_.totalClusters);
      if (needed == 0 && matches) {
        states_[file] = TFileState::kPlaced;
        continue;
      }
      out_.clustersNeeded += needed;
      if (!layout_.files[file].notMovable.empty()) {
        Leave(file, std::string(layout_.files[file].notMovable));
      } else if (!matches) {
        Leave(file, "its place does not match its clusters");
      } else {
        states_[file] = TFileState::kPending;
        for (const TFileRun& run : place) {
          places_.push_back(TPlaceRun{run.lcn, run.lcn + run.length, file});
        }
        order.push_back(file);
      }
    }
    std::sort(places_.begin(), places_.end(),
              [](const TPlaceRun& a, const TPlaceRun& b) { return a.lcn < b.lcn; });
    IndexPlaces();
    MarkPlaces();
    LeaveThoseBlocked(order);
    for (const TClusterExtent& extent : layout_.freeExtents) {
      FileOutside(extent.lcn, extent.End(), true);
    }
    outside_.Seal();
    outsideSealed_ = true;
    std::sort(order.begin(), order.end(), [this](size_t a, size_t b) {
      return PlaceOf(a).front().lcn < PlaceOf(b).front().lcn;
    });
    return order;
  }

  // Places a file and, first, everything in its place, depth first.
  void Place(size_t root) {
    if (states_[root] != TFileState::kPending) return;
    Push(root);
    while (!stack_.empty()) {
      TFrame& frame = stack_.back();
      const size_t file = frame.file;
      if (states_[file] != TFileState::kOnStack) {
        stack_.pop_back();
        continue;
      }
      if (!ClearPlace(&frame)) continue;  // descended, or left
      const TMoveIn in = MoveIn(file);
      if (in == TMoveIn::kLookAgain) {
        // Something else came into the place: look again from its start.
        frame.run = 0;
        frame.lcn = PlaceOf(file).front().lcn;
        continue;
      }
      if (in == TMoveIn::kIn) {
        states_[file] = TFileState::kPlaced;
        UnmarkPlace(file);
      }
      stack_.pop_back();
    }
  }

  // Counts the files the steps take to their places; files left that were
  // moved out of the way are not among them.
  void CountFilesPlaced() {
    for (size_t file = 0; file < files_.size(); ++file) {
      if (files_[file].moved && states_[file] == TFileState::kPlaced) ++out_.moves.files;
    }
  }

 private:
  TRunSpan PlaceOf(size_t file) const {
    const TFileNow& now = files_[file];
    const TFileRun* first = now.placeCount == 1 ? &now.onlyPlace : placeRuns_.data() + now.place;
    return TRunSpan{first, first + now.placeCount};
  }

  static size_t CountStretches(const TMoveLayout& layout) {
    size_t count = layout.freeExtents.size();
    for (const TMovableFile& file : layout.files) count += file.runs.size();
    return count;
  }

  // Leaves every pending file whose place holds clusters that never move:
  // the file system's, those of a file that stays or of one that may not
  // move. A file left for any other reason still moves out of the way of
  // the others, so it blocks no one.
  void LeaveThoseBlocked(const std::vector<size_t>& pending) {
    for (const size_t file : pending) {
      for (const TFileRun& run : PlaceOf(file)) {
        for (int64_t lcn = run.lcn; lcn < run.lcn + run.length && Waits(file);) {
          const TClusterOwners::TStretch held = owners_.At(lcn);
          if (held.file == kFileSystem) {
            Leave(file, "its place holds clusters of the file system, which cannot move");
          } else if (held.file != kFree && held.file != file && Immovable(held.file)) {
            LeaveBlockedBy(file, held.file);
          }
          lcn = held.end;
        }
      }
    }
    // Files with a place that may not move were left before places_ was
    // sorted: they may lie in places of files still pending.
    for (size_t next = 0; next < out_.moves.left.size(); ++next) {
      const size_t left = out_.moves.left[next].file;
      if (!Immovable(left)) continue;
      const TFileNow& runs = files_[left];
      for (size_t run = runs.runs; run < runs.runs + runs.runCount; ++run) {
        const int64_t lcn = runs_[run].lcn;
        const int64_t end = lcn + runs_[run].length;
        for (size_t at = FirstPlaceAfter(lcn); at < places_.size() && places_[at].lcn < end; ++at) {
          if (places_[at].file != left && Waits(places_[at].file)) {
            LeaveBlockedBy(places_[at].file, left);
          }
        }
      }
    }
  }

  // Whether the file's clusters stay where they are, whoever needs them:
  // it has no place, or may not move at all.
  bool Immovable(size_t file) const {
    return states_[file] == TFileState::kStays ||
           (states_[file] == TFileState::kLeft && !layout_.files[file].notMovable.empty());
  }

  bool Waits(size_t file) const {
    return states_[file] == TFileState::kPending || states_[file] == TFileState::kOnStack;
  }

  // Cuts the volume into about as many spans of a power of two clusters as
  // there are place runs, each with the first place run that ends past its
  // start: a look-up then searches the few runs of one span, where a search
  // of all (a million) would miss the cache at most of its steps.
  void IndexPlaces() {
    placeShift_ = 0;
    while (placeShift_ < 62 &&
           (layout_.totalClusters >> placeShift_) > static_cast<int64_t>(places_.size())) {
      ++placeShift_;
    }
    const size_t spans = static_cast<size_t>(layout_.totalClusters >> placeShift_) + 2;
    placeIndex_.resize(spans);
    size_t at = 0;
    for (size_t span = 0; span < spans; ++span) {
      const int64_t start = static_cast<int64_t>(span) << placeShift_;
      while (at < places_.size() && places_[at].end <= start) ++at;
      placeIndex_[span] = at;
    }
  }

  // The index of the first place run that ends after lcn.
  size_t FirstPlaceAfter(int64_t lcn) const {
    const auto after = [](int64_t at, const TPlaceRun& run) { return at < run.end; };
    if (lcn < 0 || (lcn >> placeShift_) + 1 >= static_cast<int64_t>(placeIndex_.size())) {
      return static_cast<size_t>(std::upper_bound(places_.begin(), places_.end(), lcn, after) -
                                 places_.begin());
    }
    // The answer lies between the first run ending past this span's start
    // and the first ending past the next one's.
    const size_t span = static_cast<size_t>(lcn >> placeShift_);
    const auto first = places_.begin() + static_cast<std::ptrdiff_t>(placeIndex_[span]);
    const auto last = places_.begin() + static_cast<std::ptrdiff_t>(placeIndex_[span + 1]);
    return static_cast<size_t>(std::upper_bound(first, last, lcn, after) - places_.begin());
  }

  void Push(size_t file) {
    states_[file] = TFileState::kOnStack;
    stack_.push_back(TFrame{file, 0, PlaceOf(file).front().lcn, leftCount_});
    // Its clusters lie anywhere: asked for now, they arrive while its place
    // is cleared, before it moves in and frees them.
    const TFileNow& runs = files_[file];
    for (size_t run = runs.runs; run < runs.runs + runs.runCount; ++run) {
      owners_.Prefetch(runs_[run].lcn);
    }
  }

  // Clears the place of the frame's file of everything but its own
  // clusters: pending files there are placed first (true is returned only
  // once none is left), files waiting are parked. False when it descended
  // to a file in the way, or when the file was left.
  bool ClearPlace(TFrame* frame) {
    const size_t file = frame->file;
    const TRunSpan place = PlaceOf(file);
    if (frame->leftSeen != leftCount_) {
      frame->run = 0;
      frame->lcn = place.front().lcn;
      frame->leftSeen = leftCount_;
    }
    for (; frame->run < place.size(); ++frame->run) {
      const TFileRun& run = place.first[frame->run];
      frame->lcn = std::max(frame->lcn, run.lcn);
      while (frame->lcn < run.lcn + run.length) {
        const int64_t end = run.lcn + run.length;
        const TClusterOwners::TStretch held = owners_.At(frame->lcn);
        const int64_t stop = std::min(end, held.end);
        if (held.file == kFree || held.file == file) {
          frame->lcn = stop;
          continue;
        }
        if (held.file == kFileSystem) {
          Leave(file, "its place holds clusters of the file system, which cannot move");
          return false;
        }
        const size_t other = held.file;
        if (states_[other] == TFileState::kPending) {
          Push(other);
          return false;
        }
        if (Immovable(other) || states_[other] == TFileState::kPlaced) {
          LeaveBlockedBy(file, other);
          return false;
        }
        // A cycle (other waits), or a file left: what of the file waiting
        // has its spot cleared already goes there, the rest out of the way;
        // a file left only ever goes out of the way.
        const bool left = states_[other] == TFileState::kLeft;
        if (!left && MoveStraight(other, held.vcn, stop - frame->lcn) > 0) continue;
        const int64_t parked = Park(other, held.vcn, stop - frame->lcn);
        if (parked == stop - frame->lcn) {
          frame->lcn = stop;
          continue;
        }
        // Too little free space for all of it: the file's own clusters go
        // to what of its place is free, which frees where they were; then
        // the rest is looked at again. With no room at all, the waiting
        // file is left in the cycle; one in the place of a file left, that
        // file itself.
        TFill fill;
        FillFreePlace(file, TFillMode::kFillAround, &fill);
        if (parked == 0 && fill.moved == 0) {
          Leave(left ? file : other, "there is no free space to make room for it");
        }
        return false;
      }
    }
    return true;
  }

  enum class TMoveIn { kIn, kLookAgain, kLeft };

  // Moves the file into its place, which holds nothing but free clusters
  // and its own; its own clusters that lie wrong there are slid along when
  // the place has room enough to move many of them at a time, else parked
  // (slid where they cannot be). kLookAgain when a cluster of another file
  // is found in the place.
  TMoveIn MoveIn(size_t file) {
    for (;;) {
      TFill fill;
      surveyed_.clear();
      if (!FillFreePlace(file, TFillMode::kSurvey, &fill)) return TMoveIn::kLookAgain;
      if (fill.blocked == 0) {
        // No cluster of its own lies wrong in its place, so moving one frees
        // no spot there: what the survey found free is what filling finds.
        for (const TFileRun& spot : surveyed_) Move(file, spot.vcn, spot.length, spot.lcn, false);
        return TMoveIn::kIn;
      }
      // A slide by a few clusters at a time would take many small steps.
      if (fill.blocked > 0 && fill.free * 8 < fill.blocked && ParkOwnInPlace(file) > 0) continue;
      fill = TFill{};
      if (!FillFreePlace(file, TFillMode::kFill, &fill)) return TMoveIn::kLookAgain;
      if (fill.blocked == 0) return TMoveIn::kIn;
      if (fill.moved == 0) {
        Leave(file, "there is no free space to make room for it");
        return TMoveIn::kLeft;
      }
    }
  }

  enum class TFillMode {
    kSurvey,      // counts, moves nothing; keeps the free spots in surveyed_
    kFill,        // stops at a spot another file holds
    kFillAround,  // passes such spots by
  };
  struct TFill {
    int64_t free = 0;     // clusters whose spot was free
    int64_t moved = 0;    // clusters moved to their spot
    int64_t blocked = 0;  // clusters whose spot holds the file's own
  };

  // Moves every cluster of the file whose spot in its place is free there.
  // False when kFill finds a spot that another file holds.
  bool FillFreePlace(size_t file, TFillMode mode, TFill* fill) {
    for (const TFileRun& place : PlaceOf(file)) {
      // The stretches of the stream in the place run's VCNs that lie
      // elsewhere, each to go where the place puts it.
      misplaced_.clear();
      const TFileNow& runs = files_[file];
      for (size_t at = runs.runs; at < runs.runs + runs.runCount; ++at) {
        const TFileRun& run = runs_[at];
        const int64_t from = std::max(run.vcn, place.vcn);
        const int64_t to = std::min(run.vcn + run.length, place.vcn + place.length);
        const int64_t target = place.lcn + (from - place.vcn);
        if (from < to && run.lcn + (from - run.vcn) != target) {
          misplaced_.push_back(TFileRun{from, target, to - from});
        }
      }
      for (const TFileRun& piece : misplaced_) {
        const int64_t end = piece.lcn + piece.length;
        for (int64_t lcn = piece.lcn; lcn < end;) {
          const TClusterOwners::TStretch held = owners_.At(lcn);
          const int64_t stop = std::min(end, held.end);
          if (held.file == kFree) {
            fill->free += stop - lcn;
            if (mode == TFillMode::kSurvey) {
              surveyed_.push_back(TFileRun{piece.vcn + (lcn - piece.lcn), lcn, stop - lcn});
            } else {
              Move(file, piece.vcn + (lcn - piece.lcn), stop - lcn, lcn, false);
              fill->moved += stop - lcn;
            }
          } else if (held.file == file) {
            fill->blocked += stop - lcn;
          } else if (mode != TFillMode::kFillAround) {
            return false;
          }
          lcn = stop;
        }
      }
    }
    return true;
  }

  // Moves what of `clusters` clusters of the file from vcn has its spot in
  // its place free, there; returns the clusters moved.
  int64_t MoveStraight(size_t file, int64_t vcn, int64_t clusters) {
    int64_t moved = 0;
    for (const TFileRun& place : PlaceOf(file)) {
      const int64_t from = std::max(vcn, place.vcn);
      const int64_t to = std::min(vcn + clusters, place.vcn + place.length);
      const int64_t end = place.lcn + (to - place.vcn);
      for (int64_t lcn = place.lcn + (from - place.vcn); lcn < end;) {
        const TClusterOwners::TStretch held = owners_.At(lcn);
        const int64_t stop = std::min(end, held.end);
        if (held.file == kFree) {
          Move(file, place.vcn + (lcn - place.lcn), stop - lcn, lcn, false);
          moved += stop - lcn;
        }
        lcn = stop;
      }
    }
    return moved;
  }

  // Parks the file's own clusters that lie in its place but not at their
  // spot, as many as there is free space for; returns how many.
  int64_t ParkOwnInPlace(size_t file) {
    int64_t parked = 0;
    for (const TFileRun& place : PlaceOf(file)) {
      for (int64_t lcn = place.lcn; lcn < place.lcn + place.length;) {
        const TClusterOwners::TStretch held = owners_.At(lcn);
        const int64_t stop = std::min(place.lcn + place.length, held.end);
        if (held.file == file && held.vcn != place.vcn + (lcn - place.lcn)) {
          const int64_t moved = Park(file, held.vcn, stop - lcn);
          parked += moved;
          if (moved < stop - lcn) return parked;
        }
        lcn = stop;
      }
    }
    return parked;
  }

  // Moves `clusters` clusters of a waiting file from vcn out of the way,
  // into the highest free clusters that lie outside the places of the files
  // still waiting, from where its own turn takes it. Where those are too
  // few, into any free clusters outside the place being cleared (a place
  // that then holds it parks it again on its turn), whole where one of the
  // nearest free stretches holds it; where those are too few as well, as
  // many clusters as they hold. Returns the clusters moved.
  int64_t Park(size_t file, int64_t vcn, int64_t clusters) {
    const size_t clearing = stack_.back().file;
    int64_t found = OutsideSpots(clusters);
    if (found < clusters) {
      found = ParkingSpots(clusters, [clearing](size_t owner) { return owner != clearing; });
    }
    int64_t done = 0;
    for (const TClusterExtent& spot : spots_) {
      Move(file, vcn + done, spot.length, spot.lcn, true);
      done += spot.length;
    }
    return found;
  }

  // Free clusters outside the places of files still waiting, up to
  // `clusters`, from the volume's end down: into spots_. Returns the
  // clusters found.
  int64_t OutsideSpots(int64_t clusters) {
    spots_.clear();
    int64_t found = 0;
    TClusterOwners::TStretch free{};
    for (int64_t before = layout_.totalClusters;
         found < clusters && outside_.FreeBelow(before, &free); before = free.lcn) {
      const int64_t length = std::min(free.end - free.lcn, clusters - found);
      spots_.push_back(TClusterExtent{free.end - length, length});
      found += length;
    }
    return found;
  }

  // Free clusters, up to `clusters`, outside the places of files whose
  // place mayHold(file) refuses: into spots_. A piece that fits whole into
  // a part of one of the nearest free stretches goes there, in one step;
  // else the highest such clusters are taken from the volume's end down,
  // which on a volume whose free space is holes of a cluster or two cuts a
  // piece into a step a hole (a million files scattered over 5% free space
  // took two steps in three so). Returns the clusters found.
  template <typename TMayHold>
  int64_t ParkingSpots(int64_t clusters, TMayHold mayHold) {
    spots_.clear();
    TClusterOwners::TStretch free{};
    int looked = 0;
    for (int64_t before = layout_.totalClusters;
         looked < kWholeSpotStretches && owners_.FreeBelow(before, &free);
         before = free.lcn, ++looked) {
      if (free.end - free.lcn < clusters) continue;
      ForParkingParts(free.lcn, free.end, mayHold, [&](int64_t lcn, int64_t end) {
        if (end - lcn < clusters) return true;
        spots_.push_back(TClusterExtent{end - clusters, clusters});
        return false;
      });
      if (!spots_.empty()) return clusters;
    }
    int64_t found = 0;
    for (int64_t before = layout_.totalClusters;
         found < clusters && owners_.FreeBelow(before, &free); before = free.lcn) {
      ForParkingParts(free.lcn, free.end, mayHold, [&](int64_t lcn, int64_t end) {
        const int64_t length = std::min(end - lcn, clusters - found);
        if (length <= 0) return false;
        spots_.push_back(TClusterExtent{end - length, length});
        found += length;
        return found < clusters;
      });
    }
    return found;
  }

  // Calls visit(lcn, end) for the parts of the free stretch [lcn, end) that
  // may hold a parked piece, from its top down: those outside every place
  // and those inside a place that mayHold(file) lets hold it; stops when
  // visit returns false.
  template <typename TMayHold, typename TVisit>
  void ForParkingParts(int64_t lcn, int64_t end, TMayHold mayHold, TVisit visit) {
    const size_t at = FirstPlaceAfter(lcn);
    size_t last = at;
    while (last < places_.size() && places_[last].lcn < end) ++last;
    for (int64_t top = end; top > lcn; --last) {
      if (last == at) {
        visit(lcn, top);
        return;
      }
      const TPlaceRun& place = places_[last - 1];
      if (place.end < top && !visit(std::max(place.end, lcn), top)) return;
      const int64_t bottom = std::max(place.lcn, lcn);
      if (mayHold(place.file) && !visit(bottom, std::min(top, place.end))) return;
      top = bottom;
    }
  }

  // Moves a stretch in steps of at most maxStep_ clusters laid end to end,
  // and follows it in the model. A step that goes on from the step before,
  // of the same file, onto clusters that were free before that one, is
  // joined to it.
  void Move(size_t file, int64_t vcn, int64_t clusters, int64_t targetLcn, bool parking) {
    for (int64_t done = 0; done < clusters;) {
      int64_t length = std::min(maxStep_, clusters - done);
      const int64_t stepVcn = vcn + done;
      const int64_t target = targetLcn + done;
      std::vector<TMoveStep>& steps = out_.moves.steps;
      bool joined = false;
      if (!steps.empty()) {
        TMoveStep& last = steps.back();
        const bool continues = last.file == file && last.vcn + last.clusters == stepVcn &&
                               last.targetLcn + last.clusters == target;
        if (continues && last.clusters < maxStep_) {
          length = std::min(length, maxStep_ - last.clusters);
          joined = !Overlaps(lastFrom_, target, target + length);
        }
      }
      from_.clear();
      TFileNow& runs = files_[file];
      MoveRuns(runs_.data() + runs.runs, runs.runCount, stepVcn, length, target, &scratch_, &from_);
      if (scratch_.size() <= runs.runCount) {
        std::copy(scratch_.begin(), scratch_.end(),
                  runs_.begin() + static_cast<std::ptrdiff_t>(runs.runs));
      } else {
        if (runs.runs + runs.runCount == runs_.size()) runs_.resize(runs.runs);
        runs.runs = runs_.size();
        runs_.insert(runs_.end(), scratch_.begin(), scratch_.end());
      }
      runs.runCount = static_cast<uint32_t>(scratch_.size());
      owners_.Assign(target, target + length, static_cast<uint32_t>(file), stepVcn);
      outside_.Assign(target, target + length, kFileSystem, 0);
      for (const TFileRun& run : from_) {
        owners_.Assign(run.lcn, run.lcn + run.length, kFree, 0);
        FileOutside(run.lcn, run.lcn + run.length, false);
      }
      if (joined) {
        steps.back().clusters += length;
        lastFrom_.insert(lastFrom_.end(), from_.begin(), from_.end());
      } else {
        steps.push_back(TMoveStep{file, stepVcn, length, target});
        lastFrom_.swap(from_);
      }
      out_.moves.clusters += length;
      if (parking) out_.clustersParked += length;
      done += length;
    }
    files_[file].moved = true;
  }

  static bool Overlaps(const std::vector<TFileRun>& runs, int64_t lcn, int64_t end) {
    for (const TFileRun& run : runs) {
      if (run.lcn < end && lcn < run.lcn + run.length) return true;
    }
    return false;
  }

  void LeaveBlockedBy(size_t file, size_t holder) {
    Leave(file,
          "its place holds " + layout_.files[holder].listingPath + ", which stays where it is");
  }

  void Leave(size_t file, const std::string& reason) {
    out_.moves.left.push_back(TLeftFile{file, reason});
    const bool waited = Waits(file);
    states_[file] = TFileState::kLeft;
    ++leftCount_;
    if (waited) UnmarkPlace(file);
    if (!waited || !outsideSealed_) return;
    // What of its place is free lies outside the places to fill now.
    for (const TFileRun& run : PlaceOf(file)) {
      for (int64_t lcn = run.lcn; lcn < run.lcn + run.length;) {
        const TClusterOwners::TStretch held = owners_.At(lcn);
        const int64_t stop = std::min(run.lcn + run.length, held.end);
        if (held.file == kFree) outside_.Assign(lcn, stop, kFree, 0);
        lcn = stop;
      }
    }
  }

  // Files the free clusters [lcn, end) in outside_ where they lie outside
  // the places of files still waiting; adding: before outside_ is sealed.
  void FileOutside(int64_t lcn, int64_t end, bool adding) {
    const auto file = [this, adding](int64_t from, int64_t to) {
      if (from >= to) return;
      if (adding) {
        outside_.Add(from, to, kFree, 0);
      } else {
        outside_.Assign(from, to, kFree, 0);
      }
    };
    if (marked_) {
      while (lcn < end) {
        const int64_t from = waiting_.Next(lcn, end, false);
        lcn = waiting_.Next(from, end, true);
        file(from, lcn);
      }
      return;
    }
    size_t at = FirstPlaceAfter(lcn);
    for (; at < places_.size() && places_[at].lcn < end; ++at) {
      const TPlaceRun& place = places_[at];
      file(lcn, place.lcn);
      if (!Waits(place.file)) file(std::max(lcn, place.lcn), std::min(end, place.end));
      lcn = std::max(lcn, place.end);
    }
    file(lcn, end);
  }

  // Marks the clusters of the places admitted, where the marks cost no more
  // memory than the list of places does: an eighth of a byte a cluster
  // against 32 bytes a place run (the run and its index). Where places are
  // longer, a search of their list finds what the marks would, its list
  // short enough to stay in the cache.
  void MarkPlaces() {
    if (places_.empty()) return;
    int64_t limit = 0;
    for (const TPlaceRun& run : places_) limit = std::max(limit, run.end);
    const int64_t base = places_.front().lcn;
    if ((limit - base) / 8 > 32 * static_cast<int64_t>(places_.size())) return;
    waiting_ = TClusterMarks(base, limit);
    for (const TPlaceRun& run : places_) waiting_.Set(run.lcn, run.end, true);
    marked_ = true;
  }

  // A file placed or left waits no more: its place is no longer one to fill.
  void UnmarkPlace(size_t file) {
    if (!marked_) return;
    for (const TFileRun& run : PlaceOf(file)) waiting_.Set(run.lcn, run.lcn + run.length, false);
  }

  const TMoveLayout& layout_;
  const int64_t maxStep_;
  TOptimizeSchedule& out_;
  // What is known of each file now, by layout index; a file is met at
  // random (in the place of another), and all of it is then read at once.
  struct TFileNow {
    size_t runs = 0;          // its first run in runs_
    size_t place = 0;         // its first place run in placeRuns_, if more than one
    uint32_t runCount = 0;    // a file's runs fit in memory many times over
    uint32_t placeCount = 0;  // 0: it has no place
    bool moved = false;       // a step has moved it
    TFileRun onlyPlace{};     // a place of one run, kept here rather than in placeRuns_
  };
  THugeVector<TFileNow> files_;
  // Where each file stands, by layout index; apart from files_, since it is
  // asked of every file met in a place, most of which are read no further:
  // a byte a file stays in the cache where the records would not.
  THugeVector<TFileState> states_;
  // Every file's allocated runs now, one list for all: a move writes a
  // file's over the old ones when as few, else anew at the end.
  THugeVector<TFileRun> runs_;
  // Every file's place, one list for all, as the targets give it.
  THugeVector<TFileRun> placeRuns_;
  TClusterOwners owners_;
  // The free clusters outside the places of files still waiting (kFree;
  // the rest kFileSystem): where parking costs nobody a second move.
  TClusterOwners outside_;
  bool outsideSealed_ = false;
  THugeVector<TPlaceRun> places_;  // runs of the places of files admitted, ascending lcn
  // The clusters of the places of files still waiting, when marked_.
  TClusterMarks waiting_;
  bool marked_ = false;
  // placeIndex_[s]: the first of places_ that ends past cluster s << placeShift_.
  int placeShift_ = 0;
  THugeVector<size_t> placeIndex_;
  std::vector<TFrame> stack_;  // files waiting, each for the one above it
  size_t leftCount_ = 0;       // files left so far
  // Reused from call to call.
  std::vector<TFileRun> misplaced_;
  std::vector<TFileRun> surveyed_;  // the free spots of the last survey, in its order
  std::vector<TClusterExtent> spots_;
  std::vector<TFileRun> scratch_;
  std::vector<TFileRun> from_;
  std::vector<TFileRun> lastFrom_;  // clusters the last step moved from
};

}  // namespace

TOptimizeSchedule ScheduleOptimize(const TMoveLayout& layout,
                                   const std::vector<std::vector<TFileRun>>& targets,
                                   int64_t maxStepClusters) {
  TOptimizeSchedule schedule;
  TPlacer placer(layout, targets, maxStepClusters, &schedule);
  for (const size_t file : placer.Admit()) placer.Place(file);
  placer.CountFilesPlaced();
  std::sort(schedule.moves.left.begin(), schedule.moves.left.end(),
            [](const TLeftFile& a, const TLeftFile& b) { return a.file < b.file; });
  return schedule;
}
