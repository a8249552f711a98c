// What a user asks of a finished analysis, in numbers: items, fragmented
// files, free space and both plans' totals, and its text for a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/item.h"
#include "planning/volume_plan.h"

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
  int64_t items = 0;  // the root counts
  int64_t files = 0;
  int64_t folders = 0;  // the root among them
  // A file's fragments are its physically contiguous pieces of allocated
  // clusters (fragment_pieces.h); fragmented means more than one.
  int64_t fragmentedFiles = 0;
  int64_t fragments = 0;                        // over all files
  std::vector<TFragmentedFile> mostFragmented;  // most first, ties in listing order
  int64_t totalClusters = 0;
  int64_t freeClusters = 0;
  int64_t freeExtents = 0;  // free stretches, neighbours that touch counted as one
  int64_t largestFreeExtent = 0;
  int64_t itemsPlanned = 0;  // the described plan: items with a planned run
  int64_t itemsInPlace = 0;  // the described plan: NOMOVE items
  TVolumePlanTotals plan;    // the volume-aware plan

  // Percentages with the whole as 0 giving 0.
  double FragmentedFilesPercent() const;
  double FreeOutsideLargestPercent() const;
};

// Counts the tree of root (may be none) and the free extents (ascending lcn)
// of a volume of totalClusters clusters, with the volume-aware plan's totals.
TVolumeSummary SummarizeVolume(const TItem* root, const TFragment* freeExtents,
                               int64_t totalClusters, const TVolumePlanTotals& plan);

// The listing path of an item: "" for the root, "\a\b" below it.
std::string ListingPath(const TItem* item);

// The summary as lines of text for standard output ("\n" line ends).
std::string FormatSummary(char driveLetter, const TVolumeSummary& summary);
