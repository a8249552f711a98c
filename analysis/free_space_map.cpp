// The second stage: the volume's free extents, read from its cluster
// allocation bitmap, and the free-space log.
#include "analysis/free_space_map.h"

#include <cinttypes>
#include <cstring>

#include "analysis/fs_control.h"
#include "drive/drive_optimizer.h"
#include "platform/log_file.h"

namespace {

constexpr uint32_t kBitmapReplyBytes = 16384;
// Clusters one reply describes after its 16-byte header: 16,368 bytes of bits.
constexpr int64_t kClustersPerReply = (kBitmapReplyBytes - sizeof(TVolumeBitmapHeader)) * 8;

}  // namespace

void WriteFreeExtentLog(TSystemServices& services, const TFragment* extents, const char* fileName) {
  TLogFile log(services, fileName);
  if (!log.IsOpen()) return;
  for (const TFragment* extent = extents; extent != nullptr; extent = extent->next) {
    log.Print("%" PRId64 "\t%" PRId64 "\t%" PRId64 "\n", extent->lcn, extent->lcn + extent->length,
              extent->length);
  }
}

void TDriveOptimizer::MapFreeSpace() {
  statusText.Set("Mapping free space");
  char volumePath[7] = "\\\\.\\A:";
  volumePath[4] = driveLetter;
  THandle volume = services.OpenForRead(volumePath, false);
  if (volume == InvalidHandle()) return;

  // One reply buffer for every query of the stage, on the worker's stack.
  alignas(8) unsigned char reply[kBitmapReplyBytes];
  const uint8_t* bits = reply + sizeof(TVolumeBitmapHeader);
  TFragment* tail = nullptr;
  // The first cluster not yet scanned. A reply that starts below it (the
  // platform rounds its start down) has those clusters skipped, so no free
  // run is listed twice.
  int64_t scannedTo = 0;
  TStartingLcnInput request = {0};
  for (;;) {
    if (StopRequested()) break;
    uintptr_t replyBytes = 0;
    const TNtStatus status = IssueFsControl(services, volume, kFsctlGetVolumeBitmap, &request,
                                            sizeof(request), reply, kBitmapReplyBytes, &replyBytes);
    if (!ReplyIsValid(status)) break;
    TVolumeBitmapHeader header;
    std::memcpy(&header, reply, sizeof(header));
    totalClusters = header.startingLcn + header.bitmapSize;
    int64_t count = header.bitmapSize < kClustersPerReply ? header.bitmapSize : kClustersPerReply;
    // A reply shorter than the buffer holds only the bits it returned; the
    // bytes after them are left from an earlier reply and never read.
    if (replyBytes >= sizeof(TVolumeBitmapHeader) && replyBytes <= kBitmapReplyBytes) {
      const int64_t returned = static_cast<int64_t>(replyBytes - sizeof(TVolumeBitmapHeader)) * 8;
      if (returned < count) count = returned;
    }

    int64_t runStart = -1;  // first cluster of the open run, -1 when none is open
    int64_t runLength = 0;
    auto closeRun = [&]() {
      TFragment* extent = NewFragment(nullptr, 0, runStart, runLength);
      runStart = -1;
      if (extent == nullptr) return;
      if (tail == nullptr) {
        freeExtents = extent;
      } else {
        tail->next = extent;
      }
      tail = extent;
    };
    for (int64_t i = 0; i < count; ++i) {
      const int64_t cluster = header.startingLcn + i;
      const bool used = ((bits[i >> 3] >> (i & 7)) & 1) != 0;
      if (!used && cluster >= scannedTo) {
        if (runStart < 0) {
          runStart = cluster;
          runLength = 1;
        } else {
          ++runLength;
        }
      } else if (runStart >= 0) {
        closeRun();
      }
    }
    // A run never continues into the next reply: it ends with this one.
    if (runStart >= 0) closeRun();
    if (header.startingLcn + count > scannedTo) scannedTo = header.startingLcn + count;

    if (status != kStatusBufferOverflow) {
      services.Close(volume);
      WriteFreeExtentLog(services, freeExtents, "C:\\dirlist_free.log");
      return;
    }
    // A reply that does not move forward would be asked for again forever.
    if (count <= 0) break;
    request.startingLcn = header.startingLcn + count;
  }
  services.Close(volume);
}
