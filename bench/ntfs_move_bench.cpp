// Moving a file's clusters on an NTFS image through the Linux services'
// FSCTL_MOVE_FILE against copying the same bytes with cp on the file
// system holding the image: bytes per second of each. The image (1 GiB,
// one file of 256 MiB) is made once in the build tree. Not run by the
// tests; the goal is a move at 0.7 times cp's speed or better.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/linux_services.h"
#include "platform/linux/ntfs_cluster_move.h"
#include "tools/ntfs_image_builder.h"

namespace {

constexpr uint64_t kFileBytes = 256ull << 20;
const std::string kImage = std::string(DISKOPT_BUILD_DIR) + "/ntfs_move_bench.img";
const std::string kPlain = std::string(DISKOPT_BUILD_DIR) + "/ntfs_move_bench.bin";

bool MakeImage() {
  if (access(kImage.c_str(), F_OK) == 0 && access(kPlain.c_str(), F_OK) == 0) return true;
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 1ull << 30;
  const TContent content = TContent::Binary(kFileBytes, 1);
  if (!builder.Format(kImage, format) || !builder.MakeFile("/big.bin", content) ||
      !builder.Finish()) {
    return false;
  }
  // The same bytes as a plain file, for cp.
  FILE* plain = std::fopen(kPlain.c_str(), "wb");
  if (plain == nullptr) return false;
  std::vector<uint8_t> chunk(1 << 20);
  for (uint64_t at = 0; at < kFileBytes; at += chunk.size()) {
    content.Fill(at, chunk.data(), chunk.size());
    std::fwrite(chunk.data(), 1, chunk.size(), plain);
  }
  return std::fclose(plain) == 0;
}

// The first cluster of `count` free ones from fromLcn on, by the volume's
// bitmap as its handle gives it; -1 when none.
int64_t FreeTarget(TLinuxServices& services, THandle volume, int64_t count, int64_t fromLcn) {
  TStartingLcnInput input = {0};
  std::vector<uint8_t> reply(sizeof(TVolumeBitmapHeader) + (8u << 20));
  TIoStatusBlock io = {};
  if (services.FsControl(volume, &io, kFsctlGetVolumeBitmap, &input, sizeof input, reply.data(),
                         static_cast<uint32_t>(reply.size())) != kStatusSuccess) {
    return -1;
  }
  TVolumeBitmapHeader header;
  std::memcpy(&header, reply.data(), sizeof header);
  const uint8_t* bits = reply.data() + sizeof header;
  for (int64_t start = fromLcn; start + count <= header.bitmapSize;) {
    const int64_t used = FirstUsedCluster(bits, 0, start, count);
    if (used < 0) return start;
    start = used + 1;
  }
  return -1;
}

void BM_MoveFile(benchmark::State& state) {
  if (!MakeImage()) return state.SkipWithError("the image cannot be made");
  TDriveTable drives;
  drives.Map('D', kImage);
  TLinuxServices services(drives);
  THandle volume = services.OpenVolumeForMoves('D');
  if (volume == InvalidHandle()) return state.SkipWithError(services.LastErrorText().c_str());
  THandle file = services.OpenFileForMoves(volume, "D:\\big.bin", false);
  const int64_t clusters = static_cast<int64_t>(kFileBytes / 4096);
  int round = 0;
  for (auto _ : state) {
    // Back and forth between the volume's first and second half.
    const int64_t target = FreeTarget(services, volume, clusters, round++ % 2 == 0 ? 131072 : 0);
    TMoveFileData request = {file, 0, target, static_cast<uint32_t>(clusters)};
    TIoStatusBlock io = {};
    if (target < 0 || services.FsControl(volume, &io, kFsctlMoveFile, &request, sizeof request,
                                         nullptr, 0) != kStatusSuccess) {
      state.SkipWithError(services.LastErrorText().c_str());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
  services.Close(file);
  services.Close(volume);
}
BENCHMARK(BM_MoveFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);

// cp of the same bytes, made as durable as a move makes its copy.
void BM_CopyWithCp(benchmark::State& state) {
  if (!MakeImage()) return state.SkipWithError("the image cannot be made");
  const std::string copy = kPlain + ".copy";
  const std::string command = "cp --reflink=never " + kPlain + " " + copy + " && sync -d " + copy;
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("cp failed");
      break;
    }
  }
  unlink(copy.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}
BENCHMARK(BM_CopyWithCp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(6);

}  // namespace

BENCHMARK_MAIN();
