// Scheduling the zone layout's moves, and proving the schedule, for a
// million files in two runs each scattered over a volume with 5% of it free,
// each file's place packed from the volume's start in listing order: the
// work between "the plan is made" and the first move. Reports the clusters
// moved per cluster that must move.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "moving/optimize_schedule.h"
#include "moving/schedule_replay.h"

namespace {

constexpr size_t kFiles = 1000000;

struct TScatteredVolume {
  TMoveLayout layout;
  std::vector<std::vector<TFileRun>> places;
};

const TScatteredVolume& ScatteredVolume() {
  static const TScatteredVolume* const volume = [] {
    auto* made = new TScatteredVolume;
    std::mt19937_64 random(5);
    struct TSlot {
      size_t file;
      int64_t vcn;
      int64_t length;
    };
    std::vector<TSlot> slots;
    slots.reserve(2 * kFiles);
    made->layout.files.resize(kFiles);
    for (size_t file = 0; file < kFiles; ++file) {
      const int64_t first = 1 + static_cast<int64_t>(random() % 8);
      const int64_t second = 1 + static_cast<int64_t>(random() % 8);
      slots.push_back(TSlot{file, 0, first});
      slots.push_back(TSlot{file, first, second});
      made->layout.files[file].listingPath = "\\f" + std::to_string(file);
    }
    std::shuffle(slots.begin(), slots.end(), random);
    int64_t lcn = 0;
    for (const TSlot& slot : slots) {
      // About one cluster free in twenty.
      if (random() % 9 == 0) {
        made->layout.freeExtents.push_back(TClusterExtent{lcn, 1 + lcn % 3});
        lcn += 1 + lcn % 3;
      }
      made->layout.files[slot.file].runs.push_back(TFileRun{slot.vcn, lcn, slot.length});
      lcn += slot.length;
    }
    made->layout.totalClusters = lcn;
    made->layout.clusterBytes = 4096;
    made->places.resize(kFiles);
    int64_t cursor = 0;
    for (size_t file = 0; file < kFiles; ++file) {
      std::vector<TFileRun>& runs = made->layout.files[file].runs;
      std::sort(runs.begin(), runs.end(),
                [](const TFileRun& a, const TFileRun& b) { return a.vcn < b.vcn; });
      const int64_t clusters = AllocatedClusters(runs);
      made->places[file] = {TFileRun{0, cursor, clusters}};
      cursor += clusters;
    }
    return made;
  }();
  return *volume;
}

void BM_ScheduleOptimize(benchmark::State& state) {
  const TScatteredVolume& volume = ScatteredVolume();
  double ratio = 0;
  for (auto _ : state) {
    const TOptimizeSchedule schedule = ScheduleOptimize(volume.layout, volume.places, 16384);
    ratio = static_cast<double>(schedule.moves.clusters) /
            static_cast<double>(std::max<int64_t>(1, schedule.clustersNeeded));
    benchmark::DoNotOptimize(schedule.moves.steps.data());
  }
  state.counters["moved_per_needed"] = ratio;
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kFiles));
}
BENCHMARK(BM_ScheduleOptimize)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ReplayOptimize(benchmark::State& state) {
  const TScatteredVolume& volume = ScatteredVolume();
  const TOptimizeSchedule schedule = ScheduleOptimize(volume.layout, volume.places, 16384);
  for (auto _ : state) {
    const std::string refused = ReplayOptimize(volume.layout, volume.places, schedule.moves);
    if (!refused.empty()) state.SkipWithError(refused.c_str());
  }
  state.counters["steps"] = static_cast<double>(schedule.moves.steps.size());
}
BENCHMARK(BM_ReplayOptimize)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
