// Defragmenting real NTFS images made here, end to end: the whole program
// with --defragment, and the engine on its own stopped at chosen steps.
// Every stream's bytes are hashed before and after, and the cluster bitmap
// is checked against every attribute's runs by a reader of its own; the
// journal says what moved, and a second look at the volume agrees with it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "drive/drive_optimizer.h"
#include "moving/move_executor.h"
#include "moving/move_journal.h"
#include "moving/move_layout.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_bitmap_check.h"
#include "tests/linux/ntfs_move_test_support.h"
#include "tests/linux/ntfs_record_patch.h"
#include "tests/support/fake_window_system.h"
#include "tools/ntfs_image_builder.h"

namespace {

// The filler takes 200 clusters after every 300 free ones, all over the
// volume: the free space is left in gaps too small for the filler itself.
constexpr int64_t kFillerTake = 200;
constexpr int64_t kFillerGap = 300;

// Free clusters in a row from lcn, by the builder's view of the bitmap.
int64_t FreeRunAt(const TNtfsImageBuilder& builder, int64_t lcn) {
  int64_t low = 0;                                  // known free in a row
  int64_t high = builder.ClusterCount() - lcn + 1;  // known not
  while (high - low > 1) {
    const int64_t middle = (low + high) / 2;
    int64_t found = -1;
    if (builder.FindFreeRun(middle, lcn, &found) && found == lcn) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return low;
}

// Places the filler over the free space from `from` on; its clusters go
// to *clusters.
TBuildStatus MakeFiller(TNtfsImageBuilder& builder, int64_t from, int64_t* clusters) {
  std::vector<TExtent> extents;
  *clusters = 0;
  for (int64_t at = from; at < builder.ClusterCount();) {
    int64_t lcn = 0;
    if (!builder.FindFreeRun(1, at, &lcn)) break;
    const int64_t length = FreeRunAt(builder, lcn);
    for (int64_t offset = kFillerGap; offset + kFillerTake <= length;
         offset += kFillerGap + kFillerTake) {
      extents.push_back(TExtent{lcn + offset, kFillerTake});
      *clusters += kFillerTake;
    }
    at = lcn + length;
  }
  return builder.MakePlacedFile("/filler.bin", TContent::Binary(uint64_t(*clusters) * 4096, 45),
                                extents);
}

// A volume of 128 MiB in 4 KiB clusters with fragmented files of many
// sizes, a hard-linked one, one with a named stream, a sparse and a
// compressed one, a folder whose index is in pieces, and a filler that
// leaves the free space cut into gaps too small for itself.
TBuildStatus BuildVolume(const std::string& image, int64_t* fillerClusters) {
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 128ull << 20;
  TBuildStatus status = builder.Format(image, format);
  if (!status) return status;
  const int64_t from = builder.MftZoneEnd();
  for (const char* folder : {"/docs", "/other", "/index", "/packed"}) {
    if (!(status = builder.MakeFolder(folder))) return status;
  }
  // A folder index that grows while data takes the clusters after it.
  for (int i = 0; i < 160; ++i) {
    const std::string name =
        "/index/a file with a long name to fill the index " + std::to_string(i) + ".txt";
    if (!(status = builder.MakeFile(name, TContent::Binary(6000, 100 + i)))) return status;
  }
  for (int i = 1; i <= 9; ++i) {
    const std::string name = "/docs/f" + std::to_string(i) + ".bin";
    const TContent content = TContent::Binary(uint64_t(12288) * i * i, i);
    if (!(status = builder.MakeFragmentedFile(name, content, i + 1, 3, from))) return status;
  }
  if (!(status = builder.MakeFragmentedFile("/docs/linked.bin", TContent::Binary(90000, 41), 4, 2,
                                            from))) {
    return status;
  }
  if (!(status = builder.MakeHardLink("/docs/linked.bin", "/other/second name.bin"))) return status;
  if (!(status = builder.MakeFragmentedFile("/docs/streams.bin", TContent::Binary(50000, 42), 3, 2,
                                            from))) {
    return status;
  }
  int64_t lcn = 0;
  if (!(status = builder.FindFreeRun(40, from, &lcn))) return status;
  if (!(status = builder.MakePlacedFile("/docs/sparse.bin", TContent::Binary(16 * 4096, 43),
                                        {{lcn, 4}, {TExtent::kHoleLcn, 8}, {lcn + 10, 4}}))) {
    return status;
  }
  if (!(status = builder.SetFolderCompressed("/packed"))) return status;
  if (!(status = builder.MakeFile("/packed/words.txt", TContent::Text(300000, 44)))) return status;
  if (!(status = MakeFiller(builder, from, fillerClusters))) return status;
  // Written into the filler's gaps: compressed and in pieces.
  if (!(status = builder.MakeFile("/packed/big.bin", TContent::Binary(2 << 20, 47)))) return status;
  if (!(status = builder.Finish())) return status;
  return AddNamedStream(image, "/docs/streams.bin", "side", TContent::Binary(30000, 46));
}

// The image every test starts from, built once; each test copies it. The
// filler's clusters go to *fillerClusters when given.
const std::string& BuiltImage(int64_t* fillerClusters = nullptr) {
  static TScratchFolder* folder = new TScratchFolder();
  static const std::string image = (*folder) / "built.img";
  static int64_t filler = 0;
  static const TBuildStatus built = BuildVolume(image, &filler);
  if (!built) ADD_FAILURE() << built.message;
  if (fillerClusters != nullptr) *fillerClusters = filler;
  return image;
}

// One line of the journal.
struct TJournalLine {
  std::string path;
  std::string stream;
  int64_t vcn = 0;
  int64_t clusters = 0;
  std::string from;
  int64_t to = 0;
  std::string result;
};

std::vector<TJournalLine> ReadJournal(const std::string& path) {
  std::vector<TJournalLine> lines;
  std::istringstream text(ReadFile(path));
  std::string line;
  while (std::getline(text, line)) {
    EXPECT_FALSE(line.empty() || line.back() != '\r') << "no CR LF: " << line;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (fields.size() != 7) {
      ADD_FAILURE() << "journal line of " << fields.size() << " fields: " << line;
      continue;
    }
    lines.push_back(TJournalLine{fields[0], fields[1], std::stoll(fields[2]), std::stoll(fields[3]),
                                 fields[4], std::stoll(fields[5]), fields[6]});
  }
  return lines;
}

// The runs of the item at path (Win32 form, "D:\docs\a.bin") of the image,
// read through a fresh services object, as a second analysis reads them.
std::vector<TStreamRun> RunsNow(const std::string& image, const std::string& path, bool folder) {
  TDriveTable drives;
  drives.Map('D', image);
  TLinuxServices services(drives);
  THandle handle = services.OpenForRead(path.c_str(), folder);
  if (handle == InvalidHandle()) return {};
  const std::vector<TStreamRun> runs = RunsThrough(services, handle);
  services.Close(handle);
  return runs;
}

class NtfsDefragment : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(BuiltImage(), image_);
    before_ = HashStreams(image_);
    ASSERT_FALSE(before_.empty());
    const TBitmapCheck check = CheckClusterBitmap(image_);
    ASSERT_TRUE(check.Sound() && check.usedButUnheld == 0) << check.Text();
  }

  // Every stream's bytes as they were, and a bitmap that no attribute
  // contradicts; usedButUnheld says how many clusters an interruption may
  // have left marked used.
  // Returns how many it found.
  int64_t ExpectIntact(int64_t usedButUnheldAllowed, const std::string& when) {
    EXPECT_EQ(HashStreams(image_), before_) << when;
    const TBitmapCheck check = CheckClusterBitmap(image_);
    EXPECT_TRUE(check.Sound()) << when << ": " << check.Text();
    EXPECT_LE(check.usedButUnheld, usedButUnheldAllowed) << when << ": " << check.Text();
    return check.usedButUnheld;
  }

  TScratchFolder scratch_;
  const std::string image_ = scratch_ / "volume.img";
  std::map<std::string, uint64_t> before_;
};

TEST_F(NtfsDefragment, EveryFragmentedFileIsMadeWholeOrNamedAndEveryByteStays) {
  int64_t fillerClusters = 0;
  BuiltImage(&fillerClusters);
  const TCommandResult run =
      RunCommand(ProgramCommand(scratch_.Path(), "--defragment '" + image_ + "' 2>&1"));
  ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
  EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
  for (const std::string& said :
       {std::string("Drive D: defragmentation\n"),
        std::string("    \\docs\\sparse.bin: sparse or compressed: its holes are not moved\n"),
        std::string("    \\packed\\big.bin: "),
        std::string(" is compressed, and such streams are not moved here\n"),
        "    \\filler.bin: needs " + GroupedNumber(fillerClusters) +
            " clusters; the largest free extent holds ",
        std::string("diskopt: " + image_ + ": 0."), std::string(" Defragmenting\n")}) {
    EXPECT_NE(run.output.find(said), std::string::npos) << said << "\n" << run.output;
  }
  ExpectIntact(0, "after the run");

  // The journal names every step, each moved, and the volume as it is now
  // holds each file it names whole at the target of its first step.
  const std::vector<TJournalLine> journal = ReadJournal(scratch_ / "DirList_Applied.log");
  ASSERT_FALSE(journal.empty());
  std::map<std::string, TJournalLine> firstSteps;
  std::map<std::string, int64_t> clustersMoved;
  bool folderMoved = false;
  for (const TJournalLine& line : journal) {
    if (line.path == "\\packed\\big.bin") {
      EXPECT_EQ(line.result.rfind("not moved: ", 0), 0u) << line.result;
      continue;
    }
    EXPECT_EQ(line.result, "moved") << line.path;
    firstSteps.emplace(line.path, line);
    clustersMoved[line.path] += line.clusters;
    folderMoved = folderMoved || line.stream == "$I30";
  }
  EXPECT_TRUE(folderMoved) << "the index of /index was not moved";
  for (const auto& [path, first] : firstSteps) {
    const std::vector<TStreamRun> runs = RunsNow(image_, "D:" + path, first.stream == "$I30");
    ASSERT_EQ(runs.size(), 1u) << path;
    EXPECT_EQ(runs[0].lcn, first.to) << path;
    EXPECT_EQ(runs[0].length, clustersMoved[path]) << path;
  }
  // A file under two names moved once; every fragmented file of the
  // volume but those left is whole.
  EXPECT_EQ(firstSteps.count("\\other\\second name.bin"), 0u);
  EXPECT_EQ(firstSteps.count("\\docs\\linked.bin"), 1u);
  for (int i = 1; i <= 9; ++i) {
    EXPECT_EQ(firstSteps.count("\\docs\\f" + std::to_string(i) + ".bin"), 1u) << i;
  }
  EXPECT_EQ(firstSteps.count("\\docs\\streams.bin"), 1u);

  // A second run finds nothing left to make whole but what it names again.
  const TCommandResult again =
      RunCommand(ProgramCommand(scratch_.Path(), "--defragment '" + image_ + "' 2>&1"));
  EXPECT_NE(again.output.find("  Made whole:         0 files, 0 clusters moved in 0 steps\n"),
            std::string::npos)
      << again.output;
  ExpectIntact(0, "after the second run");
}

TEST_F(NtfsDefragment, KilledAtRandomMomentsEveryByteStaysAndASecondRunFinishes) {
  // How long a whole run takes here, so the kills fall inside runs.
  TScratchFolder timing;
  const std::string timed = timing / "timed.img";
  std::filesystem::copy_file(image_, timed);
  const auto started = std::chrono::steady_clock::now();
  RunCommand(ProgramCommand(timing.Path(), "--defragment '" + timed + "' >/dev/null 2>&1"));
  const int64_t runMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count();
  std::mt19937_64 random(2026);
  bool reported = false;  // an analysis has reported clusters a kill left
  for (int kill = 0; kill < 20; ++kill) {
    // Anywhere in a run, but mostly past its start-up and analysis, where
    // the moves are.
    const int64_t from = runMicroseconds / 4;
    RunAndKillAfter(
        ProgramCommand(scratch_.Path(), "--defragment '" + image_ + "' >/dev/null 2>&1"),
        from + static_cast<int64_t>(random() % (runMicroseconds - from + 1)));
    // Clusters marked used by a step that never got to point its file at
    // them: at most one step's worth. The first time some are left, an
    // analysis reports as many as the checker finds.
    const int64_t unheld = ExpectIntact(16384, "after kill " + std::to_string(kill + 1));
    if (HasFailure()) return;
    if (unheld > 0 && !reported) {
      reported = true;
      const TCommandResult analysis =
          RunCommand(ProgramCommand(scratch_.Path(), "'" + image_ + "' 2>&1"));
      EXPECT_NE(analysis.output.find("  Held by no file:    " + std::to_string(unheld) +
                                     " clusters marked in use"),
                std::string::npos)
          << analysis.output;
    }
  }
  const TCommandResult last =
      RunCommand(ProgramCommand(scratch_.Path(), "--defragment '" + image_ + "' 2>&1"));
  EXPECT_EQ(WEXITSTATUS(last.status), 0) << last.output;
  for (int i = 1; i <= 9; ++i) {
    const std::string path = "D:\\docs\\f" + std::to_string(i) + ".bin";
    EXPECT_EQ(RunsNow(image_, path, false).size(), 1u) << path;
  }
  ExpectIntact(16384, "after the last run");
}

// The engine on its own, stopped between steps: what it did stands, the
// rest waits, and nothing is left marked used that no file holds.
TEST_F(NtfsDefragment, AStopBetweenStepsLeavesEveryByteAndNothingMarkedUsedInVain) {
  for (int stopAfter : {1, 4, 9}) {
    std::filesystem::remove(image_);
    std::filesystem::copy_file(BuiltImage(), image_);
    TDriveTable drives;
    drives.Map('C', scratch_.Path());
    drives.Map('D', image_);
    TLinuxServices services(drives);
    TFakeWindowSystem windows;
    TDriveOptimizer drive('D', services, windows, kDriveStages);
    drive.RunPipeline();
    ASSERT_EQ(drive.FailureReason(), "");
    TMoveLayout layout =
        LayoutFromTree('D', drive.root, drive.freeExtents, drive.totalClusters, 4096);
    TMoveJournal journal(services, "C:\\DirList_Applied.log");
    ASSERT_TRUE(journal.IsOpen()) << journal.FailureText();
    int filesBegun = 0;
    TMovesDone done =
        CarryOutDefragment(services, layout, &journal, drive.moves, [&](const std::string&) {
          if (++filesBegun == stopAfter) drive.moves.Stop();
        });
    EXPECT_EQ(journal.Close(), "");
    EXPECT_TRUE(done.stopped) << stopAfter;
    EXPECT_EQ(done.failure, "") << stopAfter;
    // The file under way when the stop came finishes the step it is in;
    // the compressed file, the largest, is refused first.
    EXPECT_EQ(done.filesMoved, stopAfter - 1) << stopAfter;
    int64_t moved = 0;
    for (const TJournalLine& line : ReadJournal(scratch_ / "DirList_Applied.log")) {
      moved += line.result == "moved" ? 1 : 0;
    }
    EXPECT_EQ(moved, done.stepsDone) << stopAfter;
    EXPECT_EQ(done.stepsDone, stopAfter - 1) << stopAfter;
    // The files not reached are named as such.
    EXPECT_EQ(done.left.back().reason, "the moves were stopped before it") << stopAfter;
    ExpectIntact(0, "stopped after " + std::to_string(stopAfter) + " files");
  }
}

// A volume the analysis finds damaged is never written.
TEST_F(NtfsDefragment, ADamagedVolumeIsRefusedAndItsBytesStay) {
  // f3's first run made to point at f2's clusters: two files claim them.
  const std::vector<TStreamRun> f2 = RunsNow(image_, "D:\\docs\\f2.bin", false);
  ASSERT_FALSE(f2.empty());
  ASSERT_TRUE(PointDataAt(image_, "/docs/f3.bin", f2[0].lcn).ok);
  const std::string damaged = ReadFile(image_);
  const TCommandResult run =
      RunCommand(ProgramCommand(scratch_.Path(), "--defragment '" + image_ + "' 2>&1"));
  EXPECT_EQ(WEXITSTATUS(run.status), 3) << run.output;
  EXPECT_NE(run.output.find("nothing was moved: the volume contradicts itself in "),
            std::string::npos)
      << run.output;
  EXPECT_EQ(ReadFile(image_), damaged);
}

}  // namespace
