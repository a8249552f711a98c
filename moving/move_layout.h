// What a schedule of moves is computed from, as plain data: the files and
// folder indexes that a schedule may move, each with its runs, and the free
// space of the volume. Made from an analysed drive's tree; memory grows with
// the fragmented items only, never with the volume's size.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/file_run.h"
#include "model/item.h"
#include "model/volume_report.h"

// The stream a move names: a file's unnamed data, or a folder's file-name
// index allocation ($INDEX_ALLOCATION:$I30).
enum class TMoveStream { kData, kFolderIndex };

// "$DATA" or "$I30", as the journal names the stream.
const char* StreamName(TMoveStream stream);

struct TMovableFile {
  std::string listingPath;  // as the logs name it: "\docs\a.txt", "\docs" for a folder
  uint64_t fileId;          // the identity the analysis read; 0 when unknown
  TMoveStream stream;
  std::vector<TFileRun> runs;  // ascending vcn
  // Why the file is never moved, in words; empty when it may be. The words
  // are constant, kept for the program's life: a string of its own would
  // add a quarter to the files' memory, which a million of them fault in.
  std::string_view notMovable;
};

struct TMoveLayout {
  char driveLetter = 0;
  int64_t totalClusters = 0;
  uint32_t clusterBytes = 0;
  // The files and folder indexes a schedule may move, one entry per file
  // however many names it has, in the tree's pre-order: to defragment, every
  // fragmented one (more than one physically contiguous piece); to carry
  // out the zone layout, every one the plan moves, with its place.
  std::vector<TMovableFile> files;
  std::vector<TClusterExtent> freeExtents;  // normalized
  // Where each file's allocated clusters go when a plan says (the zone
  // layout): places[i], runs in ascending vcn over exactly the allocated
  // VCNs of files[i]. Empty when the schedule chooses (defragmenting). Kept
  // beside the files, so that a run of moves scheduled anew after a
  // surprise still knows them.
  std::vector<std::vector<TFileRun>> places;
};

// The layout of an analysed drive: its tree (may be none), its free extents
// (ascending lcn) and its size.
TMoveLayout LayoutFromTree(char driveLetter, const TItem* root, const TFragment* freeExtents,
                           int64_t totalClusters, uint32_t clusterBytes);

// The layout of an analysed drive for carrying out its volume-aware plan
// (plan.items in the tree's pre-order): every file the plan moves, under
// its first name, with its place; items that stay (NOMOVE, damaged, not
// placed yet, already in place) are not among them.
TMoveLayout LayoutFromPlan(char driveLetter, const TVolumePlan& plan, const TFragment* freeExtents,
                           int64_t totalClusters, uint32_t clusterBytes);

// A plan's target (runs whose vcn counts allocated clusters, holes left
// out) as a place over the stream's real VCNs: each target run is cut where
// the stream's allocated runs (ascending vcn) leave a hole between them.
std::vector<TFileRun> PlaceOverRealVcns(const std::vector<TFileRun>& runs, const TTargetRun* target,
                                        size_t count);

// The path the services open a file of the drive by: "D:\docs\a.txt".
std::string MovePath(char driveLetter, const TMovableFile& file);

// The allocated runs, those that continue each other joined: how two
// layouts of one stream are compared.
std::vector<TFileRun> JoinedAllocatedRuns(const std::vector<TFileRun>& runs);

// Clusters of the runs that lie on the volume.
int64_t AllocatedClusters(const std::vector<TFileRun>& runs);
// Physically contiguous pieces of the allocated runs, as the summary counts
// them: 1 means whole.
int64_t CountPieces(const std::vector<TFileRun>& runs);

// A count with its thousands grouped by commas: "5,000".
std::string GroupedNumber(int64_t value);
