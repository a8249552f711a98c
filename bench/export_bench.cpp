// The JSON export of a synthetic drive of 1,000,000 items and 2,000,000
// runs, with its plan and summary, written to a file: MB/s of JSON.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "bench/synthetic_tree.h"
#include "planning/drive_export.h"
#include "platform/linux/linux_services.h"

namespace {

void BM_ExportDrive(benchmark::State& state) {
  TLinuxServices services;
  int64_t end = 0;
  TItem* root = BuildSyntheticTree(&end);
  // A planned run per item, as the zone placement gives.
  int64_t cursor = 0;
  for (TItem* folder = root->firstChild; folder != nullptr; folder = folder->nextSibling) {
    for (TItem* file = folder->firstChild; file != nullptr; file = file->nextSibling) {
      file->SetZone(5);
      file->planned = NewFragment(file, 0, cursor, file->clusters);
      cursor += file->clusters;
    }
  }
  TFragment* free = NewFragment(nullptr, 0, end, end / 10);
  const TVolumePlan plan = PlanVolume(root, free, end + end / 10);
  const TVolumeSummary summary = SummarizeVolume(root, free, end + end / 10, plan.totals);
  const TDriveReport report{'D', root, free, end + end / 10, &summary, &plan, nullptr};
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "diskopt-export.json";
  double bytes = 0;
  for (auto _ : state) {
    FILE* stream = std::fopen(path.c_str(), "wb");
    if (stream == nullptr) {
      state.SkipWithError("cannot write the export");
      break;
    }
    if (!WriteDriveExport(stream, report, services)) state.SkipWithError("export failed");
    std::fclose(stream);
    bytes += static_cast<double>(std::filesystem::file_size(path));
  }
  state.counters["MB_per_s"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kIsRate);
  state.counters["MB"] = bytes / 1e6 / static_cast<double>(state.iterations());
  std::filesystem::remove(path);
  ReleaseItem(root);
  ReleaseFragments(free);
}
BENCHMARK(BM_ExportDrive)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
