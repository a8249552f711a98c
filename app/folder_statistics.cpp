#include "app/folder_statistics.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "analysis/folder_walk.h"

namespace {

// Counters are 32-bit as the report prints them; a count past 2^31 wraps
// instead of overflowing a signed type.
void Add(int32_t* counter, size_t amount) {
  *counter = static_cast<int32_t>(static_cast<uint32_t>(*counter) + static_cast<uint32_t>(amount));
}

// Counts every entry the walk gives; every folder's contents count into the
// same counters.
class TCounter final : public TFolderVisitor {
 public:
  void* Entry(void* context, const TFindData& entry, size_t nameLength) override {
    auto* counters = static_cast<TFolderCounters*>(context);
    if ((entry.attributes & kAttributeDirectory) != 0) {
      Add(&counters->folderCount, 1);
      Add(&counters->folderNameBytes, nameLength);
    } else {
      Add(&counters->fileCount, 1);
      Add(&counters->fileNameBytes, nameLength);
    }
    return counters;
  }
};

}  // namespace

bool CountFolder(const char* path, TFolderCounters* counters, TSystemServices& services) {
  TCounter counter;
  return WalkFolder(services, path, counters, counter);
}

void FormatFolderReport(const TFolderCounters& c, char (&text)[500]) {
  std::snprintf(
      text, sizeof(text),
      "Files: %d (%d K)\nFolders: %d (%d K)\n\nFile names: %d (%d K)\nFolder names: %d (%d K)",
      c.fileCount, c.fileCount / 1024, c.folderCount, c.folderCount / 1024, c.fileNameBytes,
      c.fileNameBytes / 1024, c.folderNameBytes, c.folderNameBytes / 1024);
}

bool ReportFolderStatistics(const char* path, TSystemServices& services, TWindowSystem& windows) {
  TFolderCounters counters = {0, 0, 0, 0};
  if (!CountFolder(path, &counters, services)) {
    const std::string text =
        std::string(path) + " could not be listed: " + services.LastErrorText();
    windows.ShowMessage(text.c_str(), "Error");
    return false;
  }
  char text[500];
  FormatFolderReport(counters, text);
  windows.ShowMessage(text, "info");
  return true;
}
