// What the reports beside the described plan leave on a drive: the
// volume-aware plan and the summary, as plain data. planning/ makes them
// (planning/volume_plan.h, planning/volume_summary.h); the drive keeps them
// for its window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/item.h"

// A stretch of clusters; sets of them are kept sorted
// (planning/cluster_extents.h).
struct TClusterExtent {
  int64_t lcn;     // first cluster
  int64_t length;  // clusters, > 0 once normalized

  int64_t End() const { return lcn + length; }
  bool operator==(const TClusterExtent& other) const {
    return lcn == other.lcn && length == other.length;
  }
};

// One run of an item's target; vcn counts the item's allocated clusters
// from 0 (holes left out), lcn and length are clusters.
struct TTargetRun {
  int64_t vcn;
  int64_t lcn;
  int64_t length;
};

// The target of one item, 32 bytes: a plan keeps one for every item of the
// tree for as long as the drive lives. The item is not owned.
struct TItemTarget {
  const TItem* item;
  int64_t firstRun;       // index of its first run in TVolumePlan::runs
  int64_t movedClusters;  // allocated clusters whose target differs from where they are
  // 0 for an item without allocated clusters, and for one that found no
  // room (overlapping runs only: TVolumePlanTotals::itemsUnplaced).
  int32_t runCount;
  // Another name of a file met before (a hard link): the index in
  // TVolumePlan::items of the file's first name, whose target it shares and
  // which alone counts; -1 for a file's first or only name.
  int32_t sameFileAs;

  bool Moves() const { return movedClusters > 0; }
};
static_assert(sizeof(TItemTarget) <= 32, "a million items' targets take 32 MB");

struct TVolumePlanTotals {
  int64_t itemsToMove = 0;
  int64_t clustersToMove = 0;    // clusters whose place changes
  int64_t fragmentedBefore = 0;  // files in more than one piece now
  int64_t fragmentedAfter = 0;   // files in more than one piece after the plan
  int64_t itemsUnplaced = 0;     // 0 on a consistent volume
};

struct TVolumePlan {
  std::vector<TItemTarget> items;         // every item of the tree, in pre-order
  std::vector<TTargetRun> runs;           // the items' targets, each item's together
  std::vector<TClusterExtent> unmovable;  // normalized
  TVolumePlanTotals totals;
};

// A file among the most fragmented, with its listing path ("\docs\a.txt").
struct TFragmentedFile {
  std::string path;
  int64_t fragments;

  bool operator==(const TFragmentedFile& other) const {
    return path == other.path && fragments == other.fragments;
  }
};

constexpr size_t kMostFragmentedShown = 10;

struct TVolumeSummary {
  // What stands behind the drive ("/srv/disk.img, an NTFS volume"); empty
  // for a drive of the system, which its letter names.
  std::string analysed;
  int64_t items = 0;  // the root counts
  int64_t files = 0;
  int64_t folders = 0;  // the root among them
  // A file's fragments are its physically contiguous pieces of allocated
  // clusters (planning/fragment_pieces.h); more than one is fragmented.
  int64_t fragmentedFiles = 0;
  int64_t fragments = 0;                        // over all files
  std::vector<TFragmentedFile> mostFragmented;  // most first, ties in listing order
  int64_t totalClusters = 0;
  int64_t freeClusters = 0;
  int64_t freeExtents = 0;  // free stretches, neighbours that touch counted as one
  int64_t largestFreeExtent = 0;
  // Items with runs the file system has not placed yet (kLcnNotPlaced), and
  // those runs' clusters.
  int64_t itemsNotOnDisk = 0;
  int64_t clustersNotOnDisk = 0;
  int64_t itemsPlanned = 0;  // the described plan: items with a planned run
  int64_t itemsInPlace = 0;  // the described plan: NOMOVE items
  TVolumePlanTotals plan;    // the volume-aware plan
  int64_t damage = 0;        // places where the volume contradicts itself
  // Clusters marked used that no file holds (an interrupted run of moves
  // leaves them); -1 where the reader cannot tell.
  int64_t clustersHeldByNoFile = -1;
  // Files that moves never touch (damaged, with holes, not placed yet).
  int64_t unmovableFiles = 0;
  int64_t clusterBytes = 0;  // bytes per cluster; 0 where the services cannot tell
  // The file table's data size and physically contiguous pieces (\$MFT);
  // -1 where the volume has none or it cannot be read.
  int64_t mftBytes = -1;
  int64_t mftFragments = -1;

  // Percentages; 0 where the whole is 0.
  double FragmentedFilesPercent() const { return Percent(fragmentedFiles, files); }
  // Above this share of fragmented files a volume is worth defragmenting,
  // the threshold the system's own analysis uses.
  static constexpr double kDefragRecommendedPercent = 10.0;
  bool DefragRecommended() const { return FragmentedFilesPercent() > kDefragRecommendedPercent; }
  double AverageFragmentsPerFile() const {
    return files > 0 ? static_cast<double>(fragments) / static_cast<double>(files) : 0.0;
  }
  double FreeOutsideLargestPercent() const {
    return Percent(freeClusters - largestFreeExtent, freeClusters);
  }

 private:
  static double Percent(int64_t part, int64_t whole) {
    return whole > 0 ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : 0.0;
  }
};
