#include "app/folder_statistics.h"

#include <cstdio>
#include <cstring>

#include "platform/path_buffer.h"

namespace {

// Counters are 32-bit as the report prints them; a count past 2^31 wraps
// instead of overflowing a signed type.
void Add(int32_t* counter, size_t amount) {
  *counter = static_cast<int32_t>(static_cast<uint32_t>(*counter) + static_cast<uint32_t>(amount));
}

}  // namespace

void CountFolder(const char* path, TFolderCounters* counters, TSystemServices& services) {
  char buffer[kMaxPath];
  // A path whose pattern does not fit the buffer cannot be listed.
  const long composed = ComposeListingPattern(path, buffer);
  if (composed < 0) return;
  const size_t pathLength = static_cast<size_t>(composed);

  TFindData entry;
  THandle find = services.FindFirst(buffer, &entry);
  if (find == InvalidHandle()) return;
  do {
    const size_t nameLength = std::strlen(entry.name);
    const bool folder = (entry.attributes & kAttributeDirectory) != 0;
    if (folder && IsDotEntry(entry.name)) continue;
    // An entry whose path does not fit the buffer is skipped, as the drive
    // scan skips it: the counts measure the tree a scan would build.
    if (!EntryFitsPathBuffer(pathLength, nameLength, folder)) continue;
    if (!folder) {
      Add(&counters->fileCount, 1);
      Add(&counters->fileNameBytes, nameLength);
      continue;
    }
    Add(&counters->folderCount, 1);
    Add(&counters->folderNameBytes, nameLength);
    // Links and mount points are counted but not entered: their contents are
    // counted where they really lie, and a link back up the tree cannot make
    // the walk endless.
    if ((entry.attributes & kAttributeReparsePoint) != 0) continue;
    ComposeSubfolderPath(buffer, pathLength, entry.name, nameLength);
    CountFolder(buffer, counters, services);
  } while (services.FindNext(find, &entry));
  services.FindEnd(find);
}

void FormatFolderReport(const TFolderCounters& c, char (&text)[500]) {
  std::snprintf(
      text, sizeof(text),
      "Files: %d (%d K)\nFolders: %d (%d K)\n\nFile names: %d (%d K)\nFolder names: %d (%d K)",
      c.fileCount, c.fileCount / 1024, c.folderCount, c.folderCount / 1024, c.fileNameBytes,
      c.fileNameBytes / 1024, c.folderNameBytes, c.folderNameBytes / 1024);
}

void ReportFolderStatistics(const char* path, TSystemServices& services, TWindowSystem& windows) {
  TFolderCounters counters = {0, 0, 0, 0};
  CountFolder(path, &counters, services);
  char text[500];
  FormatFolderReport(counters, text);
  windows.ShowMessage(text, "info");
}
