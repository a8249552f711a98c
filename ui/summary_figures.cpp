#include "ui/summary_figures.h"

#include <cstdio>

#include "drive/drive_optimizer.h"
#include "moving/move_layout.h"
#include "ui/readable_size.h"

namespace {

// "12,345 clusters", "1 cluster".
std::string ClustersText(int64_t clusters) {
  return GroupedNumber(clusters) + (clusters == 1 ? " cluster" : " clusters");
}

// A stretch of clusters as a size, and as bytes and clusters exactly.
TSummaryFigure ClusterFigure(const char* label, int64_t clusters, int64_t clusterBytes) {
  if (clusterBytes <= 0) return TSummaryFigure{label, ClustersText(clusters), std::string()};
  const int64_t bytes = clusters * clusterBytes;
  return TSummaryFigure{label, ReadableSize(bytes),
                        ExactBytesText(bytes) + " in " + ClustersText(clusters)};
}

std::string PercentText(double percent) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", percent);
  return text;
}

}  // namespace

std::string ExactBytesText(int64_t bytes) {
  return GroupedNumber(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::vector<TSummaryFigure> SummaryFigures(const TVolumeSummary& s, int64_t clusterBytes) {
  std::vector<TSummaryFigure> rows;
  if (clusterBytes > 0) {
    rows.push_back({"Cluster size", ReadableSize(clusterBytes), ExactBytesText(clusterBytes)});
  }
  rows.push_back(ClusterFigure("Volume size", s.totalClusters, clusterBytes));
  rows.push_back({"Items", GroupedNumber(s.items),
                  GroupedNumber(s.files) + " files, " + GroupedNumber(s.folders) + " folders"});
  rows.push_back(
      {"Fragmented files",
       GroupedNumber(s.fragmentedFiles) + " (" + PercentText(s.FragmentedFilesPercent()) + ")",
       PercentText(s.FragmentedFilesPercent()) + " of " + GroupedNumber(s.files) +
           " files are in more than one piece"});
  rows.push_back(
      {"Fragments", GroupedNumber(s.fragments), "physically contiguous pieces of all files"});
  TSummaryFigure free = ClusterFigure("Free space", s.freeClusters, clusterBytes);
  free.value +=
      " in " + GroupedNumber(s.freeExtents) + (s.freeExtents == 1 ? " extent" : " extents");
  rows.push_back(free);
  TSummaryFigure largest = ClusterFigure("Largest free extent", s.largestFreeExtent, clusterBytes);
  largest.detail += (largest.detail.empty() ? "" : "; ") +
                    PercentText(s.FreeOutsideLargestPercent()) +
                    " of the free space lies outside it";
  rows.push_back(largest);
  if (s.itemsNotOnDisk > 0) {
    TSummaryFigure notOnDisk = ClusterFigure("Not yet on disk", s.clustersNotOnDisk, clusterBytes);
    notOnDisk.value += " of " + GroupedNumber(s.itemsNotOnDisk) + " items";
    rows.push_back(notOnDisk);
  }
  rows.push_back(
      {"Zone plan",
       GroupedNumber(s.itemsPlanned) + " planned, " + GroupedNumber(s.itemsInPlace) + " in place",
       "items with a planned place, and items that stay where they are"});
  TSummaryFigure toMove = ClusterFigure("Volume plan moves", s.plan.clustersToMove, clusterBytes);
  toMove.value = GroupedNumber(s.plan.itemsToMove) + " items, " + toMove.value;
  rows.push_back(toMove);
  rows.push_back({"Fragmented after plan",
                  GroupedNumber(s.plan.fragmentedBefore) + " now, " +
                      GroupedNumber(s.plan.fragmentedAfter) + " after",
                  "files in more than one piece now and after the volume-aware plan"});
  if (s.plan.itemsUnplaced > 0) {
    rows.push_back({"Not placed", GroupedNumber(s.plan.itemsUnplaced) + " items",
                    "their runs overlap other items'"});
  }
  if (s.clustersHeldByNoFile > 0) {
    TSummaryFigure held = ClusterFigure("Held by no file", s.clustersHeldByNoFile, clusterBytes);
    held.detail += (held.detail.empty() ? "" : "; ") +
                   std::string("marked in use, held by no file: a run of moves was cut off");
    rows.push_back(held);
  }
  if (s.damage > 0) {
    rows.push_back({"Damage", GroupedNumber(s.damage) + " places",
                    DamageSummaryText(static_cast<size_t>(s.damage))});
  }
  return rows;
}
