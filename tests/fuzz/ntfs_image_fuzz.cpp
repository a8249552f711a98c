// libFuzzer target over the Linux services' read of an NTFS image: the input
// is an image, opened as drive D: as the program opens one, read in MFT
// order and again by the index walk: every folder listed, every item opened
// with its size and retrieval pointers read, the volume's bitmap, free space
// and damage read. The walk is bounded (depth,
// items, replies per stream) so an image whose folders loop back costs a
// bounded time here; that the stages end on such images is tested apart.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/handle_object.h"
#include "platform/linux/linux_services.h"
#include "platform/path_buffer.h"

namespace {

constexpr int kMaxDepth = 12;
constexpr int kMaxItems = 2000;
constexpr int kMaxRepliesPerStream = 256;
constexpr uint32_t kReplyBytes = 512;  // small, so long replies come in pieces

// Reads a stream's retrieval pointers to the end, one small reply at a time.
void ReadRuns(THandle file) {
  alignas(8) uint8_t reply[kReplyBytes];
  TStartingVcnInput input = {};
  for (int replies = 0; replies < kMaxRepliesPerStream; ++replies) {
    TIoStatusBlock io = {};
    const TNtStatus status = ObjectFsControl(file, &io, kFsctlGetRetrievalPointers, &input,
                                             sizeof(input), reply, sizeof(reply));
    if (status != kStatusBufferOverflow) return;
    const auto* header = reinterpret_cast<const TRetrievalPointersHeader*>(reply);
    if (header->extentCount == 0) return;
    const auto* extents = reinterpret_cast<const TRetrievalExtent*>(reply + sizeof(*header));
    const int64_t next = extents[header->extentCount - 1].nextVcn;
    if (next <= input.startingVcn) return;
    input.startingVcn = next;
  }
}

// Reads the whole cluster bitmap of the volume, one small reply at a time.
void ReadBitmap(TSystemServices& services) {
  THandle volume = services.OpenForRead("\\\\.\\D:", false);
  if (volume == InvalidHandle()) return;
  alignas(8) uint8_t reply[kReplyBytes];
  TStartingLcnInput input = {};
  for (int replies = 0; replies < kMaxRepliesPerStream; ++replies) {
    TIoStatusBlock io = {};
    const TNtStatus status = ObjectFsControl(volume, &io, kFsctlGetVolumeBitmap, &input,
                                             sizeof(input), reply, sizeof(reply));
    if (status != kStatusBufferOverflow) break;
    const auto* header = reinterpret_cast<const TVolumeBitmapHeader*>(reply);
    const int64_t next = header->startingLcn + 8 * (kReplyBytes - sizeof(*header));
    if (next <= input.startingLcn) break;
    input.startingLcn = next;
  }
  services.Close(volume);
}

void Walk(TSystemServices& services, const std::string& folder, int depth, int* items) {
  TFindData entry;
  THandle find = services.FindFirst((folder + "*.*").c_str(), &entry);
  if (find == InvalidHandle()) return;
  do {
    const bool isFolder = (entry.attributes & kAttributeDirectory) != 0;
    if (isFolder && IsDotEntry(entry.name)) continue;
    if (++*items > kMaxItems) break;
    const std::string path = folder + entry.name;
    THandle item = services.OpenForRead(path.c_str(), isFolder);
    if (item != InvalidHandle()) {
      uint32_t low = 0;
      uint32_t high = 0;
      services.FileSize(item, &low, &high);
      ReadRuns(item);
      services.Close(item);
    }
    const bool link = (entry.attributes & kAttributeReparsePoint) != 0;
    if (isFolder && !link && depth < kMaxDepth) Walk(services, path + "\\", depth + 1, items);
  } while (services.FindNext(find, &entry));
  services.FindEnd(find);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The image lives in memory; its /proc/self/fd name is a regular file to
  // the drive table and the device, as an image file is.
  const int fd = memfd_create("ntfs-image", MFD_CLOEXEC);
  if (fd < 0) return 0;
  size_t written = 0;
  while (written < size) {
    const ssize_t step = write(fd, data + written, size - written);
    if (step <= 0) break;
    written += static_cast<size_t>(step);
  }
  // Both read orders: the MFT read in order by the collector, and the
  // folder indexes walked record by record.
  for (const TNtfsReadOrder order : {TNtfsReadOrder::kMftOrder, TNtfsReadOrder::kIndexWalk}) {
    if (written != size) break;
    TDriveTable drives;
    drives.Map('D', "/proc/self/fd/" + std::to_string(fd));
    TLinuxServices services(drives, order);
    int items = 0;
    Walk(services, "D:\\", 0, &items);
    ReadBitmap(services);
    TDiskGeometry geometry;
    services.DiskFreeSpace("D:\\", &geometry);
    services.TakeVolumeDamage('D');
  }
  close(fd);
  return 0;
}
