// The second stage: the volume's free extents, read from its cluster
// allocation bitmap, and the free-space log.
#include "analysis/free_space_map.h"

#include <cinttypes>
#include <cstring>

#include "analysis/free_runs.h"
#include "analysis/fs_control.h"
#include "drive/drive_optimizer.h"
#include "platform/log_file.h"

namespace {

// One reply: the 16-byte header and 16,368 bytes of bits (130,944 clusters).
constexpr uint32_t kBitmapReplyBytes = 16384;
constexpr int64_t kBitmapReplyClusters =
    (int64_t{kBitmapReplyBytes} - int64_t{sizeof(TVolumeBitmapHeader)}) * 8;

}  // namespace

void WriteFreeExtentLog(TSystemServices& services, const TFragment* extents, const char* fileName,
                        TOutputSet& output) {
  TLogFile log(services, fileName, output);
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
  if (volume == InvalidHandle()) {
    Fail("the volume could not be opened: " + services.LastErrorText());
    return;
  }

  // Where the services hold the free space as extents, they are taken as
  // they are, cut as the replies would cut them: the same extents and log,
  // with no bitmap of the whole volume built and scanned.
  TFreeSpaceExtents space;
  if (services.VolumeFreeExtents(volume, &space)) {
    if (HoldOrStop()) {
      services.Close(volume);
      return;
    }
    TFragmentChain extents;
    AppendFreeStretches(space, kBitmapReplyClusters, &extents);
    totalClusters = space.clusterCount;
    freeExtents = extents.head;
    FinishFreeSpace(volume);
    return;
  }

  // One reply buffer for every query of the stage, on the worker's stack.
  alignas(8) unsigned char reply[kBitmapReplyBytes];
  TFragmentChain extents;
  // The first cluster not yet scanned: a reply that starts below it (the
  // platform rounds its start down) has those clusters skipped.
  int64_t scannedTo = 0;
  TStartingLcnInput request = {0};
  for (;;) {
    if (HoldOrStop()) break;
    uintptr_t replyBytes = 0;
    const TNtStatus status = IssueFsControl(services, volume, kFsctlGetVolumeBitmap, &request,
                                            sizeof(request), reply, kBitmapReplyBytes, &replyBytes);
    if (!ReplyIsValid(status)) {
      Fail("its free space could not be read: " + services.LastErrorText());
      break;
    }
    TVolumeBitmapHeader header;
    std::memcpy(&header, reply, sizeof(header));
    totalClusters = header.startingLcn + header.bitmapSize;
    const int64_t count = ClustersInBitmapReply(header.bitmapSize, replyBytes, kBitmapReplyBytes);
    scannedTo = AppendFreeRuns(reply + sizeof(TVolumeBitmapHeader), header.startingLcn, count,
                               scannedTo, &extents);
    freeExtents = extents.head;

    if (status != kStatusBufferOverflow) {
      FinishFreeSpace(volume);
      return;
    }
    // A reply that does not move forward would be asked for again forever.
    if (count <= 0) break;
    request.startingLcn = header.startingLcn + count;
  }
  services.Close(volume);
}

void TDriveOptimizer::FinishFreeSpace(THandle volume) {
  services.Close(volume);
  for (const std::string& name : LogNames("C:\\dirlist_free.log")) {
    WriteFreeExtentLog(services, freeExtents, name.c_str(), output);
  }
  // The pipeline reads no runs without free space to plan into.
  if (freeExtents == nullptr) Fail("the volume has no free cluster: no runs were read");
}
