// A scripted volume that holds a drive's worker inside a chosen stage, so a
// test can press "Pause" or "Stop" while the stage is under way, and counts
// the calls that make the stages' items, so it can tell where the worker
// stopped. Either shell's tests of the drive window's controls use it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "tests/support/scripted_volume.h"

// Where the volume holds the worker: every call of that kind waits, from
// the first, until Release. Calls are counted as they come, held or not.
enum class THoldAt { kNowhere, kScan, kFreeSpace, kRetrieval, kListing };

// The scripted volume, holding the calls of one stage and counting them.
// Threads: holdAt is set by the test before the worker starts; the worker
// and its helper wait in Hold, the test's thread releases them; held and
// released are guarded by lock.
class THoldingVolume : public TScriptedVolume {
 public:
  THoldAt holdAt = THoldAt::kNowhere;
  std::atomic<int> folderListings{0};  // FindFirst calls
  std::atomic<int> itemOpens{0};       // opens of files and folders, not of the volume
  std::atomic<int> bitmapReads{0};     // replies of the cluster bitmap asked for

  // Whether a call has reached the hold within timeoutMs.
  bool WaitForHold(int timeoutMs);
  // Lets every held call, and every later one, go on.
  void Release();

  THandle FindFirst(const char* pattern, TFindData* entry) override;
  THandle OpenForRead(const char* path, bool backupSemantics) override;
  // The file table's open for the summary, once the items are read: no
  // item's, neither counted nor held.
  THandle OpenForRuns(const char* path) override;
  TNtStatus FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                      uint32_t inputLength, void* output, uint32_t outputLength) override;
  std::unique_ptr<TReplacementFile> OpenLog(const char* name) override;

 private:
  void Hold(THoldAt at);

  std::mutex lock;
  std::condition_variable changed;
  bool held = false;      // a call has reached the hold
  bool released = false;  // calls go on
};

// Each stage the volume can hold, with the stage label's text meanwhile.
struct THeldStage {
  THoldAt at;
  const char* stage;
};
extern const THeldStage kHeldStages[4];

// The drive the controls' tests run on: four folders of thirty files in
// 64 KiB of clusters, its free space read 64 clusters a reply (so the map
// of free space has items to stop between), its logs in logDirectory, where
// the previous run's rules log ("the previous run") lies.
constexpr int kHeldFolders = 4;
constexpr int kHeldFilesPerFolder = 30;
void ScriptHeldDrive(THoldingVolume& volume, const std::string& logDirectory);

// The rules log in logDirectory, as the last run left it.
std::string RulesLogIn(const std::string& logDirectory);
