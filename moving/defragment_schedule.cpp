#include "moving/defragment_schedule.h"

#include <algorithm>

#include "moving/best_fit_space.h"

int64_t StepClustersFor(uint32_t clusterBytes) {
  constexpr int64_t kStepBytes = int64_t(64) << 20;
  return clusterBytes == 0 ? 1 : std::max<int64_t>(1, kStepBytes / clusterBytes);
}

namespace {

// A file to move: its allocated clusters, by which the files are placed,
// and its index in the layout.
struct TFileToMove {
  int64_t clusters;
  size_t file;
};

}  // namespace

TMoveSchedule ScheduleDefragment(const TMoveLayout& layout, int64_t maxStepClusters) {
  TMoveSchedule schedule;
  std::vector<TFileToMove> order;
  for (size_t i = 0; i < layout.files.size(); ++i) {
    const TMovableFile& file = layout.files[i];
    if (!file.notMovable.empty()) {
      schedule.left.push_back(TLeftFile{i, file.notMovable});
    } else if (CountPieces(file.runs) > 1) {
      order.push_back(TFileToMove{AllocatedClusters(file.runs), i});
    }
  }
  // Largest first: they need the long extents, which small files would
  // otherwise cut up; in layout order among files of one size. (The files
  // in order are the key: no buffer, as a stable sort would take.)
  std::sort(order.begin(), order.end(), [](const TFileToMove& a, const TFileToMove& b) {
    return a.clusters != b.clusters ? a.clusters > b.clusters : a.file < b.file;
  });

  // The runs of the files to move, in that order, one list for all: what
  // the moves give back; order[k]'s are from firstRun[k] to firstRun[k + 1].
  std::vector<size_t> firstRun(order.size() + 1, 0);
  std::vector<int64_t> firstVcn(order.size());
  size_t stepCount = 0;  // at most: files left need none
  for (size_t k = 0; k < order.size(); ++k) {
    const TMovableFile& file = layout.files[order[k].file];
    firstRun[k + 1] = firstRun[k] + file.runs.size();
    firstVcn[k] = file.runs.front().vcn;
    stepCount += static_cast<size_t>((order[k].clusters + maxStepClusters - 1) / maxStepClusters);
  }
  std::vector<TClusterExtent> runs;
  runs.reserve(firstRun.back());
  for (const TFileToMove& file : order) {
    for (const TFileRun& run : layout.files[file.file].runs) {
      runs.push_back(TClusterExtent{run.lcn, run.length});
    }
  }
  schedule.steps.reserve(stepCount);
  TBestFitSpace free(layout.freeExtents, runs);
  std::vector<TLeftFile> tooLarge;
  for (size_t k = 0; k < order.size(); ++k) {
    const TFileToMove& file = order[k];
    const int64_t clusters = file.clusters;
    const uint32_t fit = free.BestFit(clusters);
    if (fit == TBestFitSpace::kNone) {
      tooLarge.push_back(TLeftFile{file.file, "needs " + GroupedNumber(clusters) +
                                                  " clusters; the largest free extent holds " +
                                                  GroupedNumber(free.Largest())});
      continue;
    }
    const int64_t targetLcn = free.Extent(fit).lcn;
    free.TakeFront(fit, clusters);
    // A stream without holes: its clusters are the VCNs from the first run
    // on, moved in steps laid end to end.
    for (int64_t done = 0; done < clusters; done += maxStepClusters) {
      schedule.steps.push_back(TMoveStep{file.file, firstVcn[k] + done,
                                         std::min(maxStepClusters, clusters - done),
                                         targetLcn + done});
    }
    for (size_t run = firstRun[k]; run < firstRun[k + 1]; ++run) free.Release(run);
    ++schedule.files;
    schedule.clusters += clusters;
  }
  schedule.left.insert(schedule.left.end(), tooLarge.begin(), tooLarge.end());
  std::sort(schedule.left.begin(), schedule.left.end(),
            [](const TLeftFile& a, const TLeftFile& b) { return a.file < b.file; });
  return schedule;
}
