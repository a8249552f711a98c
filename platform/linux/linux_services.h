// The system services on Linux: drive letters through the drive table, NTFS
// volumes through libntfs-3g, host folders through the host's own calls,
// threads as std::thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/linux/drive_table.h"
#include "platform/linux/host_listed_entries.h"
#include "platform/linux/host_paths.h"
#include "platform/linux/ntfs_volume_pool.h"
#include "platform/system_services.h"

// Every handle it gives out is a THandleObject*, so the file-system control
// entry it reports (ObjectFsControl) dispatches on it. Shareable by
// any number of threads: the drive table is read-only, and the NTFS volume
// pool gives each thread mounts of its own. It must outlive every handle it
// gave out.
class TLinuxServices : public TSystemServices {
 public:
  // Drives from the DISKOPT_DRIVE_<L> environment variables, NTFS volumes
  // read in the order DISKOPT_NTFS_READ chooses; both read now.
  TLinuxServices();
  explicit TLinuxServices(TDriveTable drives, TNtfsReadOrder ntfsOrder = TNtfsReadOrder::kMftOrder);
  ~TLinuxServices() override;
  TLinuxServices(const TLinuxServices&) = delete;
  TLinuxServices& operator=(const TLinuxServices&) = delete;

  THandle FindFirst(const char* pattern, TFindData* entry) override;
  bool FindNext(THandle find, TFindData* entry) override;
  void FindEnd(THandle find) override;
  bool FolderIdentity(const char* path, TFileIdentity* identity) override;

  THandle OpenForRead(const char* path, bool backupSemantics) override;
  THandle OpenForRuns(const char* path) override;
  bool FileSize(THandle file, uint32_t* low, uint32_t* high) override;
  bool FileIdentity(THandle file, TFileIdentity* identity) override;
  void WaitFor(THandle handle) override;
  void Close(THandle handle) override;

  bool DiskFreeSpaceEx(const char* rootPath) override;
  bool DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) override;
  // Standard error, only when DISKOPT_DEBUG=1 at construction.
  void DebugOutput(const char* text) override;
  std::string ArgumentPath(char driveLetter) const override;
  TDriveOrigin DriveOrigin(char driveLetter) const override;
  std::unique_ptr<TReplacementFile> OpenLog(const char* name) override;

  bool ResolveFsControl() override { return true; }
  std::string LastErrorText() override;
  TNtStatus FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                      uint32_t inputLength, void* output, uint32_t outputLength) override;
  // A host folder's volume gives its space map; NTFS volumes answer the
  // bitmap request only.
  bool VolumeFreeExtents(THandle volume, TFreeSpaceExtents* space) override;

  std::vector<TVolumeDamage> TakeVolumeDamage(char driveLetter) override;
  int64_t ClustersHeldByNoFile(char driveLetter) override;
  void ItemsRead(char driveLetter) override;

  // NTFS drives only: a read-write mount of the image (ntfs_move_volume.h),
  // unmounted when the handle closes, after which every read of the image
  // reads it afresh.
  THandle OpenVolumeForMoves(char driveLetter) override;
  THandle OpenFileForMoves(THandle volume, const char* path, bool folder) override;
  // Folders of ext4, XFS and btrfs (host_whole_file.h).
  THandle OpenFolderForWholeFiles(char driveLetter, const TWholeFileOptions& options,
                                  TWholeFileFolder* folder) override;
  TWholeFileResult MakeFileWhole(THandle folder, const char* path) override;

  THandle StartThread(TThreadProc proc, void* parameter) override;
  void WaitForThreads(const THandle* threads, int count) override;

  // The NTFS mounts, for tests that count them or ask why one was refused.
  const TNtfsVolumePool& NtfsVolumes() const { return ntfsVolumes_; }

 private:
  // The calling thread's mount of the NTFS volume a location lies in; none
  // when the image does not mount.
  TNtfsVolume* NtfsVolume(const TLocation& where);
  // Where the whole volume of driveLetter (\\.\L:) lies.
  TLocation DriveVolume(char driveLetter) const;
  // The same for moves: when the letter names nothing, lastError says so.
  TLocation VolumeToMove(char driveLetter);
  // Records why a path that names no drive failed.
  void FailMissing(const char* path);
  // A plain host path as the stages composed it, names in listed form
  // (windows_names.h): below its drive's folder, or a path of its own.
  THostPath ListedHostPath(const TLocation& where) const;
  // Says which names of the folder listed by pattern the MFT and the
  // folder's index disagree on (a damaged volume): in the debug output, and
  // as damage of the pattern's drive.
  void ReportDisagreements(const char* pattern, const std::vector<std::string>& names);

  const TDriveTable drives_;
  // O_PATH descriptors of the folders drive letters are mapped to, by the
  // mapped path; -1 for one that did not open. Opened when the services are
  // made (C: is the working directory of that moment) and closed when they
  // go: host opens resolve beneath them, and a folder renamed or replaced
  // meanwhile does not move its drive. Read-only afterwards, so every
  // thread reads it without a lock.
  std::map<std::string, int> hostRoots_;
  // What host listings found their entries to be, so opens of regular
  // files and folders need no look first and a subfolder's identity no
  // open; it guards itself.
  THostListedEntries hostListed_;
  const bool debugOutput_;  // DISKOPT_DEBUG=1 when the services were made
  // Damage the listings found, by drive letter, until taken; and the drives
  // (letter, then image path) whose image's structural damage
  // (TNtfsVolume::Damage) has been handed over, which every mount of the
  // image would tell alike. Written by whichever
  // thread lists or asks; guarded by damageLock_.
  std::mutex damageLock_;
  std::map<char, std::vector<TVolumeDamage>> listingDamage_;
  std::set<std::string> imagesDamageTaken_;
  TNtfsVolumePool ntfsVolumes_;
};
