#include "platform/linux/linux_services.h"

#include <unistd.h>

#include <string>
#include <utility>

#include "platform/handle_object.h"
#include "platform/linux/host_enumeration.h"
#include "platform/linux/host_files.h"
#include "platform/linux/host_free_space.h"
#include "platform/linux/linux_threads.h"

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

}  // namespace

TLinuxServices::TLinuxServices() : drives_(TDriveTable::FromEnvironment()) {}

TLinuxServices::TLinuxServices(TDriveTable drives) : drives_(std::move(drives)) {}

THandle TLinuxServices::FindFirst(const char* pattern, TFindData* entry) {
  const TLocation where = drives_.Resolve(pattern);
  if (!IsHostPath(where)) return InvalidHandle();
  std::string folder;
  std::string namePattern;
  SplitHostPattern(where.path, &folder, &namePattern);
  return AsHandle(THostFindHandle::Start(folder, namePattern, entry));
}

bool TLinuxServices::FindNext(THandle find, TFindData* entry) {
  // A handle of another kind answers "no more files" rather than being
  // misread as an enumeration.
  auto* enumeration = dynamic_cast<THostFindHandle*>(AsObject(find));
  return enumeration != nullptr && enumeration->Next(entry);
}

void TLinuxServices::FindEnd(THandle find) { Close(find); }

THandle TLinuxServices::OpenForRead(const char* path, bool backupSemantics) {
  // Volume paths and NTFS volumes do not open yet; as an unprivileged open
  // of a volume on Windows, the open simply fails.
  const TLocation where = drives_.Resolve(path);
  if (!IsHostPath(where)) return InvalidHandle();
  return AsHandle(OpenHostFile(where.path, backupSemantics));
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
  return IsHostPath(where) && HostDiskGeometry(where.path, geometry);
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
