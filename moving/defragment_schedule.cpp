#include "moving/defragment_schedule.h"

#include <algorithm>

#include "moving/best_fit_space.h"

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

  TBestFitSpace free(layout.freeExtents);
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
