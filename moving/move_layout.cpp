#include "moving/move_layout.h"

#include <unordered_set>

#include "model/pre_order.h"
#include "planning/cluster_extents.h"
#include "planning/fragment_pieces.h"

const char* StreamName(TMoveStream stream) {
  return stream == TMoveStream::kData ? "$DATA" : "$I30";
}

namespace {

// Why the item is never moved; empty when it may be.
std::string NotMovableReason(const TItem& item) {
  if ((item.flags & kItemDamaged) != 0) return "the volume contradicts itself about it";
  if (item.parent == nullptr) return "the root folder's index is not moved";
  if (ClustersNotPlaced(item.fragments) > 0) return "the file system has not placed all of it";
  for (const TFragment* run = item.fragments; run != nullptr; run = run->next) {
    if (run->lcn < 0) return "sparse or compressed: its holes are not moved";
  }
  return std::string();
}

}  // namespace

TMoveLayout LayoutFromTree(char driveLetter, const TItem* root, const TFragment* freeExtents,
                           int64_t totalClusters, uint32_t clusterBytes) {
  TMoveLayout layout;
  layout.driveLetter = driveLetter;
  layout.totalClusters = totalClusters;
  layout.clusterBytes = clusterBytes;
  for (const TFragment* extent = freeExtents; extent != nullptr; extent = extent->next) {
    layout.freeExtents.push_back(TClusterExtent{extent->lcn, extent->length});
  }
  NormalizeExtents(&layout.freeExtents, totalClusters);
  // Memory and path building grow with the fragmented items only.
  size_t fragmented = 0;
  for (const TItem* item = root; item != nullptr; item = NextInPreOrder(item, root)) {
    fragmented += ::CountPieces(item->fragments) > 1 ? 1 : 0;
  }
  layout.files.reserve(fragmented);
  std::unordered_set<uint64_t> filesSeen;  // identities of files met under another name
  for (const TItem* item = root; item != nullptr; item = NextInPreOrder(item, root)) {
    if (::CountPieces(item->fragments) <= 1) continue;
    if (item->fileId != 0 && !filesSeen.insert(item->fileId).second) continue;
    TMovableFile file;
    file.listingPath = item == root ? "\\" : ListingPath(item);
    file.fileId = item->fileId;
    file.stream = item->IsFolder() ? TMoveStream::kFolderIndex : TMoveStream::kData;
    for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
      file.runs.push_back(TFileRun{run->vcn, run->lcn, run->length});
    }
    file.notMovable = NotMovableReason(*item);
    layout.files.push_back(std::move(file));
  }
  return layout;
}

std::string MovePath(char driveLetter, const TMovableFile& file) {
  return std::string(1, driveLetter) + ":" + file.listingPath;
}

int64_t AllocatedClusters(const std::vector<TFileRun>& runs) {
  int64_t clusters = 0;
  for (const TFileRun& run : runs) {
    if (run.lcn >= 0) clusters += run.length;
  }
  return clusters;
}

int64_t CountPieces(const std::vector<TFileRun>& runs) {
  int64_t pieces = 0;
  int64_t end = -1;  // the cluster after the last allocated run
  for (const TFileRun& run : runs) {
    if (run.lcn < 0 || run.length <= 0) continue;
    if (run.lcn != end) ++pieces;
    end = run.lcn + run.length;
  }
  return pieces;
}

std::string GroupedNumber(int64_t value) {
  const uint64_t magnitude =
      value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const std::string digits = std::to_string(magnitude);
  std::string grouped = value < 0 ? "-" : "";
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}
