// The Qt window system on the offscreen platform: headless message boxes,
// the drives' part played by the GUI thread, the event-loop wait, and drive
// windows that end an unattended run by themselves, with or without a
// picture.
#include "ui/qt/qt_window_system.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdlib>
#include <thread>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/linux/qt_test_environment.h"
#include "ui/qt/drive_window.h"

namespace {

// Closes every window once a wait has lasted too long, so a wait that would
// never end fails the test instead of hanging it.
class TWatchdog {
 public:
  explicit TWatchdog(int milliseconds) {
    QTimer::singleShot(milliseconds, &context, [this] {
      fired = true;
      QApplication::closeAllWindows();
    });
  }
  bool fired = false;
  // Ends the watchdog's timer, and the test's own timers given it, with the
  // test: a timer left behind would act on the next test's drive.
  QObject context;
};

TDriveWindow* WindowOf(const TDriveOptimizer& optimizer) {
  return static_cast<TDriveWindow*>(optimizer.mainWindow);
}

void NoStage(TDriveOptimizer&) {}

// Plays the worker's end: its pipeline with nothing to do (its final texts),
// then its word that it is over.
void Finish(TDriveOptimizer& optimizer, TWindowSystem& windows) {
  optimizer.RunPipeline(TPipelineStages{NoStage, NoStage, NoStage, NoStage, nullptr});
  std::thread([&] { windows.PostWorkerFinished(optimizer); }).join();
}

class QtWindowSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    unsetenv("DISKOPT_SNAPSHOT");
  }
  void TearDown() override { unsetenv("DISKOPT_SNAPSHOT"); }

  TRefusingServices services;
  TQtWindowSystem windows;
};

TEST_F(QtWindowSystemTest, HeadlessMessagesGoToStandardOutput) {
  testing::internal::CaptureStdout();
  windows.ShowMessage("Files: 1 (0 K)", "info");
  windows.ShowMessage("Could not initialize fragment viewer\n", "Error");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "info: Files: 1 (0 K)\n"
            "Error: Could not initialize fragment viewer\n\n");
}

TEST_F(QtWindowSystemTest, WaitForNoDrivesReturnsAtOnce) {
  QElapsedTimer clock;
  clock.start();
  windows.WaitForDriveThreads(nullptr, 0);
  EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(QtWindowSystemTest, DrivePartOpensTheWindowAndTheWaitEndsWhenItCloses) {
  TDriveOptimizer drive('D', services, windows, kDriveStages);
  THandle token = windows.StartDriveThread(&drive);
  ASSERT_NE(token, InvalidHandle());
  ASSERT_NE(token, nullptr);
  QPointer<TDriveWindow> window = WindowOf(drive);
  ASSERT_FALSE(window.isNull());
  EXPECT_TRUE(window->isVisible());

  TWatchdog watchdog(10000);
  QTimer::singleShot(100, window, [window] { window->close(); });
  windows.WaitForDriveThreads(&token, 1);
  windows.CloseDriveThread(token);
  EXPECT_FALSE(watchdog.fired);
  EXPECT_TRUE(window.isNull());
  EXPECT_TRUE(drive.StopRequested());
}

TEST_F(QtWindowSystemTest, WaitLastsUntilTheLastDriveWindowHasClosed) {
  TDriveOptimizer first('D', services, windows, kDriveStages);
  TDriveOptimizer second('E', services, windows, kDriveStages);
  THandle tokens[2] = {windows.StartDriveThread(&first), windows.StartDriveThread(&second)};
  QPointer<TDriveWindow> firstWindow = WindowOf(first);
  QPointer<TDriveWindow> secondWindow = WindowOf(second);

  TWatchdog watchdog(10000);
  bool secondClosedByTest = false;
  QTimer::singleShot(50, firstWindow, [firstWindow] { firstWindow->close(); });
  QTimer::singleShot(400, secondWindow, [&] {
    secondClosedByTest = true;
    secondWindow->close();
  });
  windows.WaitForDriveThreads(tokens, 2);
  for (THandle token : tokens) windows.CloseDriveThread(token);
  EXPECT_FALSE(watchdog.fired);
  EXPECT_TRUE(secondClosedByTest);
  EXPECT_TRUE(firstWindow.isNull());
  EXPECT_TRUE(secondWindow.isNull());
}

TEST_F(QtWindowSystemTest, HeadlessWindowClosesItselfOnceItsWorkerHasFinished) {
  TDriveOptimizer drive('D', services, windows, kDriveStages);
  drive.statusText.Set("Mapping free space");
  THandle token = windows.StartDriveThread(&drive);
  QPointer<TDriveWindow> window = WindowOf(drive);

  TWatchdog watchdog(10000);
  bool openWhileWorking = false;
  // Two ticks have shown the texts of a running worker by now.
  QTimer::singleShot(1200, &watchdog.context, [&] {
    openWhileWorking = !window.isNull();
    Finish(drive, windows);
  });
  windows.WaitForDriveThreads(&token, 1);
  windows.CloseDriveThread(token);
  EXPECT_FALSE(watchdog.fired);
  EXPECT_TRUE(openWhileWorking);
  EXPECT_TRUE(window.isNull());
}

TEST_F(QtWindowSystemTest, SnapshotIsSavedOnceTheWorkerHasFinished) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  // A folder that does not exist yet: the window makes it.
  const QString folder = scratch.filePath(QStringLiteral("pictures"));
  const QString picture = folder + QStringLiteral("/drive-F.png");
  setenv("DISKOPT_SNAPSHOT", folder.toLocal8Bit().constData(), 1);

  TDriveOptimizer drive('F', services, windows, kDriveStages);
  drive.statusText.Set("Filling data into the memory tree");
  THandle token = windows.StartDriveThread(&drive);
  const QSize clientSize = WindowOf(drive)->size();

  TWatchdog watchdog(10000);
  bool savedWhileWorking = true;
  QTimer::singleShot(1200, &watchdog.context, [&] {
    savedWhileWorking = QFileInfo::exists(picture);
    Finish(drive, windows);
  });
  windows.WaitForDriveThreads(&token, 1);
  windows.CloseDriveThread(token);
  EXPECT_FALSE(watchdog.fired);
  EXPECT_FALSE(savedWhileWorking);
  const QImage image(picture);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), clientSize);
}

}  // namespace

namespace {

// The end is the worker's word, not the texts: a window that shows
// "Finished" stays until the word comes, and the word closes it whatever the
// texts say (a failure's reason in the status line, say), at once rather
// than on the next refresh.
TEST_F(QtWindowSystemTest, HeadlessWindowClosesOnTheWorkersWordNotOnItsTexts) {
  TDriveOptimizer drive('D', services, windows, kDriveStages);
  THandle token = windows.StartDriveThread(&drive);
  QPointer<TDriveWindow> window = WindowOf(drive);
  drive.statusText.Set("Finished");
  drive.detailText.Set("Finished");
  // Three refreshes show "Finished"; the window stays.
  EXPECT_FALSE(ProcessEventsUntil([&] { return window.isNull(); }, 1600));

  drive.detailText.Set("the volume cannot be opened");
  std::thread([&] { windows.PostWorkerFinished(drive); }).join();
  TWatchdog watchdog(10000);
  windows.WaitForDriveThreads(&token, 1);
  windows.CloseDriveThread(token);
  EXPECT_FALSE(watchdog.fired);
  EXPECT_TRUE(window.isNull());
}

}  // namespace
