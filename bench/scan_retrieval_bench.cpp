// The directory scan and fragment retrieval through the Linux services over
// 100,000 files in nested folders: on an NTFS image read through
// libntfs-3g, and on the same tree as a host folder read through readdir and
// FIEMAP. Both trees are made once and kept in the build tree.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/no_windows.h"
#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/handle_object.h"
#include "platform/linux/linux_services.h"
#include "tools/ntfs_image_builder.h"

namespace {

namespace fs = std::filesystem;

// 10 x 10 x 10 leaf folders of 100 files each, below 110 folders above them.
constexpr int kFanOut = 10;
constexpr int kFilesPerFolder = 100;
constexpr int kFiles = kFanOut * kFanOut * kFanOut * kFilesPerFolder;
// Bumped whenever the trees change, so stale caches are made again.
constexpr const char* kTreeVersion = "scan-retrieval tree 1";

fs::path CacheFolder() { return fs::path(DISKOPT_BUILD_DIR) / "bench-cache"; }

// Bytes of file number `index`: most files small enough to stay in their
// MFT record, the others one to four clusters.
uint64_t FileBytes(int index) {
  return index % 5 < 3 ? 40 + index % 500 : 4096 * (1 + index % 4) - 100;
}

// The folders of the tree, parents first, '/'-separated from the root.
std::vector<std::string> Folders() {
  std::vector<std::string> folders;
  for (int a = 0; a < kFanOut; ++a) {
    const std::string top = "/Area " + std::to_string(a);
    folders.push_back(top);
    for (int b = 0; b < kFanOut; ++b) {
      const std::string middle = top + "/Project " + std::to_string(b);
      folders.push_back(middle);
      for (int c = 0; c < kFanOut; ++c) folders.push_back(middle + "/Part " + std::to_string(c));
    }
  }
  return folders;
}

template <typename TMakeFolder, typename TMakeFile>
bool MakeTree(TMakeFolder makeFolder, TMakeFile makeFile) {
  int index = 0;
  for (const std::string& folder : Folders()) {
    if (!makeFolder(folder)) return false;
    if (std::count(folder.begin(), folder.end(), '/') < 3) continue;
    for (int file = 0; file < kFilesPerFolder; ++file, ++index) {
      if (!makeFile(folder + "/file " + std::to_string(file) + ".dat", index)) return false;
    }
  }
  return index == kFiles;
}

bool Stamped(const fs::path& stamp) {
  std::ifstream in(stamp);
  std::string text;
  std::getline(in, text);
  return text == kTreeVersion;
}

void Stamp(const fs::path& stamp) { std::ofstream(stamp) << kTreeVersion << "\n"; }

// The NTFS image, made unless the cache already holds it.
std::string NtfsImage() {
  const fs::path image = CacheFolder() / "scan-100k.img";
  const fs::path stamp = CacheFolder() / "scan-100k.img.done";
  if (Stamped(stamp)) return image.string();
  fs::create_directories(CacheFolder());
  fs::remove(stamp);
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 1ull << 30;
  format.label = "Bench";
  TBuildStatus status = builder.Format(image.string(), format);
  bool made = status && MakeTree(
                            [&](const std::string& folder) {
                              status = builder.MakeFolder(folder);
                              return status.ok;
                            },
                            [&](const std::string& file, int index) {
                              status =
                                  builder.MakeFile(file, TContent::Binary(FileBytes(index), index));
                              return status.ok;
                            });
  if (made) status = builder.Finish();
  if (!made || !status) {
    std::fprintf(stderr, "cannot make %s: %s\n", image.c_str(), status.message.c_str());
    return std::string();
  }
  Stamp(stamp);
  return image.string();
}

// The host folder, made unless the cache already holds it; synced, so its
// files have their blocks before FIEMAP is asked.
std::string HostTree() {
  const fs::path root = CacheFolder() / "scan-100k-tree";
  const fs::path stamp = CacheFolder() / "scan-100k-tree.done";
  if (Stamped(stamp)) return root.string();
  fs::remove(stamp);
  fs::remove_all(root);
  fs::create_directories(root);
  const bool made = MakeTree(
      [&](const std::string& folder) { return fs::create_directory(root.string() + folder); },
      [&](const std::string& file, int index) {
        std::ofstream out(root.string() + file, std::ios::binary);
        out << TContent::Binary(FileBytes(index), index).Slice(0, FileBytes(index));
        return out.good();
      });
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  const bool synced = fd >= 0 && syncfs(fd) == 0;
  if (fd >= 0) close(fd);
  if (!made || !synced) {
    std::fprintf(stderr, "cannot make %s\n", root.c_str());
    return std::string();
  }
  Stamp(stamp);
  return root.string();
}

// Adds the items of a tree and their runs to the counts.
void Count(const TItem* item, int64_t* items, int64_t* runs) {
  ++*items;
  *runs += item->fragmentCount;
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    Count(child, items, runs);
  }
}

// One scan and retrieval per iteration, each with services of its own, so
// every iteration mounts afresh and remembers nothing from the one before.
void ScanAndRetrieve(benchmark::State& state, const std::string& drivePath) {
  if (drivePath.empty()) {
    state.SkipWithError("the tree could not be made");
    return;
  }
  TNoWindows windows;
  int64_t items = 0;
  int64_t fragments = 0;
  for (auto _ : state) {
    TDriveTable drives;
    drives.Map('D', drivePath);
    TLinuxServices services(drives);
    TDriveOptimizer drive('D', services, windows, kDriveStages);
    drive.CreateMemoryTree();
    drive.FillMemoryTree();
    state.PauseTiming();
    if (drive.root == nullptr) {
      state.SkipWithError("the root did not open");
      break;
    }
    int64_t found = 0;
    Count(drive.root, &found, &fragments);
    if (found < kFiles) {
      state.SkipWithError("items are missing");
      break;
    }
    items += found;
    state.ResumeTiming();
  }
  state.SetItemsProcessed(items);
  state.counters["items"] = static_cast<double>(items) / std::max<double>(1, state.iterations());
  state.counters["runs"] = static_cast<double>(fragments) / std::max<double>(1, state.iterations());
}

void BM_ScanAndRetrieveNtfsImage(benchmark::State& state) { ScanAndRetrieve(state, NtfsImage()); }
BENCHMARK(BM_ScanAndRetrieveNtfsImage)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_ScanAndRetrieveHostFolder(benchmark::State& state) { ScanAndRetrieve(state, HostTree()); }
BENCHMARK(BM_ScanAndRetrieveHostFolder)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
