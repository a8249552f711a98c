// The summary of a finished analysis as a window shows it beside the map: a
// figure per row, sizes in KiB, MiB and GiB with the exact bytes and
// clusters behind each. The same figures as the summary text
// (planning/volume_summary.h), which stays as it is for the logs, standard
// output and the export.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/volume_report.h"

// bytes exactly, thousands grouped: "1,572,864 bytes".
std::string ExactBytesText(int64_t bytes);

struct TSummaryFigure {
  std::string label;   // what is counted: "Free space"
  std::string value;   // its value, sizes in binary units: "1.2 GiB"
  std::string detail;  // the exact figures behind value (a tooltip); may be empty
};

// The rows of the summary of a volume whose clusters hold clusterBytes
// bytes each (0 when unknown: sizes are then given in clusters only). Rows
// for what did not happen (nothing held by no file, no damage, ...) are left
// out, as the summary text leaves them out.
std::vector<TSummaryFigure> SummaryFigures(const TVolumeSummary& summary, int64_t clusterBytes);
