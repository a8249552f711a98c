// A drive window's "Defragment..." action apart from any window system: the
// worker's end reaches the window's thread as a notice some time after the
// worker has published "Finished", and the action must not be offered in
// between, or the late notice of the first analysis would be taken for the
// end of the moves just started (the view released and the drive analysed
// anew while the files still move).
#include "ui/window_moves.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/host_services.h"
#include "tests/support/moving_drive.h"
#include "tests/support/scripted_volume.h"

namespace {

// Counts the workers' end notices instead of posting them: the test plays
// the window's thread and consumes them when it chooses.
class TNoticeCountingWindows : public TFakeWindowSystem {
 public:
  void PostWorkerFinished(TDriveOptimizer&) override { ++workerEnds; }
  std::atomic<int> workerEnds{0};
};

// Waits up to 10 s for the count-th worker's end notice.
bool NoticeArrives(TNoticeCountingWindows& windows, int count) {
  for (int waited = 0; waited < 10000 && windows.workerEnds.load() < count; waited += 5)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return windows.workerEnds.load() >= count;
}

// The scripted moving drive, as a volume of its own or, folder true, as a
// Linux folder whose file system places its files itself.
template <bool folder>
class TMovingDriveVolume : public TScriptedVolume {
 public:
  TDriveOrigin DriveOrigin(char) const override {
    TDriveOrigin origin;
    if (folder) origin.kind = TDriveOrigin::TKind::kFolder;
    return origin;
  }
};

template <bool folder>
struct TWindowMovesOn : testing::Test {
  TWindowMovesOn() : optimizer('D', volume, windows, kDriveStages), moves(optimizer) {
    volume.logDirectory = logs.Path();
    ScriptMovingDrive(volume);
    // What the window's creation is followed by: the analysis on a worker.
    EXPECT_TRUE(optimizer.StartWorker([](TDriveOptimizer& drive) { drive.RunPipeline(); }));
  }
  ~TWindowMovesOn() override { WaitForWorkers(); }

  THostFolder logs;
  TMovingDriveVolume<folder> volume;
  TNoticeCountingWindows windows;
  TDriveOptimizer optimizer;
  TWindowMoves moves;  // made with the window, before its analysis ends
};

using WindowMoves = TWindowMovesOn<false>;
using FolderWindowMoves = TWindowMovesOn<true>;

TEST_F(WindowMoves, IsNotOfferedUntilTheFirstAnalysisEndHasBeenTold) {
  ASSERT_TRUE(NoticeArrives(windows, 1));
  ASSERT_EQ(optimizer.statusText.Get(), "Finished");
  EXPECT_FALSE(moves.CanDefragment()) << "offered before the analysis's end notice was consumed";

  EXPECT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kAnalysisEnded);
  EXPECT_TRUE(moves.CanDefragment());
}

TEST_F(WindowMoves, TellsTheMovesEndThenTheAnalysisAnewAndOffersAgainOnlyAfterIt) {
  ASSERT_TRUE(NoticeArrives(windows, 1));
  ASSERT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kAnalysisEnded);
  ASSERT_TRUE(moves.CanDefragment());
  moves.Confirm();
  ASSERT_TRUE(moves.Start());
  EXPECT_FALSE(moves.CanDefragment()) << "offered while the moves run";

  ASSERT_TRUE(NoticeArrives(windows, 2));
  EXPECT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kMovesEnded);
  ASSERT_TRUE(moves.Reanalyse());
  ASSERT_TRUE(NoticeArrives(windows, 3));
  EXPECT_FALSE(moves.CanDefragment()) << "offered before the analysis anew's end was consumed";
  EXPECT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kAnalysisEnded);
  EXPECT_TRUE(moves.CanDefragment());

  for (const char* file : kMovingDriveFiles) EXPECT_EQ(PiecesAt(optimizer.root, file), 1) << file;
  EXPECT_NE(moves.Summary().find("Made whole:         3 files"), std::string::npos)
      << moves.Summary();
}

// The moves carry out the schedule the question was made from, unless the
// free space changed after the question: then a schedule made on the old
// free space would land on clusters taken since, and the moves schedule
// anew on the free space as it is when they begin.
class WindowMovesAfterFreeSpaceTaken : public WindowMoves {
 protected:
  // Asks for moves of kind, lets another program take every free cluster
  // below 1,500 (the files lie from 100 to 601), where the question's moves
  // went, then starts them and waits for their end.
  void AskTakeAndMove(TMovesKind kind) {
    ASSERT_TRUE(NoticeArrives(windows, 1));
    ASSERT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kAnalysisEnded);
    ASSERT_TRUE(moves.Confirm(kind).ask);
    int64_t from = 0;
    for (const int64_t used : {100, 200, 300, 400, 500, 600}) {
      volume.TakeClusters(from, used - from);
      from = used + (used == 300 || used == 400 ? 3 : 2);
    }
    volume.TakeClusters(from, 1500 - from);
    ASSERT_TRUE(moves.Start());
    ASSERT_TRUE(NoticeArrives(windows, 2));
    EXPECT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kMovesEnded);
    EXPECT_EQ(optimizer.FailureReason(), "");
  }
};

TEST_F(WindowMovesAfterFreeSpaceTaken, DefragmentingMovesFilesWholeIntoTheSpaceStillFree) {
  AskTakeAndMove(TMovesKind::kDefragment);
  EXPECT_NE(moves.Summary().find("Made whole:         3 files"), std::string::npos)
      << moves.Summary();
  ASSERT_TRUE(moves.Reanalyse());
  ASSERT_TRUE(NoticeArrives(windows, 3));
  for (const char* file : kMovingDriveFiles) EXPECT_EQ(PiecesAt(optimizer.root, file), 1) << file;
}

TEST_F(WindowMovesAfterFreeSpaceTaken, OptimizingLeavesFilesWhosePlacesWereTaken) {
  // Their places were among the clusters taken: nothing is moved into them.
  AskTakeAndMove(TMovesKind::kOptimize);
  EXPECT_NE(moves.Summary().find("Items moved:"), std::string::npos) << moves.Summary();
}

// "Optimize layout..." goes through the same cycle: the question for the
// drive's volume-aware plan, the moves in their own stage, the analysis
// anew, and what the moves did in the summary and the status line.
TEST_F(WindowMoves, OptimizeCarriesThePlanOutInItsOwnStageAndSaysWhatItDid) {
  ASSERT_TRUE(NoticeArrives(windows, 1));
  ASSERT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kAnalysisEnded);
  // The question is worked out on a worker; nothing is offered meanwhile.
  ASSERT_TRUE(moves.Ask(TMovesKind::kOptimize));
  EXPECT_FALSE(moves.CanDefragment()) << "offered while the question is worked out";
  EXPECT_EQ(optimizer.detailText.Get(), kWorkingOutLayoutText);
  ASSERT_TRUE(NoticeArrives(windows, 2));
  ASSERT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kQuestionReady);
  EXPECT_EQ(optimizer.detailText.Get(), "Finished");
  const TDefragmentConfirmation asked = moves.Question();
  ASSERT_TRUE(asked.ask) << asked.text;
  EXPECT_EQ(asked.text.rfind("Optimize the layout of drive D:?", 0), 0u) << asked.text;
  ASSERT_TRUE(moves.CanDefragment());
  ASSERT_TRUE(moves.Start());
  EXPECT_EQ(optimizer.statusText.Get(), "Applying optimized tree");

  ASSERT_TRUE(NoticeArrives(windows, 3));
  EXPECT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kMovesEnded);
  ASSERT_TRUE(moves.Reanalyse());
  ASSERT_TRUE(NoticeArrives(windows, 4));
  EXPECT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kAnalysisEnded);
  EXPECT_EQ(moves.Summary().rfind("Drive D: optimized layout\n  Items moved:", 0), 0u)
      << moves.Summary();
  EXPECT_EQ(moves.SummaryLine().rfind("Optimized: Items moved: ", 0), 0u) << moves.SummaryLine();
  for (const char* file : kMovingDriveFiles) EXPECT_EQ(PiecesAt(optimizer.root, file), 1) << file;
  // Asked again, the plan of the drive as it lies now moves nothing more.
  const TDefragmentConfirmation again = moves.Confirm(TMovesKind::kOptimize);
  EXPECT_FALSE(again.ask) << again.text;
}

// The window may close while its question is worked out: its moves go
// with it, and the worker, which outlives them, must write nothing of
// theirs (the sanitizer build sees any write into them once freed).
TEST_F(WindowMoves, AQuestionWorkedOutOutlivesTheWindowThatAskedIt) {
  ASSERT_TRUE(NoticeArrives(windows, 1));
  ASSERT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kAnalysisEnded);
  for (const TMovesKind kind : {TMovesKind::kDefragment, TMovesKind::kOptimize}) {
    auto closing = std::make_unique<TWindowMoves>(optimizer);
    closing->WorkerEnded();  // as if made before the analysis's end was told
    ASSERT_TRUE(closing->Ask(kind));
    closing.reset();
    WaitForWorkers();
  }
  EXPECT_EQ(VolumesOpenedForMoves(volume), 0);
  EXPECT_TRUE(moves.CanDefragment());
}

// On a Linux folder the file system places the data: the window asks about
// files it will rewrite in fewer pieces, not clusters it will move to chosen
// places, and offers no zone layout, which could not be carried out there.
TEST_F(FolderWindowMoves, AsksAboutRewritingFilesAndOffersNoZoneLayout) {
  ASSERT_TRUE(NoticeArrives(windows, 1));
  ASSERT_EQ(moves.WorkerEnded(), TWindowMoves::TEnd::kAnalysisEnded);
  EXPECT_TRUE(moves.CanDefragment());
  EXPECT_FALSE(moves.CanOptimize());
  const TDefragmentConfirmation asked = moves.Confirm(TMovesKind::kDefragment);
  EXPECT_TRUE(asked.ask);
  EXPECT_EQ(asked.text.rfind("Defragment drive D:?\n\n3 files (14 clusters, 0.1 MiB) will be "
                             "rewritten by the file system in fewer pieces where it can",
                             0),
            0u)
      << asked.text;
  const TDefragmentConfirmation optimize = moves.Confirm(TMovesKind::kOptimize);
  EXPECT_FALSE(optimize.ask);
  EXPECT_EQ(optimize.text, std::string("Drive D: ") + kWholeFileOptimizeRefusal);
}

}  // namespace
