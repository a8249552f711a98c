#include "tests/support/moving_drive.h"

#include <cstdint>
#include <mutex>
#include <string>

const char* const kMovingDriveFiles[3] = {"\\a.bin", "\\b.bin", "\\c.bin"};

namespace {

// Adds a file of runs, marking its clusters used.
void AddFile(TScriptedVolume& volume, const char* path, const std::vector<TScriptedRun>& runs) {
  int64_t vcn = 0;
  for (const TScriptedRun& run : runs) {
    for (int64_t cluster = run.lcn; cluster < run.lcn + run.nextVcn - vcn; ++cluster)
      volume.bitmap[cluster] = true;
    vcn = run.nextVcn;
  }
  volume.AddFile(path, vcn * 4096, runs);
}

}  // namespace

void ScriptMovingDrive(TScriptedVolume& volume, bool fragmented) {
  volume.bitmap.assign(2000, false);
  if (!fragmented) {
    AddFile(volume, "D:\\a.bin", {{4, 100}});
    return;
  }
  AddFile(volume, "D:\\a.bin", {{2, 100}, {4, 200}});
  AddFile(volume, "D:\\b.bin", {{3, 300}, {6, 400}});
  AddFile(volume, "D:\\c.bin", {{2, 500}, {4, 600}});
}

int VolumesOpenedForMoves(TScriptedVolume& volume) {
  std::lock_guard<std::mutex> guard(volume.openedLock);
  int count = 0;
  for (const std::string& open : volume.opened) count += open == "\\\\.\\D:|moves";
  return count;
}

int PiecesAt(TItem* root, const char* listingPath) {
  const TItem* item = ItemAtListingPath(root, listingPath);
  int pieces = 0;
  for (const TFragment* run = item == nullptr ? nullptr : item->fragments; run != nullptr;
       run = run->next) {
    if (run->next == nullptr || run->next->lcn != run->lcn + run->length) ++pieces;
  }
  return pieces;
}

bool FreeExtentsAreTheVolumes(const TFragment* freeExtents, const std::vector<bool>& bitmap) {
  std::vector<bool> used(bitmap.size(), true);
  for (const TFragment* free = freeExtents; free != nullptr; free = free->next) {
    for (int64_t cluster = free->lcn; cluster < free->lcn + free->length; ++cluster) {
      if (cluster < 0 || cluster >= static_cast<int64_t>(used.size())) return false;
      used[cluster] = false;
    }
  }
  return used == bitmap;
}
