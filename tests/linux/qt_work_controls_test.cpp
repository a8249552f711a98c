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
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/linux/qt_test_environment.h"
#include "tests/support/holding_volume.h"
#include "tests/support/host_services.h"
#include "ui/qt/drive_window.h"
#include "ui/qt/qt_window_system.h"

namespace {

// A drive of four folders of thirty files in 64 KiB of clusters, its free
// space read 64 clusters a reply, analysed in its window, which stays open
// when its work is done. The previous run's rules log lies in the log
// folder.
struct THeldDrive {
  explicit THeldDrive(THoldAt at) : optimizer('D', volume, windows, kDriveStages) {
    volume.holdAt = at;
    ScriptHeldDrive(volume, logs.Path());
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
  std::string RulesLog() const { return RulesLogIn(logs.Path()); }

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
  for (const THeldStage& test : kHeldStages) {
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
  EXPECT_EQ(drive.volume.itemOpens.load(), 1 + kHeldFolders + kHeldFolders * kHeldFilesPerFolder);
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
