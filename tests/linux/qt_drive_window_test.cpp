// The Qt drive window over a drive optimizer whose worker the test plays:
// title, geometry, the 500 ms refresh, the buttons, closing, and notices
// that come too late.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <thread>

#include "drive/drive_name.h"
#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/linux/qt_test_environment.h"
#include "ui/qt/drive_window.h"
#include "ui/qt/qt_window_system.h"

namespace {

// A drive optimizer and its window; the window goes first, as it reads the
// drive optimizer until it is deleted.
struct TDriveWithWindow {
  TDriveWithWindow(char letter, TSystemServices& services, TWindowSystem& windows)
      : optimizer(letter, services, windows, kDriveStages) {}
  ~TDriveWithWindow() { delete window; }
  void Open() { window = TDriveWindow::Open(optimizer); }

  QLabel* StageLabel() const { return static_cast<QLabel*>(optimizer.stageLabel); }
  QStatusBar* StatusBar() const { return static_cast<QStatusBar*>(optimizer.statusBar); }
  QPushButton* Button(TWindowHandle handle) const { return static_cast<QPushButton*>(handle); }
  QPushButton* DefragmentButton() const {
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
      if (button->text() == QStringLiteral("Defragment...")) return button;
    }
    return nullptr;
  }

  TDriveOptimizer optimizer;
  QPointer<TDriveWindow> window;
};

QRect Geometry(TWindowHandle child) { return static_cast<QWidget*>(child)->geometry(); }

class QtDriveWindowTest : public testing::Test {
 protected:
  void SetUp() override { EnsureQtApplication(); }

  // Resizes the client area and waits until the window has taken the size.
  static void ResizeClient(TDriveWindow* window, int width, int height) {
    window->resize(width, height);
    ASSERT_TRUE(ProcessEventsUntil([&] { return window->size() == QSize(width, height); }, 2000));
  }

  TRefusingServices services;
  TQtWindowSystem windows;
};

TEST_F(QtDriveWindowTest, TitleNamesTheDriveLetterAsGiven) {
  TDriveWithWindow upper('C', services, windows);
  TDriveWithWindow lower('c', services, windows);
  upper.Open();
  lower.Open();
  EXPECT_EQ(upper.window->windowTitle(), QStringLiteral("Disk Optimizer: drive C"));
  EXPECT_EQ(lower.window->windowTitle(), QStringLiteral("Disk Optimizer: drive c"));
}

// A drive the command line named by path is titled, and named in
// messages, by that path; a drive named by its letter keeps the described
// title, with what the letter stands for when it stands for a path.
TEST_F(QtDriveWindowTest, TitleNamesTheDriveByThePathItWasGivenAs) {
  class TPathServices : public TRefusingServices {
   public:
    std::string ArgumentPath(char letter) const override {
      return letter == 'D' ? "/srv/disk image.img" : "";
    }
    TDriveOrigin DriveOrigin(char letter) const override {
      if (letter == 'F') return TDriveOrigin{TDriveOrigin::TKind::kFolder, "/usr/share"};
      return TRefusingServices::DriveOrigin(letter);
    }
  } pathServices;
  TDriveWithWindow byPath('D', pathServices, windows);
  TDriveWithWindow byLetter('E', pathServices, windows);
  TDriveWithWindow folder('F', pathServices, windows);
  byPath.Open();
  byLetter.Open();
  folder.Open();
  EXPECT_EQ(byPath.window->windowTitle(), QStringLiteral("Disk Optimizer: /srv/disk image.img"));
  EXPECT_EQ(byLetter.window->windowTitle(), QStringLiteral("Disk Optimizer: drive E"));
  EXPECT_EQ(folder.window->windowTitle(), QStringLiteral("Disk Optimizer: drive F (/usr/share)"));
  EXPECT_EQ(DriveName(byPath.optimizer), "/srv/disk image.img");
  EXPECT_EQ(DriveName(byLetter.optimizer), "E");
}

TEST_F(QtDriveWindowTest, OpensAtFortyFortyWithTheScreenLessEightyEachWay) {
  TDriveWithWindow drive('C', services, windows);
  drive.Open();
  const QSize screen = QGuiApplication::primaryScreen()->size();
  EXPECT_EQ(drive.window->frameGeometry(),
            QRect(40, 40, screen.width() - 80, screen.height() - 80));
}

TEST_F(QtDriveWindowTest, EveryResizePlacesTheChildrenInTheClientArea) {
  TDriveWithWindow drive('C', services, windows);
  drive.Open();
  // Offscreen the caption height is 19, so rows are 23 pixels high.
  ResizeClient(drive.window, 301, 400);
  EXPECT_EQ(Geometry(drive.optimizer.pauseButton), QRect(4, 4, 144, 23));
  EXPECT_EQ(Geometry(drive.optimizer.stopButton), QRect(152, 4, 144, 23));
  EXPECT_EQ(Geometry(drive.optimizer.stageLabel), QRect(4, 31, 293, 23));
  // "Defragment..." at the right end of the label's row, under "Stop"'s
  // right edge, five rows wide.
  EXPECT_EQ(drive.DefragmentButton()->geometry(), QRect(181, 31, 115, 23));
  const QRect bar = Geometry(drive.optimizer.statusBar);
  EXPECT_EQ(bar.left(), 0);
  EXPECT_EQ(bar.width(), 301);
  EXPECT_EQ(bar.bottom(), 399);
  EXPECT_GT(bar.height(), 0);

  ResizeClient(drive.window, 640, 480);
  EXPECT_EQ(Geometry(drive.optimizer.pauseButton), QRect(4, 4, 314, 23));
  EXPECT_EQ(Geometry(drive.optimizer.stopButton), QRect(322, 4, 314, 23));
  EXPECT_EQ(Geometry(drive.optimizer.stageLabel), QRect(4, 31, 632, 23));
  EXPECT_EQ(drive.DefragmentButton()->geometry(), QRect(521, 31, 115, 23));
  EXPECT_EQ(Geometry(drive.optimizer.statusBar).width(), 640);
  EXPECT_EQ(Geometry(drive.optimizer.statusBar).bottom(), 479);
}

TEST_F(QtDriveWindowTest, TextsAppearWithTheFirstTickAndFollowTheWorker) {
  TDriveWithWindow drive('C', services, windows);
  drive.optimizer.statusText.Set("Creating memory tree");
  drive.optimizer.detailText.Set(
      "C:\\Donn\xc3\xa9"
      "es\\");
  QElapsedTimer clock;
  clock.start();
  drive.Open();
  EXPECT_TRUE(drive.StageLabel()->text().isEmpty());
  EXPECT_TRUE(drive.StatusBar()->currentMessage().isEmpty());

  ASSERT_TRUE(ProcessEventsUntil([&] { return !drive.StageLabel()->text().isEmpty(); }, 3000));
  // Qt may fire a coarse timer up to 5 % early.
  EXPECT_GE(clock.elapsed(), 475);
  EXPECT_EQ(drive.StageLabel()->text(), QStringLiteral("Creating memory tree"));
  EXPECT_EQ(drive.StatusBar()->currentMessage(), QString::fromUtf8("C:\\Donn\xc3\xa9"
                                                                   "es\\"));

  drive.optimizer.statusText.Set("Mapping free space");
  drive.optimizer.detailText.Set("");
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return drive.StageLabel()->text() == QStringLiteral("Mapping free space"); }, 3000));
  EXPECT_TRUE(drive.StatusBar()->currentMessage().isEmpty());
}

// Pause and Resume in turn, Stop for good, while the work runs (here the
// test plays a worker that never ends); "Defragment..." is not offered
// before an analysis has finished.
TEST_F(QtDriveWindowTest, PauseResumesInTurnAndStopAsksTheWorkToEnd) {
  TDriveWithWindow drive('C', services, windows);
  drive.Open();
  EXPECT_FALSE(drive.DefragmentButton()->isEnabled());
  QPushButton* pause = drive.Button(drive.optimizer.pauseButton);
  QPushButton* stop = drive.Button(drive.optimizer.stopButton);
  EXPECT_EQ(pause->text(), QStringLiteral("Pause"));
  EXPECT_EQ(stop->text(), QStringLiteral("Stop"));
  EXPECT_TRUE(pause->isEnabled());
  EXPECT_TRUE(stop->isEnabled());
  pause->click();
  EXPECT_TRUE(drive.optimizer.Paused());
  EXPECT_EQ(pause->text(), QStringLiteral("Resume"));
  pause->click();
  EXPECT_FALSE(drive.optimizer.Paused());
  EXPECT_EQ(pause->text(), QStringLiteral("Pause"));
  EXPECT_FALSE(drive.optimizer.StopRequested());
  stop->click();
  EXPECT_TRUE(drive.optimizer.StopRequested());
  EXPECT_FALSE(drive.window.isNull());
}

// The work's end disables both buttons, whatever a click says afterwards.
TEST_F(QtDriveWindowTest, ButtonsAreDisabledOnceTheWorkIsDone) {
  TDriveWithWindow drive('C', services, windows);
  drive.Open();
  drive.window->KeepOpenWhenDone();
  drive.optimizer.statusText.Set("Finished");
  std::thread worker([&] { windows.PostWorkerFinished(drive.optimizer); });
  worker.join();
  QPushButton* pause = drive.Button(drive.optimizer.pauseButton);
  QPushButton* stop = drive.Button(drive.optimizer.stopButton);
  ASSERT_TRUE(ProcessEventsUntil([&] { return !stop->isEnabled(); }, 2000));
  EXPECT_FALSE(pause->isEnabled());
  pause->click();
  stop->click();
  EXPECT_FALSE(drive.optimizer.Paused());
  EXPECT_FALSE(drive.optimizer.StopRequested());
}

// Two drives' windows open side by side, apart.
TEST_F(QtDriveWindowTest, TwoDrivesWindowsDoNotOverlap) {
  TDriveWithWindow first('D', services, windows);
  TDriveWithWindow second('E', services, windows);
  first.optimizer.windowCount = second.optimizer.windowCount = 2;
  second.optimizer.windowIndex = 1;
  first.Open();
  second.Open();
  const QRect a = first.window->frameGeometry();
  const QRect b = second.window->frameGeometry();
  EXPECT_FALSE(a.intersects(b)) << a.x() << "," << a.y() << " " << b.x() << "," << b.y();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_TRUE(screen.contains(a));
  EXPECT_TRUE(screen.contains(b));
  EXPECT_EQ(a.top(), 40);
  EXPECT_EQ(b.top(), 40);
}

TEST_F(QtDriveWindowTest, ClosingAsksTheWorkerToStopAndDeletesTheWindow) {
  TDriveWithWindow drive('C', services, windows);
  drive.Open();
  drive.window->close();
  EXPECT_TRUE(drive.optimizer.StopRequested());
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.window.isNull(); }, 2000));
  EXPECT_EQ(drive.optimizer.mainWindow, nullptr);
  EXPECT_EQ(drive.optimizer.stageLabel, nullptr);
}

// Under AddressSanitizer a notice that reached a deleted window would be
// caught here.
TEST_F(QtDriveWindowTest, NoticeFromTheWorkerAfterTheWindowHasGoneIsLost) {
  TDriveWithWindow drive('C', services, windows);
  drive.Open();
  drive.window->close();
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.window.isNull(); }, 2000));
  std::thread worker([&] { windows.PostFragmentsReady(drive.optimizer); });
  worker.join();
  ProcessEventsUntil([] { return false; }, 50);
}

TEST_F(QtDriveWindowTest, NoticeQueuedBeforeTheWindowGoesIsDroppedWithIt) {
  TDriveWithWindow drive('C', services, windows);
  drive.Open();
  std::thread worker([&] { windows.PostFragmentsReady(drive.optimizer); });
  worker.join();
  delete drive.window;
  ProcessEventsUntil([] { return false; }, 50);
}

}  // namespace
