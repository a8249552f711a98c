// The optimizing stage (placement rules, zone placement, both listings and
// the reports beside them), the volume-aware plan alone, the checks of the
// items' clusters and the planning of a defragmentation, over a synthetic tree of 1,000,000 items
// and 2,000,000 runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "analysis/claim_conflicts.h"
#include "bench/no_windows.h"
#include "bench/synthetic_tree.h"
#include "drive/drive_optimizer.h"
#include "moving/defragment_schedule.h"
#include "moving/move_layout.h"
#include "moving/schedule_replay.h"
#include "planning/drive_stages.h"
#include "planning/volume_plan.h"
#include "platform/linux/linux_services.h"

namespace {

void BM_OptimizeTree(benchmark::State& state) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "diskopt-bench";
  std::filesystem::create_directories(folder);
  setenv("DISKOPT_DRIVE_C", folder.c_str(), 1);
  TLinuxServices services;
  TNoWindows windows;
  double logBytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto drive = std::make_unique<TDriveOptimizer>('D', services, windows, kDriveStages);
    drive->root = BuildSyntheticTree();
    state.ResumeTiming();
    drive->OptimizeTree();
    state.PauseTiming();
    logBytes += static_cast<double>(std::filesystem::file_size(folder / "DirList_rules.log") +
                                    std::filesystem::file_size(folder / "DirList_Optimized.log"));
    drive.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * 1000001);
  state.counters["log_MB_per_s"] = benchmark::Counter(logBytes / 1e6, benchmark::Counter::kIsRate);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_OptimizeTree)->Unit(benchmark::kMillisecond)->Iterations(3);

// The free extents of the synthetic tree: the gaps between its runs, about
// a million of them.
TFragment* GapsBetweenRuns(const TItem* root, int64_t end) {
  std::vector<std::pair<int64_t, int64_t>> runs;
  for (const TItem* folder = root->firstChild; folder != nullptr; folder = folder->nextSibling) {
    for (const TItem* file = folder->firstChild; file != nullptr; file = file->nextSibling) {
      for (const TFragment* run = file->fragments; run != nullptr; run = run->next) {
        runs.emplace_back(run->lcn, run->length);
      }
    }
  }
  std::sort(runs.begin(), runs.end());
  TFragment* head = nullptr;
  TFragment** tail = &head;
  int64_t at = 0;
  for (const auto& run : runs) {
    if (run.first > at) {
      *tail = NewFragment(nullptr, 0, at, run.first - at);
      tail = &(*tail)->next;
    }
    at = std::max(at, run.first + run.second);
  }
  if (end > at) *tail = NewFragment(nullptr, 0, at, end - at);
  return head;
}

// Gives item and everything below it file identities from first on, in
// pre-order; returns the next one.
uint64_t NumberItems(TItem* item, uint64_t first) {
  item->fileId = first++;
  for (TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    first = NumberItems(child, first);
  }
  return first;
}

void BM_PlanVolume(benchmark::State& state) {
  TLinuxServices services;
  TNoWindows windows;
  TDriveOptimizer drive('D', services, windows, kDriveStages);
  int64_t end = 0;
  drive.root = BuildSyntheticTree(&end);
  drive.totalClusters = end + end / 10;
  drive.freeExtents = GapsBetweenRuns(drive.root, drive.totalClusters);
  // Zones and NOMOVE marks as the optimizing stage leaves them, without
  // its logs.
  drive.ClassifyTree(drive.root);
  drive.PlanZones(drive.root);
  drive.MarkItemsInPlace(drive.root);
  // With 1, every item's file identity is known, as on NTFS and host
  // folders, so the plan looks for second names of files; with 0 none is.
  if (state.range(0) != 0) NumberItems(drive.root, 1);
  double planBytes = 0;
  for (auto _ : state) {
    const TVolumePlan plan = PlanVolume(drive.root, drive.freeExtents, drive.totalClusters);
    benchmark::DoNotOptimize(plan.totals.itemsToMove);
    planBytes = static_cast<double>(plan.items.capacity() * sizeof(TItemTarget) +
                                    plan.runs.capacity() * sizeof(TTargetRun) +
                                    plan.unmovable.capacity() * sizeof(TClusterExtent));
    state.counters["items_to_move"] = static_cast<double>(plan.totals.itemsToMove);
  }
  state.SetItemsProcessed(state.iterations() * 1000001);
  state.counters["plan_MB"] = planBytes / 1e6;
  state.counters["volume_clusters"] = static_cast<double>(drive.totalClusters);
}
BENCHMARK(BM_PlanVolume)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

// The damage checks of every item's clusters against each other and the
// free extents, once every run is read: two million runs sorted by cluster.
void BM_FindClaimConflicts(benchmark::State& state) {
  int64_t end = 0;
  TItem* root = BuildSyntheticTree(&end);
  TFragment* free = GapsBetweenRuns(root, end + end / 10);
  for (auto _ : state) {
    const std::vector<TClaimConflict> found = FindClaimConflicts(root, free);
    benchmark::DoNotOptimize(found.size());
    state.counters["conflicts"] = static_cast<double>(found.size());
  }
  state.SetItemsProcessed(state.iterations() * 1000001);
  ReleaseItem(root);
  ReleaseFragments(free);
}
BENCHMARK(BM_FindClaimConflicts)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Planning a defragmentation of the synthetic tree, where every file is in
// two pieces: the layout of the fragmented files, their schedule into the
// free extents (about a million gaps, and the tenth of the volume past the
// last run), and its proof by replay.
void BM_PlanDefragment(benchmark::State& state) {
  int64_t end = 0;
  TItem* root = BuildSyntheticTree(&end);
  const int64_t totalClusters = end + end / 10;
  TFragment* free = GapsBetweenRuns(root, totalClusters);
  for (auto _ : state) {
    const TMoveLayout layout = LayoutFromTree('D', root, free, totalClusters, 4096);
    const TMoveSchedule schedule = ScheduleDefragment(layout, StepClustersFor(4096));
    benchmark::DoNotOptimize(schedule.steps.size());
    state.counters["files_moved"] = static_cast<double>(schedule.files);
    state.counters["files_left"] = static_cast<double>(schedule.left.size());
    if (state.range(0) != 0) {
      const std::string proof = ReplaySchedule(layout, schedule);
      if (!proof.empty()) state.SkipWithError(proof.c_str());
    }
  }
  state.SetItemsProcessed(state.iterations() * 1000001);
  ReleaseItem(root);
  ReleaseFragments(free);
}
BENCHMARK(BM_PlanDefragment)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
// Once, as a user meets it: alone in a fresh process
// (--benchmark_filter=BM_PlanDefragmentFirst/1/), every page the layout,
// the schedule and the proof use is touched for the first time, which the
// repeated iterations above mostly find touched already.
BENCHMARK(BM_PlanDefragment)
    ->Name("BM_PlanDefragmentFirst")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
