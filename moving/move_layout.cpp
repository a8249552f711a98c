#include "moving/move_layout.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "model/pre_order.h"
#include "planning/cluster_extents.h"
#include "planning/fragment_pieces.h"
#include "planning/kept_items.h"

const char* StreamName(TMoveStream stream) {
  return stream == TMoveStream::kData ? "$DATA" : "$I30";
}

namespace {

// Why the item is never moved; empty when it may be.
std::string_view NotMovableReason(const TItem& item) {
  const char* why = WhyItemStays(item);
  return why == nullptr ? std::string_view() : std::string_view(why);
}

// The listing paths of items met in the tree's pre-order: there the files
// of a folder mostly follow one another, so a folder's path is made about
// once.
class TListingPaths {
 public:
  explicit TListingPaths(const TItem* root) : root_(root) {}

  std::string Of(const TItem* item) {
    if (item == root_) return "\\";
    if (item->parent != folder_) {
      folder_ = item->parent;
      folderPath_ = ListingPath(folder_);
    }
    const size_t nameBytes = std::strlen(item->name);
    std::string path;
    path.reserve(folderPath_.size() + 1 + nameBytes);
    path.append(folderPath_).append(1, '\\').append(item->name, nameBytes);
    return path;
  }

 private:
  const TItem* root_;
  const TItem* folder_ = nullptr;  // the folder of the last item met
  std::string folderPath_;
};

// The layout's frame: the drive, its size and its free extents (ascending
// lcn), without files.
TMoveLayout EmptyLayout(char driveLetter, const TFragment* freeExtents, int64_t totalClusters,
                        uint32_t clusterBytes) {
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
  // An analysis lists them normalized: no sort of a million extents then.
  if (!AreNormalized(layout.freeExtents, totalClusters)) {
    NormalizeExtents(&layout.freeExtents, totalClusters);
  }
  return layout;
}

// The item as a file of the layout: its path, identity, stream and runs.
TMovableFile MovableFile(const TItem& item, TListingPaths& paths) {
  TMovableFile file;
  file.listingPath = paths.Of(&item);
  file.fileId = item.fileId;
  file.stream = item.IsFolder() ? TMoveStream::kFolderIndex : TMoveStream::kData;
  size_t runs = 0;
  for (const TFragment* run = item.fragments; run != nullptr; run = run->next) ++runs;
  file.runs.reserve(runs);
  for (const TFragment* run = item.fragments; run != nullptr; run = run->next) {
    file.runs.push_back(TFileRun{run->vcn, run->lcn, run->length});
  }
  file.notMovable = NotMovableReason(item);
  return file;
}

}  // namespace

TMoveLayout LayoutFromTree(char driveLetter, const TItem* root, const TFragment* freeExtents,
                           int64_t totalClusters, uint32_t clusterBytes) {
  TMoveLayout layout = EmptyLayout(driveLetter, freeExtents, totalClusters, clusterBytes);
  // Memory and path building grow with the fragmented items only.
  std::vector<const TItem*> fragmented;
  for (const TItem* item = root; item != nullptr; item = NextInPreOrder(item, root)) {
    if (::CountPieces(item->fragments) > 1) fragmented.push_back(item);
  }
  layout.files.reserve(fragmented.size());
  std::unordered_set<uint64_t> filesSeen;  // identities of files met under another name
  TListingPaths paths(root);
  for (const TItem* item : fragmented) {
    if (item->fileId != 0 && !filesSeen.insert(item->fileId).second) continue;
    layout.files.push_back(MovableFile(*item, paths));
  }
  return layout;
}

TMoveLayout LayoutFromPlan(char driveLetter, const TVolumePlan& plan, const TFragment* freeExtents,
                           int64_t totalClusters, uint32_t clusterBytes) {
  TMoveLayout layout = EmptyLayout(driveLetter, freeExtents, totalClusters, clusterBytes);
  const TItem* root = plan.items.empty() ? nullptr : plan.items.front().item;
  TListingPaths paths(root);
  for (const TItemTarget& target : plan.items) {
    // Other names of a file share its first name's target.
    if (target.sameFileAs >= 0 || !target.Moves()) continue;
    layout.files.push_back(MovableFile(*target.item, paths));
    layout.places.push_back(PlaceOverRealVcns(layout.files.back().runs,
                                              plan.runs.data() + target.firstRun,
                                              static_cast<size_t>(target.runCount)));
  }
  return layout;
}

std::vector<TFileRun> PlaceOverRealVcns(const std::vector<TFileRun>& runs, const TTargetRun* target,
                                        size_t count) {
  std::vector<TFileRun> place;
  size_t k = 0;           // the target run that holds the next allocated cluster
  int64_t allocated = 0;  // allocated clusters before the run at hand
  for (const TFileRun& run : runs) {
    if (run.lcn < 0 || run.length <= 0) continue;
    const int64_t end = allocated + run.length;
    for (int64_t at = allocated; at < end && k < count;) {
      const TTargetRun& to = target[k];
      const int64_t toEnd = to.vcn + to.length;
      if (toEnd <= at) {
        ++k;
        continue;
      }
      const int64_t stop = std::min(end, toEnd);
      const int64_t vcn = run.vcn + (at - allocated);
      const int64_t lcn = to.lcn + (at - to.vcn);
      if (!place.empty() && place.back().vcn + place.back().length == vcn &&
          place.back().lcn + place.back().length == lcn) {
        place.back().length += stop - at;
      } else {
        place.push_back(TFileRun{vcn, lcn, stop - at});
      }
      at = stop;
    }
    allocated = end;
  }
  return place;
}

std::string MovePath(char driveLetter, const TMovableFile& file) {
  return std::string(1, driveLetter) + ":" + file.listingPath;
}

std::vector<TFileRun> JoinedAllocatedRuns(const std::vector<TFileRun>& runs) {
  std::vector<TFileRun> joined;
  for (const TFileRun& run : runs) {
    if (run.lcn < 0 || run.length <= 0) continue;
    if (!joined.empty() && joined.back().vcn + joined.back().length == run.vcn &&
        joined.back().lcn + joined.back().length == run.lcn) {
      joined.back().length += run.length;
    } else {
      joined.push_back(run);
    }
  }
  return joined;
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
