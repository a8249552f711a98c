// The drive window's "Defragment..." action on Qt, end to end on a scripted
// volume that carries out moves: it asks first and moves nothing on No (and
// offscreen the answer is No); on Yes the files move on a worker while the
// map follows them, Pause holds between steps and Resume goes on, Stop ends
// after the step under way, closing the window stops the moves, and at the
// end the window shows the drive analysed anew.
#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "model/item.h"
#include "planning/drive_stages.h"
#include "tests/linux/qt_test_environment.h"
#include "tests/support/host_services.h"
#include "tests/support/move_gate.h"
#include "tests/support/moving_drive.h"
#include "tests/support/scripted_volume.h"
#include "ui/cluster_map.h"
#include "ui/qt/drive_window.h"
#include "ui/qt/fragment_view.h"
#include "ui/qt/qt_window_system.h"

namespace {

// Answers the window's question as the test says, and keeps it.
class TAnsweringWindows : public TQtWindowSystem {
 public:
  bool AskYesNo(TWindowHandle, const char* text, const char* caption) override {
    questions.push_back(std::string(caption) + ": " + text);
    return answer;
  }
  bool answer = false;
  std::vector<std::string> questions;
};

// A drive of 2,000 clusters of 4 KiB with three files in two pieces each,
// analysed in its window, which stays open when its work is done.
struct TMovingDrive {
  explicit TMovingDrive(TQtWindowSystem& windows)
      : gate(volume), optimizer('D', volume, windows, kDriveStages) {
    volume.logDirectory = logs.Path();
    ScriptMovingDrive(volume);
    optimizer.RunDriveThread();
    window = static_cast<TDriveWindow*>(optimizer.mainWindow);
    window->KeepOpenWhenDone();
  }
  ~TMovingDrive() {
    gate.Allow(-1);
    if (!window.isNull()) window->close();
    ProcessEventsUntil([this] { return window.isNull(); }, 5000);
    WaitForWorkers();
  }

  QPushButton* Button(const QString& text) const {
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
      if (button->text() == text) return button;
    }
    return nullptr;
  }
  QPushButton* DefragmentButton() const { return Button(QStringLiteral("Defragment...")); }
  QPushButton* PauseButton() const { return static_cast<QPushButton*>(optimizer.pauseButton); }
  QString Status() const { return static_cast<QStatusBar*>(optimizer.statusBar)->currentMessage(); }
  // The analysis (first or anew) has ended and the action is offered again.
  bool Analysed() const {
    return optimizer.fragmentView != nullptr && DefragmentButton()->isEnabled();
  }
  // Pieces of the file at a listing path as the window's tree holds it.
  int Pieces(const char* path) const { return PiecesAt(optimizer.root, path); }
  // Whether the free extents the window's analysis found are the volume's
  // free clusters as they are now.
  bool FreeSpaceIsTheVolumes() const {
    return FreeExtentsAreTheVolumes(optimizer.freeExtents, volume.bitmap);
  }

  THostFolder logs;
  TScriptedVolume volume{'D'};
  TMoveGate gate;  // holds each move until the test lets it go
  TDriveOptimizer optimizer;
  QPointer<TDriveWindow> window;
};

class QtWindowMovesTest : public testing::Test {
 protected:
  void SetUp() override { EnsureQtApplication(); }
  // Once the drive is analysed: answers Yes and starts the moves, the first
  // of which is then held at the volume's gate.
  void StartMoves(TMovingDrive& drive) {
    ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Analysed(); }, 10000));
    windows.answer = true;
    drive.DefragmentButton()->click();
    ASSERT_TRUE(Asked(1));
    ASSERT_TRUE(drive.gate.WaitForHeld(5000));
  }
  // The question is worked out on a worker, and asked once its end reaches
  // the window: whether count questions were asked within 10 s.
  bool Asked(size_t count) {
    return ProcessEventsUntil([&] { return windows.questions.size() >= count; }, 10000);
  }
  TAnsweringWindows windows;
};

TEST_F(QtWindowMovesTest, AsksWhatWillMoveAndMovesNothingOnNo) {
  TMovingDrive drive(windows);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Analysed(); }, 10000));
  windows.answer = false;
  drive.DefragmentButton()->click();
  ASSERT_TRUE(Asked(1));
  EXPECT_NE(windows.questions[0].find("Defragment drive D:?"), std::string::npos);
  EXPECT_NE(windows.questions[0].find("3 files will be made whole: 14 clusters (0.1 MiB)"),
            std::string::npos)
      << windows.questions[0];
  ProcessEventsUntil([] { return false; }, 600);
  EXPECT_EQ(VolumesOpenedForMoves(drive.volume), 0);
  EXPECT_EQ(drive.gate.Passed(), 0);
  EXPECT_EQ(drive.Pieces("\\b.bin"), 2);
  EXPECT_TRUE(drive.DefragmentButton()->isEnabled());
}

// Offscreen nobody can answer: the question is printed and counts as No.
TEST_F(QtWindowMovesTest, WithoutADisplayTheAnswerIsNo) {
  TQtWindowSystem headless;
  TMovingDrive drive(headless);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Analysed(); }, 10000));
  testing::internal::CaptureStdout();
  drive.DefragmentButton()->click();
  ProcessEventsUntil([&] { return drive.Analysed(); }, 10000);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed.rfind("Defragment: Defragment drive D:?", 0), 0u) << printed;
  ProcessEventsUntil([] { return false; }, 300);
  EXPECT_EQ(VolumesOpenedForMoves(drive.volume), 0);
}

TEST_F(QtWindowMovesTest, MovesOnYesPauseHoldsResumeGoesOnAndTheEndIsAnalysedAnew) {
  TMovingDrive drive(windows);
  ASSERT_NO_FATAL_FAILURE(StartMoves(drive));
  // Not offered again while the moves run.
  EXPECT_FALSE(drive.DefragmentButton()->isEnabled());
  drive.PauseButton()->click();
  EXPECT_EQ(drive.PauseButton()->text(), QStringLiteral("Resume"));
  drive.gate.Allow(-1);
  // The largest file first; the map follows it on the next refresh.
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Pieces("\\b.bin") == 1; }, 3000));
  const TItem* moved = ItemAtListingPath(drive.optimizer.root, "\\b.bin");
  EXPECT_EQ(drive.optimizer.clusterMap->FindFragment(moved->fragments->lcn)->owner, moved);
  // Paused: no further step, however long.
  ProcessEventsUntil([] { return false; }, 800);
  EXPECT_EQ(drive.gate.Passed(), 1);
  EXPECT_EQ(drive.Pieces("\\a.bin"), 2);
  EXPECT_TRUE(drive.Status().contains(QStringLiteral("Paused: moved 1 of 3 files")))
      << drive.Status().toStdString();

  drive.PauseButton()->click();
  EXPECT_EQ(drive.PauseButton()->text(), QStringLiteral("Pause"));
  ASSERT_TRUE(
      ProcessEventsUntil([&] { return drive.gate.Passed() == 3 && drive.Analysed(); }, 10000));
  for (const char* path : kMovingDriveFiles) EXPECT_EQ(drive.Pieces(path), 1) << path;
  // Analysed anew, not only redrawn: the free space is the volume's now.
  EXPECT_TRUE(drive.FreeSpaceIsTheVolumes());
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Status().startsWith("Defragmented"); }, 2000));
  EXPECT_EQ(drive.Status(),
            QStringLiteral("Defragmented: Made whole: 3 files, 14 clusters moved in 3 steps"));
  EXPECT_NE(drive.optimizer.fragmentView->Session().SummaryText().find("Drive D: defragmentation"),
            std::string::npos);
}

TEST_F(QtWindowMovesTest, StopEndsAfterTheStepUnderWay) {
  TMovingDrive drive(windows);
  ASSERT_NO_FATAL_FAILURE(StartMoves(drive));
  static_cast<QPushButton*>(drive.optimizer.stopButton)->click();
  drive.gate.Allow(-1);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Analysed(); }, 10000));
  EXPECT_EQ(drive.gate.Passed(), 1);
  EXPECT_TRUE(drive.optimizer.movesDone.stopped);
  EXPECT_EQ(drive.Pieces("\\b.bin"), 1);
  EXPECT_EQ(drive.Pieces("\\a.bin"), 2);
  EXPECT_EQ(drive.Pieces("\\c.bin"), 2);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Status().startsWith("Defragmented"); }, 2000));
  EXPECT_TRUE(drive.Status().contains(QStringLiteral("Stopped before the end")));
}

// "Optimize layout..." beside "Defragment...": asks under its own caption,
// moves in the stage "Applying optimized tree", and the drive analysed anew
// lies as its plan put it, its files whole.
TEST_F(QtWindowMovesTest, OptimizeLayoutAsksThenCarriesThePlanOutAndAnalysesAnew) {
  TMovingDrive drive(windows);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Analysed(); }, 10000));
  QPushButton* optimize = drive.Button(QStringLiteral("Optimize layout..."));
  ASSERT_NE(optimize, nullptr);
  EXPECT_TRUE(optimize->isEnabled());
  windows.answer = true;
  optimize->click();
  ASSERT_TRUE(Asked(1));
  EXPECT_EQ(windows.questions[0].rfind("Optimize layout: Optimize the layout of drive D:?", 0), 0u)
      << windows.questions[0];
  ASSERT_TRUE(drive.gate.WaitForHeld(5000));
  EXPECT_FALSE(optimize->isEnabled());
  EXPECT_EQ(drive.optimizer.statusText.Get(), "Applying optimized tree");
  drive.gate.Allow(-1);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Status().startsWith("Optimized"); }, 10000))
      << drive.Status().toStdString();
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Analysed(); }, 10000));
  for (const char* path : kMovingDriveFiles) EXPECT_EQ(drive.Pieces(path), 1) << path;
  EXPECT_TRUE(drive.FreeSpaceIsTheVolumes());
  EXPECT_TRUE(optimize->isEnabled());
}

// The question is worked out on a worker (a volume of a million files
// takes seconds to schedule): the click returns at once, the status says
// what is being worked out, nothing is offered meanwhile, and the question
// follows once the worker is done.
TEST_F(QtWindowMovesTest, TheQuestionIsWorkedOutWhileTheWindowGoesOn) {
  TMovingDrive drive(windows);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Analysed(); }, 10000));
  QPushButton* optimize = drive.Button(QStringLiteral("Optimize layout..."));
  ASSERT_NE(optimize, nullptr);
  optimize->click();
  EXPECT_TRUE(windows.questions.empty()) << "asked before the window's thread went on";
  EXPECT_TRUE(drive.Status().contains(QStringLiteral("Working out the moves of the zone layout")))
      << drive.Status().toStdString();
  EXPECT_FALSE(optimize->isEnabled());
  EXPECT_FALSE(drive.DefragmentButton()->isEnabled());
  ASSERT_TRUE(Asked(1));
  EXPECT_EQ(windows.questions[0].rfind("Optimize layout: ", 0), 0u) << windows.questions[0];
  // Answered No: offered again, and the status says the analysis is done.
  ASSERT_TRUE(ProcessEventsUntil([&] { return optimize->isEnabled(); }, 2000));
  EXPECT_TRUE(drive.DefragmentButton()->isEnabled());
  EXPECT_FALSE(drive.Status().contains(QStringLiteral("Working out")))
      << drive.Status().toStdString();
  EXPECT_EQ(VolumesOpenedForMoves(drive.volume), 0);
}

// Closed while the question is worked out: nothing is asked or moved, and
// the worker, which outlives the window, ends cleanly.
TEST_F(QtWindowMovesTest, ClosingTheWindowWhileTheQuestionIsWorkedOutMovesNothing) {
  TMovingDrive drive(windows);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.Analysed(); }, 10000));
  windows.answer = true;
  drive.DefragmentButton()->click();
  drive.window->close();
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.window.isNull(); }, 5000));
  WaitForWorkers();
  ProcessEventsUntil([] { return false; }, 300);
  EXPECT_TRUE(windows.questions.empty());
  EXPECT_EQ(VolumesOpenedForMoves(drive.volume), 0);
}

TEST_F(QtWindowMovesTest, ClosingTheWindowStopsTheMoves) {
  TMovingDrive drive(windows);
  ASSERT_NO_FATAL_FAILURE(StartMoves(drive));
  drive.window->close();
  drive.gate.Allow(-1);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.window.isNull(); }, 5000));
  WaitForWorkers();
  EXPECT_EQ(drive.gate.Passed(), 1);
  EXPECT_TRUE(drive.optimizer.movesDone.stopped);
}

}  // namespace
