#include "moving/defragment_schedule.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace {

// The free extents, found by position (to merge released clusters with
// their neighbours) and by length (for the best fit). Both sets hold the
// same extents.
class TFreeSpace {
 public:
  explicit TFreeSpace(const std::vector<TClusterExtent>& extents) {
    for (const TClusterExtent& extent : extents) Insert(extent.lcn, extent.End());
  }

  // The smallest extent of at least clusters clusters, lowest first among
  // equals; false when none holds that many.
  bool BestFit(int64_t clusters, TClusterExtent* found) const {
    const auto fit = byLength_.lower_bound({clusters, INT64_MIN});
    if (fit == byLength_.end()) return false;
    *found = TClusterExtent{fit->second, fit->first};
    return true;
  }
  int64_t Largest() const { return byLength_.empty() ? 0 : byLength_.rbegin()->first; }

  // Takes [lcn, lcn + clusters) from the extent that starts at lcn.
  void TakeFront(int64_t lcn, int64_t clusters) {
    const auto extent = byStart_.find(lcn);
    const int64_t end = extent->second;
    Erase(extent);
    if (lcn + clusters < end) Insert(lcn + clusters, end);
  }

  // Gives back [lcn, end), merged with the extents it touches.
  void Release(int64_t lcn, int64_t end) {
    auto after = byStart_.lower_bound(lcn);
    if (after != byStart_.begin()) {
      const auto before = std::prev(after);
      if (before->second == lcn) {
        lcn = before->first;
        Erase(before);
      }
    }
    after = byStart_.find(end);
    if (after != byStart_.end()) {
      end = after->second;
      Erase(after);
    }
    Insert(lcn, end);
  }

 private:
  void Insert(int64_t lcn, int64_t end) {
    if (end <= lcn) return;
    byStart_.emplace(lcn, end);
    byLength_.emplace(end - lcn, lcn);
  }
  void Erase(std::map<int64_t, int64_t>::iterator extent) {
    byLength_.erase({extent->second - extent->first, extent->first});
    byStart_.erase(extent);
  }

  std::map<int64_t, int64_t> byStart_;              // first cluster -> the cluster after
  std::set<std::pair<int64_t, int64_t>> byLength_;  // (clusters, first cluster)
};

}  // namespace

int64_t StepClustersFor(uint32_t clusterBytes) {
  constexpr int64_t kStepBytes = int64_t(64) << 20;
  return clusterBytes == 0 ? 1 : std::max<int64_t>(1, kStepBytes / clusterBytes);
}

TMoveSchedule ScheduleDefragment(const TMoveLayout& layout, int64_t maxStepClusters) {
  TMoveSchedule schedule;
  std::vector<size_t> order;
  for (size_t i = 0; i < layout.files.size(); ++i) {
    const TMovableFile& file = layout.files[i];
    if (!file.notMovable.empty()) {
      schedule.left.push_back(TLeftFile{i, file.notMovable});
    } else if (CountPieces(file.runs) > 1) {
      order.push_back(i);
    }
  }
  // Largest first: they need the long extents, which small files would
  // otherwise cut up.
  std::vector<int64_t> sizes(layout.files.size());
  for (size_t i : order) sizes[i] = AllocatedClusters(layout.files[i].runs);
  std::stable_sort(order.begin(), order.end(),
                   [&sizes](size_t a, size_t b) { return sizes[a] > sizes[b]; });

  TFreeSpace free(layout.freeExtents);
  std::vector<TLeftFile> tooLarge;
  for (size_t i : order) {
    const TMovableFile& file = layout.files[i];
    const int64_t clusters = sizes[i];
    TClusterExtent target{};
    if (!free.BestFit(clusters, &target)) {
      tooLarge.push_back(TLeftFile{i, "needs " + GroupedNumber(clusters) +
                                          " clusters; the largest free extent holds " +
                                          GroupedNumber(free.Largest())});
      continue;
    }
    free.TakeFront(target.lcn, clusters);
    // A stream without holes: its clusters are the VCNs from the first run
    // on, moved in steps laid end to end.
    const int64_t firstVcn = file.runs.front().vcn;
    for (int64_t done = 0; done < clusters; done += maxStepClusters) {
      schedule.steps.push_back(TMoveStep{
          i, firstVcn + done, std::min(maxStepClusters, clusters - done), target.lcn + done});
    }
    for (const TFileRun& run : file.runs) free.Release(run.lcn, run.lcn + run.length);
    ++schedule.files;
    schedule.clusters += clusters;
  }
  schedule.left.insert(schedule.left.end(), tooLarge.begin(), tooLarge.end());
  std::sort(schedule.left.begin(), schedule.left.end(),
            [](const TLeftFile& a, const TLeftFile& b) { return a.file < b.file; });
  return schedule;
}
