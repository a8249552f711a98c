// The drive window's progress bar on Qt over a scripted volume whose scan
// and retrieval go on only as far as the test lets them: busy with the items
// scanned while the scan runs, then the items read of the total with the
// time left, the current path staying in the status line; gone once the
// work is done.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QStatusBar>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/linux/qt_test_environment.h"
#include "tests/support/host_services.h"
#include "tests/support/metered_volume.h"
#include "ui/qt/drive_window.h"
#include "ui/qt/qt_window_system.h"

namespace {

class QtProgressBarTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    volume.logDirectory = logs.Path();
    PopulateMeteredVolume(volume);
  }
  void TearDown() override {
    volume.AllowAll();
    if (!window.isNull()) window->close();
    ProcessEventsUntil([this] { return window.isNull(); }, 5000);
    WaitForWorkers();
  }

  QProgressBar* Bar() const { return window->findChild<QProgressBar*>(); }
  // What the user reads of the progress: the bar's own text (none while it
  // is busy) or the words the status bar shows beside it.
  QString Shown() const {
    if (!Bar()->isVisibleTo(window)) return QString();
    QString shown = Bar()->isTextVisible() ? Bar()->text() : QString();
    for (const QLabel* label :
         static_cast<QStatusBar*>(optimizer.statusBar)->findChildren<QLabel*>()) {
      if (label->isVisibleTo(window) && label->text().contains(QStringLiteral(" items "))) {
        shown += label->text();
      }
    }
    return shown;
  }
  // Whether the bar shows text within the next refreshes.
  bool BarSays(const QString& text) {
    return ProcessEventsUntil([&] { return Shown() == text; }, 3000);
  }

  THostFolder logs;
  TMeteredVolume volume;
  TQtWindowSystem windows;
  TDriveOptimizer optimizer{'D', volume, windows, kDriveStages};
  QPointer<TDriveWindow> window;
};

TEST_F(QtProgressBarTest, MovesWithTheScanThenShowsTheItemsReadOfTheTotalAndTheTimeLeft) {
  optimizer.RunDriveThread();
  window = static_cast<TDriveWindow*>(optimizer.mainWindow);
  window->KeepOpenWhenDone();
  ASSERT_NE(Bar(), nullptr);
  // The root's listing and the first folder's: the scan enters each folder
  // as it finds it, so it holds at the second folder's listing, with f0,
  // its 30 files and f1 found.
  volume.Allow(2, 0);
  ASSERT_TRUE(volume.WaitUntilHeld(10000));
  ASSERT_TRUE(BarSays(QStringLiteral("32 items scanned"))) << Shown().toStdString();
  EXPECT_EQ(Bar()->maximum(), 0);  // busy: no total yet
  // The path being listed stays in the status line.
  const auto* status = static_cast<QStatusBar*>(optimizer.statusBar);
  EXPECT_EQ(status->currentMessage().left(3), QStringLiteral("D:\\"));
  volume.Allow(1, 0);
  ASSERT_TRUE(BarSays(QStringLiteral("63 items scanned"))) << Shown().toStdString();

  // The rest of the scan, then ten items of the retrieval: 125 to read, the
  // root among them.
  volume.Allow(2, 10);
  ASSERT_TRUE(
      ProcessEventsUntil([&] { return Bar()->maximum() == 125 && Bar()->value() >= 10; }, 10000))
      << Bar()->format().toStdString();
  EXPECT_TRUE(Shown().startsWith(QStringLiteral("read "))) << Shown().toStdString();
  EXPECT_EQ(Shown(), Bar()->text());  // the count of the scan has gone
  EXPECT_TRUE(Bar()->format().endsWith(QStringLiteral(" of 125 items")))
      << Bar()->format().toStdString();
  const int firstValue = Bar()->value();
  // Forty more: the bar moves on, and with a rate there is an estimate.
  volume.Allow(0, 40);
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return Bar()->value() >= firstValue + 40 && Bar()->format().contains(" left"); }, 5000))
      << Bar()->format().toStdString();
  EXPECT_TRUE(Bar()->format().contains(QStringLiteral(" of 125 items, about ")))
      << Bar()->format().toStdString();

  volume.AllowAll();
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return optimizer.statusText.Get() == "Finished" && !Bar()->isVisibleTo(window); },
      10000));
}

}  // namespace
