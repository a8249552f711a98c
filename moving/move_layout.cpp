#include "moving/move_layout.h"

#include <cstring>
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
  size_t extents = 0;
  for (const TFragment* extent = freeExtents; extent != nullptr; extent = extent->next) ++extents;
  layout.freeExtents.reserve(extents);
  for (const TFragment* extent = freeExtents; extent != nullptr; extent = extent->next) {
    layout.freeExtents.push_back(TClusterExtent{extent->lcn, extent->length});
  }
  NormalizeExtents(&layout.freeExtents, totalClusters);
  // Memory and path building grow with the fragmented items only.
  std::vector<const TItem*> fragmented;
  for (const TItem* item = root; item != nullptr; item = NextInPreOrder(item, root)) {
    if (::CountPieces(item->fragments) > 1) fragmented.push_back(item);
  }
  layout.files.reserve(fragmented.size());
  std::unordered_set<uint64_t> filesSeen;  // identities of files met under another name
  // The listing path of the folder the last item was in: in pre-order the
  // files of a folder mostly follow one another, so a folder's path is made
  // about once.
  const TItem* folder = nullptr;
  std::string folderPath;
  for (const TItem* item : fragmented) {
    if (item->fileId != 0 && !filesSeen.insert(item->fileId).second) continue;
    layout.files.emplace_back();
    TMovableFile& file = layout.files.back();
    if (item == root) {
      file.listingPath = "\\";
    } else {
      if (item->parent != folder) {
        folder = item->parent;
        folderPath = ListingPath(folder);
      }
      const size_t nameBytes = std::strlen(item->name);
      file.listingPath.reserve(folderPath.size() + 1 + nameBytes);
      file.listingPath.append(folderPath).append(1, '\\').append(item->name, nameBytes);
    }
    file.fileId = item->fileId;
    file.stream = item->IsFolder() ? TMoveStream::kFolderIndex : TMoveStream::kData;
    size_t runs = 0;
    for (const TFragment* run = item->fragments; run != nullptr; run = run->next) ++runs;
    file.runs.reserve(runs);
    for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
      file.runs.push_back(TFileRun{run->vcn, run->lcn, run->length});
    }
    file.notMovable = NotMovableReason(*item);
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
