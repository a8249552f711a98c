#include "tests/support/metered_volume.h"

#include <chrono>
#include <limits>
#include <string>

void TMeteredVolume::Allow(int listings, int opens) {
  {
    std::lock_guard<std::mutex> guard(lock);
    listingsLeft += listings;
    opensLeft += opens;
  }
  changed.notify_all();
}

void TMeteredVolume::AllowAll() {
  const int all = std::numeric_limits<int>::max() / 2;
  Allow(all, all);
}

bool TMeteredVolume::WaitUntilHeld(int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock);
  return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                          [this] { return waiting > 0; });
}

THandle TMeteredVolume::FindFirst(const char* pattern, TFindData* entry) {
  Take(&listingsLeft);
  return TScriptedVolume::FindFirst(pattern, entry);
}

THandle TMeteredVolume::OpenForRead(const char* path, bool backupSemantics) {
  // The volume's own opens are not items.
  if (std::string(path).rfind("\\\\.\\", 0) != 0) Take(&opensLeft);
  return TScriptedVolume::OpenForRead(path, backupSemantics);
}

void TMeteredVolume::Take(int* left) {
  std::unique_lock<std::mutex> guard(lock);
  ++waiting;
  changed.notify_all();
  changed.wait(guard, [left] { return *left > 0; });
  --*left;
  --waiting;
}

void PopulateMeteredVolume(TScriptedVolume& volume) {
  volume.bitmap.assign(8192, false);
  int64_t lcn = 16;
  for (int folder = 0; folder < kMeteredFolders; ++folder) {
    const std::string path = "D:\\f" + std::to_string(folder);
    volume.AddFolder(path);
    for (int file = 0; file < kMeteredFilesPerFolder; ++file) {
      volume.AddFile(path + "\\x" + std::to_string(file) + ".txt", 4096, {{1, lcn}});
      volume.bitmap[lcn] = true;
      lcn += 2;
    }
  }
}
