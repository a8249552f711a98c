// Defragmenting a drive whose file system places the data itself (a Linux
// folder), driven through a scripted volume that answers MakeFileWhole as
// asked per file: each file's outcome reaches the summary, the journal and
// the progress; a failed call is the run's failure while the rest go on; a
// stop ends the run between files; a folder the services refuse moves
// nothing.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "moving/defragment_stage.h"
#include "moving/moves_summary.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"

namespace {

// A scripted drive that is a Linux folder: files are made whole by the
// scripted outcome of their path (made whole, one run, when none is given).
class TWholeFileVolume : public TScriptedVolume {
 public:
  TWholeFileVolume() : TScriptedVolume('D') {}

  TDriveOrigin DriveOrigin(char) const override {
    TDriveOrigin origin;
    origin.kind = TDriveOrigin::TKind::kFolder;
    origin.path = "/srv";
    return origin;
  }
  THandle OpenFolderForWholeFiles(char, const TWholeFileOptions& options,
                                  TWholeFileFolder* folder) override {
    asked = options;
    if (refuseFolder) return InvalidHandle();
    *folder = opened;
    return new THandleObject();
  }
  TWholeFileResult MakeFileWhole(THandle, const char* path) override {
    tried.push_back(path);
    if (onFile) onFile(path);
    const auto scripted = outcomes.find(path);
    if (scripted != outcomes.end()) return scripted->second;
    // Whole now: one run where its first one was.
    TScriptedNode& node = Node(path);
    node.runs = {{node.runs.back().nextVcn, node.runs.front().lcn}};
    return TWholeFileResult{TWholeFileOutcome::kFewerPieces, TWholeFileReason::kNone, 2, 1};
  }

  bool refuseFolder = false;
  TWholeFileFolder opened;
  TWholeFileOptions asked;
  std::map<std::string, TWholeFileResult> outcomes;  // by path; the others are made whole
  std::function<void(const std::string&)> onFile;    // before each file's outcome
  std::vector<std::string> tried;                    // paths, in the order tried
};

class WholeFileMoves : public testing::Test {
 protected:
  void SetUp() override {
    volume.logDirectory = logs.Path();
    volume.bitmap.assign(128, false);
    volume.TakeClusters(0, 10);
    for (const auto& file : std::vector<std::pair<std::string, int64_t>>{
             {"D:\\a.bin", 20}, {"D:\\b.bin", 40}, {"D:\\c.bin", 60}}) {
      volume.AddFile(file.first, 4 * 4096, {{2, file.second}, {4, file.second + 10}});
      volume.TakeClusters(file.second, 2);
      volume.TakeClusters(file.second + 10, 2);
    }
  }
  std::string LeftBecause(const std::string& listingPath) {
    for (const TFileLeft& left : drive.movesDone.left) {
      if (left.listingPath == listingPath) return left.reason;
    }
    return std::string();
  }
  std::string Journal() { return FileBytes(logs.Path() + "DirList_Applied.log"); }

  THostFolder logs;
  TWholeFileVolume volume;
  TFakeWindowSystem windows;
  TDriveOptimizer drive{'D', volume, windows, kDefragmentStages};
};

TEST_F(WholeFileMoves, EachFileIsTriedOnceAndItsOutcomeReachesTheSummaryAndTheJournal) {
  volume.outcomes["D:\\b.bin"] = {TWholeFileOutcome::kLeft, TWholeFileReason::kImmutable, 2, 0};
  volume.outcomes["D:\\c.bin"] = {TWholeFileOutcome::kLeft, TWholeFileReason::kNoFewerPieces, 2, 3};
  drive.RunPipeline(kDefragmentStages);
  EXPECT_EQ(volume.tried, (std::vector<std::string>{"D:\\a.bin", "D:\\b.bin", "D:\\c.bin"}));
  EXPECT_EQ(drive.movesDone.failure, "");
  EXPECT_EQ(drive.movesDone.filesMoved, 1);
  EXPECT_EQ(drive.movesDone.clustersMoved, 4);
  EXPECT_EQ(drive.moves.filesDone.load(), 1);
  EXPECT_EQ(drive.moves.filesTotal.load(), 3);
  EXPECT_EQ(LeftBecause("\\b.bin"), "it is marked immutable (chattr +i)");
  EXPECT_EQ(LeftBecause("\\c.bin"), "the file system offered no fewer pieces (3 for 2)");
  const std::string journal = Journal();
  EXPECT_NE(journal.find("\\a.bin\t$DATA\t0\t4\t 20:2 30:2\t20\tmoved\r\n"), std::string::npos)
      << journal;
  EXPECT_NE(journal.find("\\b.bin\t$DATA\t0\t4\t 40:2 50:2\t40\tleft: it is marked immutable"),
            std::string::npos)
      << journal;
  const std::string summary = FormatMovesSummary('D', drive.movesDone);
  EXPECT_NE(summary.find("Made whole:         1 file, 4 clusters moved in 1 step"),
            std::string::npos)
      << summary;
}

TEST_F(WholeFileMoves, AFailedCallIsTheRunsFailureAndTheOtherFilesStillMove) {
  volume.outcomes["D:\\a.bin"] = {TWholeFileOutcome::kFailed, TWholeFileReason::kSystemError, 2, 0};
  volume.failureText = "EXT4_IOC_MOVE_EXT: Input/output error";
  drive.RunPipeline(kDefragmentStages);
  EXPECT_EQ(drive.movesDone.filesMoved, 2);
  EXPECT_EQ(drive.movesDone.failure,
            "moving \\a.bin failed: EXT4_IOC_MOVE_EXT: Input/output error");
  EXPECT_NE(Journal().find("failed: EXT4_IOC_MOVE_EXT: Input/output error"), std::string::npos);
  EXPECT_FALSE(drive.FailureReason().empty());
}

TEST_F(WholeFileMoves, AStopEndsTheRunBetweenFilesAndTheRestAreLeftUntried) {
  volume.onFile = [this](const std::string& path) {
    if (path == "D:\\a.bin") drive.moves.Stop();
  };
  drive.RunPipeline(kDefragmentStages);
  EXPECT_EQ(volume.tried, std::vector<std::string>{"D:\\a.bin"});
  EXPECT_TRUE(drive.movesDone.stopped);
  EXPECT_EQ(drive.movesDone.filesMoved, 1);
  EXPECT_EQ(LeftBecause("\\b.bin"), "the moves were stopped before it");
  EXPECT_EQ(LeftBecause("\\c.bin"), "the moves were stopped before it");
}

TEST_F(WholeFileMoves, ARefusedFolderMovesNothingAndSaysWhy) {
  volume.refuseFolder = true;
  volume.failureText = "/srv is on tmpfs: files are made whole on ext4, XFS and btrfs only";
  drive.RunPipeline(kDefragmentStages);
  EXPECT_TRUE(volume.tried.empty());
  EXPECT_FALSE(drive.movesDone.started);
  EXPECT_EQ(drive.movesDone.failure,
            "the folder could not be opened for moves: /srv is on tmpfs: files are made whole on "
            "ext4, XFS and btrfs only");
}

TEST_F(WholeFileMoves, TheSummaryWarnsOfUnsharingOnBtrfsAndOfOwnFilesOnly) {
  volume.opened = {TWholeFileSystem::kBtrfs, true};
  drive.RunPipeline(kDefragmentStages);
  const std::string summary = FormatMovesSummary('D', drive.movesDone);
  EXPECT_NE(summary.find("  Note: btrfs would unshare extents shared with reflinked copies and "
                         "snapshots: files with shared extents were left (--defragment-shared "
                         "includes them)\n"),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("  Note: not run as the superuser: only your own files were "
                         "defragmented\n"),
            std::string::npos)
      << summary;
  EXPECT_FALSE(volume.asked.includeShared);
}

}  // namespace
