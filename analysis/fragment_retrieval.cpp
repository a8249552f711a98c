// The third stage: every item's size and runs of clusters, read with the
// retrieval pointers request; items that cannot be opened leave the tree.
#include <cstring>
#include <string>

#include "analysis/fs_control.h"
#include "analysis/retrieval_runs.h"
#include "drive/drive_optimizer.h"

namespace {

constexpr uint32_t kRetrievalReplyBytes = 16386;  // room for 1,023 extents

}  // namespace

void TDriveOptimizer::FillMemoryTree() {
  statusText.Set("Filling data into the memory tree");
  detailText.Set("Filling");
  const char prefix[3] = {driveLetter, ':', '\0'};
  if (!FillItem(prefix, root)) {
    Fail(std::string("the root folder could not be opened: ") + services.LastErrorText());
    ReleaseItem(root);
    root = nullptr;
  }
  detailText.Set("");
}

bool TDriveOptimizer::FillItem(const char* path, TItem* item) {
  detailText.Set(path);
  itemsCounted.fetch_add(1, std::memory_order_relaxed);
  char buffer[kMaxPath];
  const size_t pathLength = std::strlen(path);
  const bool folder = item->IsFolder();
  // The scan left out every entry whose path would not fit; a path that
  // still does not fit cannot be opened and leaves the tree below.
  const bool fits = pathLength + (folder ? 1 : 0) + 1 <= sizeof(buffer);
  THandle handle = InvalidHandle();
  if (fits) {
    std::memcpy(buffer, path, pathLength);
    size_t end = pathLength;
    if (folder) buffer[end++] = '\\';
    buffer[end] = '\0';
    handle = services.OpenForRead(buffer, folder);
  }
  if (handle == InvalidHandle()) return false;
  uint32_t low = 0;
  uint32_t high = 0;
  // A size that cannot be read is recorded as 0 rather than as the
  // all-ones failure value.
  if (services.FileSize(handle, &low, &high)) {
    item->size = static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
  }
  ReadRetrievalPointers(item, handle);
  services.Close(handle);

  const size_t childStart = pathLength + (folder ? 1 : 0);
  TItem* previous = nullptr;  // the last child kept
  for (TItem* child = item->firstChild; child != nullptr;) {
    TItem* next = child->nextSibling;
    if (StopRequested()) return true;
    const size_t nameLength = std::strlen(child->name);
    bool kept = false;
    if (childStart + nameLength + 1 <= sizeof(buffer)) {
      std::memcpy(buffer + childStart, child->name, nameLength + 1);
      kept = FillItem(buffer, child);
    }
    if (kept) {
      previous = child;
    } else {
      item->UnlinkChildAfter(previous, child);
      ReleaseItem(child);
    }
    child = next;
  }
  return true;
}

void TDriveOptimizer::ReadRetrievalPointers(TItem* item, THandle handle) {
  alignas(8) unsigned char reply[kRetrievalReplyBytes];
  TFragmentChain runs;
  TStartingVcnInput request = {0};
  for (;;) {
    uintptr_t replyBytes = 0;
    const TNtStatus status =
        IssueFsControl(services, handle, kFsctlGetRetrievalPointers, &request, sizeof(request),
                       reply, kRetrievalReplyBytes, &replyBytes);
    if (!ReplyIsValid(status)) return;
    TRetrievalPointersHeader header;
    std::memcpy(&header, reply, sizeof(header));
    // A follow-up reply that starts below the VCN asked for repeats runs
    // already read (Wine answers every request with the same fake extent):
    // keep what was read and stop.
    if (request.startingVcn > 0 && header.startingVcn < request.startingVcn) return;
    const TRetrievalReply read = AppendRetrievalRuns(reply, kRetrievalReplyBytes, item, &runs);
    if (item->fragments == nullptr) item->fragments = runs.head;
    item->fragmentCount += static_cast<int32_t>(read.extents);
    item->clusters = read.nextVcn;
    if (status != kStatusBufferOverflow) return;
    // A reply that does not advance would be asked for again forever.
    if (read.nextVcn <= request.startingVcn) return;
    request.startingVcn = read.nextVcn;
  }
}
