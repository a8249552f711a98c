#include "tests/support/holding_volume.h"

#include <chrono>
#include <fstream>
#include <sstream>

#include "platform/nt_types.h"

const THeldStage kHeldStages[4] = {
    {THoldAt::kScan, "Creating memory tree"},
    {THoldAt::kFreeSpace, "Mapping free space"},
    {THoldAt::kRetrieval, "Filling data into the memory tree"},
    {THoldAt::kListing, "Listing tree"},
};

bool THoldingVolume::WaitForHold(int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock);
  return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return held; });
}

void THoldingVolume::Release() {
  {
    std::lock_guard<std::mutex> guard(lock);
    released = true;
  }
  changed.notify_all();
}

THandle THoldingVolume::FindFirst(const char* pattern, TFindData* entry) {
  ++folderListings;
  Hold(THoldAt::kScan);
  return TScriptedVolume::FindFirst(pattern, entry);
}

THandle THoldingVolume::OpenForRead(const char* path, bool backupSemantics) {
  if (std::string(path).rfind("\\\\.\\", 0) != 0) {
    ++itemOpens;
    Hold(THoldAt::kRetrieval);
  }
  return TScriptedVolume::OpenForRead(path, backupSemantics);
}

THandle THoldingVolume::OpenForRuns(const char* path) {
  return TScriptedVolume::OpenForRead(path, false);
}

TNtStatus THoldingVolume::FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                                    uint32_t inputLength, void* output, uint32_t outputLength) {
  if (code == kFsctlGetVolumeBitmap) {
    ++bitmapReads;
    Hold(THoldAt::kFreeSpace);
  }
  return TScriptedVolume::FsControl(handle, io, code, input, inputLength, output, outputLength);
}

std::unique_ptr<TReplacementFile> THoldingVolume::OpenLog(const char* name) {
  if (std::string(name).find("DirList_rules") != std::string::npos) Hold(THoldAt::kListing);
  return TScriptedVolume::OpenLog(name);
}

void THoldingVolume::Hold(THoldAt at) {
  if (at != holdAt) return;
  std::unique_lock<std::mutex> guard(lock);
  held = true;
  changed.notify_all();
  changed.wait(guard, [this] { return released; });
}

void ScriptHeldDrive(THoldingVolume& volume, const std::string& logDirectory) {
  volume.logDirectory = logDirectory;
  volume.bitmap.assign(8192, false);
  volume.bitmapFaults.unitsPerReply = 64;
  int64_t lcn = 16;
  for (int folder = 0; folder < kHeldFolders; ++folder) {
    const std::string path = "D:\\f" + std::to_string(folder);
    volume.AddFolder(path);
    for (int file = 0; file < kHeldFilesPerFolder; ++file) {
      volume.AddFile(path + "\\x" + std::to_string(file) + ".txt", 4096, {{1, lcn}});
      volume.bitmap[lcn] = true;
      lcn += 2;
    }
  }
  std::ofstream(logDirectory + "DirList_rules.log") << "the previous run";
}

std::string RulesLogIn(const std::string& logDirectory) {
  std::ifstream file(logDirectory + "DirList_rules.log", std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}
