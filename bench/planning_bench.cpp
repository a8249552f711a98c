// The optimizing stage (placement rules, zone placement and both listings)
// over a synthetic tree of 1,000,000 items and 2,000,000 runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/no_windows.h"
#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"

namespace {

char* Name(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

const char* const kExtensions[] = {"txt", "exe", "dll", "mp3", "doc", "zip", "jpg", "iso"};

// 1,000 folders of 999 files each below the root: 1,000,000 items, and two
// runs per file (2,000,000 runs).
TItem* BuildTree() {
  TItem* root = NewItem(nullptr, Name("D:\\"), 0, kItemFolder);
  int64_t lcn = 0;
  for (int folder = 0; folder < 1000; ++folder) {
    TItem* parent = NewItem(root, Name("folder" + std::to_string(folder)), 0, kItemFolder);
    for (int file = 0; file < 999; ++file) {
      const int64_t size = (file % 10 == 0) ? 3000000 : 4096 * (file % 7 + 1);
      TItem* item = NewItem(
          parent, Name("file" + std::to_string(file) + "." + kExtensions[file % 8]), size, 0);
      const int64_t clusters = (size + 4095) / 4096;
      const int64_t half = clusters / 2 + 1;
      item->fragments = NewFragment(item, 0, lcn, half);
      item->fragments->next = NewFragment(item, half, lcn + 2 * clusters, clusters - half + 1);
      item->clusters = clusters + 1;
      item->fragmentCount = 2;
      lcn += 3 * clusters;
    }
  }
  return root;
}

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
    drive->root = BuildTree();
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

}  // namespace

BENCHMARK_MAIN();
