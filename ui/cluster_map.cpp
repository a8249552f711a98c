#include "ui/cluster_map.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// Window entries between the one scanned and the one whose fragment is
// fetched ahead: at about a nanosecond an entry, a miss of a few hundred
// nanoseconds is over by the time the scan gets there.
constexpr int64_t kPrefetchDistance = 256;

// Whether a run has a place the map can show: a negative lcn is one of the
// named values for runs without clusters on the volume (model/item.h). Any
// cluster number from 0 on is a place, also past 2^32.
bool IsMappable(const TFragment* fragment) { return fragment->lcn >= 0; }

// A cluster window of entries references, every one none; none when the
// memory cannot be had. An empty window could never cover a cluster, so it
// counts as failed.
TFragment** AllocateWindow(int64_t entries) {
  if (entries <= 0 || static_cast<uint64_t>(entries) > SIZE_MAX / sizeof(TFragment*)) {
    return nullptr;
  }
  return static_cast<TFragment**>(std::calloc(static_cast<size_t>(entries), sizeof(TFragment*)));
}

}  // namespace

void TClusterMap::Init(TItem* treeRoot, bool planned) {
  root = treeRoot;
  usePlanned = planned;
  totalClusters = 0;
  clusterBytes = 0;
  chainHead = nullptr;
  chainOrder.clear();
  reachedLcn.clear();
  fragmentedBefore.assign(1, 0);
  windowEntries = 0;
}

bool TClusterMap::Build(TSystemServices& services) {
  // GetDiskFreeSpaceEx only has to succeed; its figures are not needed.
  if (!services.DiskFreeSpaceEx(root->name)) return false;
  TDiskGeometry geometry;
  if (!services.DiskFreeSpace(root->name, &geometry)) return false;
  // Held to what a signed cluster number can reach; no volume comes near it.
  totalClusters = static_cast<int64_t>(
      std::min<uint64_t>(geometry.totalClusters, std::numeric_limits<int64_t>::max()));
  clusterBytes = static_cast<int64_t>(geometry.sectorsPerCluster) * geometry.bytesPerSector;

  char line[300];
  const int64_t sectors = static_cast<int64_t>(geometry.sectorsPerCluster) * totalClusters;
  std::snprintf(line, sizeof line, "Total sectors: %" PRId64 "\n", sectors);
  services.DebugOutput(line);

  // The window takes at most half of the available memory: two references'
  // worth of bytes per entry, whatever the width of a reference. It need not
  // be larger than the volume, nor than kMaximumWindowEntries.
  const uint64_t memoryEntries = services.AvailablePhysicalMemory() / (2 * sizeof(TFragment*));
  int64_t entries = static_cast<int64_t>(std::min(
      memoryEntries, static_cast<uint64_t>(std::min(totalClusters, kMaximumWindowEntries))));
  TFragment** window = AllocateWindow(entries);
  while (window == nullptr) {
    entries /= 2;
    if (entries < kMinimumWindowEntries) return false;
    window = AllocateWindow(entries);
  }

  ClearLinks(root);
  chainHead = nullptr;
  chainOrder.clear();
  reachedLcn.clear();
  fragmentedBefore.assign(1, 0);
  // The last fragment appended; it carries over from pass to pass, so a run
  // crossing a pass border is chained once.
  TFragment* tail = nullptr;
  // The entries a pass writes lie in [firstWritten, endWritten) of the
  // window; every other entry is still none. The scan clears what it reads
  // when another pass follows, so each pass starts from a window of none
  // without a sweep of its own, and passes over empty stretches of the
  // volume cost a walk of the tree and nothing more.
  // A pass that finds no run after its window ends the sweep; one that does
  // lets the next pass start at that run, so a large volume with few runs
  // (8G clusters are 480 windows) costs a walk per stretch of runs, not one
  // per window.
  for (int64_t start = 0; start < totalClusters;) {
    const int64_t end = std::min(start + entries, totalClusters);
    int64_t firstWritten = entries;
    int64_t endWritten = 0;
    int64_t nextStart = totalClusters;
    FillWindow(root, window, start, end, &firstWritten, &endWritten, &nextStart);
    const bool passFollows = nextStart < totalClusters;
    for (int64_t i = firstWritten; i < endWritten; ++i) {
      // Some way ahead there is most likely a fragment not seen yet, whose
      // mapNext the check below reads: asking for it early hides the miss.
      if (i + kPrefetchDistance < endWritten) __builtin_prefetch(window[i + kPrefetchDistance]);
      TFragment* entry = window[i];
      if (passFollows) window[i] = nullptr;
      if (entry == nullptr) continue;
      // A fragment with a successor is in the chain already: overlapping runs
      // bring it up again after another one, and appending it a second time
      // would cut the chain there or close it into a loop.
      if (entry == tail || entry->mapNext != nullptr) continue;
      tail = Append(entry, tail);
    }
    start = nextStart;
  }
  std::free(window);
  windowEntries = entries;
  return true;
}

TFragment* TClusterMap::FindFragment(int64_t cluster) const {
  const auto stop = std::upper_bound(reachedLcn.begin(), reachedLcn.end(), cluster);
  if (stop == reachedLcn.begin()) return nullptr;
  return chainOrder[static_cast<size_t>(stop - reachedLcn.begin()) - 1];
}

const TFragment* TClusterMap::MostTellingFragment(int64_t first, int64_t end) const {
  const int64_t atFirst = LastReachedAtOrBelow(-1, first);
  return MostTelling(first, atFirst, LastReachedAtOrBelow(atFirst, end - 1));
}

void TClusterMap::MostTellingFragments(int64_t first, int64_t clustersPerCell, int64_t end,
                                       int count, const TFragment** cells) const {
  // The cells ascend, and so do their positions in the chain: each search
  // starts where the one before ended.
  int64_t atLast = -1;
  for (int i = 0; i < count; ++i) {
    const int64_t cellFirst = first + i * clustersPerCell;
    const int64_t cellEnd = std::min(cellFirst + clustersPerCell, end);
    const int64_t atFirst = LastReachedAtOrBelow(atLast, cellFirst);
    atLast = LastReachedAtOrBelow(atFirst, cellEnd - 1);
    cells[i] = MostTelling(cellFirst, atFirst, atLast);
  }
}

int64_t TClusterMap::LastReachedAtOrBelow(int64_t from, int64_t cluster) const {
  const int64_t size = static_cast<int64_t>(reachedLcn.size());
  // Galloping from `from`, whose running maximum is known to be at most
  // cluster: steps of 1, 2, 4, ... until one overshoots, then a binary
  // search inside the last step. Near answers cost little, far ones log n.
  int64_t low = from;
  int64_t step = 1;
  while (low + step < size && reachedLcn[static_cast<size_t>(low + step)] <= cluster) {
    low += step;
    step *= 2;
  }
  const auto begin = reachedLcn.begin();
  return std::upper_bound(begin + (low + 1), begin + std::min(low + step, size), cluster) - begin -
         1;
}

const TFragment* TClusterMap::MostTelling(int64_t first, int64_t atFirst, int64_t atLast) const {
  // Positions up to atFirst start at or before first; those after it up to
  // atLast start inside the stretch, so each of them covers a cluster of it.
  const TFragment* covering = nullptr;
  if (atFirst >= 0) {
    const TFragment* fragment = chainOrder[static_cast<size_t>(atFirst)];
    if (fragment->length > first - fragment->lcn) covering = fragment;
  }
  if (covering != nullptr && covering->next != nullptr) return covering;
  const int64_t redBefore = fragmentedBefore[static_cast<size_t>(atFirst + 1)];
  if (fragmentedBefore[static_cast<size_t>(atLast + 1)] > redBefore) {
    // The first red position after atFirst: where the count first grows.
    const auto red = std::upper_bound(fragmentedBefore.begin() + (atFirst + 1),
                                      fragmentedBefore.begin() + (atLast + 2), redBefore);
    return chainOrder[static_cast<size_t>(red - fragmentedBefore.begin() - 1)];
  }
  if (covering != nullptr) return covering;
  if (atLast > atFirst) return chainOrder[static_cast<size_t>(atLast)];
  return nullptr;
}

void TClusterMap::FillWindow(const TItem* item, TFragment** window, int64_t start, int64_t end,
                             int64_t* firstWritten, int64_t* endWritten, int64_t* nextStart) const {
  for (TFragment* fragment = usePlanned ? item->planned : item->fragments; fragment != nullptr;
       fragment = fragment->next) {
    if (!IsMappable(fragment) || fragment->length <= 0) continue;
    // end - lcn cannot overflow; lcn + length could, for a corrupt length.
    if (fragment->length > end - fragment->lcn) {
      *nextStart = std::min(*nextStart, std::max(fragment->lcn, end));
    }
    const int64_t from = std::max(fragment->lcn, start);
    const int64_t to =
        fragment->length < end - fragment->lcn ? fragment->lcn + fragment->length : end;
    if (from >= to) continue;
    std::fill(window + (from - start), window + (to - start), fragment);
    *firstWritten = std::min(*firstWritten, from - start);
    *endWritten = std::max(*endWritten, to - start);
  }
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    FillWindow(child, window, start, end, firstWritten, endWritten, nextStart);
  }
}

void TClusterMap::ClearLinks(const TItem* item) const {
  for (TFragment* fragment = usePlanned ? item->planned : item->fragments; fragment != nullptr;
       fragment = fragment->next) {
    fragment->mapNext = nullptr;
  }
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    ClearLinks(child);
  }
}

TFragment* TClusterMap::Append(TFragment* fragment, TFragment* tail) {
  if (tail != nullptr) {
    tail->mapNext = fragment;
  } else {
    chainHead = fragment;
  }
  reachedLcn.push_back(reachedLcn.empty() ? fragment->lcn
                                          : std::max(reachedLcn.back(), fragment->lcn));
  chainOrder.push_back(fragment);
  fragmentedBefore.push_back(fragmentedBefore.back() + (fragment->next != nullptr ? 1 : 0));
  return fragment;
}
