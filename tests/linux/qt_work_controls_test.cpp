// The drive window's "Pause" and "Stop" on Qt, over a scripted volume that
// holds the worker inside a chosen stage: Stop during the scan, the free
// space map, the retrieval and the planning ends the worker at the next item
// with "Stopped" and writes no log; Pause holds the worker between items
// until Resume; closing a paused window ends its worker; both buttons are
// disabled once the work is done.
#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/nt_types.h"
#include "tests/linux/qt_test_environment.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"
#include "ui/qt/drive_window.h"
#include "ui/qt/qt_window_system.h"

namespace {

// Where the volume holds the worker: every call of that kind waits, from
// the first, until Release. Calls are counted as they come, held or not.
enum class THoldAt { kNowhere, kScan, kFreeSpace, kRetrieval, kListing };

// The scripted volume, holding the calls of one stage and counting them.
class THoldingVolume : public TScriptedVolume {
 public:
  THoldAt holdAt = THoldAt::kNowhere;
  std::atomic<int> folderListings{0};  // FindFirst calls
  std::atomic<int> itemOpens{0};       // opens of files and folders, not of the volume
  std::atomic<int> bitmapReads{0};     // replies of the cluster bitmap asked for

  // Whether a call has reached the hold within timeoutMs.
  bool WaitForHold(int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return held; });
  }
  void Release() {
    {
      std::lock_guard<std::mutex> guard(lock);
      released = true;
    }
    changed.notify_all();
  }

  THandle FindFirst(const char* pattern, TFindData* entry) override {
    ++folderListings;
    Hold(THoldAt::kScan);
    return TScriptedVolume::FindFirst(pattern, entry);
  }
  THandle OpenForRead(const char* path, bool backupSemantics) override {
    if (std::string(path).rfind("\\\\.\\", 0) != 0) {
      ++itemOpens;
      Hold(THoldAt::kRetrieval);
    }
    return TScriptedVolume::OpenForRead(path, backupSemantics);
  }
  TNtStatus FsControl(THandle handle, TIoStatusBlock* io, uint32_t code, void* input,
                      uint32_t inputLength, void* output, uint32_t outputLength) override {
    if (code == kFsctlGetVolumeBitmap) {
      ++bitmapReads;
      Hold(THoldAt::kFreeSpace);
    }
    return TScriptedVolume::FsControl(handle, io, code, input, inputLength, output, outputLength);
  }
  std::unique_ptr<TReplacementFile> OpenLog(const char* name) override {
    if (std::string(name).find("DirList_rules") != std::string::npos) Hold(THoldAt::kListing);
    return TScriptedVolume::OpenLog(name);
  }

 private:
  void Hold(THoldAt at) {
    if (at != holdAt) return;
    std::unique_lock<std::mutex> guard(lock);
    held = true;
    changed.notify_all();
    changed.wait(guard, [this] { return released; });
  }

  // Guards held and released, written by the test thread and the worker's.
  std::mutex lock;
  std::condition_variable changed;
  bool held = false;      // a call has reached the hold
  bool released = false;  // calls go on
};

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

constexpr int kFolders = 4;
constexpr int kFilesPerFolder = 30;

// A drive of four folders of thirty files in 64 KiB of clusters, its free
// space read 64 clusters a reply, analysed in its window, which stays open
// when its work is done. The previous run's rules log lies in the log
// folder.
struct THeldDrive {
  explicit THeldDrive(THoldAt at) : optimizer('D', volume, windows, kDriveStages) {
    volume.logDirectory = logs.Path();
    volume.holdAt = at;
    volume.bitmap.assign(8192, false);
    volume.bitmapFaults.unitsPerReply = 64;
    int64_t lcn = 16;
    for (int folder = 0; folder < kFolders; ++folder) {
      const std::string path = "D:\\f" + std::to_string(folder);
      volume.AddFolder(path);
      for (int file = 0; file < kFilesPerFolder; ++file) {
        volume.AddFile(path + "\\x" + std::to_string(file) + ".txt", 4096, {{1, lcn}});
        volume.bitmap[lcn] = true;
        lcn += 2;
      }
    }
    std::ofstream(logs.Path() + "DirList_rules.log") << "the previous run";
    optimizer.RunDriveThread();
    window = static_cast<TDriveWindow*>(optimizer.mainWindow);
    window->KeepOpenWhenDone();
  }
  ~THeldDrive() {
    volume.Release();
    if (!window.isNull()) window->close();
    ProcessEventsUntil([this] { return window.isNull(); }, 5000);
    WaitForWorkers();
  }

  QPushButton* Pause() const { return static_cast<QPushButton*>(optimizer.pauseButton); }
  QPushButton* Stop() const { return static_cast<QPushButton*>(optimizer.stopButton); }
  QString Stage() const { return QString::fromStdString(optimizer.statusText.Get()); }
  // The worker has ended and the window has taken its notice.
  bool Done() const {
    const std::string stage = optimizer.statusText.Get();
    return (stage == "Stopped" || stage == "Finished") && !Stop()->isEnabled();
  }
  std::string RulesLog() const { return FileText(logs.Path() + "DirList_rules.log"); }

  THostFolder logs;
  THoldingVolume volume;
  TQtWindowSystem windows;
  TDriveOptimizer optimizer;
  QPointer<TDriveWindow> window;
};

class QtWorkControlsTest : public testing::Test {
 protected:
  void SetUp() override { EnsureQtApplication(); }
};

// Stop pressed while the worker is inside each stage: the stage ends at its
// next item, the worker ends at once with "Stopped", no log replaces the
// previous run's, and the buttons are disabled.
TEST_F(QtWorkControlsTest, StopInEveryStageEndsTheWorkerAtTheNextItem) {
  struct TCase {
    THoldAt at;
    const char* stage;  // the stage text while held
  };
  const TCase cases[] = {
      {THoldAt::kScan, "Creating memory tree"},
      {THoldAt::kFreeSpace, "Mapping free space"},
      {THoldAt::kRetrieval, "Filling data into the memory tree"},
      {THoldAt::kListing, "Listing tree"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.stage);
    THeldDrive drive(test.at);
    ASSERT_TRUE(drive.volume.WaitForHold(10000));
    ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Stage() == test.stage; }, 3000))
        << drive.Stage().toStdString();
    EXPECT_TRUE(drive.Stop()->isEnabled());
    drive.Stop()->click();
    const int listings = drive.volume.folderListings.load();
    const int bitmapReads = drive.volume.bitmapReads.load();
    const int opens = drive.volume.itemOpens.load();
    drive.volume.Release();
    ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Done(); }, 5000))
        << drive.Stage().toStdString();
    EXPECT_EQ(drive.Stage(), QStringLiteral("Stopped"));
    // The call held, and no further item: the scan lists no other folder,
    // the map reads no further reply, each of the two filling threads opens
    // at most the item it was opening.
    EXPECT_EQ(drive.volume.folderListings.load(), listings);
    EXPECT_EQ(drive.volume.bitmapReads.load(), bitmapReads);
    EXPECT_LE(drive.volume.itemOpens.load(), opens + 2);
    EXPECT_EQ(drive.RulesLog(), "the previous run");
    EXPECT_FALSE(drive.Pause()->isEnabled());
    EXPECT_FALSE(drive.Stop()->isEnabled());
    EXPECT_EQ(static_cast<QStatusBar*>(drive.optimizer.statusBar)->currentMessage(),
              QStringLiteral("Stopped before the end: no log was written"));
  }
}

// Pause holds both filling threads between items, however long; Resume lets
// them go on to the end, and the logs are written as for any run.
TEST_F(QtWorkControlsTest, PauseHoldsTheWorkerAndResumeGoesOn) {
  THeldDrive drive(THoldAt::kRetrieval);
  ASSERT_TRUE(drive.volume.WaitForHold(10000));
  drive.Pause()->click();
  EXPECT_EQ(drive.Pause()->text(), QStringLiteral("Resume"));
  const int opens = drive.volume.itemOpens.load();
  drive.volume.Release();
  ProcessEventsUntil([] { return false; }, 800);
  EXPECT_LE(drive.volume.itemOpens.load(), opens + 2);
  EXPECT_EQ(drive.Stage(), QStringLiteral("Filling data into the memory tree"));
  EXPECT_EQ(drive.Pause()->text(), QStringLiteral("Resume"));

  drive.Pause()->click();
  EXPECT_EQ(drive.Pause()->text(), QStringLiteral("Pause"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Done(); }, 10000));
  EXPECT_EQ(drive.Stage(), QStringLiteral("Finished"));
  // Every file and folder was opened once, and the logs are this run's.
  EXPECT_EQ(drive.volume.itemOpens.load(), 1 + kFolders + kFolders * kFilesPerFolder);
  EXPECT_NE(drive.RulesLog(), "the previous run");
  EXPECT_FALSE(drive.Pause()->isEnabled());
  EXPECT_FALSE(drive.Stop()->isEnabled());
}

// Pause holds the scan and the free space map too; a stop while held wakes
// the worker at once.
TEST_F(QtWorkControlsTest, StopWakesAPausedWorker) {
  for (const THoldAt at : {THoldAt::kScan, THoldAt::kFreeSpace, THoldAt::kRetrieval}) {
    THeldDrive drive(at);
    ASSERT_TRUE(drive.volume.WaitForHold(10000));
    drive.Pause()->click();
    const int listings = drive.volume.folderListings.load();
    drive.volume.Release();
    ProcessEventsUntil([] { return false; }, 300);
    EXPECT_NE(drive.Stage(), QStringLiteral("Stopped"));
    EXPECT_NE(drive.Stage(), QStringLiteral("Finished"));
    drive.Stop()->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Done(); }, 3000));
    EXPECT_EQ(drive.Stage(), QStringLiteral("Stopped"));
    EXPECT_EQ(drive.volume.folderListings.load(), listings);
    EXPECT_EQ(drive.RulesLog(), "the previous run");
  }
}

// Closing the window of a paused drive ends its worker: the process's last
// wait never hangs on it.
TEST_F(QtWorkControlsTest, ClosingAPausedWindowEndsItsWorker) {
  THeldDrive drive(THoldAt::kRetrieval);
  ASSERT_TRUE(drive.volume.WaitForHold(10000));
  drive.Pause()->click();
  drive.volume.Release();
  drive.window->close();
  ASSERT_TRUE(
      ProcessEventsUntil([&] { return drive.optimizer.statusText.Get() == "Stopped"; }, 3000));
  WaitForWorkers();
  EXPECT_EQ(drive.RulesLog(), "the previous run");
}

}  // namespace
