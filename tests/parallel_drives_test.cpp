// Two drives analysed at once share the record pools and the fixed log
// names; run under ThreadSanitizer too (the test name selects it there).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"

namespace {

// A drive of many small files and a bitmap with many free runs, so both
// drives are busy in the pools and in the logs at the same time.
void Fill(TScriptedVolume& volume, const std::string& root, int64_t offset) {
  volume.bitmap.assign(400000, true);
  for (size_t c = 0; c < volume.bitmap.size(); c += 3) volume.bitmap[c] = false;
  for (int folder = 0; folder < 20; ++folder) {
    const std::string folderPath = root + "f" + std::to_string(folder);
    volume.AddFolder(folderPath);
    for (int file = 0; file < 50; ++file) {
      volume.AddFile(folderPath + "\\x" + std::to_string(file) + ".txt", 100,
                     {{1, offset + folder * 100 + file}, {3, offset + 90000 + file}});
    }
  }
}

std::string FreeLog(const TDriveOptimizer& drive) {
  std::string text;
  for (const TFragment* f = drive.freeExtents; f != nullptr; f = f->next) {
    text += std::to_string(f->lcn) + "\t" + std::to_string(f->lcn + f->length) + "\t" +
            std::to_string(f->length) + "\r\n";
  }
  return text;
}

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(ParallelDrives, TwoPipelinesShareThePoolsAndNeverMixLogLines) {
  THostFolder logs;
  TScriptedVolume volumeD('D');
  TScriptedVolume volumeE('E');
  Fill(volumeD, "D:\\", 1000);
  Fill(volumeE, "E:\\", 5000);
  volumeE.bitmap[1] = false;  // the two free-space logs differ
  volumeE.bitmap[2] = false;
  volumeD.logDirectory = volumeE.logDirectory = logs.Path();
  TFakeWindowSystem windows;
  TDriveOptimizer driveD('D', volumeD, windows, kDriveStages);
  TDriveOptimizer driveE('E', volumeE, windows, kDriveStages);

  // The window's refresh, reading both drives' texts while they change.
  std::atomic<bool> done{false};
  std::thread refresh([&] {
    while (!done) {
      for (TDriveOptimizer* drive : {&driveD, &driveE}) {
        const std::string status = drive->statusText.Get();
        const std::string detail = drive->detailText.Get();
        EXPECT_EQ(status.find('\0'), std::string::npos);
        EXPECT_EQ(detail.find('\0'), std::string::npos);
      }
    }
  });
  std::thread workerD([&] { driveD.RunPipeline(); });
  std::thread workerE([&] { driveE.RunPipeline(); });
  workerD.join();
  workerE.join();
  done = true;
  refresh.join();

  ASSERT_NE(driveD.root, nullptr);
  ASSERT_NE(driveE.root, nullptr);
  for (TDriveOptimizer* drive : {&driveD, &driveE}) {
    int files = 0;
    for (TItem* folder = drive->root->firstChild; folder; folder = folder->nextSibling) {
      for (TItem* file = folder->firstChild; file; file = file->nextSibling) {
        ++files;
        ASSERT_NE(file->fragments, nullptr);
        EXPECT_EQ(file->fragments->owner, file);
        EXPECT_EQ(file->fragmentCount, 2);
      }
    }
    EXPECT_EQ(files, 1000);
    EXPECT_EQ(drive->statusText.Get(), "Finished");
  }

  // Each log holds one drive's whole output: the one that wrote last.
  EXPECT_TRUE(FileBytes(logs.Path() + "dirlist_free.log") == FreeLog(driveD) ||
              FileBytes(logs.Path() + "dirlist_free.log") == FreeLog(driveE));
  for (const char* name : {"DirList_rules.log", "DirList_Optimized.log"}) {
    const std::string listing = FileBytes(logs.Path() + name);
    EXPECT_EQ(Count(listing, "DIR        \t\r\n"), 1) << name;  // one root line
    EXPECT_EQ(Count(listing, "\r\n["), 1020) << name;           // then 1,020 more items
  }
}

}  // namespace
