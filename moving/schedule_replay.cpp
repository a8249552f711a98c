#include "moving/schedule_replay.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <vector>

#include "planning/cluster_extents.h"

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

// Free clusters as disjoint extents, first cluster -> the cluster after.
// Each check finds its extents with one search, which the change that
// follows it reuses.
class TFreeModel {
 public:
  using TPlace = std::map<int64_t, int64_t>::iterator;

  explicit TFreeModel(const std::vector<TClusterExtent>& extents) {
    // Extents apart and in order, as a layout's are, go in at the end;
    // others are merged one by one.
    const bool inOrder = AreNormalized(extents, INT64_MAX);
    for (const TClusterExtent& extent : extents) {
      if (inOrder) {
        free_.emplace_hint(free_.end(), extent.lcn, extent.End());
      } else {
        Give(extent.lcn, extent.End(), free_.upper_bound(extent.lcn));
      }
    }
  }
  // The extent that holds every cluster of [lcn, end); none (End()) when
  // a cluster of it is in use.
  TPlace Holding(int64_t lcn, int64_t end) {
    auto extent = free_.upper_bound(lcn);
    if (extent == free_.begin()) return free_.end();
    --extent;
    return extent->first <= lcn && end <= extent->second ? extent : free_.end();
  }
  TPlace End() { return free_.end(); }
  // Takes [lcn, end) from the extent that holds it.
  void Take(TPlace extent, int64_t lcn, int64_t end) {
    const int64_t start = extent->first;
    const int64_t stop = extent->second;
    const auto next = free_.erase(extent);
    if (start < lcn) free_.emplace_hint(next, start, lcn);
    if (end < stop) free_.emplace_hint(next, end, stop);
  }
  // Gives back [lcn, end), merged with its neighbours; false, and nothing
  // given, when any of it is free already.
  bool GiveInUse(int64_t lcn, int64_t end) {
    if (end <= lcn) return true;
    const auto after = free_.upper_bound(lcn);
    if (after != free_.begin() && std::prev(after)->second > lcn) return false;
    if (after != free_.end() && after->first < end) return false;
    Give(lcn, end, after);
    return true;
  }

 private:
  // Gives back [lcn, end), none of it free; after: the first extent that
  // starts past lcn.
  void Give(int64_t lcn, int64_t end, TPlace after) {
    if (end <= lcn) return;
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

  std::map<int64_t, int64_t> free_;
};

}  // namespace

bool MoveRuns(const std::vector<TFileRun>& runs, int64_t vcn, int64_t clusters, int64_t targetLcn,
              std::vector<TFileRun>* moved, std::vector<TFileRun>* from) {
  const int64_t end = vcn + clusters;
  if (clusters <= 0) return false;
  moved->clear();
  int64_t covered = 0;  // clusters of [vcn, end) found allocated
  for (const TFileRun& run : runs) {
    const int64_t runEnd = run.vcn + run.length;
    // The part before the range, the part inside it, the part after it.
    const int64_t cutStart = std::max(run.vcn, vcn);
    const int64_t cutEnd = std::min(runEnd, end);
    if (cutStart >= cutEnd) {
      Append(moved, run.vcn, run.lcn, run.length);
      continue;
    }
    if (run.lcn < 0) return false;
    Append(moved, run.vcn, run.lcn, cutStart - run.vcn);
    Append(moved, cutStart, targetLcn + (cutStart - vcn), cutEnd - cutStart);
    if (from != nullptr)
      from->push_back(TFileRun{cutStart, run.lcn + (cutStart - run.vcn), cutEnd - cutStart});
    Append(moved, cutEnd, run.lcn + (cutEnd - run.vcn), runEnd - cutEnd);
    covered += cutEnd - cutStart;
  }
  return covered == clusters;
}

std::string ReplaySchedule(const TMoveLayout& layout, const TMoveSchedule& schedule) {
  TFreeModel free(layout.freeExtents);
  // The runs of each file moved so far, by layout index; a file's runs are
  // copied when its first step comes.
  std::vector<std::vector<TFileRun>> files(layout.files.size());
  std::vector<char> touched(layout.files.size(), 0);
  std::vector<TFileRun> moved;  // reused from step to step
  std::vector<TFileRun> from;
  for (size_t n = 0; n < schedule.steps.size(); ++n) {
    const TMoveStep& step = schedule.steps[n];
    // What a refusal names, made only for one.
    const auto which = [&layout, &step, n]() {
      return "step " + std::to_string(n + 1) + " (" +
             (step.file < layout.files.size() ? layout.files[step.file].listingPath
                                              : std::string("no such file")) +
             ")";
    };
    if (step.file >= layout.files.size()) return which() + " names no file";
    std::vector<TFileRun>& runs = files[step.file];
    if (touched[step.file] == 0) {
      touched[step.file] = 1;
      runs = layout.files[step.file].runs;
    }
    const int64_t targetEnd = step.targetLcn + step.clusters;
    if (step.targetLcn < 0 || targetEnd > layout.totalClusters) {
      return which() + " moves to clusters outside the volume";
    }
    const TFreeModel::TPlace target = free.Holding(step.targetLcn, targetEnd);
    if (target == free.End()) return which() + " moves onto clusters in use";
    from.clear();
    if (!MoveRuns(runs, step.vcn, step.clusters, step.targetLcn, &moved, &from)) {
      return which() + " moves clusters its file does not hold";
    }
    free.Take(target, step.targetLcn, targetEnd);
    for (const TFileRun& run : from) {
      if (!free.GiveInUse(run.lcn, run.lcn + run.length)) {
        return which() + " frees clusters already free";
      }
    }
    runs.swap(moved);
  }
  for (size_t file = 0; file < files.size(); ++file) {
    if (touched[file] == 0 || CountPieces(files[file]) == 1) continue;
    return layout.files[file].listingPath + " is left in " +
           std::to_string(CountPieces(files[file])) + " pieces";
  }
  return std::string();
}
