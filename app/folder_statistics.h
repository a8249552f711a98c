// The -m mode: counts the files and folders below a path and the bytes their
// names take, and shows the four counts in a message box.
#pragma once

#include <cstdint>

#include "platform/system_services.h"
#include "platform/window_system.h"

struct TFolderCounters {
  int32_t fileCount;        // entries that are not folders
  int32_t folderCount;      // folders, "." and ".." excluded
  int32_t fileNameBytes;    // bytes of the files' names, without terminators
  int32_t folderNameBytes;  // bytes of the folders' names, without terminators
};

// Counts below path (an argument exactly as given, without its quotes) and
// shows the report with caption "info"; returns once the box is closed. A
// path that cannot be listed at all (it does not exist, or may not be read)
// is said so with caption "Error" instead of a report of zeros; then the
// result is false.
bool ReportFolderStatistics(const char* path, TSystemServices& services, TWindowSystem& windows);

// The recursive walk; path ends with a separator to list a folder's entries.
// False when path itself cannot be listed.
bool CountFolder(const char* path, TFolderCounters* counters, TSystemServices& services);

// The report's text, formatted into a buffer of 500 characters.
void FormatFolderReport(const TFolderCounters& counters, char (&text)[500]);
