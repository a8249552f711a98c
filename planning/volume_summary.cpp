#include "planning/volume_summary.h"

#include <algorithm>
#include <cstdio>

#include "drive/drive_optimizer.h"
#include "model/pre_order.h"
#include "planning/fragment_pieces.h"
#include "planning/kept_items.h"

namespace {

struct TCandidate {
  const TItem* item;
  int64_t fragments;
  int64_t order;  // pre-order position, so ties keep the listing's order
};

bool MoreFragmented(const TCandidate& a, const TCandidate& b) {
  return a.fragments != b.fragments ? a.fragments > b.fragments : a.order < b.order;
}

void CountTree(const TItem* root, const std::vector<TItemTarget>* targets, TVolumeSummary* summary,
               std::vector<TCandidate>* top) {
  int64_t order = 0;
  for (const TItem* item = root; item != nullptr; item = NextInPreOrder(item, root), ++order) {
    const size_t at = static_cast<size_t>(order);
    if (targets != nullptr && at < targets->size() && (*targets)[at].sameFileAs >= 0) continue;
    ++summary->items;
    if (item->planned != nullptr) ++summary->itemsPlanned;
    if ((item->flags & kItemNoMove) != 0) ++summary->itemsInPlace;
    const int64_t notPlaced = ClustersNotPlaced(item->fragments);
    if (notPlaced > 0) {
      ++summary->itemsNotOnDisk;
      summary->clustersNotOnDisk += notPlaced;
    }
    if (item->IsFolder()) {
      ++summary->folders;
    } else {
      ++summary->files;
      if (WhyItemStays(*item) != nullptr) ++summary->unmovableFiles;
      const int64_t pieces = CountPieces(item->fragments);
      summary->fragments += pieces;
      if (pieces > 1) {
        ++summary->fragmentedFiles;
        // A heap of the best kMostFragmentedShown so far, the weakest first.
        const TCandidate candidate{item, pieces, order};
        if (top->size() < kMostFragmentedShown) {
          top->push_back(candidate);
          std::push_heap(top->begin(), top->end(), MoreFragmented);
        } else if (MoreFragmented(candidate, top->front())) {
          std::pop_heap(top->begin(), top->end(), MoreFragmented);
          top->back() = candidate;
          std::push_heap(top->begin(), top->end(), MoreFragmented);
        }
      }
    }
  }
}

}  // namespace

TVolumeSummary SummarizeVolume(const TItem* root, const TFragment* freeExtents,
                               int64_t totalClusters, const TVolumePlanTotals& plan,
                               const std::vector<TItemTarget>* targets) {
  TVolumeSummary summary;
  summary.totalClusters = totalClusters;
  summary.plan = plan;
  std::vector<TCandidate> top;
  CountTree(root, targets, &summary, &top);
  std::sort(top.begin(), top.end(), MoreFragmented);
  for (const TCandidate& candidate : top) {
    summary.mostFragmented.push_back(
        TFragmentedFile{ListingPath(candidate.item), candidate.fragments});
  }
  // The free-space map may hand one stretch over as several extents (one
  // per bitmap reply); a user counts the stretch.
  int64_t stretch = 0;
  int64_t end = -1;
  for (const TFragment* extent = freeExtents; extent != nullptr; extent = extent->next) {
    if (extent->length <= 0) continue;
    summary.freeClusters += extent->length;
    if (extent->lcn == end) {
      stretch += extent->length;
    } else {
      ++summary.freeExtents;
      stretch = extent->length;
    }
    end = extent->lcn + extent->length;
    summary.largestFreeExtent = std::max(summary.largestFreeExtent, stretch);
  }
  return summary;
}

std::string FormatSummary(char driveLetter, const TVolumeSummary& s) {
  std::string text;
  char line[512];
  auto add = [&](int length) {
    if (length > 0) text.append(line, std::min(static_cast<size_t>(length), sizeof(line) - 1));
  };
  add(std::snprintf(line, sizeof(line), "Drive %c: summary\n", driveLetter));
  if (!s.analysed.empty()) text += "  Analysed:           " + s.analysed + "\n";
  add(std::snprintf(line, sizeof(line), "  Items:              %lld (%lld files, %lld folders)\n",
                    static_cast<long long>(s.items), static_cast<long long>(s.files),
                    static_cast<long long>(s.folders)));
  add(std::snprintf(line, sizeof(line),
                    "  Fragmented files:   %lld (%.1f%% of files), %lld fragments in all files\n",
                    static_cast<long long>(s.fragmentedFiles), s.FragmentedFilesPercent(),
                    static_cast<long long>(s.fragments)));
  if (!s.mostFragmented.empty()) text += "  Most fragmented:\n";
  for (const TFragmentedFile& file : s.mostFragmented) {
    add(std::snprintf(line, sizeof(line), "    %10lld  ", static_cast<long long>(file.fragments)));
    text += file.path;
    text += '\n';
  }
  add(std::snprintf(line, sizeof(line), "  Clusters:           %lld, %lld free in %lld extents\n",
                    static_cast<long long>(s.totalClusters), static_cast<long long>(s.freeClusters),
                    static_cast<long long>(s.freeExtents)));
  add(std::snprintf(line, sizeof(line),
                    "  Largest free extent: %lld clusters (%.1f%% of free space lies outside it)\n",
                    static_cast<long long>(s.largestFreeExtent), s.FreeOutsideLargestPercent()));
  if (s.itemsNotOnDisk > 0) {
    add(std::snprintf(line, sizeof(line),
                      "  Not yet on disk:    %lld clusters of %lld items (not placed by the file "
                      "system yet; they stay where they are)\n",
                      static_cast<long long>(s.clustersNotOnDisk),
                      static_cast<long long>(s.itemsNotOnDisk)));
  }
  add(std::snprintf(line, sizeof(line), "  Zone plan:          %lld items planned, %lld in place\n",
                    static_cast<long long>(s.itemsPlanned),
                    static_cast<long long>(s.itemsInPlace)));
  add(std::snprintf(line, sizeof(line),
                    "  Volume plan:        %lld items to move (%lld clusters); fragmented files "
                    "%lld now, %lld after\n",
                    static_cast<long long>(s.plan.itemsToMove),
                    static_cast<long long>(s.plan.clustersToMove),
                    static_cast<long long>(s.plan.fragmentedBefore),
                    static_cast<long long>(s.plan.fragmentedAfter)));
  if (s.plan.itemsUnplaced > 0) {
    add(std::snprintf(line, sizeof(line),
                      "  Not placed:         %lld items (their runs overlap other items')\n",
                      static_cast<long long>(s.plan.itemsUnplaced)));
  }
  if (s.clustersHeldByNoFile > 0) {
    add(std::snprintf(line, sizeof(line),
                      "  Held by no file:    %lld clusters marked in use (a run of moves was cut "
                      "off; chkdsk /f on Windows frees them)\n",
                      static_cast<long long>(s.clustersHeldByNoFile)));
  }
  if (s.damage > 0) text += "  " + DamageSummaryText(static_cast<size_t>(s.damage)) + "\n";
  return text;
}
