// The cluster map index and the fragment view's cells over a synthetic
// volume of 268,435,456 clusters (1 TiB of 4 KiB clusters) holding 1,000,000
// items and 2,000,000 runs: building the map, computing a full screen of
// cells (1920 x 1080 pixels, 240 x 135 cells) anywhere on the volume, at one
// cluster a cell and zoomed out, and the tooltip of a cell.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "model/item.h"
#include "platform/system_services.h"
#include "ui/cell_hover.h"
#include "ui/cluster_map.h"
#include "ui/fragment_view_logic.h"
#include "ui/free_space_index.h"
#include "ui/planned_map.h"

namespace {

constexpr uint32_t kTotalClusters = 268435456;
constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 999;  // with the folders and the root: 1,000,000 items
constexpr int64_t kRuns = 2 * kFolders * kFilesPerFolder;

// The volume's geometry; nothing else is asked.
class TVolumeGeometry : public TSystemServices {
 public:
  explicit TVolumeGeometry(uint64_t clusters) : totalClusters(clusters) {}
  THandle FindFirst(const char*, TFindData*) override { return InvalidHandle(); }
  bool FindNext(THandle, TFindData*) override { return false; }
  void FindEnd(THandle) override {}
  THandle OpenForRead(const char*, bool) override { return InvalidHandle(); }
  bool FileSize(THandle, uint32_t*, uint32_t*) override { return false; }
  void WaitFor(THandle) override {}
  void Close(THandle) override {}
  bool DiskFreeSpaceEx(const char*) override { return true; }
  bool DiskFreeSpace(const char*, TDiskGeometry* geometry) override {
    *geometry = TDiskGeometry{8, 512, 0, totalClusters};
    return true;
  }
  void DebugOutput(const char*) override {}
  std::unique_ptr<TReplacementFile> OpenLog(const char*) override { return nullptr; }
  bool FolderIdentity(const char*, TFileIdentity*) override { return false; }
  bool ResolveFsControl() override { return false; }
  std::string LastErrorText() override { return "refused"; }
  TNtStatus FsControl(THandle, TIoStatusBlock*, uint32_t, void*, uint32_t, void*,
                      uint32_t) override {
    return kStatusNotSupported;
  }
  THandle StartThread(TThreadProc, void*) override { return InvalidHandle(); }
  void WaitForThreads(const THandle*, int) override {}

 private:
  uint64_t totalClusters;
};

char* Name(const std::string& text) {
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// 1,000 folders of 999 files below the root, two runs per file. The volume is
// cut into one slot per run; the runs take the slots in random order, so the
// tree's order and the volume's have nothing to do with each other, and each
// run fills a random share of its slot: about 45 % of the clusters are in
// use, in runs and gaps of up to 133 clusters.
TItem* BuildTree() {
  const int64_t slot = kTotalClusters / kRuns;
  std::vector<int64_t> slots(static_cast<size_t>(kRuns));
  std::iota(slots.begin(), slots.end(), int64_t{0});
  std::mt19937_64 random(42);
  std::shuffle(slots.begin(), slots.end(), random);
  size_t next = 0;
  const auto run = [&](TItem* item, int64_t vcn) {
    const int64_t length = 1 + static_cast<int64_t>(random() % 120);
    return NewFragment(item, vcn, slots[next++] * slot, length);
  };
  TItem* root = NewItem(nullptr, Name("D:\\"), 0, kItemFolder);
  for (int folder = 0; folder < kFolders; ++folder) {
    TItem* parent = NewItem(root, Name("folder" + std::to_string(folder)), 0, kItemFolder);
    for (int file = 0; file < kFilesPerFolder; ++file) {
      TItem* item = NewItem(parent, Name("file" + std::to_string(file)), 4096, 0);
      item->fragments = run(item, 0);
      item->fragments->next = run(item, item->fragments->length);
      item->fragmentCount = 2;
    }
  }
  return root;
}

TItem* Tree() {
  static TItem* const root = BuildTree();  // shared by every benchmark; kept to the end
  return root;
}

// Argument: the volume's clusters. The same runs on a volume 4,096 times as
// large (4 PiB) cost the same: the map is built from the runs, not from the
// clusters.
void BM_BuildClusterMap(benchmark::State& state) {
  TItem* root = Tree();
  TVolumeGeometry volume(static_cast<uint64_t>(state.range(0)));
  int64_t chained = 0;
  for (auto _ : state) {
    TClusterMap map;
    map.Init(root, false);
    if (!map.Build(volume)) state.SkipWithError("Build failed");
    state.PauseTiming();
    chained = 0;
    for (const TFragment* f = map.chainHead; f != nullptr; f = f->mapNext) ++chained;
    state.ResumeTiming();
  }
  state.counters["chained_runs"] = static_cast<double>(chained);
}
BENCHMARK(BM_BuildClusterMap)
    ->Arg(kTotalClusters)
    ->Arg(int64_t{kTotalClusters} << 12)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

// A full screen of cells at 4,096 places spread evenly over the whole
// volume, its end included, one place an iteration in turn, so a place is
// never the one computed just before. Reported: the mean (Time), the median,
// the 99th percentile and the worst single computation, and the slowest
// place judged by its best of four computations, which a preempted
// computation does not distort.
const TClusterMap* BuiltMap() {
  static TClusterMap* const map = [] {
    auto* built = new TClusterMap;  // shared by every benchmark; kept to the end
    built->Init(Tree(), false);
    TVolumeGeometry volume(kTotalClusters);
    built->Build(volume);
    return built;
  }();
  return map;
}

// Argument: clusters per cell; 1 is the described view, 16,384 shows the
// whole volume in 16,384 of the screen's 32,400 cells.
void BM_ComputeCellsFullScreen(benchmark::State& state) {
  const TClusterMap* map = BuiltMap();
  TFragmentViewLogic view(map);
  view.OnSize(1920, 1080);
  view.UpdateScrollBar();
  view.ComputeCells(1920, 1080);
  view.SetClustersPerCell(state.range(0));
  view.ComputeCells(1920, 1080);
  constexpr int kPlaces = 4096;
  const int64_t lineClusters = view.Columns() * view.ClustersPerCell();
  const int64_t lastLine = kTotalClusters / lineClusters;
  std::vector<double> seconds;
  std::vector<double> bestAtPlace(kPlaces, 1e9);
  int place = 0;
  for (auto _ : state) {
    view.SetFirstCluster(lastLine * place / (kPlaces - 1) * lineClusters);
    const auto start = std::chrono::steady_clock::now();
    view.ComputeCells(1920, 1080);
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    benchmark::DoNotOptimize(view.Cells());
    seconds.push_back(spent.count());
    bestAtPlace[place] = std::min(bestAtPlace[place], spent.count());
    place = (place + 1) % kPlaces;
  }
  std::sort(seconds.begin(), seconds.end());
  const auto percentile = [&](double share) {
    return seconds[static_cast<size_t>(share * static_cast<double>(seconds.size() - 1))] * 1000;
  };
  state.counters["median_ms"] = percentile(0.5);
  state.counters["p99_ms"] = percentile(0.99);
  state.counters["worst_ms"] = seconds.back() * 1000;
  state.counters["slowest_place_ms"] =
      *std::max_element(bestAtPlace.begin(), bestAtPlace.end()) * 1000;
  state.counters["cells"] = view.Columns() * view.Rows();
}
BENCHMARK(BM_ComputeCellsFullScreen)
    ->Arg(1)
    ->Arg(64)
    ->Arg(16384)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4 * 4096);

// The free extents between the map's runs, as the free-space map would
// give them, as a chain of fragments; kept to the end.
TFragment* FreeChainOf(const TClusterMap& map) {
  TFragment* head = nullptr;
  TFragment** tail = &head;
  int64_t end = 0;
  for (const TFragment* run = map.chainHead; run != nullptr; run = run->mapNext) {
    if (run->lcn > end) {
      *tail = NewFragment(nullptr, 0, end, run->lcn - end);
      tail = &(*tail)->next;
    }
    end = std::max(end, run->lcn + run->length);
  }
  return head;
}

// The tooltip of one cell at a random cluster: the look-up of its fragment
// or free space and the text with the item's path. Reported per look-up.
void BM_HoverText(benchmark::State& state) {
  static const TUserPaths kPaths = UserPathsOf('D', TDriveOrigin());
  const TClusterMap* map = BuiltMap();
  static const TFreeSpaceIndex* const freeSpace = new TFreeSpaceIndex(FreeChainOf(*map));
  std::mt19937_64 random(7);
  size_t length = 0;
  for (auto _ : state) {
    const int64_t cluster = static_cast<int64_t>(random() % kTotalClusters);
    const std::string text = HoverText(*map, *freeSpace, kPaths, cluster, cluster + 1, true);
    length += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["text_bytes"] =
      static_cast<double>(length) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_HoverText)->Unit(benchmark::kMicrosecond);

// A plan of the synthetic tree in which every run stays where it is, each
// item's runs its target, and one unmovable extent per 1,000 runs: as many
// stretches as a real plan of this volume.
const TVolumePlan& SyntheticPlan() {
  static const TVolumePlan* const plan = [] {
    auto* made = new TVolumePlan;  // kept to the end
    std::vector<const TItem*> stack = {Tree()};
    while (!stack.empty()) {
      const TItem* item = stack.back();
      stack.pop_back();
      TItemTarget target{item, static_cast<int64_t>(made->runs.size()), 0, 0, -1};
      for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
        made->runs.push_back(TTargetRun{run->vcn, run->lcn, run->length});
        ++target.runCount;
      }
      made->items.push_back(target);
      for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
        stack.push_back(child);
      }
    }
    const int64_t slot = kTotalClusters / kRuns;
    for (int64_t i = 0; i < kRuns; i += 1000) made->unmovable.push_back({i * slot + 130, 3});
    return made;
  }();
  return *plan;
}

// Making the picture after the plan from the plan's runs, once the worker
// has finished (on the window's thread).
void BM_BuildPlannedMap(benchmark::State& state) {
  const TVolumePlan& plan = SyntheticPlan();
  for (auto _ : state) {
    TPlannedMap planned(plan, kTotalClusters);
    benchmark::DoNotOptimize(planned.StretchCount());
  }
}
BENCHMARK(BM_BuildPlannedMap)->Unit(benchmark::kMillisecond)->Iterations(3);

// A full screen of the picture after the plan at 4,096 places; argument:
// clusters per cell.
void BM_ComputePlannedCellsFullScreen(benchmark::State& state) {
  static const TPlannedMap* const planned = new TPlannedMap(SyntheticPlan(), kTotalClusters);
  TFragmentViewLogic view(BuiltMap());
  view.SetPlannedMap(planned);
  view.SetMode(TMapMode::kPlanned);
  view.OnSize(1920, 1080);
  view.ComputeCells(1920, 1080);
  view.SetClustersPerCell(state.range(0));
  const int64_t lineClusters = view.Columns() * view.ClustersPerCell();
  const int64_t lastLine = kTotalClusters / lineClusters;
  constexpr int kPlaces = 4096;
  int place = 0;
  for (auto _ : state) {
    view.SetFirstCluster(lastLine * place / (kPlaces - 1) * lineClusters);
    view.ComputeCells(1920, 1080);
    benchmark::DoNotOptimize(view.CellColour(0));
    place = (place + 1) % kPlaces;
  }
}
BENCHMARK(BM_ComputePlannedCellsFullScreen)
    ->Arg(1)
    ->Arg(16384)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(4096);

}  // namespace

BENCHMARK_MAIN();
