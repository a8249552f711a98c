#include "platform/linux/linux_services.h"

#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/handle_object.h"
#include "platform/linux/host_enumeration.h"
#include "platform/linux/host_files.h"
#include "platform/linux/host_free_space.h"
#include "platform/linux/host_fsmap.h"
#include "platform/linux/linux_threads.h"
#include "platform/linux/ntfs_enumeration.h"
#include "platform/linux/ntfs_handles.h"
#include "platform/linux/ntfs_volume.h"

namespace {

THandleObject* AsObject(THandle handle) {
  if (handle == nullptr || handle == InvalidHandle()) return nullptr;
  return static_cast<THandleObject*>(handle);
}

THandle AsHandle(THandleObject* object) {
  return object != nullptr ? static_cast<THandle>(object) : InvalidHandle();
}

// A plain path on a host folder (not a volume path, not inside an NTFS
// volume), which the host's own calls can serve.
bool IsHostPath(const TLocation& where) {
  return where.kind == TDriveKind::kHostFolder && !where.wholeVolume;
}

uint32_t Clamp32(int64_t value) {
  return value < 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(value, UINT32_MAX));
}

}  // namespace

TLinuxServices::TLinuxServices()
    : drives_(TDriveTable::FromEnvironment()), ntfsVolumes_(NtfsReadOrderFromEnvironment()) {}

TLinuxServices::TLinuxServices(TDriveTable drives, TNtfsReadOrder ntfsOrder)
    : drives_(std::move(drives)), ntfsVolumes_(ntfsOrder) {}

TNtfsVolume* TLinuxServices::NtfsVolume(const TLocation& where) {
  if (where.kind != TDriveKind::kNtfsVolume) return nullptr;
  return ntfsVolumes_.ForThisThread(where.drivePath);
}

THandle TLinuxServices::FindFirst(const char* pattern, TFindData* entry) {
  const TLocation where = drives_.Resolve(pattern);
  if (where.wholeVolume) return InvalidHandle();
  std::string folder;
  std::string namePattern;
  SplitHostPattern(where.path, &folder, &namePattern);
  if (IsHostPath(where)) return AsHandle(THostFindHandle::Start(folder, namePattern, entry));
  TNtfsVolume* volume = NtfsVolume(where);
  std::vector<TNtfsEntry> entries;
  const bool listed =
      volume != nullptr && volume->ListFolder(folder, namePattern.c_str(), &entries);
  if (volume != nullptr) ReportDisagreements(pattern, volume->TakeDisagreements());
  if (!listed) return InvalidHandle();
  return AsHandle(TNtfsFindHandle::Start(std::move(entries), entry));
}

void TLinuxServices::ReportDisagreements(const char* pattern,
                                         const std::vector<std::string>& names) {
  if (names.empty()) return;
  const std::string text = pattern;
  std::string line =
      "MFT and index disagree in " + text.substr(0, text.find_last_of('\\') + 1) + ":";
  for (const std::string& name : names) line += " " + name;
  line += "\n";
  DebugOutput(line.c_str());
}

bool TLinuxServices::FindNext(THandle find, TFindData* entry) {
  // A handle of another kind answers "no more files" rather than being
  // misread as an enumeration.
  THandleObject* object = AsObject(find);
  if (auto* host = dynamic_cast<THostFindHandle*>(object)) return host->Next(entry);
  if (auto* ntfs = dynamic_cast<TNtfsFindHandle*>(object)) return ntfs->Next(entry);
  return false;
}

void TLinuxServices::FindEnd(THandle find) { Close(find); }

THandle TLinuxServices::OpenForRead(const char* path, bool backupSemantics) {
  const TLocation where = drives_.Resolve(path);
  if (IsHostPath(where)) return AsHandle(OpenHostFile(where.path, backupSemantics));
  // The volume of a host-folder drive is the file system holding the folder,
  // whose space map needs CAP_SYS_ADMIN: without it the open fails, as an
  // unprivileged open of a volume fails on Windows.
  if (where.kind == TDriveKind::kHostFolder) return AsHandle(THostVolumeHandle::Open(where.path));
  TNtfsVolume* volume = NtfsVolume(where);
  if (volume == nullptr) return InvalidHandle();
  if (where.wholeVolume) {
    return AsHandle(new TNtfsVolumeHandle(ntfsVolumes_, where.drivePath, volume->ClusterCount()));
  }
  TNtfsItem item;
  if (!volume->Open(where.path, backupSemantics, &item)) return InvalidHandle();
  return AsHandle(new TNtfsFileHandle(std::move(item)));
}

bool TLinuxServices::FileSize(THandle file, uint32_t* low, uint32_t* high) {
  THandleObject* object = AsObject(file);
  if (object == nullptr) {
    *low = 0xFFFFFFFFu;
    *high = 0;
    return false;
  }
  return object->FileSize(low, high);
}

void TLinuxServices::WaitFor(THandle handle) {
  if (THandleObject* object = AsObject(handle)) object->Wait();
}

void TLinuxServices::Close(THandle handle) { delete AsObject(handle); }

bool TLinuxServices::DiskFreeSpaceEx(const char* rootPath) {
  TDiskGeometry unused;
  return DiskFreeSpace(rootPath, &unused);
}

bool TLinuxServices::DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) {
  const TLocation where = drives_.Resolve(rootPath);
  if (IsHostPath(where)) return HostDiskGeometry(where.path, geometry);
  // An NTFS volume answers for its root only.
  TNtfsVolume* volume = where.wholeVolume || where.path != "/" ? nullptr : NtfsVolume(where);
  if (volume == nullptr) return false;
  const int64_t freeClusters = volume->FreeClusters();
  if (freeClusters < 0) return false;
  *geometry = TDiskGeometry{volume->ClusterBytes() / volume->SectorBytes(), volume->SectorBytes(),
                            Clamp32(freeClusters), Clamp32(volume->ClusterCount())};
  return true;
}

uint64_t TLinuxServices::AvailablePhysicalMemory() {
  const long pages = sysconf(_SC_AVPHYS_PAGES);
  const long pageBytes = sysconf(_SC_PAGESIZE);
  if (pages < 0 || pageBytes < 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageBytes);
}

void TLinuxServices::DebugOutput(const char* text) { std::fputs(text, stderr); }

FILE* TLinuxServices::OpenLog(const char* name) {
  // Only host folders are ever written.
  const TLocation where = drives_.Resolve(name);
  return IsHostPath(where) ? OpenHostLog(where.path) : nullptr;
}

TNtFsControlFile TLinuxServices::LookUpNtFsControlFile() { return &ObjectNtFsControlFile; }

THandle TLinuxServices::StartThread(TThreadProc proc, void* parameter) {
  return AsHandle(TThreadHandle::Start(proc, parameter));
}

void TLinuxServices::WaitForThreads(const THandle* threads, int count) {
  for (int i = 0; i < count; ++i) WaitFor(threads[i]);
}
