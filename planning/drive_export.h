// The JSON export of one drive: its free extents, summary, both plans and
// every item with its runs, streamed as the tree is walked.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "model/item.h"
#include "planning/volume_plan.h"
#include "planning/volume_summary.h"
#include "platform/output_set.h"
#include "platform/system_services.h"

// What the export reads; nothing of it is owned.
struct TDriveReport {
  char driveLetter;
  const TItem* root;             // may be none
  const TFragment* freeExtents;  // as the free-space log lists them
  int64_t totalClusters;
  const TVolumeSummary* summary;
  const TVolumePlan* plan;                   // made by PlanVolume from this root
  const std::vector<TVolumeDamage>* damage;  // where the volume contradicts itself; may be none
};

// Writes the export document to stream: items in the optimized listing's
// order with their listing paths, names through services.TextToUtf8.
// 0 when every write succeeded, else the errno of the first that failed.
int WriteDriveExport(FILE* stream, const TDriveReport& report, TSystemServices& services);

// The export folder that stands for standard output.
constexpr const char* kExportToStandardOutput = "-";

// The export's file: <folder>/drive-<L>.json.
std::string ExportPath(const std::string& folder, char driveLetter);

// Writes the export to a new file beside ExportPath and hands it to output,
// which renames it into place with the rest of its set, so no reader ever
// sees half of one; output is told why when it cannot be written (the old
// file, if any, then stays).
void ExportDrive(TSystemServices& services, const std::string& folder, const TDriveReport& report,
                 TOutputSet& output);
