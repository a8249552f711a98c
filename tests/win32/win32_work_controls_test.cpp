// The drive window's "Pause" and "Stop" on Win32, in real windows (wine64
// under Xvfb here) over a scripted volume that holds the worker inside a
// chosen stage: Stop during the scan, the free space map, the retrieval and
// the planning ends the worker at the next item, the stage label says
// "Stopped" and no log is written; Pause holds the worker between items and
// the button reads "Resume" until pressed again; both buttons are disabled
// once the work is done. The worker's end reaches the window as its posted
// message, which the test's thread dispatches as the drive thread would.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/holding_volume.h"
#include "tests/support/host_services.h"
#include "tests/win32/window_test_support.h"
#include "ui/win32/win32_window_system.h"

namespace {

std::string TextOf(TWindowHandle window) {
  char text[256] = {};
  GetWindowTextA(static_cast<HWND>(window), text, sizeof text);
  return text;
}

// The held drive (holding_volume.h) in its drive window on the test's
// thread, analysed by a worker as the drive thread starts it.
struct THeldDrive {
  explicit THeldDrive(THoldAt at) : optimizer('D', volume, windows, kDriveStages) {
    volume.holdAt = at;
    ScriptHeldDrive(volume, logs.Path());
    MakeDrawingResourcesOnce();
    windows.CreateDriveWindow(optimizer);
    window = static_cast<HWND>(optimizer.mainWindow);
    optimizer.StartWorker([](TDriveOptimizer& drive) { drive.RunPipeline(); });
  }
  ~THeldDrive() {
    volume.Release();
    if (IsWindow(window)) SendMessageA(window, WM_CLOSE, 0, 0);
    WaitForWorkers();
    // The close's quit message and the worker's last notices.
    DispatchPending();
  }

  HWND Pause() const { return static_cast<HWND>(optimizer.pauseButton); }
  HWND Stop() const { return static_cast<HWND>(optimizer.stopButton); }
  static void Click(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }
  // The stage label, as the window shows it.
  std::string Stage() const { return TextOf(optimizer.stageLabel); }
  // The worker has ended and the window has taken its notice.
  bool Done() const {
    const std::string stage = Stage();
    return (stage == "Stopped" || stage == "Finished") && !IsWindowEnabled(Stop());
  }
  std::string RulesLog() const { return RulesLogIn(logs.Path()); }

  THostFolder logs;
  THoldingVolume volume;
  TWin32WindowSystem windows;
  TDriveOptimizer optimizer;
  HWND window = nullptr;
};

// Stop pressed while the worker is inside each stage: the stage ends at its
// next item, the worker ends at once with "Stopped", no log replaces the
// previous run's, and the buttons are disabled.
TEST(Win32WorkControls, StopInEveryStageEndsTheWorkerAtTheNextItem) {
  for (const THeldStage& test : kHeldStages) {
    SCOPED_TRACE(test.stage);
    THeldDrive drive(test.at);
    ASSERT_TRUE(drive.volume.WaitForHold(10000));
    ASSERT_TRUE(PumpUntil([&] { return drive.Stage() == test.stage; }, 3000)) << drive.Stage();
    EXPECT_TRUE(IsWindowEnabled(drive.Stop()));
    EXPECT_TRUE(IsWindowEnabled(drive.Pause()));
    THeldDrive::Click(drive.Stop());
    const int listings = drive.volume.folderListings.load();
    const int bitmapReads = drive.volume.bitmapReads.load();
    const int opens = drive.volume.itemOpens.load();
    drive.volume.Release();
    ASSERT_TRUE(PumpUntil([&] { return drive.Done(); }, 5000)) << drive.Stage();
    EXPECT_EQ(drive.Stage(), "Stopped");
    // The call held, and no further item: the scan lists no other folder,
    // the map reads no further reply, each of the two filling threads opens
    // at most the item it was opening.
    EXPECT_EQ(drive.volume.folderListings.load(), listings);
    EXPECT_EQ(drive.volume.bitmapReads.load(), bitmapReads);
    EXPECT_LE(drive.volume.itemOpens.load(), opens + 2);
    EXPECT_EQ(drive.RulesLog(), "the previous run");
    EXPECT_FALSE(IsWindowEnabled(drive.Pause()));
    EXPECT_FALSE(IsWindowEnabled(drive.Stop()));
    EXPECT_EQ(TextOf(drive.optimizer.statusBar), "Stopped before the end: no log was written");
  }
}

// Pause holds both filling threads between items, however long, and the
// button reads "Resume"; pressed again, the worker goes on to the end and
// the logs are written as for any run. Once done, the buttons are disabled
// and a click on either does nothing.
TEST(Win32WorkControls, PauseHoldsTheWorkerAndResumeGoesOn) {
  THeldDrive drive(THoldAt::kRetrieval);
  ASSERT_TRUE(drive.volume.WaitForHold(10000));
  THeldDrive::Click(drive.Pause());
  EXPECT_EQ(TextOf(drive.Pause()), "Resume");
  EXPECT_TRUE(drive.optimizer.Paused());
  const int opens = drive.volume.itemOpens.load();
  drive.volume.Release();
  PumpUntil([] { return false; }, 800);
  EXPECT_LE(drive.volume.itemOpens.load(), opens + 2);
  EXPECT_EQ(drive.Stage(), "Filling data into the memory tree");
  EXPECT_EQ(TextOf(drive.Pause()), "Resume");

  THeldDrive::Click(drive.Pause());
  EXPECT_EQ(TextOf(drive.Pause()), "Pause");
  ASSERT_TRUE(PumpUntil([&] { return drive.Done(); }, 10000)) << drive.Stage();
  EXPECT_EQ(drive.Stage(), "Finished");
  // Every file and folder was opened once, and the logs are this run's.
  EXPECT_EQ(drive.volume.itemOpens.load(), 1 + kHeldFolders + kHeldFolders * kHeldFilesPerFolder);
  EXPECT_NE(drive.RulesLog(), "the previous run");
  EXPECT_FALSE(IsWindowEnabled(drive.Pause()));
  EXPECT_FALSE(IsWindowEnabled(drive.Stop()));
  // Sent to the disabled buttons, the clicks change nothing.
  SendMessageA(drive.window, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
               reinterpret_cast<LPARAM>(drive.Pause()));
  SendMessageA(drive.window, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED),
               reinterpret_cast<LPARAM>(drive.Stop()));
  EXPECT_FALSE(drive.optimizer.Paused());
  EXPECT_FALSE(drive.optimizer.StopRequested());
  EXPECT_EQ(TextOf(drive.Pause()), "Pause");
}

// A stop while paused wakes the held worker at once, in the scan and in the
// free space map alike.
TEST(Win32WorkControls, StopWakesAPausedWorker) {
  for (const THoldAt at : {THoldAt::kScan, THoldAt::kFreeSpace}) {
    THeldDrive drive(at);
    ASSERT_TRUE(drive.volume.WaitForHold(10000));
    THeldDrive::Click(drive.Pause());
    const int listings = drive.volume.folderListings.load();
    drive.volume.Release();
    PumpUntil([] { return false; }, 300);
    EXPECT_FALSE(drive.Done());
    THeldDrive::Click(drive.Stop());
    ASSERT_TRUE(PumpUntil([&] { return drive.Done(); }, 3000)) << drive.Stage();
    EXPECT_EQ(drive.Stage(), "Stopped");
    EXPECT_EQ(TextOf(drive.Pause()), "Pause");
    EXPECT_EQ(drive.volume.folderListings.load(), listings);
    EXPECT_EQ(drive.RulesLog(), "the previous run");
  }
}

}  // namespace
