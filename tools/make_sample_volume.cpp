// make_sample_volume <image> [--seed N]: builds the demo's sample NTFS
// volume into <image> (replacing it) and prints what it holds. The same seed
// gives the same image bytes.
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/sample_volume.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: make_sample_volume <image> [--seed N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string image;
  uint64_t seed = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seed") == 0) {
      if (i + 1 >= argc) return Usage();
      char* end = nullptr;
      errno = 0;
      seed = std::strtoull(argv[++i], &end, 0);
      if (end == argv[i] || *end != '\0' || errno != 0) return Usage();
    } else if (argv[i][0] == '-' || !image.empty()) {
      return Usage();
    } else {
      image = argv[i];
    }
  }
  if (image.empty()) return Usage();
  const auto start = std::chrono::steady_clock::now();
  TSampleSummary summary;
  const TBuildStatus status = BuildSampleVolume(image, seed, &summary);
  if (!status) {
    std::fprintf(stderr, "make_sample_volume: %s\n", status.message.c_str());
    return 1;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  std::printf("%s: %lld folders, %lld files, %llu bytes of data (seed %llu, %lld ms)\n",
              image.c_str(), static_cast<long long>(summary.folders),
              static_cast<long long>(summary.files),
              static_cast<unsigned long long>(summary.dataBytes),
              static_cast<unsigned long long>(seed), static_cast<long long>(elapsed.count()));
  return 0;
}
