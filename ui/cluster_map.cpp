#include "ui/cluster_map.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <new>
#include <numeric>
#include <utility>

#include "moving/radix_sort.h"

namespace {

// Whether a run has a place the map can show: a negative lcn is one of the
// named values for runs without clusters on the volume (model/item.h). Any
// cluster number from 0 on is a place, also past 2^32.
bool IsMappable(const TFragment* fragment) { return fragment->lcn >= 0; }

// The first cluster after run that the map shows: its end, held to the
// volume's. lcn + length could overflow for a corrupt length; total - lcn
// cannot.
int64_t ShownEnd(const TFragment* run, int64_t totalClusters) {
  return run->length < totalClusters - run->lcn ? run->lcn + run->length : totalClusters;
}

// The positions of runs (each with an lcn below totalClusters) in ascending
// order of lcn; the sweep takes runs that start together all at once, so
// their order among themselves does not matter. Radix-sorted on the lcn
// packed above the position when both fit in 64 bits (2^40 clusters and
// 2^24 runs just do), else compared.
std::vector<uint64_t> ByFirstCluster(const std::vector<TFragment*>& runs, int64_t totalClusters) {
  std::vector<uint64_t> order(runs.size());
  if (runs.empty()) return order;
  const int positionBits = BitsFor(runs.size() - 1);
  const int lcnBits = BitsFor(static_cast<uint64_t>(totalClusters - 1));
  if (positionBits + lcnBits <= 64) {
    for (size_t i = 0; i < runs.size(); ++i) {
      order[i] = static_cast<uint64_t>(runs[i]->lcn) << positionBits | i;
    }
    RadixSort(&order, positionBits, positionBits + lcnBits);
    const uint64_t positionMask = (uint64_t{1} << positionBits) - 1;
    for (uint64_t& key : order) key &= positionMask;
  } else {
    std::iota(order.begin(), order.end(), uint64_t{0});
    std::sort(order.begin(), order.end(),
              [&](uint64_t a, uint64_t b) { return runs[a]->lcn < runs[b]->lcn; });
  }
  return order;
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

  // Every allocation comes before the first link is written: the runs in
  // pre-order (a run's position there is its rank where runs overlap), their
  // order by first cluster, the heap of the sweep and the chain's index, at
  // most one entry per run each. A heap that reaches that size holds runs
  // all covering one cluster, which no consistent volume has; the pages it
  // reserves beyond what it uses are never touched.
  std::vector<TFragment*> runs;
  std::vector<uint64_t> order;
  std::vector<uint64_t> showing;
  std::vector<TFragment*> newChainOrder;
  std::vector<int64_t> newReachedLcn;
  std::vector<int64_t> newFragmentedBefore;
  try {
    GatherRuns(root, &runs);
    order = ByFirstCluster(runs, totalClusters);
    showing.reserve(runs.size());
    newChainOrder.reserve(runs.size());
    newReachedLcn.reserve(runs.size());
    newFragmentedBefore.reserve(runs.size() + 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  chainOrder = std::move(newChainOrder);
  reachedLcn = std::move(newReachedLcn);
  fragmentedBefore = std::move(newFragmentedBefore);
  fragmentedBefore.push_back(0);

  ClearLinks(root);
  chainHead = nullptr;
  ThreadRuns(runs, order, &showing);
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

void TClusterMap::ThreadRuns(const std::vector<TFragment*>& runs,
                             const std::vector<uint64_t>& order, std::vector<uint64_t>* showing) {
  // The sweep walks the volume from one cluster where the shown run may
  // change to the next: a run's start or the end of the run shown. showing
  // is a max-heap of the positions of the runs started so far: its top is
  // the run written last in pre-order, which is the one shown, once the
  // runs that ended are popped off it. A run that ended below the top stays
  // until it comes up; it can never be shown again, as it covers nothing
  // more. Each step pushes or pops a run: n log n for n runs in all.
  TFragment* tail = nullptr;
  size_t next = 0;  // in order: the first run not pushed yet
  int64_t cluster = 0;
  while (next < order.size() || !showing->empty()) {
    if (showing->empty()) cluster = runs[order[next]]->lcn;
    while (next < order.size() && runs[order[next]]->lcn <= cluster) {
      showing->push_back(order[next++]);
      std::push_heap(showing->begin(), showing->end());
    }
    while (!showing->empty() && ShownEnd(runs[showing->front()], totalClusters) <= cluster) {
      std::pop_heap(showing->begin(), showing->end());
      showing->pop_back();
    }
    if (showing->empty()) continue;
    TFragment* shown = runs[showing->front()];
    // A fragment with a successor is in the chain already: one covered in
    // part by a later run shows again where that run ends, and appending it
    // a second time would cut the chain there or close it into a loop.
    if (shown != tail && shown->mapNext == nullptr) tail = Append(shown, tail);
    cluster = ShownEnd(shown, totalClusters);
    if (next < order.size()) cluster = std::min(cluster, runs[order[next]]->lcn);
  }
}

void TClusterMap::GatherRuns(const TItem* item, std::vector<TFragment*>* runs) const {
  for (TFragment* fragment = usePlanned ? item->planned : item->fragments; fragment != nullptr;
       fragment = fragment->next) {
    if (IsMappable(fragment) && fragment->length > 0 && fragment->lcn < totalClusters) {
      runs->push_back(fragment);
    }
  }
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    GatherRuns(child, runs);
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
