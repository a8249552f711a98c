// The Windows system services against the real platform (wine64 here): each
// test makes what it touches in a fresh folder under the temporary path.
#include "platform/win32/win32_services.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/win32_error_text.h"

namespace {

// A folder of its own under GetTempPathA, removed with what the test made in
// it (files and empty folders, one level deep).
class TScratchFolder {
 public:
  TScratchFolder() {
    static int folders = 0;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    path = std::string(temp) + "diskopt-services-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++folders) + "\\";
    CreateDirectoryA(path.c_str(), nullptr);
  }
  ~TScratchFolder() {
    for (const std::string& name : made) {
      const std::string full = path + name;
      if (!DeleteFileA(full.c_str())) RemoveDirectoryA(full.c_str());
    }
    RemoveDirectoryA(path.c_str());
  }
  std::string MakeFile(const std::string& name, const std::string& bytes) {
    made.push_back(name);
    const std::string full = path + name;
    FILE* file = std::fopen(full.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return full;
  }
  std::string MakeFolder(const std::string& name) {
    made.push_back(name);
    const std::string full = path + name;
    CreateDirectoryA(full.c_str(), nullptr);
    return full;
  }

  std::string path;  // ends with "\"

 private:
  std::vector<std::string> made;
};

std::string ReadWhole(const std::string& name) {
  std::string bytes;
  FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) return bytes;
  for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<char>(c));
  std::fclose(file);
  return bytes;
}

TEST(Win32Services, FindFirstAndNextListEveryEntryWithItsAttributes) {
  TScratchFolder folder;
  folder.MakeFile("alpha.txt", "a");
  folder.MakeFolder("sub");
  const std::string longName = std::string(180, 'n') + ".dat";
  folder.MakeFile(longName, "");

  TWin32Services services;
  const std::string pattern = folder.path + "*.*";
  std::map<std::string, uint32_t> found;
  TFindData entry;
  THandle find = services.FindFirst(pattern.c_str(), &entry);
  ASSERT_NE(find, InvalidHandle());
  do {
    found[entry.name] = entry.attributes;
  } while (services.FindNext(find, &entry));
  services.FindEnd(find);

  ASSERT_EQ(found.size(), 5u);
  EXPECT_NE(found["."] & kAttributeDirectory, 0u);
  EXPECT_NE(found[".."] & kAttributeDirectory, 0u);
  EXPECT_NE(found["sub"] & kAttributeDirectory, 0u);
  EXPECT_EQ(found["alpha.txt"] & kAttributeDirectory, 0u);
  EXPECT_EQ(found.count(longName), 1u) << "a long name comes whole";
}

TEST(Win32Services, FindFirstOfAMissingFolderGivesInvalidHandle) {
  TScratchFolder folder;
  TWin32Services services;
  TFindData entry;
  const std::string pattern = folder.path + "missing\\*.*";
  EXPECT_EQ(services.FindFirst(pattern.c_str(), &entry), InvalidHandle());
}

TEST(Win32Services, OpenForReadReadsAFileAndSharesItForWriting) {
  TScratchFolder folder;
  const std::string name = folder.MakeFile("data.bin", std::string(1234, 'x'));
  TWin32Services services;

  THandle file = services.OpenForRead(name.c_str(), false);
  ASSERT_NE(file, InvalidHandle());
  uint32_t low = 0, high = 7;
  EXPECT_TRUE(services.FileSize(file, &low, &high));
  EXPECT_EQ(low, 1234u);
  EXPECT_EQ(high, 0u);

  char byte = 0;
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(file, &byte, 1, &read, nullptr));
  EXPECT_EQ(byte, 'x');

  // Other programs may go on writing a file while the scan reads it.
  HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  services.Close(file);
}

TEST(Win32Services, OpenForReadOpensAFolderOnlyWithBackupSemantics) {
  TScratchFolder folder;
  const std::string name = folder.MakeFolder("sub");
  TWin32Services services;

  EXPECT_EQ(services.OpenForRead(name.c_str(), false), InvalidHandle());
  THandle handle = services.OpenForRead(name.c_str(), true);
  ASSERT_NE(handle, InvalidHandle());
  services.Close(handle);
}

TEST(Win32Services, FileSizeWithAllOnesLowPartIsNoFailure) {
  TScratchFolder folder;
  const std::string name = folder.MakeFile("ones.bin", "");
  // A sparse file of 4 GiB - 1 bytes: its low part reads like a failure.
  HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  LARGE_INTEGER end;
  end.QuadPart = 0xFFFFFFFFll;
  const bool sized = SetFilePointerEx(writer, end, nullptr, FILE_BEGIN) && SetEndOfFile(writer);
  CloseHandle(writer);
  if (!sized) GTEST_SKIP() << "the temporary folder takes no 4 GiB file";

  TWin32Services services;
  THandle file = services.OpenForRead(name.c_str(), false);
  ASSERT_NE(file, InvalidHandle());
  SetLastError(ERROR_ACCESS_DENIED);  // left over from an earlier failed call
  uint32_t low = 0, high = 7;
  EXPECT_TRUE(services.FileSize(file, &low, &high));
  EXPECT_EQ(low, 0xFFFFFFFFu);
  EXPECT_EQ(high, 0u);
  services.Close(file);
}

TEST(Win32Services, FileSizeOfNoHandleFails) {
  TWin32Services services;
  uint32_t low = 0, high = 0;
  EXPECT_FALSE(services.FileSize(nullptr, &low, &high));
}

TEST(Win32Services, OpenLogWritesBytesUnchangedAndStartsFromScratch) {
  TScratchFolder folder;
  const std::string name = folder.MakeFile("run.log", "an older and longer log of the last run");
  TWin32Services services;

  std::unique_ptr<TReplacementFile> log = services.OpenLog(name.c_str());
  ASSERT_NE(log, nullptr);
  std::fputs("one\r\ntwo\n", log->Stream());
  std::fflush(log->Stream());
  // Until committed the earlier log stands whole.
  EXPECT_EQ(ReadWhole(name), "an older and longer log of the last run");
  EXPECT_TRUE(log->Commit());
  EXPECT_EQ(ReadWhole(name), "one\r\ntwo\n");
}

TEST(Win32Services, OpenLogGivenUpLeavesTheEarlierLogAndNoNewFile) {
  TScratchFolder folder;
  const std::string name = folder.MakeFile("run.log", "the last run");
  TWin32Services services;
  std::unique_ptr<TReplacementFile> log = services.OpenLog(name.c_str());
  ASSERT_NE(log, nullptr);
  std::fputs("half a li", log->Stream());
  EXPECT_FALSE(log->Commit(EIO));
  EXPECT_EQ(log->FailureText(), std::strerror(EIO));
  log = services.OpenLog(name.c_str());
  ASSERT_NE(log, nullptr);
  log.reset();
  EXPECT_EQ(ReadWhole(name), "the last run");
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA((folder.path + "*.new").c_str(), &found);
  EXPECT_EQ(find, INVALID_HANDLE_VALUE);
  if (find != INVALID_HANDLE_VALUE) FindClose(find);
}

TEST(Win32Services, OpenLogInAMissingFolderGivesNone) {
  TScratchFolder folder;
  TWin32Services services;
  const std::string name = folder.path + "missing\\run.log";
  EXPECT_EQ(services.OpenLog(name.c_str()), nullptr);
}

TEST(Win32Services, AnExportIsPutOverTheOldFileOnlyWhenWhole) {
  TScratchFolder folder;
  const std::string final = folder.MakeFile("drive-D.json", "old");
  TWin32Services services;
  std::unique_ptr<TReplacementFile> file = services.OpenLog(final.c_str());
  ASSERT_NE(file, nullptr);
  std::fputs("new\n", file->Stream());
  EXPECT_EQ(ReadWhole(final), "old");  // nothing in place before the commit
  ASSERT_TRUE(file->Commit());
  EXPECT_EQ(ReadWhole(final), "new\n");  // binary: no CR added
}

TEST(Win32Services, AsciiTextIsUtf8Already) {
  TWin32Services services;
  EXPECT_EQ(services.TextToUtf8("\\docs\\report 100%.txt"), "\\docs\\report 100%.txt");
  EXPECT_EQ(services.TextToUtf8(""), "");
}

// One started thread: its index, and whether it ran to its end.
struct TThreadRecord {
  int index;
  std::atomic<bool> finished{false};
};

unsigned RunRecordedThread(void* parameter) {
  auto* record = static_cast<TThreadRecord*>(parameter);
  // The threads past the first 64 take longest: a wait that covered only one
  // group of 64 would return before they end.
  Sleep(record->index >= MAXIMUM_WAIT_OBJECTS ? 300 : 10);
  record->finished = true;
  return 0;
}

TEST(Win32Services, WaitForThreadsWaitsForMoreThan64Threads) {
  constexpr int kThreads = 70;
  TWin32Services services;
  std::vector<TThreadRecord> records(kThreads);
  std::vector<THandle> threads;
  for (int i = 0; i < kThreads; ++i) {
    records[i].index = i;
    THandle thread = services.StartThread(RunRecordedThread, &records[i]);
    ASSERT_NE(thread, InvalidHandle());
    threads.push_back(thread);
  }
  services.WaitForThreads(threads.data(), kThreads);
  for (const TThreadRecord& record : records) EXPECT_TRUE(record.finished) << record.index;
  for (THandle thread : threads) services.Close(thread);
}

TEST(Win32Services, NtFsControlFileIsFoundAndAnswersThroughTheStatusBlock) {
  TScratchFolder folder;
  const std::string name = folder.MakeFile("runs.bin", std::string(5000, 'r'));
  TWin32Services services;
  ASSERT_TRUE(services.ResolveFsControl());
  THandle file = services.OpenForRead(name.c_str(), false);
  ASSERT_NE(file, InvalidHandle());

  TStartingVcnInput input = {0};
  alignas(8) unsigned char reply[256] = {};
  TIoStatusBlock io;
  io.status = kStatusPending;
  io.information = 12345;
  TNtStatus status = services.FsControl(file, &io, kFsctlGetRetrievalPointers, &input, sizeof input,
                                        reply, sizeof reply);
  // A small file may be resident (no runs) or have one; either way the
  // result comes back in both places, with the reply's length on success.
  EXPECT_TRUE(status == kStatusSuccess || status == kStatusEndOfFile) << std::hex << status;
  EXPECT_EQ(io.status, status);
  if (status == kStatusSuccess) {
    TRetrievalPointersHeader header;
    std::memcpy(&header, reply, sizeof header);
    EXPECT_EQ(io.information, sizeof header + header.extentCount * sizeof(TRetrievalExtent));
  }

  // A reply buffer that cannot even hold the header is refused.
  constexpr TNtStatus kStatusBufferTooSmall = static_cast<TNtStatus>(0xC0000023u);
  status =
      services.FsControl(file, &io, kFsctlGetRetrievalPointers, &input, sizeof input, reply, 8);
  EXPECT_EQ(status, kStatusBufferTooSmall);
  EXPECT_EQ(io.status, kStatusBufferTooSmall);
  services.Close(file);
}

TEST(Win32Services, DiskFreeSpaceGivesTheGeometryOfDriveC) {
  TWin32Services services;
  TDiskGeometry geometry = {};
  ASSERT_TRUE(services.DiskFreeSpace("C:\\", &geometry));
  EXPECT_GT(geometry.sectorsPerCluster, 0u);
  EXPECT_GT(geometry.bytesPerSector, 0u);
  EXPECT_GT(geometry.totalClusters, 0u);
  EXPECT_LE(geometry.freeClusters, geometry.totalClusters);
  EXPECT_TRUE(services.DiskFreeSpaceEx("C:\\"));
}

// A move only reads the file's attributes, so a file another program holds
// open and shares with nobody still opens for moves, and the open shares
// everything, so that program goes on writing and may delete the file.
TEST(Win32Services, AFileOpensForMovesWhileAnotherProgramHoldsItUnshared) {
  TScratchFolder folder;
  const std::string name = folder.MakeFile("busy.bin", std::string(5000, 'b'));
  const std::string sub = folder.MakeFolder("sub");
  TWin32Services services;
  HANDLE holder = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);

  THandle file = services.OpenFileForMoves(InvalidHandle(), name.c_str(), false);
  ASSERT_NE(file, InvalidHandle()) << services.LastErrorText();
  CloseHandle(holder);
  HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "the open for moves shares writing";
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);

  // The identity the analysis saw, whichever open asks.
  TFileIdentity moving = {}, reading = {};
  EXPECT_TRUE(services.FileIdentity(file, &moving));
  THandle reader = services.OpenForRead(name.c_str(), false);
  ASSERT_NE(reader, InvalidHandle());
  EXPECT_TRUE(services.FileIdentity(reader, &reading));
  EXPECT_EQ(moving, reading);
  services.Close(reader);
  services.Close(file);

  THandle index = services.OpenFileForMoves(InvalidHandle(), sub.c_str(), true);
  ASSERT_NE(index, InvalidHandle()) << services.LastErrorText();
  TFileIdentity fromHandle = {}, fromPath = {};
  EXPECT_TRUE(services.FileIdentity(index, &fromHandle));
  EXPECT_TRUE(services.FolderIdentity(sub.c_str(), &fromPath));
  EXPECT_EQ(fromHandle, fromPath);
  services.Close(index);

  EXPECT_EQ(services.OpenFileForMoves(InvalidHandle(), (sub + "\\missing").c_str(), false),
            InvalidHandle());
  EXPECT_EQ(services.LastErrorText(), Win32ErrorText(ERROR_FILE_NOT_FOUND));
}

// What this Windows answers to a real move request on drive C: whatever it
// is, the services report it with a reason. Wine opens the volume for moves
// and answers the request with STATUS_NOT_SUPPORTED; on Windows without
// administrator rights the volume does not open and the reason tells the
// cure.
TEST(Win32Services, AMoveOnDriveCIsAnsweredWithAReason) {
  TScratchFolder folder;
  const std::string name = folder.MakeFile("move.bin", std::string(64 * 1024, 'm'));
  TWin32Services services;
  ASSERT_TRUE(services.ResolveFsControl());
  THandle volume = services.OpenVolumeForMoves('C');
  if (volume == InvalidHandle()) {
    const std::string text = services.LastErrorText();
    RecordProperty("volumeOpen", text);
    EXPECT_NE(text.find("administrator"), std::string::npos) << text;
    return;
  }
  THandle file = services.OpenFileForMoves(volume, name.c_str(), false);
  ASSERT_NE(file, InvalidHandle()) << services.LastErrorText();
  // The file's first cluster asked onto the volume's first, which its boot
  // sector always holds: even a file system that moves refuses it.
  TMoveFileData move = {file, 0, 0, 1};
  TIoStatusBlock io = {};
  const TNtStatus status =
      services.FsControl(volume, &io, kFsctlMoveFile, &move, sizeof move, nullptr, 0);
  const std::string text = services.LastErrorText();
  std::printf("FSCTL_MOVE_FILE on C: answered status 0x%08X: %s\n", static_cast<unsigned>(status),
              text.c_str());
  RecordProperty("moveStatus", std::to_string(static_cast<unsigned>(status)));
  // The returned status tells: Wine leaves the status block of a refused
  // request unwritten.
  EXPECT_LT(status, 0);
  EXPECT_FALSE(text.empty());
  if (status == kStatusNotSupported) {
    EXPECT_NE(text.find("does not move clusters"), std::string::npos) << text;
  }
  // The next failure of another call is told in its own words, never taken
  // for the refused move.
  EXPECT_EQ(services.OpenForRead((folder.path + "missing.bin").c_str(), false), InvalidHandle());
  EXPECT_EQ(services.LastErrorText(), Win32ErrorText(ERROR_FILE_NOT_FOUND));
  services.Close(file);
  services.Close(volume);
}

}  // namespace
