// The third stage: every item's size and runs of clusters, read with the
// retrieval pointers request; items that cannot be opened leave the tree.
// The opens are nearly all of the stage's work and need nothing of each
// other, so the tree is filled in pieces by two threads.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analysis/claim_conflicts.h"
#include "analysis/fs_control.h"
#include "analysis/retrieval_runs.h"
#include "analysis/run_checks.h"
#include "drive/drive_optimizer.h"
#include "model/record_pool.h"

namespace {

constexpr uint32_t kRetrievalReplyBytes = 16386;  // room for 1,023 extents

// A piece holds about this share of the tree's items (at most twice it), so
// the two threads that take the pieces in turn end at about the same time.
constexpr int64_t kPiecesPerTree = 16;

// After a child of folder has been filled (kept) or not: a child kept
// becomes the last one kept, one not kept leaves folder and is released.
// *previous is the last child kept before it.
void KeepOrDrop(TItem* folder, TItem* child, bool kept, TItem** previous) {
  if (kept) {
    *previous = child;
  } else {
    folder->UnlinkChildAfter(*previous, child);
    ReleaseItem(child);
  }
}

// The items of each folder's subtree (itself included), by folder; a file
// counts 1. One walk of the tree.
using TSubtreeSizes = std::unordered_map<const TItem*, int64_t>;
int64_t CountSubtrees(const TItem* item, TSubtreeSizes* sizes) {
  if (item->firstChild == nullptr) return 1;
  int64_t count = 1;
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    count += CountSubtrees(child, sizes);
  }
  (*sizes)[item] = count;
  return count;
}

// Siblings filled as one piece, each with everything below it, by whichever
// thread takes the piece: `count` items of one folder from `first` on.
// Made by the worker before the threads start; `lost` is written by the
// thread that took the piece and read by the worker after both have ended.
struct TFillPiece {
  TItem* folder;
  std::string folderPath;  // separator included
  TItem* first;
  int64_t count;
  std::vector<TItem*> lost;  // the piece's items that could not be opened
};

// What the two filling threads share: the pieces, in tree order, and the
// next one to take, which each thread claims with one atomic step, so no
// piece is filled twice. Each thread changes only the subtrees of the items
// of the pieces it took (children that cannot be opened leave them); the
// folders' own lists of those items are changed by the worker alone, after
// both threads have ended. Neighbouring items of a piece lie close in
// memory, so the two threads seldom write the same cache lines.
struct TFillShare {
  TDriveOptimizer* drive;
  std::vector<TFillPiece>* pieces;
  std::atomic<size_t> next{0};
  // What ended the helper thread early, if anything did; written by it,
  // read by the worker after the wait for it.
  std::exception_ptr helperFailed;
};

// Fills the pieces this thread takes; shown as FillItem takes it.
void FillPieces(TFillShare& share, bool shown) {
  TDriveOptimizer& drive = *share.drive;
  // Each run makes a fragment: taken from the pool in batches, so the two
  // threads seldom meet at its lock.
  TPoolReserve<TFragment> fragments(fragmentPool);
  char path[kMaxPath];
  for (;;) {
    const size_t index = share.next.fetch_add(1);
    if (index >= share.pieces->size()) return;
    TFillPiece& piece = (*share.pieces)[index];
    const size_t start = piece.folderPath.size();
    std::memcpy(path, piece.folderPath.data(), start);
    TItem* item = piece.first;
    for (int64_t i = 0; i < piece.count; ++i, item = item->nextSibling) {
      // A stop leaves the items not yet filled in the tree, unfilled, as a
      // stop leaves the rest of a folder; a pause holds both threads here.
      if (drive.HoldOrStop()) return;
      const size_t nameLength = std::strlen(item->name);
      const bool fits = start + nameLength + 1 <= sizeof(path);
      if (fits) std::memcpy(path + start, item->name, nameLength + 1);
      if (!fits || !drive.FillItem(path, item, shown)) piece.lost.push_back(item);
    }
  }
}

unsigned FillPiecesProc(void* parameter) {
  // An exception must not end the process from this thread: the worker
  // throws it again once this thread has ended.
  TFillShare& share = *static_cast<TFillShare*>(parameter);
  try {
    FillPieces(share, false);
  } catch (...) {
    share.helperFailed = std::current_exception();
  }
  return 0;
}

// Takes the items of the pieces that could not be opened out of the tree
// and releases them, walking the list of each folder that lost one once.
void DropLostItems(const std::vector<TFillPiece>& pieces) {
  std::unordered_set<const TItem*> lost;
  std::vector<TItem*> folders;  // in tree order, each once
  std::unordered_set<const TItem*> listed;
  for (const TFillPiece& piece : pieces) {
    if (piece.lost.empty()) continue;
    lost.insert(piece.lost.begin(), piece.lost.end());
    if (listed.insert(piece.folder).second) folders.push_back(piece.folder);
  }
  for (TItem* folder : folders) {
    TItem* previous = nullptr;  // the last child kept
    for (TItem* child = folder->firstChild; child != nullptr;) {
      TItem* next = child->nextSibling;
      KeepOrDrop(folder, child, lost.count(child) == 0, &previous);
      child = next;
    }
  }
}

// Cuts the filling of what the folder item at path holds (item itself
// filled) into pieces of about `most` items, in tree order: runs of
// siblings, and a subfolder holding more than `most` opened here and cut in
// turn. A subfolder that cannot be opened here leaves the tree.
void CutIntoPieces(TDriveOptimizer& drive, const std::string& path, TItem* item, int64_t most,
                   const TSubtreeSizes& sizes, std::vector<TFillPiece>* pieces) {
  const std::string folderPath = path + '\\';
  TFillPiece run{item, folderPath, nullptr, 0, {}};
  int64_t runItems = 0;
  const auto close = [&] {
    if (run.count > 0) pieces->push_back(run);
    run = TFillPiece{item, folderPath, nullptr, 0, {}};
    runItems = 0;
  };
  TItem* previous = nullptr;  // the last child kept
  for (TItem* child = item->firstChild; child != nullptr;) {
    TItem* next = child->nextSibling;
    const auto size = sizes.find(child);
    const int64_t items = size == sizes.end() ? 1 : size->second;
    bool kept = true;
    // After a stop, no further folder is opened: the rest goes into pieces
    // that the filling threads leave unfilled.
    if (child->IsFolder() && items > most && !drive.HoldOrStop()) {
      close();
      const std::string childPath = folderPath + child->name;
      kept = childPath.size() + 1 <= static_cast<size_t>(kMaxPath) &&
             drive.OpenItem(childPath.c_str(), child, true);
      if (kept) CutIntoPieces(drive, childPath, child, most, sizes, pieces);
    } else {
      if (run.count == 0) run.first = child;
      ++run.count;
      runItems += items;
      if (runItems >= most) close();
    }
    KeepOrDrop(item, child, kept, &previous);
    child = next;
  }
  close();
}

}  // namespace

void TDriveOptimizer::FillMemoryTree() {
  statusText.Set("Filling data into the memory tree");
  detailText.Set("Filling");
  const std::string rootPath{driveLetter, ':'};
  readFrom.store(itemsCounted.load(std::memory_order_relaxed), std::memory_order_relaxed);
  if (!OpenItem(rootPath.c_str(), root, true)) {
    Fail(std::string("the root folder could not be opened: ") + services.LastErrorText());
    ReleaseItem(root);
    root = nullptr;
    detailText.Set("");
    return;
  }
  TSubtreeSizes sizes;
  const int64_t items = CountSubtrees(root, &sizes);
  // The root, read already, among them; released after readFrom.
  itemsToRead.store(items, std::memory_order_release);
  std::vector<TFillPiece> pieces;
  CutIntoPieces(*this, rootPath, root, std::max<int64_t>(1, items / kPiecesPerTree), sizes,
                &pieces);
  TFillShare share{this, &pieces, {0}, nullptr};
  THandle helper = services.StartThread(FillPiecesProc, &share);
  // The helper reads share and the pieces until it ends: what stops this
  // thread early waits for it before leaving.
  std::exception_ptr failed;
  try {
    FillPieces(share, true);
  } catch (...) {
    failed = std::current_exception();
  }
  // Without a second thread this one has taken every piece.
  if (helper != InvalidHandle()) {
    services.WaitForThreads(&helper, 1);
    services.Close(helper);
  }
  if (!failed) failed = share.helperFailed;
  if (failed) std::rethrow_exception(failed);
  DropLostItems(pieces);
  // What the services found wrong while the tree was read, marked on its
  // items; then the clusters the items claim, against each other and
  // against the cluster bitmap.
  TakeVolumeDamage();
  // Asked here, on the thread whose mount read the volume.
  clustersHeldByNoFile = services.ClustersHeldByNoFile(driveLetter);
  // A Linux folder's file system is live: its space map and each file's
  // runs are read at different moments while programs write (a copy-on-write
  // file system puts every rewritten block somewhere new), and reflinked
  // copies and snapshots share extents by design. Claims that disagree there
  // are the file system moving on, not damage; its own checker judges it.
  const bool liveFileSystem =
      services.DriveOrigin(driveLetter).kind == TDriveOrigin::TKind::kFolder;
  if (!StopRequested() && !liveFileSystem) ReportClaimConflicts();
  detailText.Set("");
}

void TDriveOptimizer::ReportClaimConflicts() {
  // A listing path, the root as a lone separator.
  const auto pathOf = [](const TItem* item) {
    const std::string path = ListingPath(item);
    return path.empty() ? std::string("\\") : path;
  };
  for (const TClaimConflict& conflict : FindClaimConflicts(root, freeExtents)) {
    const std::string clusters = std::to_string(conflict.clusters) + " clusters from cluster " +
                                 std::to_string(conflict.lcn);
    if (conflict.other == nullptr) {
      ReportDamage(conflict.item, pathOf(conflict.item),
                   "it claims " + clusters + " that the cluster bitmap calls free");
      continue;
    }
    const std::string item = pathOf(conflict.item);
    const std::string other = pathOf(conflict.other);
    if (conflict.item == conflict.other) {
      ReportDamage(conflict.item, item, "it claims " + clusters + " twice");
      continue;
    }
    ReportDamage(conflict.item, item, "it shares " + clusters + " with " + other);
    ReportDamage(conflict.other, other, "it shares " + clusters + " with " + item);
  }
}

bool TDriveOptimizer::OpenItem(const char* path, TItem* item, bool shown) {
  if (shown) detailText.Set(path);
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
  TFileIdentity identity;
  if (services.FileIdentity(handle, &identity)) item->fileId = identity.file;
  // The file system's own word that the item's mapping is damaged (Windows
  // says so of a corrupt file); a stream it cannot map for other reasons (no
  // FIEMAP on a host's file system) is no damage of the volume.
  const TNtStatus refused = ReadRetrievalPointers(item, handle);
  const bool corrupt = refused == kStatusFileCorruptError || refused == kStatusDiskCorruptError;
  const std::string refusal = corrupt ? services.LastErrorText() : std::string();
  services.Close(handle);
  CheckOpenedItem(path, item, refusal);
  return true;
}

void TDriveOptimizer::CheckOpenedItem(const char* path, TItem* item, const std::string& refusal) {
  // The listing path: the drive's "D:" left off, the root as a lone
  // separator; made into a string only for a report.
  const char* at = path[0] != '\0' && path[1] == ':' && path[2] != '\0' ? path + 2 : "\\";
  if (!refusal.empty()) ReportDamage(item, at, "its runs could not be read: " + refusal);
  for (std::string& problem : DropImpossibleRuns(item, totalClusters)) {
    ReportDamage(item, at, std::move(problem));
  }
  if (item->size < 0) {
    ReportDamage(item, at, "its size is negative: " + std::to_string(item->size) + " bytes");
  }
}

bool TDriveOptimizer::FillItem(const char* path, TItem* item, bool shown) {
  if (!OpenItem(path, item, shown)) return false;
  char buffer[kMaxPath];
  const size_t pathLength = std::strlen(path);
  const bool folder = item->IsFolder();
  // OpenItem has checked that the path fits with its separator.
  std::memcpy(buffer, path, pathLength);
  if (folder) buffer[pathLength] = '\\';
  const size_t childStart = pathLength + (folder ? 1 : 0);
  TItem* previous = nullptr;  // the last child kept
  for (TItem* child = item->firstChild; child != nullptr;) {
    TItem* next = child->nextSibling;
    if (HoldOrStop()) return true;
    const size_t nameLength = std::strlen(child->name);
    bool kept = false;
    if (childStart + nameLength + 1 <= sizeof(buffer)) {
      std::memcpy(buffer + childStart, child->name, nameLength + 1);
      kept = FillItem(buffer, child, shown);
    }
    KeepOrDrop(item, child, kept, &previous);
    child = next;
  }
  return true;
}

TNtStatus TDriveOptimizer::ReadRetrievalPointers(TItem* item, THandle handle) {
  alignas(8) unsigned char reply[kRetrievalReplyBytes];
  TFragmentChain runs;
  TStartingVcnInput request = {0};
  for (;;) {
    uintptr_t replyBytes = 0;
    const TNtStatus status =
        IssueFsControl(services, handle, kFsctlGetRetrievalPointers, &request, sizeof(request),
                       reply, kRetrievalReplyBytes, &replyBytes);
    // A resident, empty or small stream has no runs to read.
    if (!ReplyIsValid(status)) return status == kStatusEndOfFile ? kStatusSuccess : status;
    TRetrievalPointersHeader header;
    std::memcpy(&header, reply, sizeof(header));
    // A follow-up reply that starts below the VCN asked for repeats runs
    // already read (Wine answers every request with the same fake extent):
    // keep what was read and stop.
    if (request.startingVcn > 0 && header.startingVcn < request.startingVcn) return kStatusSuccess;
    const TRetrievalReply read = AppendRetrievalRuns(reply, kRetrievalReplyBytes, item, &runs);
    if (item->fragments == nullptr) item->fragments = runs.head;
    item->fragmentCount += static_cast<int32_t>(read.extents);
    item->clusters = read.nextVcn;
    if (status != kStatusBufferOverflow) return kStatusSuccess;
    // A reply that does not advance would be asked for again forever.
    if (read.nextVcn <= request.startingVcn) return kStatusSuccess;
    request.startingVcn = read.nextVcn;
  }
}
