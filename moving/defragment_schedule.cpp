#include "moving/defragment_schedule.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "moving/best_fit_space.h"
#include "moving/prefetch.h"
#include "moving/radix_sort.h"

int64_t StepClustersFor(uint32_t clusterBytes) {
  constexpr int64_t kStepBytes = int64_t(64) << 20;
  return clusterBytes == 0 ? 1 : std::max<int64_t>(1, kStepBytes / clusterBytes);
}

namespace {

// Sorts the files to move, largest first: they need the long extents, which
// small files would otherwise cut up; in layout order among files of one
// size. keys: each file's allocated clusters above indexBits bits of its
// index in the layout, in layout order; after, the indexes alone.
void LargestFirst(std::vector<uint64_t>* keys, int indexBits) {
  if (keys->empty()) return;
  const uint64_t indexMask = (uint64_t{1} << indexBits) - 1;
  uint64_t fewest = UINT64_MAX;
  uint64_t most = 0;
  for (const uint64_t key : *keys) {
    fewest = std::min(fewest, key >> indexBits);
    most = std::max(most, key >> indexBits);
  }
  // How far below the largest a file is, above its index: ascending, these
  // are the order wanted.
  for (uint64_t& key : *keys) key = (most - (key >> indexBits)) << indexBits | (key & indexMask);
  RadixSort(keys, indexBits, indexBits + BitsFor(most - fewest));
  for (uint64_t& key : *keys) key &= indexMask;
}

}  // namespace

TMoveSchedule ScheduleDefragment(const TMoveLayout& layout, int64_t maxStepClusters) {
  TMoveSchedule schedule;
  // The files to move, each as its allocated clusters above its index in
  // the layout; where some file's clusters do not fit above the index (never
  // on a real volume), the pairs are sorted instead.
  const int indexBits = BitsFor(layout.files.size());
  const uint64_t indexMask = (uint64_t{1} << indexBits) - 1;
  std::vector<uint64_t> order;
  bool packed = true;
  size_t runCount = 0;
  for (size_t i = 0; i < layout.files.size(); ++i) {
    const TMovableFile& file = layout.files[i];
    if (!file.notMovable.empty()) {
      schedule.left.push_back(TLeftFile{i, std::string(file.notMovable)});
    } else if (CountPieces(file.runs) > 1) {
      const int64_t clusters = AllocatedClusters(file.runs);
      packed = packed && (static_cast<uint64_t>(clusters) >> (64 - indexBits)) == 0;
      order.push_back(static_cast<uint64_t>(clusters) << indexBits | i);
      runCount += file.runs.size();
    }
  }
  if (packed) {
    LargestFirst(&order, indexBits);
  } else {
    std::vector<std::pair<int64_t, size_t>> files;
    for (const uint64_t key : order) {
      const size_t index = static_cast<size_t>(key & indexMask);
      files.emplace_back(AllocatedClusters(layout.files[index].runs), index);
    }
    std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    for (size_t k = 0; k < files.size(); ++k) order[k] = files[k].second;
  }

  // The runs of the files to move, in that order, one list for all: what
  // the moves give back, each file's after the one before's. The files lie
  // scattered in the layout, in that order: each is read here once, the
  // ones some files ahead fetched early so that the reads overlap, and what
  // scheduling needs of it is kept in order beside.
  struct TFileToMove {
    size_t index;
    int64_t firstVcn;
    int64_t clusters;
    size_t endRun;  // past its last run in runs
  };
  std::vector<TFileToMove> toMove;
  toMove.reserve(order.size());
  std::vector<TClusterExtent> runs;
  runs.reserve(runCount);
  constexpr size_t kFilesAhead = 16;
  for (size_t k = 0; k < order.size(); ++k) {
    if (k + kFilesAhead < order.size()) {
      PrefetchRead(&layout.files[static_cast<size_t>(order[k + kFilesAhead])]);
    }
    if (k + kFilesAhead / 2 < order.size()) {
      PrefetchRead(layout.files[static_cast<size_t>(order[k + kFilesAhead / 2])].runs.data());
    }
    const size_t index = static_cast<size_t>(order[k]);
    const std::vector<TFileRun>& fileRuns = layout.files[index].runs;
    for (const TFileRun& run : fileRuns) runs.push_back(TClusterExtent{run.lcn, run.length});
    toMove.push_back(
        TFileToMove{index, fileRuns.front().vcn, AllocatedClusters(fileRuns), runs.size()});
  }
  // One step for each file under a step's size, as most are; larger files
  // grow the list.
  schedule.steps.reserve(order.size());
  TBestFitSpace free(layout.freeExtents, runs);
  std::vector<TLeftFile> tooLarge;
  size_t firstRun = 0;  // the file's first in runs
  for (const TFileToMove& file : toMove) {
    const size_t index = file.index;
    const int64_t clusters = file.clusters;
    const size_t endRun = file.endRun;
    const uint32_t fit = free.BestFit(clusters);
    if (fit == TBestFitSpace::kNone) {
      firstRun = endRun;
      tooLarge.push_back(TLeftFile{index, "needs " + GroupedNumber(clusters) +
                                              " clusters; the largest free extent holds " +
                                              GroupedNumber(free.Largest())});
      continue;
    }
    const int64_t targetLcn = free.Extent(fit).lcn;
    free.TakeFront(fit, clusters);
    // A stream without holes: its clusters are the VCNs from the first run
    // on, moved in steps laid end to end.
    for (int64_t done = 0; done < clusters; done += maxStepClusters) {
      schedule.steps.push_back(TMoveStep{index, file.firstVcn + done,
                                         std::min(maxStepClusters, clusters - done),
                                         targetLcn + done});
    }
    for (; firstRun < endRun; ++firstRun) free.Release(firstRun);
    ++schedule.files;
    schedule.clusters += clusters;
  }
  schedule.left.insert(schedule.left.end(), tooLarge.begin(), tooLarge.end());
  std::sort(schedule.left.begin(), schedule.left.end(),
            [](const TLeftFile& a, const TLeftFile& b) { return a.file < b.file; });
  return schedule;
}
