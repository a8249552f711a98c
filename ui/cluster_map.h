// The cluster map index of one drive: which fragment lies at a cluster. Build
// threads every in-range fragment of the chosen lists into one chain in
// volume order through the fragments' own mapNext links, from the runs
// themselves: sorted by first cluster and swept once, so its time and memory
// grow with the runs, whatever the volume's size. Look-ups go through an
// index of that chain instead of walking it.
//
// Threads: Build and FindFragment run on the drive's window thread, while the
// worker may still be planning. The worker then changes only zones, planned
// lists and its own tables, never the tree's shape, the current runs or their
// mapNext links, so no lock is needed as long as the map reads the current
// layout (usePlanned false), as the drive window's map does.
#pragma once

#include <cstdint>
#include <vector>

#include "model/item.h"
#include "platform/system_services.h"

class TClusterMap {
 public:
  // Starts a map of the tree below treeRoot over its current runs
  // (fragments lists) or its planned runs; nothing is chained yet.
  void Init(TItem* treeRoot, bool planned);

  // Queries the volume of root's name (a root path such as "D:\"), sends the
  // line "Total sectors: <n>\n" to the debugger output and threads the chain.
  // Where runs overlap, each cluster shows the run that comes later in the
  // tree's pre-order (an item's own list, then its children), and a run is
  // chained once, at the first cluster where it shows. False, with no chain
  // and no link touched, when either volume query fails or the memory for
  // the runs' order cannot be had. Needs a root.
  bool Build(TSystemServices& services);

  // The last chained fragment whose lcn is at most cluster, or none when the
  // chain is empty or starts beyond cluster: the fragment at which a walk
  // from chainHead along mapNext, stopping at the first lcn above cluster,
  // ends. Its run may end before cluster; the caller checks. Logarithmic in
  // the chain's length.
  TFragment* FindFragment(int64_t cluster) const;

  // The fragment whose colour matters most among those that cover a cluster
  // of [first, end) (clusters, first < end): one followed by another in its
  // item's list (red) over a last one (blue); none where no chained run
  // covers any of them. Two look-ups in the index and no walk, whatever the
  // number of runs in the stretch.
  const TFragment* MostTellingFragment(int64_t first, int64_t end) const;
  // MostTellingFragment of count consecutive cells from first, each of
  // clustersPerCell clusters, the last held to end, into cells. Each search
  // starts where the one before ended: a screen costs about one step per
  // cell and per run shown, however large the chain.
  void MostTellingFragments(int64_t first, int64_t clustersPerCell, int64_t end, int count,
                            const TFragment** cells) const;

  TItem* root = nullptr;  // root item of the drive's tree; not owned
  // First fragment of the volume-order chain; none while it is empty. The
  // chain's links live in the fragments, so one tree carries one map.
  TFragment* chainHead = nullptr;
  bool usePlanned = false;    // false: items' fragments lists (current layout); true: planned
  int64_t totalClusters = 0;  // clusters of the volume, from GetDiskFreeSpace; 0 until Build
  int64_t clusterBytes = 0;   // bytes per cluster, from GetDiskFreeSpace; 0 until Build

 private:
  // Appends each fragment of item's chosen list, then of its subtree in
  // pre-order, that covers a cluster below totalClusters to runs.
  void GatherRuns(const TItem* item, std::vector<TFragment*>* runs) const;
  // Threads runs (each in range, listed in pre-order) into the chain, given
  // their positions in ascending order of lcn: each cluster shows the run of
  // the highest position that covers it. showing is the sweep's heap, empty,
  // with room for every run reserved, so that nothing is allocated once
  // links are written.
  void ThreadRuns(const std::vector<TFragment*>& runs, const std::vector<uint64_t>& order,
                  std::vector<uint64_t>* showing);
  // Sets mapNext of every fragment of the chosen lists below item to none, so
  // that links left by an earlier map do not count as chained.
  void ClearLinks(const TItem* item) const;
  // Appends fragment to the chain after tail (none: as its head) and to the
  // index; returns the new tail, fragment.
  TFragment* Append(TFragment* fragment, TFragment* tail);
  // The last position whose running maximum lcn is at most cluster, -1 for
  // none, searched from position from (-1 or one known to qualify).
  int64_t LastReachedAtOrBelow(int64_t from, int64_t cluster) const;
  // MostTellingFragment's answer for the stretch from first, given the last
  // positions at or below its first and its last cluster.
  const TFragment* MostTelling(int64_t first, int64_t atFirst, int64_t atLast) const;

  // The chain in order, and for each position the largest lcn of the chain
  // up to and including it. Runs never overlap on a consistent volume, and
  // then that is simply each fragment's lcn; overlapping runs can bring a
  // fragment with a lower lcn after one with a higher, and the running
  // maximum keeps the walk's answer: it stops at the first lcn above the
  // cluster, which is where the running maximum first exceeds it. Owned.
  std::vector<TFragment*> chainOrder;
  std::vector<int64_t> reachedLcn;  // clusters, non-decreasing
  // For each position of the chain, how many fragments before it have a
  // successor in their item's list (are drawn red); one entry more than the
  // chain, so a stretch of positions counts its red ones by one subtraction.
  // The lists' next links never change once the map is built.
  std::vector<int64_t> fragmentedBefore = {0};
};
