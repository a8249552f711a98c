#include "moving/schedule_replay.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

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
class TFreeModel {
 public:
  explicit TFreeModel(const std::vector<TClusterExtent>& extents) {
    for (const TClusterExtent& extent : extents) Give(extent.lcn, extent.End());
  }
  // Whether every cluster of [lcn, end) is free.
  bool AllFree(int64_t lcn, int64_t end) const {
    auto extent = free_.upper_bound(lcn);
    if (extent == free_.begin()) return false;
    --extent;
    return extent->first <= lcn && end <= extent->second;
  }
  // Whether any cluster of [lcn, end) is free.
  bool AnyFree(int64_t lcn, int64_t end) const {
    auto extent = free_.upper_bound(lcn);
    if (extent != free_.begin() && std::prev(extent)->second > lcn) return true;
    return extent != free_.end() && extent->first < end;
  }
  // Takes [lcn, end), wholly free.
  void Take(int64_t lcn, int64_t end) {
    auto extent = std::prev(free_.upper_bound(lcn));
    const int64_t start = extent->first;
    const int64_t stop = extent->second;
    free_.erase(extent);
    if (start < lcn) free_.emplace(start, lcn);
    if (end < stop) free_.emplace(end, stop);
  }
  // Gives back [lcn, end), none of it free, merged with its neighbours.
  void Give(int64_t lcn, int64_t end) {
    if (end <= lcn) return;
    auto after = free_.lower_bound(lcn);
    if (after != free_.begin() && std::prev(after)->second == lcn) {
      lcn = std::prev(after)->first;
      free_.erase(std::prev(after));
    }
    after = free_.find(end);
    if (after != free_.end()) {
      end = after->second;
      free_.erase(after);
    }
    free_.emplace(lcn, end);
  }

 private:
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
  std::map<size_t, std::vector<TFileRun>> files;  // the runs of each file moved so far
  for (size_t n = 0; n < schedule.steps.size(); ++n) {
    const TMoveStep& step = schedule.steps[n];
    const std::string which = "step " + std::to_string(n + 1) + " (" +
                              (step.file < layout.files.size() ? layout.files[step.file].listingPath
                                                               : std::string("no such file")) +
                              ")";
    if (step.file >= layout.files.size()) return which + " names no file";
    auto known = files.find(step.file);
    if (known == files.end()) known = files.emplace(step.file, layout.files[step.file].runs).first;
    const int64_t targetEnd = step.targetLcn + step.clusters;
    if (step.targetLcn < 0 || targetEnd > layout.totalClusters) {
      return which + " moves to clusters outside the volume";
    }
    if (!free.AllFree(step.targetLcn, targetEnd)) return which + " moves onto clusters in use";
    std::vector<TFileRun> moved;
    std::vector<TFileRun> from;
    if (!MoveRuns(known->second, step.vcn, step.clusters, step.targetLcn, &moved, &from)) {
      return which + " moves clusters its file does not hold";
    }
    free.Take(step.targetLcn, targetEnd);
    for (const TFileRun& run : from) {
      if (free.AnyFree(run.lcn, run.lcn + run.length))
        return which + " frees clusters already free";
      free.Give(run.lcn, run.lcn + run.length);
    }
    known->second = std::move(moved);
  }
  for (const auto& [file, runs] : files) {
    if (CountPieces(runs) != 1) {
      return layout.files[file].listingPath + " is left in " + std::to_string(CountPieces(runs)) +
             " pieces";
    }
  }
  return std::string();
}
