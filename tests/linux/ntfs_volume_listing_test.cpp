// Listings and opens inside a real NTFS image as Windows gives them: index
// order, long names, metafiles hidden, dots, wildcards, names compared
// without regard to case, and opens that find listed items without a walk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/ntfs_volume.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_tool_output.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tools/ntfs_image_builder.h"

namespace {

using TListing = std::vector<std::pair<std::string, uint32_t>>;

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

class NtfsVolumeListing : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(image_.built.ok) << image_.built.message;
    services_ = ServicesWithDrive(scratch_.Path(), 'D', image_.path);
  }

  // Every entry FindFirst and FindNext give; none when FindFirst fails.
  TListing List(const std::string& pattern) {
    TListing entries;
    TFindData entry;
    THandle find = services_->FindFirst(pattern.c_str(), &entry);
    if (find == InvalidHandle()) return entries;
    do {
      entries.emplace_back(entry.name, entry.attributes);
    } while (services_->FindNext(find, &entry));
    EXPECT_FALSE(services_->FindNext(find, &entry));  // and stays at the end
    services_->FindEnd(find);
    return entries;
  }

  std::vector<std::string> Names(const std::string& pattern) {
    std::vector<std::string> names;
    for (const auto& entry : List(pattern)) names.push_back(entry.first);
    return names;
  }

  // The size of the item at path, or -1 when it does not open.
  int64_t OpenedSize(const std::string& path, bool backupSemantics) {
    THandle file = services_->OpenForRead(path.c_str(), backupSemantics);
    if (file == InvalidHandle()) return -1;
    uint32_t low = 0;
    uint32_t high = 0;
    EXPECT_TRUE(services_->FileSize(file, &low, &high)) << path;
    services_->Close(file);
    return static_cast<int64_t>((uint64_t{high} << 32) | low);
  }

  const TNtfsTestImage& image_ = SharedNtfsTestImage();
  TScratchFolder scratch_;
  std::unique_ptr<TLinuxServices> services_;
};

TEST_F(NtfsVolumeListing, TheRootListsNeitherDotsNorMetafiles) {
  const TListing expected = {
      {"adjacent.bin", 0}, {"Big", 0x10},   {"Comp", 0x10},    {"Docs", 0x10},    {"empty.txt", 0},
      {"frag.bin", 0},     {"many.bin", 0}, {"placed.bin", 0}, {"sparse.bin", 0},
  };
  EXPECT_EQ(List("D:\\*.*"), expected);
  // The metafiles are in the root's index all the same.
  const std::vector<std::string> all =
      ParseNtfslsNames(RunTool({"ntfsls", "-s", "-p", "/", image_.path}).out);
  EXPECT_NE(std::find(all.begin(), all.end(), "$MFT"), all.end());
  EXPECT_TRUE(List("D:\\$MFT").empty());
  EXPECT_EQ(OpenedSize("D:\\$MFT", false), -1);
  EXPECT_EQ(OpenedSize("D:\\$Extend\\", true), -1);
}

TEST_F(NtfsVolumeListing, OtherFoldersListDotsFirstThenLongNamesInUtf8) {
  const TListing expected = {
      {".", 0x10},
      {"..", 0x10},
      {"Résumé.txt", 0},
      {"small.txt", 0},
      {"Ünïcode 文件夹", 0x10},
      {"日本語.doc", 0},
  };
  EXPECT_EQ(List("D:\\Docs\\*.*"), expected);
  // Résumé.txt has a short name too, which is no entry of its own.
  const std::vector<std::string> shortNames =
      ParseNtfslsNames(RunTool({"ntfsls", "-x", "-p", "/Docs", image_.path}).out);
  EXPECT_NE(std::find(shortNames.begin(), shortNames.end(), "RESUME~1.TXT"), shortNames.end());
  EXPECT_EQ(Names("D:\\Docs\\Ünïcode 文件夹\\*.*"),
            (std::vector<std::string>{".", "..", "inner.txt"}));
}

TEST_F(NtfsVolumeListing, ALargeFolderListsInIndexOrder) {
  std::vector<std::string> expected = image_.bigNames;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const std::string& a, const std::string& b) { return Upper(a) < Upper(b); });
  std::vector<std::string> names = Names("D:\\Big\\*.*");
  ASSERT_GE(names.size(), 2u);
  EXPECT_EQ(names[0], ".");
  EXPECT_EQ(names[1], "..");
  names.erase(names.begin(), names.begin() + 2);
  EXPECT_EQ(names, expected);
  // ntfs-3g's own listing goes block by block: the folder spans several
  // index blocks, or the order above would be no test at all.
  std::vector<std::string> byBlocks =
      ParseNtfslsNames(RunTool({"ntfsls", "-p", "/Big", image_.path}).out);
  byBlocks.erase(std::remove(byBlocks.begin(), byBlocks.end(), "."), byBlocks.end());
  ASSERT_EQ(byBlocks.size(), expected.size());
  EXPECT_NE(byBlocks, expected);
}

TEST_F(NtfsVolumeListing, WildcardsAndPlainNamesPickEntries) {
  EXPECT_EQ(Names("D:\\Docs\\R*.*"), (std::vector<std::string>{"Résumé.txt"}));
  EXPECT_EQ(Names("D:\\Docs\\*.doc"), (std::vector<std::string>{"日本語.doc"}));
  EXPECT_EQ(Names("D:\\Docs\\SMALL.TXT"), (std::vector<std::string>{"small.txt"}));
  EXPECT_EQ(Names("d:\\docs\\*.*").size(), 6u);
  std::vector<std::string> teens;
  for (const std::string& name : image_.bigNames) {
    if (name.size() == 11 && Upper(name).compare(0, 6, "FILE 1") == 0) teens.push_back(name);
  }
  ASSERT_EQ(teens.size(), 10u);
  std::sort(teens.begin(), teens.end(),
            [](const std::string& a, const std::string& b) { return Upper(a) < Upper(b); });
  EXPECT_EQ(Names("D:\\Big\\file 1?.dat"), teens);
  for (const char* nothing :
       {"D:\\Docs\\none*.*", "D:\\absent\\*.*", "D:\\empty.txt\\*.*", "\\\\.\\D:", "E:\\*.*"}) {
    EXPECT_TRUE(List(nothing).empty()) << nothing;
  }
}

TEST_F(NtfsVolumeListing, OpensIgnoreCaseAsWindowsDoes) {
  EXPECT_EQ(OpenedSize("D:\\DOCS\\RÉSUMÉ.TXT", false), 3000);
  EXPECT_EQ(OpenedSize("D:\\Docs\\resume~1.txt", false), 3000);  // by its short name
  EXPECT_EQ(OpenedSize("d:\\docs\\ünïcode 文件夹\\INNER.TXT", false), 5000);
  EXPECT_EQ(OpenedSize("D:\\Docs\\..\\Docs\\.\\small.txt", false), 12);
  EXPECT_EQ(OpenedSize("D:\\Docs\\smal.txt", false), -1);
  EXPECT_EQ(OpenedSize("D:\\Docs\\small.txt\\x", false), -1);
  // Folders only with backup semantics, and then with size 0; files either way.
  EXPECT_EQ(OpenedSize("D:\\Docs\\", false), -1);
  EXPECT_EQ(OpenedSize("D:\\Docs\\", true), 0);
  EXPECT_EQ(OpenedSize("D:\\", true), 0);
  EXPECT_EQ(OpenedSize("D:\\Comp\\log.txt", true), 300000);
  EXPECT_EQ(OpenedSize("D:\\sparse.bin", false), 1 << 20);
}

TEST_F(NtfsVolumeListing, RootGeometryIsTheVolumes) {
  TDiskGeometry geometry = {};
  ASSERT_TRUE(services_->DiskFreeSpace("D:\\", &geometry));
  EXPECT_TRUE(services_->DiskFreeSpaceEx("D:\\"));
  EXPECT_EQ(geometry.bytesPerSector, 512u);
  EXPECT_EQ(geometry.sectorsPerCluster, 8u);
  const std::string info = RunTool({"ntfsinfo", "-m", image_.path}).out;
  EXPECT_EQ(geometry.totalClusters,
            static_cast<uint32_t>(ParseNtfsinfoNumber(info, "Volume Size in Clusters")));
  EXPECT_EQ(geometry.freeClusters, static_cast<uint32_t>(ParseNtfsclusterFreeClusters(
                                       RunTool({"ntfscluster", "-i", image_.path}).out)));
  for (const char* notRoot : {"D:\\Docs\\", "\\\\.\\D:", "E:\\"}) {
    EXPECT_FALSE(services_->DiskFreeSpace(notRoot, &geometry)) << notRoot;
  }
}

TEST(NtfsVolumeReferences, ListedItemsOpenWithoutAPathWalk) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  // Folder by folder through the indexes; in MFT order no item is walked to.
  std::unique_ptr<TNtfsVolume> volume = TNtfsVolume::Mount(image.path, TNtfsReadOrder::kIndexWalk);
  ASSERT_NE(volume, nullptr);
  TNtfsItem item;
  // The root is found without a walk; a path never listed takes one walk,
  // and is remembered afterwards.
  ASSERT_TRUE(volume->Open("/", true, &item));
  EXPECT_EQ(volume->PathWalks(), 0);
  ASSERT_TRUE(volume->Open("/Docs/Résumé.txt", false, &item));
  EXPECT_EQ(volume->PathWalks(), 1);
  ASSERT_TRUE(volume->Open("/DOCS/résumé.TXT", false, &item));
  EXPECT_EQ(volume->PathWalks(), 1);
  EXPECT_EQ(item.size, 3000);

  std::vector<TNtfsEntry> entries;
  ASSERT_TRUE(volume->ListFolder("/Big", "*.*", &entries));
  const int64_t afterListing = volume->PathWalks();  // the folder itself, found by a walk
  EXPECT_EQ(afterListing, 2);
  for (const TNtfsEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    ASSERT_TRUE(volume->Open("/Big/" + entry.name, false, &item)) << entry.name;
    ASSERT_TRUE(volume->Open("/big/" + Upper(entry.name), false, &item)) << entry.name;
  }
  EXPECT_EQ(volume->PathWalks(), afterListing);
  EXPECT_FALSE(volume->Open("/Big/absent.dat", false, &item));
  EXPECT_EQ(volume->PathWalks(), afterListing + 1);
}

// A folder whose names follow it in no later record: made last, then given
// a name by a hard link to a file made before it. Read in MFT order it
// lists that name from the MFT alone, with nothing for its index to settle.
TEST(NtfsMftOrder, AFolderMadeLastListsTheNamesGivenItAfterwards) {
  TScratchFolder scratch;
  const std::string image = scratch / "last.img";
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 8 << 20;
  ASSERT_TRUE(builder.Format(image, format).ok);
  ASSERT_TRUE(builder.MakeFile("/first.txt", TContent::Bytes("x")).ok);
  ASSERT_TRUE(builder.MakeFolder("/Last").ok);
  ASSERT_TRUE(builder.MakeHardLink("/first.txt", "/Last/linked.txt").ok);
  ASSERT_TRUE(builder.Finish().ok);

  std::unique_ptr<TNtfsVolume> volume = TNtfsVolume::Mount(image, TNtfsReadOrder::kMftOrder);
  ASSERT_NE(volume, nullptr);
  std::vector<TNtfsEntry> entries;
  ASSERT_TRUE(volume->ListFolder("/Last", "*.*", &entries));
  std::vector<std::string> names;
  for (const TNtfsEntry& entry : entries) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "linked.txt"}));
  EXPECT_TRUE(volume->TakeDisagreements().empty());
  EXPECT_EQ(volume->RecordReads(), 0);
}

// Every item below folder, depth first, with its record, size and runs, as
// a mount reading the MFT in order gives them.
void WalkInMftOrder(TNtfsVolume* volume, const std::string& folder,
                    std::vector<std::string>* seen) {
  std::vector<TNtfsEntry> entries;
  EXPECT_TRUE(volume->ListFolder(folder, "*.*", &entries)) << folder;
  for (const TNtfsEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    const std::string path = folder + (folder == "/" ? "" : "/") + entry.name;
    TNtfsItem item;
    EXPECT_TRUE(volume->Open(path, (entry.attributes & kAttributeDirectory) != 0, &item)) << path;
    std::string runs;
    for (const TStreamRun& run : item.runs) runs += " " + std::to_string(run.lcn);
    seen->push_back(path + " record " + std::to_string(item.record) + ", " +
                    std::to_string(item.size) + " bytes, runs at" + runs);
    if (item.folder) WalkInMftOrder(volume, path, seen);
  }
}

std::vector<std::string> WholeTreeInMftOrder(const std::string& image) {
  std::vector<std::string> seen;
  std::unique_ptr<TNtfsVolume> volume = TNtfsVolume::Mount(image, TNtfsReadOrder::kMftOrder);
  if (volume == nullptr) return seen;
  WalkInMftOrder(volume.get(), "/", &seen);
  EXPECT_TRUE(volume->TakeDisagreements().empty());
  // A record the view could not take is read again on its own, and the
  // tree would look the same.
  seen.push_back("records read on their own: " + std::to_string(volume->RecordReads()));
  return seen;
}

// Records read while only some of the image's pages are in the page cache
// (a read that does not wait takes the first of them, the rest is read
// after it, and what follows is asked for ahead) read as warm ones do.
TEST(NtfsMftOrder, RecordsPartlyInThePageCacheReadAsWarmOnes) {
  const TNtfsTestImage& image = SharedNtfsTestImage();
  ASSERT_TRUE(image.built.ok) << image.built.message;
  const std::vector<std::string> warm = WholeTreeInMftOrder(image.path);
  ASSERT_GT(warm.size(), 100u);
  const int fd = open(image.path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct stat status;
  ASSERT_EQ(fstat(fd, &status), 0);
  // The image leaves the page cache (dirty pages would stay), then every
  // other page comes back on its own, read without read-ahead: a read of a
  // block of records finds its first page and not the next.
  ASSERT_EQ(fdatasync(fd), 0);
  ASSERT_EQ(posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED), 0);
  ASSERT_EQ(posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM), 0);
  char page[4096];
  for (off_t at = 0; at < status.st_size; at += 2 * sizeof page) {
    ASSERT_EQ(pread(fd, page, sizeof page, at), static_cast<ssize_t>(sizeof page));
  }
  close(fd);
  EXPECT_EQ(WholeTreeInMftOrder(image.path), warm);
}

}  // namespace
