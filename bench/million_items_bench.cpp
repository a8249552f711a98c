// The analysis and planning stages over an NTFS image of 1,000,000 items
// (bench_images.h), read through the Linux services as the program reads
// it, each stage timed on its own: seconds per stage and the process's peak
// resident memory as counters. The image is made once (minutes) and kept in
// the build tree. The whole process, windows and pictures included, is
// measured by bench/measure-million.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "bench/bench_images.h"
#include "bench/no_windows.h"
#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/handle_object.h"
#include "platform/linux/linux_services.h"

namespace {

// Seconds since `start`, and restarts it.
double Lap(std::chrono::steady_clock::time_point* start) {
  const auto now = std::chrono::steady_clock::now();
  const std::chrono::duration<double> seconds = now - *start;
  *start = now;
  return seconds.count();
}

void Stages(benchmark::State& state, TNtfsReadOrder order) {
  const std::string cache = std::string(DISKOPT_BUILD_DIR) + "/bench-cache";
  const std::string image = CachedMillionItemImage(cache);
  if (image.empty()) {
    state.SkipWithError("the image could not be made");
    return;
  }
  const std::string logs = cache + "/million-logs";
  std::filesystem::create_directories(logs);
  TNoWindows windows;
  for (auto _ : state) {
    TDriveTable drives;
    drives.Map('C', logs);
    drives.Map('D', image);
    TLinuxServices services(drives, order);
    TDriveOptimizer drive('D', services, windows, kDriveStages);
    auto start = std::chrono::steady_clock::now();
    drive.CreateMemoryTree();
    state.counters["scan_s"] = Lap(&start);
    drive.MapFreeSpace();
    state.counters["free_s"] = Lap(&start);
    drive.FillMemoryTree();
    state.counters["fill_s"] = Lap(&start);
    if (drive.root == nullptr) {
      state.SkipWithError("the root did not open");
      break;
    }
    drive.OptimizeTree();
    state.counters["optimize_s"] = Lap(&start);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024;
}

void BM_MillionItemsMftOrder(benchmark::State& state) { Stages(state, TNtfsReadOrder::kMftOrder); }
BENCHMARK(BM_MillionItemsMftOrder)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

void BM_MillionItemsIndexWalk(benchmark::State& state) {
  Stages(state, TNtfsReadOrder::kIndexWalk);
}
BENCHMARK(BM_MillionItemsIndexWalk)->Unit(benchmark::kSecond)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
