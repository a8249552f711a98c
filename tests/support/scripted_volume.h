// A volume held in memory that answers the system services exactly as
// Windows would, for tests of every stage without a real disk. It can also
// misbehave on purpose: replies split at any size, STATUS_PENDING, a first or
// later failure, a reply starting below the cluster asked for, bits set past
// the volume end, extents whose NextVcn does not advance, a failing size query.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/handle_object.h"
#include "platform/system_services.h"

struct TScriptedRun {
  int64_t nextVcn;  // VCN after the run
  int64_t lcn;      // -1 for a stretch with no clusters
};

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

  // The cluster bitmap: one entry per cluster, true = in use.
  std::vector<bool> bitmap;
  bool volumeOpenFails = false;
  TScriptedFaults bitmapFaults;
  int64_t startBelowBy = 0;    // replies start this many clusters below the ask (multiple of 8)
  bool setBitsPastEnd = true;  // bits after the last cluster in the last byte read as used
  uint32_t sectorsPerCluster = 8;
  uint32_t bytesPerSector = 512;
  bool geometryFails = false;
  bool missingNtFsControlFile = false;
  // What LastErrorText says of any failure, so tests can find it in the
  // stages' reasons.
  std::string failureText = "the scripted volume refused";
  std::string logDirectory;   // where "C:\name" logs are written; empty: refused
  std::string logWritesFail;  // a log name ("C:\name") whose every write fails

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
  std::atomic<int> retrievalCalls{0};
  std::atomic<int> waits{0};

  THandle FindFirst(const char* pattern, TFindData* entry) override;
  bool FindNext(THandle find, TFindData* entry) override;
  void FindEnd(THandle find) override;
  bool FolderIdentity(const char* path, TFileIdentity* identity) override;
  THandle OpenForRead(const char* path, bool backupSemantics) override;
  bool FileSize(THandle file, uint32_t* low, uint32_t* high) override;
  void WaitFor(THandle handle) override;
  void Close(THandle handle) override;
  bool DiskFreeSpaceEx(const char* rootPath) override;
  bool DiskFreeSpace(const char* rootPath, TDiskGeometry* geometry) override;
  uint64_t AvailablePhysicalMemory() override { return availableMemory; }
  void DebugOutput(const char* text) override { debugOutput += text; }
  std::unique_ptr<TReplacementFile> OpenLog(const char* name) override;
  bool ResolveFsControl() override { return !missingNtFsControlFile; }
  std::string LastErrorText() override { return failureText; }
  TNtStatus FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                      uint32_t inputLength, void* output, uint32_t outputLength) override;
  // Threads whose handle is closed unwaited run on; the volume joins them
  // when it goes (detaching a thread that may not have started yet crashes
  // it with the mingw-w64 thread library).
  THandle StartThread(TThreadProc proc, void* parameter) override;
  void WaitForThreads(const THandle* threads, int count) override;

  uint64_t availableMemory = uint64_t(1) << 30;
  std::string debugOutput;

 private:
  friend class TScriptedBitmapHandle;
  friend class TScriptedFileHandle;
  static std::string Key(const std::string& path);  // upper-cased, no trailing "\"
  // The key a path really leads to, following sameAs on the way.
  std::string Follow(const std::string& key) const;
  char letter;
  std::map<std::string, TScriptedNode> nodes;
};
