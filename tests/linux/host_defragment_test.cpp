// Defragmenting folders of ext4, XFS and btrfs images made and loop-mounted
// here (root only; skipped with the reason where mounting or a mkfs is
// missing), the whole program with --defragment: files fragmented on purpose
// by interleaved, synced appends are fewer afterwards by filefrag's count,
// every file's bytes are the same, the journal has a line per file tried,
// files the rules keep are left with their reason, and each file system's
// own checker finds nothing once the image is unmounted. A file another
// process writes during the run ends as that process wrote it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/mounted_image.h"
#include "tests/linux/ntfs_move_test_support.h"
#include "tests/linux/ntfs_tool_output.h"

namespace {

// Bytes of each append, and how many rounds of appends each file gets.
constexpr size_t kAppendBytes = 65536;
constexpr int kRounds = 12;

// Files grown in turn, each append synced, so that each one's blocks lie
// between the others': `names` under folder, kRounds appends of random bytes
// each.
void WriteInterleaved(const std::string& folder, const std::vector<std::string>& names,
                      uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<int> files;
  for (const std::string& name : names)
    files.push_back(open((folder + "/" + name).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644));
  std::string chunk(kAppendBytes, '\0');
  for (int round = 0; round < kRounds; ++round) {
    for (int file : files) {
      for (char& byte : chunk) byte = static_cast<char>(random());
      ASSERT_EQ(write(file, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
      fsync(file);
    }
  }
  for (int file : files) close(file);
}

// Every regular file below folder (its path below it) with its bytes.
std::map<std::string, std::string> ContentsBelow(const std::string& folder) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    contents[entry.path().lexically_relative(folder).string()] = ReadFile(entry.path());
  }
  return contents;
}

// filefrag's extents of path ("name: N extents found"); -1 when it fails.
int64_t FilefragExtents(const std::string& path) {
  const TToolOutput output = RunTool({"filefrag", path});
  const size_t at = output.out.rfind(": ");
  if (output.exitCode != 0 || at == std::string::npos) return -1;
  return std::atoll(output.out.c_str() + at + 2);
}

// Files below folder in more than one extent by filefrag.
int64_t FragmentedByFilefrag(const std::string& folder) {
  int64_t fragmented = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && FilefragExtents(entry.path()) > 1) ++fragmented;
  }
  return fragmented;
}

// Lines of the journal the run left in folder.
std::vector<std::string> JournalLines(const std::string& folder) {
  std::vector<std::string> lines;
  const std::string text = ReadFile(folder + "/DirList_Applied.log");
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

using HostDefragment = TMountedImageTest;

TEST_P(HostDefragment, FragmentedFilesAreFewerWithTheirBytesAndTheFileSystemSound) {
  TMountedImage& volume = *volume_;
  const std::string root = volume.MountPoint();
  std::filesystem::create_directories(root + "/docs");
  ASSERT_NO_FATAL_FAILURE(
      WriteInterleaved(root + "/docs", {"a.bin", "b.bin", "c.bin", "d.bin", "kept.bin"}, 7));
  WriteFile(root + "/small.txt", "whole");
  // A reflinked copy shares its original's extent (XFS and btrfs; ext4 has
  // no reflinks): shared by design, not a cross-link that would stop the run.
  WriteFile(root + "/whole.bin", std::string(65536, 'w'));
  RunTool({"cp", "--reflink=always", root + "/whole.bin", root + "/whole-copy.bin"});
  // Never moved: an immutable file, however fragmented.
  ASSERT_EQ(RunTool({"chattr", "+i", root + "/docs/kept.bin"}).exitCode, 0);
  sync();
  const std::map<std::string, std::string> before = ContentsBelow(root);
  const int64_t fragmentedBefore = FragmentedByFilefrag(root);
  ASSERT_GE(fragmentedBefore, 4) << "the appends did not fragment the files";

  const TCommandResult run =
      RunCommand(ProgramCommand(volume.Logs(), "--defragment '" + root + "' 2>&1"));
  ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
  EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
  EXPECT_NE(run.output.find("defragmentation\n  Made whole:"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("\\docs\\kept.bin: it is marked immutable"), std::string::npos)
      << run.output;

  EXPECT_EQ(ContentsBelow(root), before);
  const int64_t fragmentedAfter = FragmentedByFilefrag(root);
  EXPECT_LT(fragmentedAfter, fragmentedBefore) << run.output;
  EXPECT_GT(FilefragExtents(root + "/docs/kept.bin"), 1);
  // One line per fragmented file tried, the immutable one among them.
  const std::vector<std::string> journal = JournalLines(volume.Logs());
  EXPECT_EQ(static_cast<int64_t>(journal.size()), fragmentedBefore) << run.output;
  int64_t moved = 0;
  for (const std::string& line : journal) {
    if (line.size() >= 6 && line.compare(line.size() - 6, 6, "\tmoved") == 0) ++moved;
  }
  EXPECT_EQ(moved, fragmentedBefore - fragmentedAfter);

  ASSERT_EQ(RunTool({"chattr", "-i", root + "/docs/kept.bin"}).exitCode, 0);
  const TToolOutput check = volume.Check();
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
}

TEST_P(HostDefragment, AFileWrittenDuringTheRunEndsAsItsWriterLeftIt) {
  TMountedImage& volume = *volume_;
  const std::string root = volume.MountPoint();
  const std::vector<std::string> names = {"w.bin", "x.bin", "y.bin", "z.bin"};
  ASSERT_NO_FATAL_FAILURE(WriteInterleaved(root, names, 11));
  // The writer rewrites one block after another of w.bin with the round's
  // byte, keeping what it wrote beside it, until the run has ended.
  std::string written = ReadFile(root + "/w.bin");
  std::atomic<bool> done{false};
  std::thread writer([&] {
    const int file = open((root + "/w.bin").c_str(), O_WRONLY);
    const size_t blocks = written.size() / 4096;
    for (size_t round = 0; !done.load(); ++round) {
      const size_t block = (round * 7) % blocks;
      const std::string bytes(4096, static_cast<char>('A' + round % 26));
      if (pwrite(file, bytes.data(), bytes.size(), static_cast<off_t>(block * 4096)) == 4096)
        written.replace(block * 4096, 4096, bytes);
      usleep(200);
    }
    close(file);
  });
  const std::map<std::string, std::string> before = ContentsBelow(root);
  const TCommandResult run =
      RunCommand(ProgramCommand(volume.Logs(), "--defragment '" + root + "' 2>&1"));
  done = true;
  writer.join();
  ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
  EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
  EXPECT_EQ(ReadFile(root + "/w.bin"), written);
  for (size_t i = 1; i < names.size(); ++i)
    EXPECT_EQ(ReadFile(root + "/" + names[i]), before.at(names[i])) << names[i];
  const TToolOutput check = volume.Check();
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
}

TEST_P(HostDefragment, KilledAtRandomMomentsEveryFileKeepsItsBytesAndALaterRunFinishes) {
  TMountedImage& volume = *volume_;
  const std::string root = volume.MountPoint();
  // Files fragmented afresh under a folder of their own each time the runs
  // before have left none, so that every kill can fall among swaps.
  int batch = 0;
  const auto fragmentAgain = [&] {
    const std::string folder = root + "/batch" + std::to_string(batch);
    std::filesystem::create_directories(folder);
    WriteInterleaved(folder, {"a.bin", "b.bin", "c.bin", "d.bin"}, 100 + batch);
    ++batch;
    sync();
  };
  ASSERT_NO_FATAL_FAILURE(fragmentAgain());
  // How long a whole run takes here, so that the kills fall inside runs.
  const auto started = std::chrono::steady_clock::now();
  const TCommandResult timed =
      RunCommand(ProgramCommand(volume.Logs(), "--defragment '" + root + "' 2>&1"));
  const int64_t runMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count();
  ASSERT_EQ(WEXITSTATUS(timed.status), 0) << timed.output;
  std::mt19937_64 random(2026);
  for (int kill = 0; kill < 20; ++kill) {
    if (FragmentedByFilefrag(root) == 0) {
      ASSERT_NO_FATAL_FAILURE(fragmentAgain());
    }
    const std::map<std::string, std::string> before = ContentsBelow(root);
    RunAndKillAfter(ProgramCommand(volume.Logs(), "--defragment '" + root + "' >/dev/null 2>&1"),
                    static_cast<int64_t>(random() % static_cast<uint64_t>(runMicroseconds + 1)));
    ASSERT_EQ(ContentsBelow(root), before) << "after kill " << kill + 1;
  }
  const int64_t fragmentedBefore = FragmentedByFilefrag(root);
  const std::map<std::string, std::string> before = ContentsBelow(root);
  const TCommandResult last =
      RunCommand(ProgramCommand(volume.Logs(), "--defragment '" + root + "' 2>&1"));
  EXPECT_EQ(WEXITSTATUS(last.status), 0) << last.output;
  EXPECT_EQ(ContentsBelow(root), before);
  if (fragmentedBefore > 0) {
    EXPECT_LT(FragmentedByFilefrag(root), fragmentedBefore);
  }
  const TToolOutput check = volume.Check();
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
}

INSTANTIATE_TEST_SUITE_P(FileSystems, HostDefragment, ::testing::Values(&kExt4, &kXfs, &kBtrfs),
                         KindName);

using HostWholeFile = TMountedImageTest;

TEST_P(HostWholeFile, TheServicesRewriteAFileInFewerPiecesAndKeepWhatTheRulesKeep) {
  TMountedImage& volume = *volume_;
  const std::string root = volume.MountPoint();
  ASSERT_NO_FATAL_FAILURE(
      WriteInterleaved(root, {"a.bin", "shared.bin", "locked.bin", "tail.bin"}, 5));
  ASSERT_EQ(RunTool({"chattr", "+a", root + "/locked.bin"}).exitCode, 0);
  // A reflinked copy shares every extent of shared.bin (ext4 has no reflinks).
  const bool reflinked =
      RunTool({"cp", "--reflink=always", root + "/shared.bin", root + "/copy.bin"}).exitCode == 0;
  sync();
  const std::map<std::string, std::string> before = ContentsBelow(root);
  ASSERT_GT(FilefragExtents(root + "/a.bin"), 1);

  // The services keep the folder open while they live: gone before the
  // image is unmounted.
  {
    TScratchFolder logs;
    TDriveTable drives;
    drives.Map('C', logs.Path());
    drives.Map('E', root);
    TLinuxServices services(drives);
    TWholeFileFolder folder;
    const THandle handle = services.OpenFolderForWholeFiles('E', TWholeFileOptions(), &folder);
    ASSERT_NE(handle, InvalidHandle()) << services.LastErrorText();
    EXPECT_FALSE(folder.ownFilesOnly);
    const TWholeFileResult a = services.MakeFileWhole(handle, "E:\\a.bin");
    EXPECT_EQ(a.outcome, TWholeFileOutcome::kFewerPieces) << services.LastErrorText();
    EXPECT_LT(a.piecesAfter, a.piecesBefore);
    EXPECT_EQ(FilefragExtents(root + "/a.bin"), a.piecesAfter);
    EXPECT_EQ(services.MakeFileWhole(handle, "E:\\locked.bin").reason,
              TWholeFileReason::kAppendOnly);
    if (reflinked) {
      EXPECT_EQ(services.MakeFileWhole(handle, "E:\\shared.bin").reason,
                TWholeFileReason::kSharedExtents);
    }
    services.Close(handle);
    if (reflinked) {
      TWholeFileOptions shared;
      shared.includeShared = true;
      const THandle again = services.OpenFolderForWholeFiles('E', shared, &folder);
      ASSERT_NE(again, InvalidHandle()) << services.LastErrorText();
      EXPECT_EQ(services.MakeFileWhole(again, "E:\\shared.bin").outcome,
                TWholeFileOutcome::kFewerPieces)
          << services.LastErrorText();
      services.Close(again);
    }
  }
  EXPECT_EQ(ContentsBelow(root), before);
  ASSERT_EQ(RunTool({"chattr", "-a", root + "/locked.bin"}).exitCode, 0);
  const TToolOutput check = volume.Check();
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
}

INSTANTIATE_TEST_SUITE_P(FileSystems, HostWholeFile, ::testing::Values(&kExt4, &kXfs, &kBtrfs),
                         KindName);

TEST(HostDefragmentRefusal, AFolderOfAnotherFileSystemIsRefusedWithItsName) {
  // /dev/shm is tmpfs on every Linux system with POSIX shared memory.
  struct statfs figures;
  if (statfs("/dev/shm", &figures) != 0 || figures.f_type != 0x01021994)
    GTEST_SKIP() << "/dev/shm is not tmpfs here";
  TScratchFolder logs;
  const std::string folder = "/dev/shm/diskopt-host-defragment-" + std::to_string(getpid());
  std::filesystem::create_directories(folder);
  TDriveTable drives;
  drives.Map('C', logs.Path());
  drives.Map('E', folder);
  TLinuxServices services(drives);
  TWholeFileFolder opened;
  const THandle handle = services.OpenFolderForWholeFiles('E', TWholeFileOptions(), &opened);
  const std::string why = services.LastErrorText();
  std::filesystem::remove_all(folder);
  EXPECT_EQ(handle, InvalidHandle());
  EXPECT_EQ(why, folder + " is on tmpfs: files are made whole on ext4, XFS and btrfs only");
  // Nor is a letter that names nothing.
  EXPECT_EQ(services.OpenFolderForWholeFiles('Q', TWholeFileOptions(), &opened), InvalidHandle());
}

}  // namespace
