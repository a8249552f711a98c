// The JSON export of one drive: its free extents, summary, both plans and
// every item with its runs, streamed as the tree is walked.
#pragma once

#include <cstdio>
#include <string>

#include "model/item.h"
#include "planning/volume_plan.h"
#include "planning/volume_summary.h"
#include "platform/system_services.h"

// What the export reads; nothing of it is owned.
struct TDriveReport {
  char driveLetter;
  const TItem* root;             // may be none
  const TFragment* freeExtents;  // as the free-space log lists them
  int64_t totalClusters;
  const TVolumeSummary* summary;
  const TVolumePlan* plan;  // made by PlanVolume from this root
};

// Writes the export document to stream: items in the optimized listing's
// order with their listing paths, names through services.TextToUtf8.
// False when a write failed.
bool WriteDriveExport(FILE* stream, const TDriveReport& report, TSystemServices& services);

// The export's file: <folder>/drive-<L>.json.
std::string ExportPath(const std::string& folder, char driveLetter);

// Writes the export to ExportPath through a new file renamed into place, so
// no reader ever sees half of one; false when it could not be written (the
// old file, if any, then stays).
bool ExportDrive(TSystemServices& services, const std::string& folder, const TDriveReport& report);
