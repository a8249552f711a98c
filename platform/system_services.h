// The system-services boundary: every operating-system call the stages make
// goes through this interface, whose operations mirror the Win32 calls one
// for one. Windows implements it with the real calls (platform/win32), Linux
// with a drive table over NTFS volumes and host folders (platform/linux), and
// the tests with a scripted volume (tests/support). A drive optimizer is
// given the services it uses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/nt_types.h"
#include "platform/replacement_file.h"
#include "platform/whole_file_result.h"

// An open file, volume, enumeration or thread; the Win32 HANDLE on Windows.
using THandle = void*;
inline THandle InvalidHandle() { return reinterpret_cast<THandle>(~static_cast<uintptr_t>(0)); }

constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeReparsePoint = 0x400;
constexpr int kMaxPath = 260;  // characters of a path buffer, terminator included

// One entry of a directory enumeration (the part of WIN32_FIND_DATAA used).
struct TFindData {
  uint32_t attributes;
  char name[kMaxPath];  // long name, zero-terminated 8-bit text
};

// Volume geometry as GetDiskFreeSpaceA reports it, with the cluster counts
// 64-bit: Windows gives 32-bit counts (widened here), while a Linux file
// system may hold more than 2^32 blocks (20 TB with 4 KiB blocks), which is
// never clamped.
struct TDiskGeometry {
  uint32_t sectorsPerCluster;
  uint32_t bytesPerSector;
  uint64_t freeClusters;   // clusters
  uint64_t totalClusters;  // clusters
};

// Which file a path leads to, the same whatever path leads there: Windows's
// volume serial number and file index (GetFileInformationByHandle), Linux's
// st_dev and st_ino, or an NTFS image's and its MFT record number.
struct TFileIdentity {
  uint64_t volume;
  uint64_t file;
  bool operator==(const TFileIdentity& other) const {
    return volume == other.volume && file == other.file;
  }
};

// One place where a volume contradicts itself: where (a listing path such as
// \docs\a.txt, \docs\ for a folder's index, \$MFT for the MFT itself) and
// what is wrong there, in words.
struct TVolumeDamage {
  std::string path;
  std::string what;
};

// What stands behind a drive letter (DriveOrigin).
struct TDriveOrigin {
  enum class TKind {
    kSystemDrive,  // the system's own drive of that letter
    kFolder,       // a folder of a Linux file system
    kNtfsVolume,   // an NTFS volume in an image file or block device
  };
  TKind kind = TKind::kSystemDrive;
  std::string path;  // kFolder, kNtfsVolume: absolute, without a trailing '/'
};

// A volume's free space as extents rather than bits: its clusters, and its
// free clusters as stretches {first cluster, clusters}, ascending, neither
// overlapping nor touching, all below clusterCount.
struct TFreeSpaceExtents {
  int64_t clusterCount = 0;
  std::vector<std::pair<int64_t, int64_t>> free;
};

using TThreadProc = unsigned (*)(void* parameter);

class TSystemServices {
 public:
  virtual ~TSystemServices() = default;

  // FindFirstFileA: InvalidHandle() when the pattern cannot be listed.
  virtual THandle FindFirst(const char* pattern, TFindData* entry) = 0;
  // FindNextFileA: false when there are no more entries.
  virtual bool FindNext(THandle find, TFindData* entry) = 0;
  // FindClose.
  virtual void FindEnd(THandle find) = 0;
  // The identity of the folder at path (with or without its trailing
  // separator); false when it cannot be told. On Windows the folder is
  // opened with backup semantics for GetFileInformationByHandle.
  virtual bool FolderIdentity(const char* path, TFileIdentity* identity) = 0;

  // CreateFileA with GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
  // OPEN_EXISTING, and FILE_FLAG_BACKUP_SEMANTICS when asked (folders).
  // Opens files, folders and volumes (\\.\C:). InvalidHandle() on failure.
  virtual THandle OpenForRead(const char* path, bool backupSemantics) = 0;
  // GetFileSize: the low and high 32 bits of the size; false when the query
  // failed (a result of 0xFFFFFFFF with an error set).
  virtual bool FileSize(THandle file, uint32_t* low, uint32_t* high) = 0;
  // Beyond the described calls: GetFileInformationByHandle's volume serial
  // number and file index of an open file or folder (Linux: the image and
  // MFT record number, or st_dev and st_ino); false when it cannot be told.
  // Several names of one file (hard links) give one identity.
  virtual bool FileIdentity(THandle /*file*/, TFileIdentity* /*identity*/) { return false; }
  // WaitForSingleObject with INFINITE.
  virtual void WaitFor(THandle handle) = 0;
  // CloseHandle.
  virtual void Close(THandle handle) = 0;

  // GetDiskFreeSpaceExA on a root path such as C:\; its figures are unused.
  virtual bool DiskFreeSpaceEx(const char* rootPath) = 0;
  // GetDiskFreeSpaceA on a root path, with 64-bit cluster counts.
  virtual bool DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) = 0;
  // OutputDebugStringA.
  virtual void DebugOutput(const char* text) = 0;
  // The path the command line named a drive by when it gave a path instead
  // of a letter and the path was given this letter (Linux); empty for a
  // drive named by its letter, which is every drive on Windows.
  virtual std::string ArgumentPath(char /*driveLetter*/) const { return std::string(); }
  // What stands behind a drive letter, to name it to the user: a drive of
  // the system itself (every drive on Windows), or on Linux a folder of a
  // Linux file system or an NTFS volume in an image file or block device,
  // with its absolute path.
  virtual TDriveOrigin DriveOrigin(char /*driveLetter*/) const { return TDriveOrigin(); }
  // A log file to write from scratch, in binary mode (callers write their
  // own CRLF line ends): a new file beside name, renamed over it by Commit
  // (replacement_file.h), so a link at name is never written through and a
  // failed write leaves the old log whole. None when it cannot be created.
  virtual std::unique_ptr<TReplacementFile> OpenLog(const char* name) = 0;

  // Resolves the native file-system control entry (NtFsControlFile in
  // ntdll.dll) for FsControl; false when it is missing. Called once by the
  // process entry before any other thread starts.
  virtual bool ResolveFsControl() = 0;
  // NtFsControlFile on handle with no event and no APC: issues the control
  // request, fills io and returns its status. Valid once ResolveFsControl has
  // succeeded.
  virtual TNtStatus FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                              uint32_t inputLength, void* output, uint32_t outputLength) = 0;

  // Beyond the described calls: the free space of a volume opened by
  // OpenForRead (\\.\L:) as extents, where the platform holds it so (the
  // Linux build's host folders, read from their file system's own map), so
  // that a volume of billions of clusters is not described bit by bit. False
  // where the volume answers only FSCTL_GET_VOLUME_BITMAP (the default:
  // Windows, NTFS volumes); the caller then reads the bitmap.
  virtual bool VolumeFreeExtents(THandle /*volume*/, TFreeSpaceExtents* /*space*/) { return false; }

  // Why the last call of this thread that failed did fail (an open, a
  // listing, a control request, a log): the platform's own error text in
  // words (FormatMessage on Windows, strerror on Linux), with the likely
  // cure where one is known. Read it right after the failing call.
  virtual std::string LastErrorText() = 0;

  // CreateThread with default security and stack, running at once;
  // InvalidHandle() when the thread cannot be started. Close() releases the
  // handle without waiting; WaitForThreads waits for every thread given.
  virtual THandle StartThread(TThreadProc proc, void* parameter) = 0;
  // Waits until every thread of the list has ended (any count, also 0 or
  // more than 64).
  virtual void WaitForThreads(const THandle* threads, int count) = 0;

  // Beyond the described calls: what the reader of the drive's volume found
  // contradictory in its structures since the last call for that drive
  // (unreadable MFT records, an MFT and a folder index that disagree), each
  // once. Empty where the file system checks itself (Windows). Any thread.
  virtual std::vector<TVolumeDamage> TakeVolumeDamage(char /*driveLetter*/) { return {}; }
  // Beyond the described calls: the clusters of the drive's volume that
  // its cluster bitmap marks used and no file holds, as its reader found
  // them; -1 where it cannot tell. A run of moves cut off on the Linux
  // build leaves them (the Windows file system journals its own moves, and
  // leaves none). Asked once the drive's items are read, on the thread that
  // read them.
  virtual int64_t ClustersHeldByNoFile(char /*driveLetter*/) { return -1; }
  // Beyond the described calls: the drive's items are read, and this run
  // lists and opens none of them again on this thread, so what the reader
  // kept to answer listings and opens fast may go (the Linux services' copy
  // of an NTFS volume's MFT, about a hundred bytes per item). A listing or
  // open that comes all the same is answered as before, at the cost of
  // reading again. Called on the thread that read the items.
  virtual void ItemsRead(char /*driveLetter*/) {}
  // Beyond the described calls, for the summary: opens an item only to read
  // its size and runs, as a file system allows for its own metafiles too
  // (\$MFT), whose data it never lets a program read. Windows: CreateFileA
  // asking FILE_READ_ATTRIBUTES alone; elsewhere OpenForRead. InvalidHandle()
  // on failure (LastErrorText says why).
  virtual THandle OpenForRuns(const char* path) { return OpenForRead(path, false); }

  // Beyond the described calls, for moves only: nothing an analysis does
  // calls these, so without a request for moves no volume is ever opened
  // for writing.
  //
  // Opens the volume of driveLetter for FSCTL_MOVE_FILE (kFsctlMoveFile),
  // and its handle also answers the volume bitmap as it stands now. Windows:
  // \\.\L: with the access the request needs (administrators only). Linux:
  // an NTFS image or device opened read-write, refused when it is mounted or
  // attached elsewhere, marked dirty, hibernated or read-only. InvalidHandle()
  // when refused; LastErrorText says why, with the cure where one is known.
  virtual THandle OpenVolumeForMoves(char /*driveLetter*/) { return InvalidHandle(); }
  // Opens the file or folder at path (a folder's index is its stream) on the
  // volume opened by OpenVolumeForMoves, for the MOVE_FILE_DATA's file
  // handle: Windows CreateFile with FILE_READ_ATTRIBUTES only, so files in
  // use by others still open; Linux the item of the read-write mount behind
  // volume. Its retrieval pointers and identity are read as they stand now,
  // so a move is checked by reading them again. InvalidHandle() on failure
  // (LastErrorText says why).
  virtual THandle OpenFileForMoves(THandle /*volume*/, const char* /*path*/, bool /*folder*/) {
    return InvalidHandle();
  }
  // Beyond the described calls, for moves only, on folders of file systems
  // that place a file's data themselves (whole_file_result.h), where no
  // target can be chosen: each file is rewritten in fewer pieces by the file
  // system's own atomic operation, or left as it was.
  //
  // Opens the folder driveLetter is mapped to for that, with what the user
  // asked (options), and says in *folder which file system it is and whether
  // only the caller's own files may be moved. InvalidHandle() when refused
  // (not such a folder, or another file system, named): LastErrorText says
  // why. The default refuses: no such folders.
  virtual THandle OpenFolderForWholeFiles(char /*driveLetter*/,
                                          const TWholeFileOptions& /*options*/,
                                          TWholeFileFolder* /*folder*/) {
    return InvalidHandle();
  }
  // Rewrites the file at path ("D:\docs\a.txt", of the drive folder was
  // opened for) in fewer pieces, checked by reading its layout again, or
  // leaves it as it was, with the reason. Any outcome leaves the file's
  // bytes as they were (or as another program wrote them meanwhile). For
  // kFailed and kSystemError, LastErrorText says which call failed, and why.
  virtual TWholeFileResult MakeFileWhole(THandle /*folder*/, const char* /*path*/) {
    TWholeFileResult result;
    result.reason = TWholeFileReason::kNotSupported;
    return result;
  }

  // Beyond the described calls, for the reports (the JSON export): an 8-bit text as the stages hold
  // it (names in the ANSI code page on Windows, in UTF-8 already on Linux) converted to UTF-8.
  virtual std::string TextToUtf8(const char* text);
};
