// The scripted volume's moves, which the move engine's tests rely on to
// refuse what the file system refuses: each case would let an engine that
// asks for the wrong thing pass unseen if the volume carried it out.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/nt_types.h"
#include "tests/support/scripted_runs.h"
#include "tests/support/scripted_volume.h"

namespace {

using TExtents = std::vector<std::pair<int64_t, int64_t>>;  // next vcn, lcn

TExtents Extents(const std::vector<TScriptedRun>& runs) {
  TExtents extents;
  for (const TScriptedRun& run : runs) extents.emplace_back(run.nextVcn, run.lcn);
  return extents;
}

TEST(ScriptedRuns, AMovedRangeIsSplitOutAndMergedWithWhatItContinues) {
  const struct {
    const char* name;
    std::vector<TScriptedRun> runs;
    int64_t vcn, count, lcn;
    TExtents moved;
  } cases[] = {
      {"second run behind the first", {{2, 10}, {4, 20}}, 2, 2, 12, {{4, 10}}},
      {"first run before the second", {{2, 10}, {4, 20}}, 0, 2, 18, {{4, 18}}},
      {"middle of a run", {{6, 10}}, 2, 2, 30, {{2, 10}, {4, 30}, {6, 14}}},
      {"across two runs", {{2, 10}, {4, 20}}, 1, 2, 40, {{1, 10}, {3, 40}, {4, 21}}},
      {"whole file", {{2, 10}, {4, 20}, {5, 7}}, 0, 5, 50, {{5, 50}}},
      {"next to a hole", {{2, 10}, {4, -1}, {6, 20}}, 4, 2, 30, {{2, 10}, {4, -1}, {6, 30}}},
      {"holes stay one", {{2, -1}, {4, 20}, {6, -1}}, 2, 2, 9, {{2, -1}, {4, 9}, {6, -1}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RangeClusters(c.runs, c.vcn, c.count).size(), static_cast<size_t>(c.count)) << c.name;
    EXPECT_EQ(Extents(MovedRuns(c.runs, c.vcn, c.count, c.lcn)), c.moved) << c.name;
  }
}

TEST(ScriptedRuns, ARangeOutsideTheAllocatedClustersHoldsNone) {
  const std::vector<TScriptedRun> runs = {{2, 10}, {4, -1}, {6, 20}};
  EXPECT_EQ(RangeClusters(runs, 4, 2), (std::vector<int64_t>{20, 21}));
  EXPECT_TRUE(RangeClusters(runs, 5, 2).empty()) << "past the end";
  EXPECT_TRUE(RangeClusters(runs, 1, 2).empty()) << "into a hole";
  EXPECT_TRUE(RangeClusters(runs, -1, 2).empty()) << "before the start";
  EXPECT_TRUE(RangeClusters(runs, 0, 0).empty()) << "nothing";
}

// A volume of 64 clusters with a file in two pieces (vcn 0-1 at 10, vcn 2-3
// at 20) and a folder whose index lies at 30, open for moves.
class ScriptedMoves : public testing::Test {
 protected:
  void SetUp() override {
    volume.bitmap.assign(64, false);
    volume.AddFolder("D:\\docs").runs = {{1, 30}};
    volume.AddFile("D:\\docs\\a.txt", 4 * 4096, {{2, 10}, {4, 20}});
    volume.AddFile("D:\\b.txt", 4096, {{1, 40}});
    for (int64_t lcn : {10, 11, 20, 21, 30, 40}) volume.bitmap[lcn] = true;
    moves = volume.OpenVolumeForMoves('D');
    ASSERT_NE(moves, InvalidHandle());
    file = volume.OpenFileForMoves(moves, "D:\\docs\\a.txt", false);
    ASSERT_NE(file, InvalidHandle());
  }
  void TearDown() override {
    volume.Close(file);
    volume.Close(moves);
  }

  TNtStatus Move(THandle on, TMoveFileData data, uint32_t length = sizeof(TMoveFileData)) {
    TIoStatusBlock io = {};
    const TNtStatus status = volume.FsControl(on, &io, kFsctlMoveFile, &data, length, nullptr, 0);
    EXPECT_EQ(io.status, status);
    return status;
  }
  // The extents the retrieval request gives on handle.
  TExtents Retrieved(THandle handle) {
    TStartingVcnInput ask = {0};
    unsigned char reply[16 + 16 * 8];
    TIoStatusBlock io = {};
    if (volume.FsControl(handle, &io, kFsctlGetRetrievalPointers, &ask, sizeof ask, reply,
                         sizeof reply) != kStatusSuccess) {
      return {};
    }
    TRetrievalPointersHeader header;
    std::memcpy(&header, reply, sizeof header);
    TExtents extents;
    for (uint32_t i = 0; i < header.extentCount; ++i) {
      TRetrievalExtent extent;
      std::memcpy(&extent, reply + 16 + 16 * i, sizeof extent);
      extents.emplace_back(extent.nextVcn, extent.lcn);
    }
    return extents;
  }
  std::vector<int64_t> Used() const {
    std::vector<int64_t> used;
    for (size_t lcn = 0; lcn < volume.bitmap.size(); ++lcn) {
      if (volume.bitmap[lcn]) used.push_back(static_cast<int64_t>(lcn));
    }
    return used;
  }

  TScriptedVolume volume{'D'};
  THandle moves = InvalidHandle();
  THandle file = InvalidHandle();
};

TEST_F(ScriptedMoves, AMoveRewritesTheRunsMergedAndMovesTheClustersInTheBitmap) {
  EXPECT_EQ(Move(moves, {file, 2, 12, 2}), kStatusSuccess);
  EXPECT_EQ(Retrieved(file), (TExtents{{4, 10}})) << "one extent, as Windows merges them";
  EXPECT_EQ(Used(), (std::vector<int64_t>{10, 11, 12, 13, 30, 40}));
  EXPECT_EQ(volume.moveCalls, 1);

  // A folder's index moves through its own handle.
  THandle folder = volume.OpenFileForMoves(moves, "D:\\docs", true);
  ASSERT_NE(folder, InvalidHandle());
  EXPECT_EQ(Move(moves, {folder, 0, 50, 1}), kStatusSuccess);
  EXPECT_EQ(Retrieved(folder), (TExtents{{1, 50}}));
  EXPECT_EQ(Used(), (std::vector<int64_t>{10, 11, 12, 13, 40, 50}));
  volume.Close(folder);
  EXPECT_EQ(volume.moveCalls, 2);
}

TEST_F(ScriptedMoves, ARequestTheFileSystemWouldRefuseChangesNothing) {
  THandle reader = volume.OpenForRead("D:\\docs\\a.txt", false);
  THandle plainVolume = volume.OpenForRead("\\\\.\\D:", false);
  THandle closed = volume.OpenFileForMoves(moves, "D:\\b.txt", false);
  volume.Close(closed);
  const struct {
    const char* name;
    std::function<TNtStatus()> ask;
    TNtStatus status;
    const char* words;  // in LastErrorText
  } cases[] = {
      {"target in use",
       [&] {
         return Move(moves, {file, 2, 39, 2});
       },
       kStatusAlreadyCommitted, "the target clusters are in use"},
      {"target onto the file's own",
       [&] {
         return Move(moves, {file, 0, 20, 2});
       },
       kStatusAlreadyCommitted, "in use"},
      {"target past the volume's end",
       [&] {
         return Move(moves, {file, 2, 63, 2});
       },
       kStatusInvalidParameter, "refused the move"},
      {"range past the file's end",
       [&] {
         return Move(moves, {file, 3, 50, 2});
       },
       kStatusInvalidParameter, "refused the move"},
      {"no clusters",
       [&] {
         return Move(moves, {file, 0, 50, 0});
       },
       kStatusInvalidParameter, "refused the move"},
      {"short input",
       [&] {
         return Move(moves, {file, 2, 50, 2}, 24);
       },
       kStatusInvalidParameter, "refused the move"},
      {"file opened for reading",
       [&] {
         return Move(moves, {reader, 2, 50, 2});
       },
       kStatusInvalidHandle, "not open for moves"},
      {"file closed",
       [&] {
         return Move(moves, {closed, 0, 50, 1});
       },
       kStatusInvalidHandle, "not open for moves"},
      {"volume as the file",
       [&] {
         return Move(moves, {moves, 0, 50, 1});
       },
       kStatusInvalidHandle, "not open for moves"},
      {"volume opened for reading",
       [&] {
         return Move(plainVolume, {file, 2, 50, 2});
       },
       kStatusInvalidParameter, ""},
      {"asked on the file's handle",
       [&] {
         return Move(file, {file, 2, 50, 2});
       },
       kStatusInvalidParameter, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.ask(), c.status) << c.name;
    EXPECT_NE(volume.LastErrorText().find(c.words), std::string::npos)
        << c.name << ": " << volume.LastErrorText();
    EXPECT_EQ(Retrieved(file), (TExtents{{2, 10}, {4, 20}})) << c.name;
    EXPECT_EQ(Used(), (std::vector<int64_t>{10, 11, 20, 21, 30, 40})) << c.name;
  }
  EXPECT_EQ(volume.moveCalls, static_cast<int>(std::size(cases)));
  volume.Close(reader);
  volume.Close(plainVolume);
}

TEST_F(ScriptedMoves, OpensAreRefusedAsWindowsRefusesThemWithItsWords) {
  TScriptedVolume other{'D'};
  other.moveFaults.volumeOpenDenied = true;
  EXPECT_EQ(other.OpenVolumeForMoves('D'), InvalidHandle());
  EXPECT_NE(other.LastErrorText().find("Run diskopt as administrator"), std::string::npos)
      << other.LastErrorText();
  EXPECT_EQ(volume.OpenVolumeForMoves('E'), InvalidHandle());

  volume.Node("D:\\b.txt").lockedForMoves = true;
  THandle plainVolume = volume.OpenForRead("\\\\.\\D:", false);
  const struct {
    const char* name;
    THandle volume;
    const char* path;
    bool folder;
    const char* words;
  } cases[] = {
      {"locked", moves, "D:\\b.txt", false, "being used by another process"},
      {"missing", moves, "D:\\gone.txt", false, "cannot find the file"},
      {"folder asked as a file", moves, "D:\\docs", false, "Access is denied"},
      {"file asked as a folder", moves, "D:\\docs\\a.txt", true, "directory name is invalid"},
      {"volume opened for reading", plainVolume, "D:\\docs\\a.txt", false, "handle is invalid"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(volume.OpenFileForMoves(c.volume, c.path, c.folder), InvalidHandle()) << c.name;
    EXPECT_NE(volume.LastErrorText().find(c.words), std::string::npos)
        << c.name << ": " << volume.LastErrorText();
  }
  // Any other call of the thread makes the words its own again.
  volume.failureText = "other";
  volume.Close(volume.OpenForRead("D:\\b.txt", false));
  EXPECT_EQ(volume.LastErrorText(), "other");
  volume.Close(plainVolume);
}

TEST_F(ScriptedMoves, TheIdentityIsTheFilesWhateverHandleAsksAndANewFileGetsANewOne) {
  TFileIdentity moving = {}, reading = {}, folder = {}, replaced = {};
  ASSERT_TRUE(volume.FileIdentity(file, &moving));
  THandle reader = volume.OpenForRead("D:\\docs\\a.txt", false);
  ASSERT_TRUE(volume.FileIdentity(reader, &reading));
  volume.Close(reader);
  EXPECT_EQ(moving, reading);
  ASSERT_TRUE(volume.FolderIdentity("D:\\docs\\", &folder));
  EXPECT_NE(folder.file, moving.file);

  // The file deleted and another made under its name between two steps.
  volume.Remove("D:\\docs\\a.txt");
  EXPECT_FALSE(volume.FileIdentity(file, &replaced));
  volume.AddFile("D:\\docs\\a.txt", 4096, {{1, 50}});
  THandle again = volume.OpenFileForMoves(moves, "D:\\docs\\a.txt", false);
  ASSERT_TRUE(volume.FileIdentity(again, &replaced));
  EXPECT_FALSE(replaced == moving);
  volume.Close(again);
}

TEST_F(ScriptedMoves, EveryMoveIsRefusedWhereMovesAreNotSupported) {
  volume.moveFaults.notSupported = true;
  EXPECT_EQ(Move(moves, {file, 2, 12, 2}), kStatusNotSupported);
  EXPECT_NE(volume.LastErrorText().find("does not move clusters"), std::string::npos);
  EXPECT_EQ(Move(moves, {file, 0, 50, 2}), kStatusNotSupported);
  EXPECT_EQ(Retrieved(file), (TExtents{{2, 10}, {4, 20}}));
  EXPECT_EQ(volume.moveCalls, 2);
}

TEST_F(ScriptedMoves, TheNthMoveFailsAndTheOthersAreCarriedOut) {
  volume.moveFaults.failAtCall = 1;
  volume.moveFaults.failStatus = kStatusAccessDenied;
  EXPECT_EQ(Move(moves, {file, 2, 12, 1}), kStatusSuccess);
  EXPECT_EQ(Move(moves, {file, 3, 13, 1}), kStatusAccessDenied);
  EXPECT_NE(volume.LastErrorText().find("run diskopt as administrator"), std::string::npos);
  EXPECT_EQ(Move(moves, {file, 3, 13, 1}), kStatusSuccess);
  EXPECT_EQ(Retrieved(file), (TExtents{{4, 10}}));
}

TEST_F(ScriptedMoves, TheVolumeChangesBetweenStepsAtTheRequestAsked) {
  // Another program writes into the target just before the second move,
  // appends to the file before the third, and deletes it before the fourth.
  std::vector<int> calls;
  volume.moveFaults.beforeMove = [&](int call, const TMoveFileData& request) {
    calls.push_back(call);
    if (call == 1) volume.TakeClusters(request.startingLcn, 1);
    if (call == 2) volume.GrowFile("D:\\docs\\a.txt", 60, 2);
    if (call == 3) volume.Remove("D:\\docs\\a.txt");
  };
  EXPECT_EQ(Move(moves, {file, 2, 12, 2}), kStatusSuccess);
  EXPECT_EQ(Move(moves, {file, 0, 50, 4}), kStatusAlreadyCommitted);
  EXPECT_NE(volume.LastErrorText().find("the target clusters are in use"), std::string::npos);
  EXPECT_EQ(Move(moves, {file, 0, 51, 4}), kStatusSuccess);
  EXPECT_EQ(Retrieved(file), (TExtents{{4, 51}, {6, 60}})) << "the grown part stays";
  uint32_t low = 0, high = 0;
  EXPECT_TRUE(volume.FileSize(file, &low, &high));
  EXPECT_EQ(low, 6u * 4096u);
  EXPECT_EQ(Move(moves, {file, 4, 20, 2}), kStatusFileDeleted);
  EXPECT_NE(volume.LastErrorText().find("deleted"), std::string::npos);
  EXPECT_EQ(Retrieved(file), TExtents{});
  EXPECT_EQ(calls, (std::vector<int>{0, 1, 2, 3}));
}

}  // namespace
