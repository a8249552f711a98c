// The system services on Linux: drive letters through the drive table, NTFS
// volumes through libntfs-3g, host folders through the host's own calls,
// threads as std::thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/linux/drive_table.h"
#include "platform/linux/ntfs_volume_pool.h"
#include "platform/system_services.h"

// Every handle it gives out is a THandleObject*, so the file-system control
// entry it reports (ObjectNtFsControlFile) dispatches on it. Shareable by
// any number of threads: the drive table is read-only, and the NTFS volume
// pool gives each thread mounts of its own. It must outlive every handle it
// gave out.
class TLinuxServices : public TSystemServices {
 public:
  // Drives from the DISKOPT_DRIVE_<L> environment variables, NTFS volumes
  // read in the order DISKOPT_NTFS_READ chooses; both read now.
  TLinuxServices();
  explicit TLinuxServices(TDriveTable drives, TNtfsReadOrder ntfsOrder = TNtfsReadOrder::kMftOrder);

  THandle FindFirst(const char* pattern, TFindData* entry) override;
  bool FindNext(THandle find, TFindData* entry) override;
  void FindEnd(THandle find) override;

  THandle OpenForRead(const char* path, bool backupSemantics) override;
  bool FileSize(THandle file, uint32_t* low, uint32_t* high) override;
  void WaitFor(THandle handle) override;
  void Close(THandle handle) override;

  bool DiskFreeSpaceEx(const char* rootPath) override;
  bool DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) override;
  uint64_t AvailablePhysicalMemory() override;
  void DebugOutput(const char* text) override;
  FILE* OpenLog(const char* name) override;

  TNtFsControlFile LookUpNtFsControlFile() override;

  THandle StartThread(TThreadProc proc, void* parameter) override;
  void WaitForThreads(const THandle* threads, int count) override;

 private:
  // The calling thread's mount of the NTFS volume a location lies in; none
  // when the image does not mount.
  TNtfsVolume* NtfsVolume(const TLocation& where);
  // Says in the debug output which names of the folder listed by pattern
  // the MFT and the folder's index disagree on (a damaged volume).
  void ReportDisagreements(const char* pattern, const std::vector<std::string>& names);

  const TDriveTable drives_;
  TNtfsVolumePool ntfsVolumes_;
};
