// Several threads reading NTFS images at once, each through mounts of its
// own; run under ThreadSanitizer too (the test names select them there).
#include <dirent.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "planning/drive_stages.h"
#include "platform/linux/ntfs_volume.h"
#include "platform/linux/ntfs_volume_pool.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/scripted_volume.h"

namespace {

// Descriptors of this process open on the file at path.
int OpenDescriptors(const std::string& path) {
  char wanted[PATH_MAX];
  if (realpath(path.c_str(), wanted) == nullptr) return -1;
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  if (fds == nullptr) return -1;
  while (const dirent* entry = readdir(fds)) {
    char target[PATH_MAX];
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    const ssize_t length = readlink(link.c_str(), target, sizeof(target) - 1);
    if (length <= 0) continue;
    target[length] = '\0';
    if (std::string(target) == wanted) ++count;
  }
  closedir(fds);
  return count;
}

TEST(NtfsVolumePoolThreads, EachThreadMountsItsOwnAndUnmountsWhenItEnds) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  const int before = OpenDescriptors(image.path);
  ASSERT_GE(before, 0);
  auto pool = std::make_unique<TNtfsVolumePool>();
  TNtfsVolume* mine = pool->ForThisThread(image.path);
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(pool->ForThisThread(image.path), mine);  // mounted once per thread
  EXPECT_EQ(OpenDescriptors(image.path), before + 1);
  TNtfsVolume* theirs = nullptr;
  int whileTheirsLives = 0;
  std::thread other([&] {
    theirs = pool->ForThisThread(image.path);
    whileTheirsLives = OpenDescriptors(image.path);
  });
  other.join();
  EXPECT_NE(theirs, nullptr);
  EXPECT_NE(theirs, mine);
  EXPECT_EQ(whileTheirsLives, before + 2);
  EXPECT_EQ(OpenDescriptors(image.path), before + 1);  // gone with its thread
  EXPECT_EQ(pool->ForThisThread("/dev/null"), nullptr);
  pool.reset();
  EXPECT_EQ(OpenDescriptors(image.path), before);  // gone with the pool
}

TEST(NtfsVolumePoolThreads, AThreadThatOutlivesThePoolEndsCleanly) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  auto pool = std::make_unique<TNtfsVolumePool>();
  std::atomic<int> step{0};
  std::thread worker([&] {
    EXPECT_NE(pool->ForThisThread(image.path), nullptr);
    step = 1;
    while (step != 2) std::this_thread::yield();
  });
  while (step != 1) std::this_thread::yield();
  const int mounted = OpenDescriptors(image.path);
  pool.reset();  // the worker's mount goes now, not at its end
  EXPECT_EQ(OpenDescriptors(image.path), mounted - 1);
  step = 2;
  worker.join();
}

// A second thread's mount answers from the MFT view the first one read;
// once every mount holding it is gone, the next mount reads its own.
TEST(NtfsVolumePoolThreads, MountsOfOneImageShareOneMftViewWhileOneHoldsIt) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  TNtfsVolumePool pool;
  TNtfsItem mine;
  ASSERT_TRUE(pool.ForThisThread(image.path)->Open("/frag.bin", false, &mine));
  EXPECT_EQ(pool.ViewsRead(), 1);
  TNtfsItem theirs;
  int64_t theirRecordReads = -1;
  std::thread other([&] {
    TNtfsVolume* volume = pool.ForThisThread(image.path);
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(volume->Open("/frag.bin", false, &theirs));
    theirRecordReads = volume->RecordReads();
  });
  other.join();
  EXPECT_EQ(pool.ViewsRead(), 1);
  EXPECT_EQ(theirRecordReads, 0);
  EXPECT_EQ(theirs.runs, mine.runs);
  EXPECT_EQ(theirs.size, mine.size);

  TNtfsVolumePool fresh;
  for (int round = 1; round <= 2; ++round) {
    std::thread reader([&] {
      TNtfsItem item;
      EXPECT_TRUE(fresh.ForThisThread(image.path)->Open("/frag.bin", false, &item));
      EXPECT_EQ(item.runs, mine.runs);
    });
    reader.join();  // its mount, the only one holding the view, goes with it
    EXPECT_EQ(fresh.ViewsRead(), round);
  }
}

// A mount that lets its view go while another mount holds it finds that
// one again at its next open, rather than reading the MFT a second time.
TEST(NtfsVolumePoolThreads, AMountThatLetsItsViewGoFindsTheOneAnotherStillHolds) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  TNtfsVolumePool pool;
  TNtfsVolume* mine = pool.ForThisThread(image.path);
  ASSERT_NE(mine, nullptr);
  TNtfsItem before;
  ASSERT_TRUE(mine->Open("/frag.bin", false, &before));
  std::atomic<int> step{0};
  std::thread holder([&] {
    TNtfsItem item;
    EXPECT_TRUE(pool.ForThisThread(image.path)->Open("/frag.bin", false, &item));
    step = 1;
    while (step != 2) std::this_thread::yield();
  });
  while (step != 1) std::this_thread::yield();
  mine->ForgetView();
  TNtfsItem after;
  EXPECT_TRUE(mine->Open("/frag.bin", false, &after));
  step = 2;
  holder.join();
  EXPECT_EQ(pool.ViewsRead(), 1);
  EXPECT_EQ(mine->RecordReads(), 0);
  EXPECT_EQ(after.runs, before.runs);
  EXPECT_EQ(after.size, before.size);
}

// Two drives on the same image and one on a host folder, each through the
// real stages on a worker of its own, while a window thread asks for the
// image's geometry over and over: every drive reads what it would read alone.
TEST(ParallelNtfsDrives, TwoImageDrivesAndAHostFolderAtOnce) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  TScratchFolder logs;
  TScratchFolder host;
  for (int i = 0; i < 50; ++i) WriteFile(host / ("file" + std::to_string(i)), std::string(i, 'x'));
  TDriveTable drives;
  drives.Map('C', logs.Path());
  drives.Map('D', image.path);
  drives.Map('E', image.path);
  drives.Map('H', host.Path());
  TLinuxServices services(drives);
  TFakeWindowSystem windows;
  TDriveOptimizer driveD('D', services, windows, kDriveStages);
  TDriveOptimizer driveE('E', services, windows, kDriveStages);
  TDriveOptimizer driveH('H', services, windows, kDriveStages);

  std::atomic<bool> done{false};
  std::atomic<int> geometries{0};
  std::thread window([&] {
    while (!done) {
      TDiskGeometry geometry;
      if (services.DiskFreeSpace("D:\\", &geometry) && geometry.totalClusters > 0) ++geometries;
    }
  });
  std::thread workerD([&] { RunAnalysisStages(driveD); });
  std::thread workerE([&] { RunAnalysisStages(driveE); });
  // The host folder's volume map needs rights this machine may not give;
  // its items are read all the same.
  std::thread workerH([&] {
    driveH.CreateMemoryTree();
    driveH.FillMemoryTree();
  });
  workerD.join();
  workerE.join();
  workerH.join();
  done = true;
  window.join();

  EXPECT_GT(geometries.load(), 0);
  ASSERT_NE(driveD.root, nullptr);
  ASSERT_NE(driveE.root, nullptr);
  const std::map<std::string, const TItem*> itemsD = ItemsByPath(driveD.root);
  const std::map<std::string, const TItem*> itemsE = ItemsByPath(driveE.root);
  ASSERT_EQ(itemsD.size(), itemsE.size());
  EXPECT_GT(itemsD.size(), 200u);
  for (const auto& [path, item] : itemsD) {
    ASSERT_EQ(itemsE.count(path), 1u) << path;
    EXPECT_EQ(Fragments(itemsE.at(path)), Fragments(item)) << path;
    EXPECT_EQ(itemsE.at(path)->size, item->size) << path;
  }
  EXPECT_EQ(itemsD.at("/many.bin")->fragmentCount, 1100);
  EXPECT_EQ(driveD.totalClusters, driveE.totalClusters);
  ASSERT_NE(driveH.root, nullptr);
  EXPECT_EQ(ItemsByPath(driveH.root).size(), 51u);
}

}  // namespace
