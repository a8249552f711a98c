// Carrying out the zone layout on real NTFS images made here, end to end:
// the whole program with --optimize, killed at random moments, and the
// engine on its own stopped between steps. Every stream's bytes are hashed
// before and after, the cluster bitmap is checked against every
// attribute's runs by a reader of its own, and a new analysis finds every
// item where the plan put it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "drive/drive_optimizer.h"
#include "moving/move_executor.h"
#include "moving/move_journal.h"
#include "moving/optimize_stage.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_bitmap_check.h"
#include "tests/linux/ntfs_move_test_support.h"
#include "tests/support/fake_window_system.h"
#include "tools/ntfs_image_builder.h"

namespace {

// A volume of 64 MiB in 4 KiB clusters whose items lie out of zone order:
// a large media file first, then fragmented documents and programs, a file
// under two names, small files, and a folder whose index grows in pieces
// between them. The plan moves nearly all of them, parting files that hold
// each other's places.
TBuildStatus BuildVolume(const std::string& image) {
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 64ull << 20;
  TBuildStatus status = builder.Format(image, format);
  if (!status) return status;
  const int64_t from = builder.MftZoneEnd();
  for (const char* folder : {"/media", "/docs", "/programs", "/index"}) {
    if (!(status = builder.MakeFolder(folder))) return status;
  }
  if (!(status = builder.MakeFragmentedFile("/media/film.avi", TContent::Binary(3 << 20, 1), 3, 40,
                                            from))) {
    return status;
  }
  for (int i = 0; i < 120; ++i) {
    const std::string name =
        "/index/a file with a long name to fill the index " + std::to_string(i) + ".txt";
    if (!(status = builder.MakeFile(name, TContent::Binary(6000, 100 + i)))) return status;
    if (i % 30 == 0) {
      const std::string doc = "/docs/d" + std::to_string(i) + ".doc";
      if (!(status = builder.MakeFragmentedFile(doc, TContent::Binary(40000 + 4096 * i, i), 3, 2,
                                                from))) {
        return status;
      }
    }
  }
  if (!(status = builder.MakeFragmentedFile("/programs/tool.exe", TContent::Binary(300000, 2), 4, 5,
                                            from))) {
    return status;
  }
  if (!(status = builder.MakeFragmentedFile("/docs/linked.bin", TContent::Binary(90000, 3), 2, 3,
                                            from))) {
    return status;
  }
  if (!(status = builder.MakeHardLink("/docs/linked.bin", "/media/second name.bin"))) return status;
  return builder.Finish();
}

const std::string& BuiltImage() {
  static TScratchFolder* folder = new TScratchFolder();
  static const std::string image = (*folder) / "built.img";
  static const TBuildStatus built = BuildVolume(image);
  if (!built) ADD_FAILURE() << built.message;
  return image;
}

// An analysis of the image, in this process, its logs in logFolder.
struct TAnalysis {
  TAnalysis(const std::string& image, const std::string& logFolder)
      : services(Drives(image, logFolder)) {
    drive.RunPipeline();
  }
  static TDriveTable Drives(const std::string& image, const std::string& logFolder) {
    TDriveTable drives;
    drives.Map('C', logFolder);
    drives.Map('D', image);
    return drives;
  }
  TLinuxServices services;
  TFakeWindowSystem windows;
  TDriveOptimizer drive{'D', services, windows, kDriveStages};
};

// The runs of a stream of the image as a fresh services object reads them.
std::vector<TFileRun> RunsNow(const std::string& image, const TMovableFile& file) {
  TDriveTable drives;
  drives.Map('D', image);
  TLinuxServices services(drives);
  const std::string path = MovePath('D', file);
  THandle handle = services.OpenForRead(path.c_str(), file.stream == TMoveStream::kFolderIndex);
  if (handle == InvalidHandle()) return {};
  std::vector<TFileRun> runs;
  for (const TStreamRun& run : RunsThrough(services, handle)) {
    runs.push_back(TFileRun{run.vcn, run.lcn, run.length});
  }
  services.Close(handle);
  return runs;
}

class NtfsOptimize : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(BuiltImage(), image_);
    before_ = HashStreams(image_);
    ASSERT_FALSE(before_.empty());
  }
  // Every stream's bytes as they were, and a bitmap that no attribute
  // contradicts, with at most usedButUnheldAllowed clusters marked used
  // that nothing holds (what an interruption may leave).
  void ExpectIntact(int64_t usedButUnheldAllowed, const std::string& when) {
    EXPECT_EQ(HashStreams(image_), before_) << when;
    const TBitmapCheck check = CheckClusterBitmap(image_);
    EXPECT_TRUE(check.Sound()) << when << ": " << check.Text();
    EXPECT_LE(check.usedButUnheld, usedButUnheldAllowed) << when << ": " << check.Text();
  }
  // Whether a new analysis's plan finds every item where it goes: it keeps
  // what is never moved in place, so it moves nothing.
  void ExpectNothingLeftToMove(const std::string& when) {
    TScratchFolder logs;
    TAnalysis analysis(image_, logs.Path());
    ASSERT_EQ(analysis.drive.FailureReason(), "") << when;
    const TMoveLayout rest = PlanLayoutOfDrive(analysis.drive);
    for (const TMovableFile& file : rest.files) ADD_FAILURE() << when << ": " << file.listingPath;
  }

  TScratchFolder scratch_;
  const std::string image_ = scratch_ / "volume.img";
  std::map<std::string, uint64_t> before_;
};

TEST_F(NtfsOptimize, EveryItemEndsAtItsTargetAndEveryByteStays) {
  TScratchFolder logs;
  TAnalysis analysis(image_, logs.Path());
  ASSERT_EQ(analysis.drive.FailureReason(), "");
  const TMoveLayout layout = PlanLayoutOfDrive(analysis.drive);
  ASSERT_GE(layout.files.size(), 8u);
  bool folderIndex = false;
  for (const TMovableFile& file : layout.files) {
    // The plan keeps what moves never touch (the root folder's index) where
    // it lies, so everything it moves can be moved.
    EXPECT_EQ(file.notMovable, "") << file.listingPath;
    folderIndex = folderIndex || file.stream == TMoveStream::kFolderIndex;
    EXPECT_NE(file.listingPath, "\\media\\second name.bin") << "moved under its first name";
  }
  EXPECT_TRUE(folderIndex) << "no folder index to move";

  const TCommandResult run =
      RunCommand(ProgramCommand(scratch_.Path(), "--optimize '" + image_ + "' 2>&1"));
  ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
  EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
  const TVolumeSummary& before = analysis.drive.summary;
  for (const std::string& said :
       {std::string("Drive D: optimized layout\n"),
        "  Items moved:        " + std::to_string(layout.files.size()) + "\n",
        "  Fragmented files:   " + std::to_string(before.fragmentedFiles) + " before, " +
            std::to_string(before.plan.fragmentedAfter) + " after\n"}) {
    EXPECT_NE(run.output.find(said), std::string::npos) << said << "\n" << run.output;
  }
  EXPECT_EQ(run.output.find("Left as they were"), std::string::npos) << run.output;
  ExpectIntact(0, "after the run");
  for (size_t i = 0; i < layout.files.size(); ++i) {
    EXPECT_EQ(JoinedAllocatedRuns(RunsNow(image_, layout.files[i])),
              JoinedAllocatedRuns(layout.places[i]))
        << layout.files[i].listingPath;
  }
  // Every step journalled as moved.
  const std::string journal = ReadFile(scratch_ / "DirList_Applied.log");
  EXPECT_NE(journal.find("\t$I30\t"), std::string::npos) << journal;
  EXPECT_EQ(journal.find("failed"), std::string::npos) << journal;
  ExpectNothingLeftToMove("after the run");
}

TEST_F(NtfsOptimize, KilledAtRandomMomentsEveryByteStaysAndALaterRunCompletes) {
  // How long a whole run takes here, so the kills fall inside runs.
  TScratchFolder timing;
  const std::string timed = timing / "timed.img";
  std::filesystem::copy_file(image_, timed);
  const auto started = std::chrono::steady_clock::now();
  RunCommand(ProgramCommand(timing.Path(), "--optimize '" + timed + "' >/dev/null 2>&1"));
  const int64_t runMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count();
  std::mt19937_64 random(2027);
  for (int kill = 0; kill < 20; ++kill) {
    // Anywhere in a run, but mostly past its start-up and analysis, where
    // the moves are.
    const int64_t from = runMicroseconds / 4;
    RunAndKillAfter(ProgramCommand(scratch_.Path(), "--optimize '" + image_ + "' >/dev/null 2>&1"),
                    from + static_cast<int64_t>(random() % (runMicroseconds - from + 1)));
    // At most one step's clusters marked used that no file holds, per kill.
    ExpectIntact(16384 * (kill + 1), "after kill " + std::to_string(kill + 1));
    if (HasFailure()) return;
  }
  const TCommandResult last =
      RunCommand(ProgramCommand(scratch_.Path(), "--optimize '" + image_ + "' 2>&1"));
  EXPECT_EQ(WEXITSTATUS(last.status), 0) << last.output;
  ExpectIntact(16384 * 20, "after the last run");
  ExpectNothingLeftToMove("after the last run");
}

// The engine on its own, stopped between steps: every file whole where the
// stop found it (a parked one out of the way), nothing marked used in
// vain, and a second run from a new analysis completes the layout.
TEST_F(NtfsOptimize, AStopBetweenStepsLeavesEveryByteAndASecondRunCompletes) {
  for (int stopAfter : {1, 3, 6}) {
    std::filesystem::remove(image_);
    std::filesystem::copy_file(BuiltImage(), image_);
    for (int round = 0; round < 2; ++round) {
      TAnalysis analysis(image_, scratch_.Path());
      ASSERT_EQ(analysis.drive.FailureReason(), "");
      TMoveJournal journal(analysis.services, "C:\\DirList_Applied.log");
      ASSERT_TRUE(journal.IsOpen()) << journal.FailureText();
      int filesBegun = 0;
      const TMovesDone done =
          CarryOutOptimize(analysis.services, PlanLayoutOfDrive(analysis.drive), &journal,
                           analysis.drive.moves, [&](const std::string&) {
                             if (round == 0 && ++filesBegun == stopAfter) {
                               analysis.drive.moves.Stop();
                             }
                           });
      EXPECT_EQ(journal.Close(), "");
      EXPECT_EQ(done.failure, "") << stopAfter;
      EXPECT_EQ(done.stopped, round == 0) << stopAfter;
      if (round == 1) {
        for (const TFileLeft& left : done.left) {
          EXPECT_EQ(left.listingPath, "\\") << "only the root's index stays: " << left.reason;
        }
      }
      ExpectIntact(0, "stopped after " + std::to_string(stopAfter) + " files, round " +
                          std::to_string(round));
    }
    ExpectNothingLeftToMove("after the second run from a stop after " + std::to_string(stopAfter));
  }
}

}  // namespace
