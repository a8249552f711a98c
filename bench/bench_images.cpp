#include "bench/bench_images.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr int kAreas = 100;
constexpr int kLeavesPerArea = 100;
constexpr int kMillionFiles = 989900;
// Bumped whenever the million-item tree changes, so stale caches are made
// again.
constexpr const char* kMillionVersion = "million-item tree 1";

uint64_t MillionFileBytes(int index) {
  return index % 5 != 0 ? 30 + index % 600 : 4096 * (1 + index % 2) - 200;
}

// An image sized for the data (with slack for cluster tails), a 4 KiB of MFT
// and index per item, and the MFT zone.
TNtfsFormat FormatFor(uint64_t dataBytes, uint64_t items) {
  TNtfsFormat format;
  format.label = "Bench";
  format.imageBytes = ((dataBytes * 3 / 2 + items * 4096 + (1ull << 30)) >> 20) << 20;
  return format;
}

TBuildStatus MakeMillionTree(TNtfsImageBuilder& builder, TBenchImageCounts* counts) {
  int index = 0;
  for (int area = 0; area < kAreas; ++area) {
    const std::string areaPath = "/Area " + std::to_string(area);
    TBuildStatus status = builder.MakeFolder(areaPath);
    if (!status) return status;
    ++counts->folders;
    for (int leaf = 0; leaf < kLeavesPerArea; ++leaf) {
      const std::string leafPath = areaPath + "/Folder " + std::to_string(leaf);
      status = builder.MakeFolder(leafPath);
      if (!status) return status;
      ++counts->folders;
      const int files = area * kLeavesPerArea + leaf < 100 ? 98 : 99;
      for (int file = 0; file < files; ++file, ++index) {
        const uint64_t bytes = MillionFileBytes(index);
        status = builder.MakeFile(leafPath + "/item " + std::to_string(file) + ".dat",
                                  TContent::Binary(bytes, static_cast<uint64_t>(index)));
        if (!status) return status;
        ++counts->files;
        counts->dataBytes += bytes;
      }
    }
  }
  return index == kMillionFiles ? TBuildStatus::Success()
                                : TBuildStatus::Failure("MakeMillionItemImage: wrong file count");
}

// The bytes the files below folder hold, and their count with the folders'.
void TreeSize(const fs::path& folder, uint64_t* bytes, uint64_t* items) {
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    ++*items;
    if (it->is_regular_file(error) && !it->is_symlink(error)) *bytes += it->file_size(error);
  }
}

TBuildStatus CopyTree(TNtfsImageBuilder& builder, const fs::path& root, TBenchImageCounts* counts) {
  std::error_code error;
  uint64_t seed = 0;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    const std::string path = "/" + fs::relative(it->path(), root, error).generic_string();
    const fs::file_status status = it->symlink_status(error);
    bool made = false;
    if (fs::is_directory(status)) {
      made = builder.MakeFolder(path).ok;
      if (made) ++counts->folders;
      // A folder that could not be made has no place for what lies below.
      if (!made) it.disable_recursion_pending();
    } else if (fs::is_regular_file(status)) {
      const uint64_t bytes = it->file_size(error);
      made = builder.MakeFile(path, TContent::Binary(bytes, ++seed)).ok;
      if (made) {
        ++counts->files;
        counts->dataBytes += bytes;
      }
    }
    if (!made) ++counts->skipped;
  }
  return error ? TBuildStatus::Failure("MakeHostTreeImage: " + error.message())
               : TBuildStatus::Success();
}

}  // namespace

TBuildStatus MakeMillionItemImage(const std::string& image, TBenchImageCounts* counts) {
  TNtfsImageBuilder builder;
  TBuildStatus status = builder.Format(image, FormatFor(2ull << 30, 1000000));
  if (status) status = MakeMillionTree(builder, counts);
  if (status) status = builder.Finish();
  return status;
}

TBuildStatus MakeHostTreeImage(const std::string& folder, const std::string& image,
                               TBenchImageCounts* counts) {
  uint64_t bytes = 0;
  uint64_t items = 0;
  TreeSize(folder, &bytes, &items);
  TNtfsImageBuilder builder;
  TBuildStatus status = builder.Format(image, FormatFor(bytes, items));
  if (status) status = CopyTree(builder, folder, counts);
  if (status) status = builder.Finish();
  return status;
}

std::string CachedMillionItemImage(const std::string& cacheFolder) {
  const fs::path image = fs::path(cacheFolder) / "million.img";
  const fs::path stamp = fs::path(cacheFolder) / "million.img.done";
  std::string version;
  std::getline(std::ifstream(stamp), version);
  if (version == kMillionVersion) return image.string();
  std::error_code error;
  fs::create_directories(cacheFolder, error);
  fs::remove(stamp, error);
  TBenchImageCounts counts;
  const TBuildStatus status = MakeMillionItemImage(image.string(), &counts);
  if (!status) {
    std::fprintf(stderr, "cannot make %s: %s\n", image.c_str(), status.message.c_str());
    return std::string();
  }
  std::ofstream(stamp) << kMillionVersion << "\n";
  return image.string();
}
