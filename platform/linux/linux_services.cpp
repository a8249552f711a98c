#include "platform/linux/linux_services.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/debug_switch.h"
#include "platform/handle_object.h"
#include "platform/linux/failure_text.h"
#include "platform/linux/host_enumeration.h"
#include "platform/linux/host_files.h"
#include "platform/linux/host_free_space.h"
#include "platform/linux/host_fsmap.h"
#include "platform/linux/host_replacement_file.h"
#include "platform/linux/host_whole_file.h"
#include "platform/linux/linux_threads.h"
#include "platform/linux/ntfs_enumeration.h"
#include "platform/linux/ntfs_handles.h"
#include "platform/linux/ntfs_move_handles.h"
#include "platform/linux/ntfs_move_volume.h"
#include "platform/linux/ntfs_volume.h"
#include "platform/linux/windows_names.h"

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

// The same path in Linux names, as the host's calls take it.
THostPath LinuxHostPath(THostPath listed) {
  if (MayHoldMappedCharacter(listed.below)) listed.below = LinuxName(listed.below);
  return listed;
}

// Why this thread's last failed call failed; each thread sees only its own,
// as GetLastError works. The status of a failed control request is put in
// words only when asked: every file too small to have runs fails its
// retrieval request with STATUS_END_OF_FILE, and nobody asks why.
class TLastError {
 public:
  TLastError& operator=(std::string text) {
    text_ = std::move(text);
    status_ = 0;
    return *this;
  }
  void SetStatus(TNtStatus status) { status_ = status; }
  std::string Text() const {
    if (status_ == 0) return text_;
    char text[64];
    std::snprintf(text, sizeof text, "the control request failed with status 0x%08X",
                  static_cast<unsigned>(status_));
    return text;
  }

 private:
  std::string text_;
  TNtStatus status_ = 0;  // a failed request's status; 0 when text_ tells
};
thread_local TLastError lastError;

// What stands for an NTFS volume in file identities: one volume per image
// path, so the path stands for the volume.
uint64_t NtfsVolumeIdentity(const std::string& imagePath) {
  return std::hash<std::string>()(imagePath);
}

// The drive letter a path names (L:... or \\.\L:), or 0 for none.
char DriveLetterOf(const char* path) {
  if (std::strncmp(path, "\\\\.\\", 4) == 0) path += 4;
  return path[0] != '\0' && path[1] == ':' ? path[0] : '\0';
}

}  // namespace

TLinuxServices::TLinuxServices()
    : TLinuxServices(TDriveTable::FromEnvironment(), NtfsReadOrderFromEnvironment()) {}

TLinuxServices::TLinuxServices(TDriveTable drives, TNtfsReadOrder ntfsOrder)
    : drives_(std::move(drives)), debugOutput_(DebugOutputWanted()), ntfsVolumes_(ntfsOrder) {
  char volume[] = "\\\\.\\A:";
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (drives_.Kind(letter) != TDriveKind::kHostFolder) continue;
    volume[4] = letter;
    const std::string folder = drives_.Resolve(volume).drivePath;
    if (hostRoots_.count(folder) != 0) continue;
    // The mapped folder is the user's own choice and may be reached through
    // links; only what lies below it is held beneath it.
    hostRoots_[folder] = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
}

TLinuxServices::~TLinuxServices() {
  for (const auto& root : hostRoots_) {
    if (root.second >= 0) close(root.second);
  }
}

THostPath TLinuxServices::ListedHostPath(const TLocation& where) const {
  if (where.drivePath.empty()) return THostPath{AT_FDCWD, where.path};
  const auto root = hostRoots_.find(where.drivePath);
  return THostPath{root != hostRoots_.end() ? root->second : -1, where.below};
}

TNtfsVolume* TLinuxServices::NtfsVolume(const TLocation& where) {
  if (where.kind != TDriveKind::kNtfsVolume) return nullptr;
  errno = 0;
  TNtfsVolume* volume = ntfsVolumes_.ForThisThread(where.drivePath);
  if (volume != nullptr) return volume;
  // A mount refused once is not tried again: its reason is kept.
  const int refused = ntfsVolumes_.RefusedMount(where.drivePath);
  lastError = NtfsMountFailureText(where.drivePath, refused != 0 ? refused : errno);
  return nullptr;
}

void TLinuxServices::FailMissing(const char* path) {
  const char letter = DriveLetterOf(path);
  if (letter == '\0') {
    lastError = SystemErrorText(path, ENOENT);
    return;
  }
  const std::string argument = drives_.ArgumentPath(letter);
  if (argument.empty()) {
    lastError = MissingDriveText(letter, drives_.MappedPath(letter));
    return;
  }
  struct stat status;
  lastError = MissingArgumentText(argument, stat(argument.c_str(), &status) != 0 ? errno : 0);
}

THandle TLinuxServices::FindFirst(const char* pattern, TFindData* entry) {
  const TLocation where = drives_.Resolve(pattern);
  if (where.kind == TDriveKind::kMissing) {
    FailMissing(pattern);
    return InvalidHandle();
  }
  if (where.wholeVolume) {
    lastError = SystemErrorText(pattern, EISDIR);
    return InvalidHandle();
  }
  // The folder's names are mapped back; the name pattern stays in listed
  // form, as the names it is matched against are listed.
  THostPath folder;
  std::string namePattern;
  if (IsHostPath(where)) {
    SplitHostPath(ListedHostPath(where), &folder, &namePattern);
    THostFindHandle* find =
        THostFindHandle::Start(LinuxHostPath(folder), namePattern, entry, &hostListed_);
    // The folder, without the name pattern, is what the user knows.
    // No errno: the folder was listed and no name matched the pattern
    // (Windows's "file not found"), as for a -m path without its separator.
    if (find == nullptr) {
      lastError = errno != 0 ? SystemErrorText(where.path.substr(0, where.path.rfind('/')), errno)
                             : SystemErrorText(where.path, ENOENT);
    }
    return AsHandle(find);
  }
  SplitHostPath(THostPath{AT_FDCWD, where.path}, &folder, &namePattern);
  TNtfsVolume* volume = NtfsVolume(where);
  if (volume == nullptr) return InvalidHandle();
  std::vector<TNtfsEntry> entries;
  const bool listed = volume->ListFolder(LinuxName(folder.below), namePattern.c_str(), &entries);
  ReportDisagreements(pattern, volume->TakeDisagreements());
  if (!listed) {
    lastError = SystemErrorText(where.drivePath + ":" + folder.below, ENOENT);
    return InvalidHandle();
  }
  return AsHandle(TNtfsFindHandle::Start(std::move(entries), entry));
}

void TLinuxServices::ReportDisagreements(const char* pattern,
                                         const std::vector<std::string>& names) {
  if (names.empty()) return;
  const std::string text = pattern;
  const std::string folder = text.substr(0, text.find_last_of('\\') + 1);
  std::string line = "MFT and index disagree in " + folder + ":";
  std::string listed;
  for (const std::string& name : names) {
    line += " " + name;
    listed += (listed.empty() ? "" : ", ") + name;
  }
  line += "\n";
  DebugOutput(line.c_str());
  const char letter = DriveLetterOf(pattern);
  if (letter == '\0') return;
  // The folder as the drive lists it, its letter and colon left off.
  TVolumeDamage damage{folder.substr(2),
                       "its index and the MFT disagree on " + listed + "; the index is followed"};
  std::lock_guard<std::mutex> guard(damageLock_);
  listingDamage_[letter].push_back(std::move(damage));
}

TLocation TLinuxServices::DriveVolume(char driveLetter) const {
  const char volumePath[] = {'\\', '\\', '.', '\\', driveLetter, ':', '\0'};
  return drives_.Resolve(volumePath);
}

TLocation TLinuxServices::VolumeToMove(char driveLetter) {
  const TLocation where = DriveVolume(driveLetter);
  if (where.kind == TDriveKind::kMissing) {
    const char volumePath[] = {'\\', '\\', '.', '\\', driveLetter, ':', '\0'};
    FailMissing(volumePath);
  }
  return where;
}

std::vector<TVolumeDamage> TLinuxServices::TakeVolumeDamage(char driveLetter) {
  const TLocation where = DriveVolume(driveLetter);
  std::vector<TVolumeDamage> found;
  TNtfsVolume* volume = where.kind == TDriveKind::kNtfsVolume ? NtfsVolume(where) : nullptr;
  std::lock_guard<std::mutex> guard(damageLock_);
  if (volume != nullptr && imagesDamageTaken_.insert(driveLetter + where.drivePath).second) {
    found = volume->Damage();
  }
  std::vector<TVolumeDamage>& listed = listingDamage_[driveLetter];
  found.insert(found.end(), listed.begin(), listed.end());
  listed.clear();
  return found;
}

int64_t TLinuxServices::ClustersHeldByNoFile(char driveLetter) {
  const TLocation where = DriveVolume(driveLetter);
  TNtfsVolume* volume = where.kind == TDriveKind::kNtfsVolume ? NtfsVolume(where) : nullptr;
  return volume != nullptr ? volume->ClustersHeldByNoFile() : -1;
}

void TLinuxServices::ItemsRead(char driveLetter) {
  const TLocation where = DriveVolume(driveLetter);
  TNtfsVolume* volume = where.kind == TDriveKind::kNtfsVolume ? NtfsVolume(where) : nullptr;
  if (volume != nullptr) volume->ForgetView();
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

bool TLinuxServices::FolderIdentity(const char* path, TFileIdentity* identity) {
  const TLocation where = drives_.Resolve(path);
  if (where.kind == TDriveKind::kMissing || where.wholeVolume) return false;
  if (IsHostPath(where)) {
    const THostPath host = LinuxHostPath(ListedHostPath(where));
    // The listing that gave the folder's name has told who it is.
    if (hostListed_.ListedIdentity(host, identity)) return true;
    const int folder = OpenHostPath(host, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    struct stat status;
    const bool known = fstat(folder, &status) == 0;
    close(folder);
    if (!known) return false;
    *identity = TFileIdentity{static_cast<uint64_t>(status.st_dev), status.st_ino};
    return true;
  }
  TNtfsVolume* volume = NtfsVolume(where);
  uint64_t record = 0;
  if (volume == nullptr || !volume->FolderRecord(LinuxName(where.path), &record)) return false;
  *identity = TFileIdentity{NtfsVolumeIdentity(where.drivePath), record};
  return true;
}

THandle TLinuxServices::OpenForRead(const char* path, bool backupSemantics) {
  const TLocation where = drives_.Resolve(path);
  if (where.kind == TDriveKind::kMissing) {
    FailMissing(path);
    return InvalidHandle();
  }
  if (IsHostPath(where)) {
    const THostPath host = LinuxHostPath(ListedHostPath(where));
    THandleObject* file = OpenHostFile(host, backupSemantics, hostListed_.ListedKind(host));
    if (file == nullptr) lastError = SystemErrorText(where.path, errno);
    return AsHandle(file);
  }
  // The volume of a host-folder drive is the file system holding the folder,
  // whose space map needs CAP_SYS_ADMIN: without it the open fails, as an
  // unprivileged open of a volume fails on Windows.
  if (where.kind == TDriveKind::kHostFolder) {
    errno = 0;
    THostVolumeHandle* volume = THostVolumeHandle::Open(where.path);
    if (volume == nullptr) lastError = HostFreeSpaceFailureText(where.path, errno);
    return AsHandle(volume);
  }
  TNtfsVolume* volume = NtfsVolume(where);
  if (volume == nullptr) return InvalidHandle();
  if (where.wholeVolume) {
    return AsHandle(new TNtfsVolumeHandle(ntfsVolumes_, where.drivePath, volume->ClusterCount()));
  }
  TNtfsItem item;
  // Most paths hold no mapped character and are opened as they stand.
  const bool opened = MayHoldMappedCharacter(where.path)
                          ? volume->Open(LinuxName(where.path), backupSemantics, &item)
                          : volume->Open(where.path, backupSemantics, &item);
  if (!opened) {
    lastError = SystemErrorText(where.drivePath + ":" + where.path, ENOENT);
    return InvalidHandle();
  }
  return AsHandle(new TNtfsFileHandle(std::move(item), NtfsVolumeIdentity(where.drivePath)));
}

THandle TLinuxServices::OpenForRuns(const char* path) {
  // Of the metafiles, which no listing or read opens, the file table alone
  // tells its size and runs.
  const TLocation where = drives_.Resolve(path);
  if (where.kind != TDriveKind::kNtfsVolume || where.path != "/$MFT") {
    return OpenForRead(path, false);
  }
  TNtfsVolume* volume = NtfsVolume(where);
  if (volume == nullptr) return InvalidHandle();
  TNtfsItem item;
  if (!volume->OpenFileTable(&item)) {
    lastError = SystemErrorText(where.drivePath + ":" + where.path, errno);
    return InvalidHandle();
  }
  return AsHandle(new TNtfsFileHandle(std::move(item), NtfsVolumeIdentity(where.drivePath)));
}

bool TLinuxServices::FileIdentity(THandle file, TFileIdentity* identity) {
  THandleObject* object = AsObject(file);
  return object != nullptr && object->Identity(identity);
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
  if (IsHostPath(where)) return HostDiskGeometry(LinuxHostPath(ListedHostPath(where)), geometry);
  // An NTFS volume answers for its root only.
  TNtfsVolume* volume = where.wholeVolume || where.path != "/" ? nullptr : NtfsVolume(where);
  if (volume == nullptr) return false;
  const int64_t freeClusters = volume->FreeClusters();
  const int64_t totalClusters = volume->ClusterCount();
  if (freeClusters < 0 || totalClusters < 0) return false;
  *geometry =
      TDiskGeometry{volume->ClusterBytes() / volume->SectorBytes(), volume->SectorBytes(),
                    static_cast<uint64_t>(freeClusters), static_cast<uint64_t>(totalClusters)};
  return true;
}

void TLinuxServices::DebugOutput(const char* text) {
  if (debugOutput_) std::fputs(text, stderr);
}

std::string TLinuxServices::ArgumentPath(char driveLetter) const {
  return drives_.ArgumentPath(driveLetter);
}

TDriveOrigin TLinuxServices::DriveOrigin(char driveLetter) const {
  TDriveOrigin origin;
  const TDriveKind kind = drives_.Kind(driveLetter);
  if (kind == TDriveKind::kMissing) return origin;
  origin.kind = kind == TDriveKind::kHostFolder ? TDriveOrigin::TKind::kFolder
                                                : TDriveOrigin::TKind::kNtfsVolume;
  origin.path = AbsolutePathText(drives_.MappedPath(driveLetter));
  return origin;
}

std::unique_ptr<TReplacementFile> TLinuxServices::OpenLog(const char* name) {
  // Only host folders are ever written.
  const TLocation where = drives_.Resolve(name);
  if (!IsHostPath(where)) {
    lastError = std::string(name) + ": only folders are written, never a volume";
    return nullptr;
  }
  std::string reason;
  std::unique_ptr<TReplacementFile> log =
      THostReplacementFile::Create(LinuxHostPath(ListedHostPath(where)), &reason);
  if (!log) lastError = where.path + ": " + reason;
  return log;
}

std::string TLinuxServices::LastErrorText() { return lastError.Text(); }

TNtStatus TLinuxServices::FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                                    uint32_t inputLength, void* output, uint32_t outputLength) {
  const TNtStatus status =
      ObjectFsControl(handle, io, code, input, inputLength, output, outputLength);
  if (status < 0 && status != kStatusBufferOverflow) {
    lastError.SetStatus(status);
    // Moves say why in words.
    if (auto* moves = dynamic_cast<TNtfsMoveHandle*>(AsObject(handle))) {
      std::string why = moves->TakeFailure();
      if (!why.empty()) lastError = std::move(why);
    }
  }
  return status;
}

bool TLinuxServices::VolumeFreeExtents(THandle volume, TFreeSpaceExtents* space) {
  const auto* host = dynamic_cast<const THostVolumeHandle*>(AsObject(volume));
  if (host == nullptr) return false;
  *space = host->SpaceMap();
  return true;
}

THandle TLinuxServices::OpenVolumeForMoves(char driveLetter) {
  const TLocation where = VolumeToMove(driveLetter);
  if (where.kind == TDriveKind::kMissing) return InvalidHandle();
  if (where.kind != TDriveKind::kNtfsVolume) {
    lastError = std::string("drive ") + driveLetter + ": is the folder " + where.drivePath +
                ": moving data to chosen clusters works on NTFS volumes only";
    return InvalidHandle();
  }
  std::string reason;
  std::unique_ptr<TNtfsMoveVolume> volume = TNtfsMoveVolume::Open(where.drivePath, &reason);
  if (!volume) {
    lastError = reason;
    return InvalidHandle();
  }
  return AsHandle(new TNtfsMoveVolumeHandle(std::move(volume), ntfsVolumes_,
                                            NtfsVolumeIdentity(where.drivePath)));
}

THandle TLinuxServices::OpenFileForMoves(THandle volume, const char* path, bool folder) {
  auto* moves = dynamic_cast<TNtfsMoveVolumeHandle*>(AsObject(volume));
  if (moves == nullptr) {
    lastError = std::string(path) + ": the volume handle given is not one opened for moves";
    return InvalidHandle();
  }
  const TLocation where = drives_.Resolve(path);
  if (where.kind != TDriveKind::kNtfsVolume || where.wholeVolume ||
      where.drivePath != moves->Volume()->ImagePath()) {
    lastError = std::string(path) + ": not a file or folder of the volume opened for moves";
    return InvalidHandle();
  }
  TNtfsMoveItem item;
  std::string reason;
  const std::string inside =
      MayHoldMappedCharacter(where.path) ? LinuxName(where.path) : where.path;
  if (!moves->Volume()->Find(inside, folder, &item, &reason)) {
    lastError = where.drivePath + ":" + reason;
    return InvalidHandle();
  }
  return AsHandle(new TNtfsMoveFileHandle(moves->Volume(), item, moves->VolumeIdentity()));
}

THandle TLinuxServices::OpenFolderForWholeFiles(char driveLetter, const TWholeFileOptions& options,
                                                TWholeFileFolder* folder) {
  const TLocation where = VolumeToMove(driveLetter);
  if (where.kind == TDriveKind::kMissing) return InvalidHandle();
  if (where.kind != TDriveKind::kHostFolder) {
    lastError = std::string("drive ") + driveLetter +
                ": is not a folder: files are made whole in place on Linux folders only";
    return InvalidHandle();
  }
  const auto root = hostRoots_.find(where.drivePath);
  std::string refusal;
  THostWholeFileFolder* opened = THostWholeFileFolder::Open(
      root != hostRoots_.end() ? root->second : -1, where.drivePath, options, folder, &refusal);
  if (opened == nullptr) {
    lastError = refusal;
    return InvalidHandle();
  }
  return AsHandle(opened);
}

TWholeFileResult TLinuxServices::MakeFileWhole(THandle folder, const char* path) {
  auto* whole = dynamic_cast<THostWholeFileFolder*>(AsObject(folder));
  const TLocation where = drives_.Resolve(path);
  if (whole == nullptr || !IsHostPath(where)) {
    lastError = std::string(path) + ": not a file of a folder opened for moves";
    return TWholeFileResult{TWholeFileOutcome::kFailed, TWholeFileReason::kSystemError, 0, 0};
  }
  std::string failure;
  const TWholeFileResult result = whole->MakeWhole(LinuxHostPath(ListedHostPath(where)), &failure);
  if (!failure.empty()) lastError = failure;
  return result;
}

THandle TLinuxServices::StartThread(TThreadProc proc, void* parameter) {
  return AsHandle(TThreadHandle::Start(proc, parameter));
}

void TLinuxServices::WaitForThreads(const THandle* threads, int count) {
  for (int i = 0; i < count; ++i) WaitFor(threads[i]);
}
