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
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/linux/qt_test_environment.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"
#include "ui/qt/drive_window.h"
#include "ui/qt/qt_window_system.h"

namespace {

// The scripted volume, letting through only as many folder listings and
// item opens as the test has allowed; the next waits for more.
class TMeteredVolume : public TScriptedVolume {
 public:
  // Lets through count more listings (scan) or opens (retrieval).
  void Allow(int listings, int opens) {
    {
      std::lock_guard<std::mutex> guard(lock);
      listingsLeft += listings;
      opensLeft += opens;
    }
    changed.notify_all();
  }
  void AllowAll() {
    const int all = std::numeric_limits<int>::max() / 2;
    Allow(all, all);
  }
  // Whether a call waits for more within timeoutMs.
  bool WaitUntilHeld(int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [this] { return waiting > 0; });
  }

  THandle FindFirst(const char* pattern, TFindData* entry) override {
    Take(&listingsLeft);
    return TScriptedVolume::FindFirst(pattern, entry);
  }
  THandle OpenForRead(const char* path, bool backupSemantics) override {
    if (std::string(path).rfind("\\\\.\\", 0) != 0) Take(&opensLeft);
    return TScriptedVolume::OpenForRead(path, backupSemantics);
  }

 private:
  void Take(int* left) {
    std::unique_lock<std::mutex> guard(lock);
    ++waiting;
    changed.notify_all();
    changed.wait(guard, [left] { return *left > 0; });
    --*left;
    --waiting;
  }

  // Guards the counts, written by the test and the worker's threads.
  std::mutex lock;
  std::condition_variable changed;
  int listingsLeft = 0;
  int opensLeft = 0;
  int waiting = 0;  // calls waiting for more
};

constexpr int kFolders = 4;
constexpr int kFilesPerFolder = 30;

class QtProgressBarTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    volume.logDirectory = logs.Path();
    volume.bitmap.assign(8192, false);
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
