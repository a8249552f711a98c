// A volume held in memory that answers the system services exactly as
// Windows would, for tests of every stage without a real disk. It can also
// misbehave on purpose: replies split at any size, STATUS_PENDING, a first or
// later failure, a reply starting below the cluster asked for, bits set past
// the volume end, extents whose NextVcn does not advance, a failing size query.
// It carries out moves (FSCTL_MOVE_FILE) as the file system checks them, and
// refuses them on request: no rights, a locked file, no moves at all, a
// volume that changes between steps.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/handle_object.h"
#include "platform/system_services.h"
#include "tests/support/scripted_runs.h"

// How one request kind misbehaves.
struct TScriptedFaults {
  int failAtCall = -1;        // 0-based call that fails (STATUS_INVALID_PARAMETER); -1 never
  bool pending = false;       // every call answers STATUS_PENDING first
  int64_t unitsPerReply = 0;  // clusters (bitmap) or extents (runs) per reply; 0 = what fits
};

struct TScriptedNode {
  bool folder = false;
  std::string name;                   // own name as enumerated
  std::vector<std::string> children;  // keys of the children, in enumeration order
  int64_t size = 0;                   // bytes reported by the size query
  uint32_t attributes = 0;            // extra attributes (reparse point, ...)
  std::vector<TScriptedRun> runs;     // starting at vcn startingVcn
  bool openFails = false;
  bool listFails = false;
  bool sizeFails = false;
  // A folder entry that leads back to another folder (a damaged index entry
  // naming a folder on its own path): paths through it are that folder's.
  std::string sameAs;
  bool resident = false;      // no runs at all: STATUS_END_OF_FILE
  bool nonAdvancing = false;  // replies of one extent whose NextVcn never moves on
  TScriptedFaults retrieval;
  // The file index FileIdentity gives, one per node, set when it is added.
  uint64_t fileId = 0;
  // Held by another program that shares nothing: OpenFileForMoves fails
  // with a sharing violation.
  bool lockedForMoves = false;
};

// How the moves of a volume misbehave.
struct TScriptedMoveFaults {
  bool volumeOpenDenied = false;  // OpenVolumeForMoves refused: no administrator rights
  bool notSupported = false;      // every move answers STATUS_NOT_SUPPORTED, as Wine does
  int failAtCall = -1;            // 0-based move request refused with failStatus; -1 never
  TNtStatus failStatus = kStatusInvalidParameter;
  // Called with the 0-based number of each move request and what it asks
  // (zeroes when its input is short), on the thread that asked, before the
  // request is checked: the volume changing between the steps of a schedule
  // (TakeClusters, GrowFile, Remove), the target taken for instance.
  std::function<void(int call, const TMoveFileData& request)> beforeMove;
};

class TScriptedVolume : public TSystemServices {
 public:
  // A drive letter with its root folder ("D:\").
  explicit TScriptedVolume(char driveLetter = 'D');
  ~TScriptedVolume() override;

  // Paths are "D:\Sub\b.txt"; parents must exist. Returns the node to adjust.
  TScriptedNode& AddFolder(const std::string& path);
  TScriptedNode& AddFile(const std::string& path, int64_t size, std::vector<TScriptedRun> runs);
  TScriptedNode& Node(const std::string& path);
  void Remove(const std::string& path);  // a file that vanishes after the scan
  // Marks count clusters from lcn on used, as another program's writes do.
  void TakeClusters(int64_t lcn, int64_t count);
  // Adds count clusters at lcn onward to the end of the file at path (its
  // clusters marked used, its size grown to match), as a program appending
  // to it does.
  void GrowFile(const std::string& path, int64_t lcn, int64_t count);

  // The cluster bitmap: one entry per cluster, true = in use.
  std::vector<bool> bitmap;
  bool volumeOpenFails = false;
  TScriptedFaults bitmapFaults;
  int64_t startBelowBy = 0;    // replies start this many clusters below the ask (multiple of 8)
  bool setBitsPastEnd = true;  // bits after the last cluster in the last byte read as used
  // The volume also gives its free space as extents (VolumeFreeExtents), as
  // a Linux host folder's does; the bitmap request still answers.
  bool freeSpaceAsExtents = false;
  uint32_t sectorsPerCluster = 8;
  uint32_t bytesPerSector = 512;
  bool geometryFails = false;
  bool missingNtFsControlFile = false;
  // What LastErrorText says of any failure, so tests can find it in the
  // stages' reasons.
  std::string failureText = "the scripted volume refused";
  std::string logDirectory;   // where "C:\name" logs are written; empty: refused
  std::string logWritesFail;  // a log name ("C:\name") whose every write fails
  TScriptedMoveFaults moveFaults;

  // What was asked, for assertions. Several drives' workers may share one
  // volume, so the list of opens is guarded; tests read it once they have
  // ended.
  std::mutex openedLock;
  // Threads whose handles were closed unwaited; guarded by their lock,
  // joined by the destructor.
  std::mutex releasedThreadsLock;
  std::vector<std::thread> releasedThreads;
  std::vector<std::string> opened;  // "path|backup" or "path|plain"
  std::atomic<int> bitmapCalls{0};
  std::atomic<int> freeExtentCalls{0};  // answered by VolumeFreeExtents
  std::atomic<int> retrievalCalls{0};
  std::atomic<int> waits{0};
  std::atomic<int> moveCalls{0};  // move requests on any handle, refused or not

  THandle FindFirst(const char* pattern, TFindData* entry) override;
  bool FindNext(THandle find, TFindData* entry) override;
  void FindEnd(THandle find) override;
  bool FolderIdentity(const char* path, TFileIdentity* identity) override;
  THandle OpenForRead(const char* path, bool backupSemantics) override;
  bool FileSize(THandle file, uint32_t* low, uint32_t* high) override;
  bool FileIdentity(THandle file, TFileIdentity* identity) override;
  void WaitFor(THandle handle) override;
  void Close(THandle handle) override;
  // Moves: the volume opens only without volumeOpenDenied; a file opens
  // only on a volume handle of OpenVolumeForMoves, when it exists, is not
  // lockedForMoves, and is a folder exactly when folder is asked. Such
  // handles answer what the analysis's do, and the volume's also carries
  // out FSCTL_MOVE_FILE (Move).
  THandle OpenVolumeForMoves(char driveLetter) override;
  THandle OpenFileForMoves(THandle volume, const char* path, bool folder) override;
  bool DiskFreeSpaceEx(const char* rootPath) override;
  bool DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) override;
  void DebugOutput(const char* text) override { debugOutput += text; }
  std::unique_ptr<TReplacementFile> OpenLog(const char* name) override;
  bool ResolveFsControl() override { return !missingNtFsControlFile; }
  // The words Windows gives for this thread's last failed moves call, or
  // failureText for any other failure.
  std::string LastErrorText() override;
  TNtStatus FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                      uint32_t inputLength, void* output, uint32_t outputLength) override;
  // With freeSpaceAsExtents, on a handle of the volume: the bitmap's runs
  // of clusters not in use; else false.
  bool VolumeFreeExtents(THandle handle, TFreeSpaceExtents* space) override;
  // Threads whose handle is closed unwaited run on; the volume joins them
  // when it goes (detaching a thread that may not have started yet crashes
  // it with the mingw-w64 thread library).
  THandle StartThread(TThreadProc proc, void* parameter) override;
  void WaitForThreads(const THandle* threads, int count) override;

  std::string debugOutput;

 private:
  friend class TScriptedBitmapHandle;
  friend class TScriptedFileHandle;
  static std::string Key(const std::string& path);  // upper-cased, no trailing "\"
  // The key a path really leads to, following sameAs on the way.
  std::string Follow(const std::string& key) const;
  // FSCTL_MOVE_FILE on a volume handle of OpenVolumeForMoves: input is a
  // TMoveFileData whose file handle came from OpenFileForMoves on this
  // volume; its range must hold clusters of the file (else
  // STATUS_INVALID_PARAMETER) and every target cluster must be free (else
  // STATUS_ALREADY_COMMITTED). On success the file's runs are rewritten,
  // the targets marked used and the old clusters free.
  TNtStatus Move(const void* input, uint32_t inputLength, TIoStatusBlock* io);
  // Records text as why this thread's last moves call failed; ForgetFailure
  // clears it when the thread makes another call.
  void RecordFailure(const std::string& text);
  void ForgetFailure();

  char letter;
  std::map<std::string, TScriptedNode> nodes;
  uint64_t nextFileId = 64;  // the fileId of the next node added
  // Handles of OpenVolumeForMoves and OpenFileForMoves still open, so a move
  // request can tell them from anything else; and why each thread's last
  // moves call failed. Written by the thread that opens, closes or fails,
  // read by any: guarded by movesLock.
  std::mutex movesLock;
  std::set<const void*> moveHandles;
  std::map<std::thread::id, std::string> moveFailures;
};
