// make_bench_image: the NTFS images of the whole-process measurements.
//   make_bench_image million <cache folder>
//       the 1,000,000-item image, kept as <cache folder>/million.img and made
//       only when it is not there yet
//   make_bench_image copy <folder> <image>
//       the folders and regular files below a host folder, with their sizes
// Prints the image's path (million) or what it holds (copy).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench_images.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "million") == 0) {
    const std::string image = CachedMillionItemImage(argv[2]);
    if (image.empty()) return 1;
    std::printf("%s\n", image.c_str());
    return 0;
  }
  if (argc != 4 || std::strcmp(argv[1], "copy") != 0) {
    std::fprintf(stderr,
                 "usage: make_bench_image million <cache folder>\n"
                 "       make_bench_image copy <folder> <image>\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  TBenchImageCounts counts;
  const TBuildStatus status = MakeHostTreeImage(argv[2], argv[3], &counts);
  if (!status) {
    std::fprintf(stderr, "make_bench_image: %s\n", status.message.c_str());
    return 1;
  }
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  std::printf("%s: %lld folders, %lld files, %lld left out, %llu bytes of data, %.1f s\n", argv[3],
              static_cast<long long>(counts.folders), static_cast<long long>(counts.files),
              static_cast<long long>(counts.skipped),
              static_cast<unsigned long long>(counts.dataBytes), seconds.count());
  return 0;
}
