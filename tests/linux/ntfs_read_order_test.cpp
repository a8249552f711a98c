// An NTFS volume read in MFT order gives the same tree and the same logs,
// byte for byte, as the same volume read folder by folder through its
// indexes: on the test image, the demo's sample volume, a volume with hard
// links and names that differ only in case, and a volume with a damaged MFT
// record, where the debug output also names what the MFT and the index
// disagree on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "planning/drive_stages.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_volume.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_record_patch.h"
#include "tests/linux/ntfs_volume_test_image.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/file_bytes.h"
#include "tests/support/scripted_volume.h"
#include "tools/ntfs_image_builder.h"
#include "tools/sample_volume.h"

namespace {

// Linux services whose debug output is kept for the test.
class TRecordingServices : public TLinuxServices {
 public:
  TRecordingServices(TDriveTable drives, TNtfsReadOrder order)
      : TLinuxServices(std::move(drives), order) {}
  void DebugOutput(const char* text) override { debug += text; }

  std::string debug;
};

// Every item of a tree, one line each: path, folder flag, size and runs.
void TreeText(const TItem* item, const std::string& path, std::string* text) {
  *text += path + (item->IsFolder() ? "\\ " : " ") + std::to_string(item->size);
  for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
    *text += " " + std::to_string(run->vcn) + ":" + std::to_string(run->lcn) + "+" +
             std::to_string(run->length);
  }
  *text += "\n";
  for (const TItem* child = item->firstChild; child != nullptr; child = child->nextSibling) {
    TreeText(child, path + "\\" + child->name, text);
  }
}

struct TDriveRun {
  std::string tree;
  std::vector<std::string> logs;  // dirlist_free, DirList_rules, DirList_Optimized
  std::string debug;
};

TDriveRun RunDrive(const std::string& image, TNtfsReadOrder order) {
  TScratchFolder logFolder;
  TDriveTable drives;
  drives.Map('C', logFolder.Path());
  drives.Map('D', image);
  TRecordingServices services(drives, order);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', services, windows, kDriveStages);
  drive.RunPipeline();
  TDriveRun run;
  if (drive.root != nullptr) TreeText(drive.root, "D:", &run.tree);
  for (const char* log : {"dirlist_free.log", "DirList_rules.log", "DirList_Optimized.log"}) {
    run.logs.push_back(FileBytes(logFolder / log));
  }
  run.debug = services.debug;
  return run;
}

// The first line where two texts differ, both ways; empty when they are the
// same.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t line = 0;
  while (line < a.size() && line < b.size()) {
    const size_t aEnd = a.find('\n', line);
    const size_t bEnd = b.find('\n', line);
    if (a.compare(line, aEnd - line, b, line, bEnd - line) != 0) {
      return a.substr(line, aEnd - line).substr(0, 200) + "\n  vs\n" +
             b.substr(line, bEnd - line).substr(0, 200);
    }
    line = aEnd + 1;
  }
  return a.size() == b.size() ? "" : "one text ends first";
}

// Lines of the debug output that say where the MFT and an index disagree.
std::string Disagreements(const std::string& debug) {
  std::string lines;
  size_t at = 0;
  while ((at = debug.find("MFT and index disagree", at)) != std::string::npos) {
    const size_t end = debug.find('\n', at);
    lines += debug.substr(at, end - at + 1);
    at = end;
  }
  return lines;
}

// A read-write libntfs-3g mount of a scratch image, to change it in ways
// the image builder does not offer.
class TWritableMount {
 public:
  explicit TWritableMount(const std::string& image) {
    volume_ = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
  }
  ~TWritableMount() {
    if (volume_ != nullptr) ntfs_umount(volume_, FALSE);
  }
  ntfs_volume* Volume() const { return volume_; }

  // Closes both inodes.
  bool Link(const char* target, const char* folder, const std::string& name) {
    ntfs_inode* file = ntfs_pathname_to_inode(volume_, nullptr, target);
    ntfs_inode* into = ntfs_pathname_to_inode(volume_, nullptr, folder);
    std::vector<ntfschar> wide = Wide(name);
    const bool linked = file != nullptr && into != nullptr &&
                        ntfs_link(file, into, wide.data(), static_cast<u8>(wide.size())) == 0;
    if (file != nullptr) ntfs_inode_close(file);
    if (into != nullptr) ntfs_inode_close(into);
    return linked;
  }

  // A file made by name as written, beside names that differ only in case
  // (the POSIX namespace allows them; Windows lists them all).
  bool Create(const char* folder, const std::string& name) {
    ntfs_inode* into = ntfs_pathname_to_inode(volume_, nullptr, folder);
    if (into == nullptr) return false;
    std::vector<ntfschar> wide = Wide(name);
    ntfs_inode* file =
        ntfs_create(into, const_cpu_to_le32(0), wide.data(), static_cast<u8>(wide.size()), S_IFREG);
    const bool made = file != nullptr;
    if (file != nullptr) ntfs_inode_close(file);
    ntfs_inode_close(into);
    return made;
  }

 private:
  // The UTF-16 of a UTF-8 name, as libntfs-3g converts it.
  static std::vector<ntfschar> Wide(const std::string& utf8) {
    ntfschar* units = nullptr;
    const int length = ntfs_mbstoucs(utf8.c_str(), &units);
    std::vector<ntfschar> wide;
    if (length > 0) wide.assign(units, units + length);
    std::free(units);
    return wide;
  }

  ntfs_volume* volume_ = nullptr;
};

class NtfsReadOrder : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SharedNtfsTestImage().built.ok) << SharedNtfsTestImage().built.message;
  }

  // Runs the drive on image both ways and expects the same tree and logs.
  // Returns the MFT-order run.
  TDriveRun ExpectSameBothWays(const std::string& image) {
    const TDriveRun mft = RunDrive(image, TNtfsReadOrder::kMftOrder);
    const TDriveRun index = RunDrive(image, TNtfsReadOrder::kIndexWalk);
    EXPECT_FALSE(index.tree.empty());
    EXPECT_EQ(FirstDifference(mft.tree, index.tree), "");
    for (size_t i = 0; i < index.logs.size(); ++i) {
      EXPECT_FALSE(index.logs[i].empty()) << i;
      EXPECT_EQ(FirstDifference(mft.logs[i], index.logs[i]), "") << "log " << i;
    }
    EXPECT_EQ(Disagreements(index.debug), "");
    return mft;
  }

  TScratchFolder scratch_;
};

TEST_F(NtfsReadOrder, TheTestImageGivesTheSameLogs) {
  const TDriveRun mft = ExpectSameBothWays(SharedNtfsTestImage().path);
  EXPECT_EQ(Disagreements(mft.debug), "");
  // The layouts of note are there: attribute list, compression, hole.
  for (const char* path : {"D:\\many.bin ", "D:\\Comp\\log.txt ", "D:\\sparse.bin "}) {
    EXPECT_NE(mft.tree.find(path), std::string::npos) << path;
  }
}

TEST_F(NtfsReadOrder, TheSampleVolumeGivesTheSameLogs) {
  const std::string image = scratch_ / "sample.img";
  TSampleSummary summary;
  const TBuildStatus built = BuildSampleVolume(image, 1, &summary);
  ASSERT_TRUE(built.ok) << built.message;
  EXPECT_EQ(Disagreements(ExpectSameBothWays(image).debug), "");
}

TEST_F(NtfsReadOrder, HardLinksAndNamesDifferingInCaseListAsTheIndexHoldsThem) {
  const std::string image = scratch_ / "links.img";
  ASSERT_TRUE(CopyFile(SharedNtfsTestImage().path, image));
  {
    TWritableMount mount(image);
    ASSERT_NE(mount.Volume(), nullptr);
    EXPECT_TRUE(mount.Link("/Docs/small.txt", "/Docs", "twin.txt"));
    EXPECT_TRUE(mount.Link("/Docs/small.txt", "/Big", "small link.txt"));
    EXPECT_TRUE(mount.Link("/frag.bin", "/Comp", "frag link.bin"));
    EXPECT_TRUE(mount.Create("/Docs", "case.txt"));
    EXPECT_TRUE(mount.Create("/Docs", "CASE.txt"));
    // Names alike in their first sixteen units, which the sort keys hold,
    // and told apart only after them, in case or in what follows.
    for (const char* name :
         {"a shared prefix of names 2.txt", "A SHARED PREFIX OF NAMES 2.txt",
          "a shared prefix of names 10.txt", "a shared prefix of names 1.txt",
          "a shared prefix of NAMES 1.txt", "a shared prefix of",
          "a shared prefix of names \u00e9.txt", "a shared prefix of names \u4e00.txt"}) {
      EXPECT_TRUE(mount.Create("/Big", name)) << name;
    }
  }
  const TDriveRun mft = ExpectSameBothWays(image);
  EXPECT_EQ(Disagreements(mft.debug), "");
  // One entry per link, each with the runs of the one file.
  for (const char* path :
       {"D:\\Docs\\small.txt ", "D:\\Docs\\twin.txt ", "D:\\Big\\small link.txt ",
        "D:\\Comp\\frag link.bin ", "D:\\Docs\\case.txt ", "D:\\Docs\\CASE.txt "}) {
    EXPECT_NE(mft.tree.find(path), std::string::npos) << path;
  }
}

// A file with more names than its record holds keeps them in extension
// records, which the MFT's two readers may each meet: every name must
// still list, under its own spelling.
TEST_F(NtfsReadOrder, AFileWhoseNamesFillExtensionRecordsListsEveryName) {
  const std::string image = scratch_ / "many-names.img";
  ASSERT_TRUE(CopyFile(SharedNtfsTestImage().path, image));
  std::vector<std::string> names;
  {
    TWritableMount mount(image);
    ASSERT_NE(mount.Volume(), nullptr);
    for (int i = 0; i < 80; ++i) {
      names.push_back("a name long enough that few fit in one record, number " +
                      std::to_string(1000 + i) + ".txt");
      ASSERT_TRUE(mount.Link("/frag.bin", "/Big", names.back())) << i;
    }
  }
  const TDriveRun mft = ExpectSameBothWays(image);
  for (const std::string& name : names) {
    EXPECT_NE(mft.tree.find("D:\\Big\\" + name + " "), std::string::npos) << name;
  }
}

TEST_F(NtfsReadOrder, ADamagedRecordIsReadAsTheIndexWalkReadsItAndNamed) {
  const std::string image = scratch_ / "damaged.img";
  ASSERT_TRUE(CopyFile(SharedNtfsTestImage().path, image));
  const int64_t record = FindMftRecord(image, "/Docs/small.txt").offset;
  ASSERT_GE(record, 0);
  // The last two bytes of the record's first sector no longer match its
  // update sequence number: the fix-ups fail, as after a torn write.
  const int fd = open(image.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(pwrite(fd, "\x12\x34", 2, record + 510), 2);
  close(fd);

  const TDriveRun mft = ExpectSameBothWays(image);
  // Neither way opens it; the index still lists it.
  EXPECT_EQ(mft.tree.find("small.txt"), std::string::npos);
  EXPECT_EQ(Disagreements(mft.debug), "MFT and index disagree in D:\\Docs\\: small.txt\n");
}

// Volumes of other cluster sizes: runs, holes and attribute lists counted
// in their clusters.
class NtfsReadOrderClusters : public testing::TestWithParam<uint32_t> {};

TEST_P(NtfsReadOrderClusters, GiveTheSameLogsBothWays) {
  const uint32_t cluster = GetParam();
  TScratchFolder scratch;
  const std::string image = scratch / "clusters.img";
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  // Room for the MFT zone and the 1,100 runs of many.bin with gaps.
  format.imageBytes = std::max<uint64_t>(160u << 20, 8000ull * cluster);
  format.clusterBytes = cluster;
  std::vector<TBuildStatus> steps = {builder.Format(image, format), builder.MakeFolder("/Big"),
                                     builder.MakeFolder("/Big/Inner")};
  for (int i = 0; i < 300; ++i) {
    steps.push_back(builder.MakeFile("/Big/f" + std::to_string(i) + ".dat",
                                     TContent::Binary(100 + 37 * i, static_cast<uint64_t>(i))));
  }
  steps.push_back(builder.MakeFragmentedFile("/frag.bin", TContent::Binary(40 * cluster, 1), 9, 2,
                                             builder.MftZoneEnd()));
  steps.push_back(builder.MakeFragmentedFile("/many.bin", TContent::Binary(1100 * cluster, 2), 1100,
                                             1, builder.MftZoneEnd() + 200));
  steps.push_back(builder.MakeSparseFile("/sparse.bin", TContent::Binary(64 * cluster, 3),
                                         8 * cluster, 16 * cluster));
  steps.push_back(builder.Finish());
  for (const TBuildStatus& step : steps) ASSERT_TRUE(step.ok) << step.message;

  const TDriveRun mft = RunDrive(image, TNtfsReadOrder::kMftOrder);
  const TDriveRun index = RunDrive(image, TNtfsReadOrder::kIndexWalk);
  EXPECT_NE(index.tree.find("D:\\many.bin "), std::string::npos);
  EXPECT_EQ(FirstDifference(mft.tree, index.tree), "");
  for (size_t i = 0; i < index.logs.size(); ++i) {
    EXPECT_EQ(FirstDifference(mft.logs[i], index.logs[i]), "") << "log " << i;
  }
  EXPECT_EQ(Disagreements(mft.debug), "");
}

INSTANTIATE_TEST_SUITE_P(Sizes, NtfsReadOrderClusters, testing::Values(512u, 2048u, 65536u));

// Lists every folder below path and opens every item, as written, upper-
// cased and (for one file) by its short name; what each gave, one line each.
void WalkVolume(TNtfsVolume& volume, const std::string& path, std::string* seen) {
  std::vector<TNtfsEntry> entries;
  if (!volume.ListFolder(path, "*", &entries)) {
    *seen += path + " not listed\n";
    return;
  }
  for (const TNtfsEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    const std::string child = (path == "/" ? "" : path) + "/" + entry.name;
    std::string upper = child;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& open : {child, upper}) {
      TNtfsItem item;
      *seen += open + " " + std::to_string(entry.attributes);
      if (volume.Open(open, true, &item)) {
        *seen += " " + std::to_string(item.size) + (item.runsReadable ? "" : " unreadable");
        for (const TStreamRun& run : item.runs) {
          *seen += " " + std::to_string(run.lcn) + "+" + std::to_string(run.length);
        }
      }
      *seen += "\n";
    }
    if (entry.attributes & kAttributeDirectory) WalkVolume(volume, child, seen);
  }
}

std::unique_ptr<TNtfsVolume> MountTestImage(TNtfsReadOrder order) {
  return TNtfsVolume::Mount(SharedNtfsTestImage().path, order);
}

TEST_F(NtfsReadOrder, InMftOrderNoItemsRecordIsReadOnItsOwn) {
  const std::unique_ptr<TNtfsVolume> mft = MountTestImage(TNtfsReadOrder::kMftOrder);
  const std::unique_ptr<TNtfsVolume> index = MountTestImage(TNtfsReadOrder::kIndexWalk);
  ASSERT_NE(mft, nullptr);
  ASSERT_NE(index, nullptr);
  std::string mftSeen;
  std::string indexSeen;
  WalkVolume(*mft, "/", &mftSeen);
  WalkVolume(*index, "/", &indexSeen);
  EXPECT_EQ(FirstDifference(mftSeen, indexSeen), "");
  // A short name opens the item too, and a missing name opens nothing.
  TNtfsItem shortName;
  TNtfsItem longName;
  ASSERT_TRUE(mft->Open("/Docs/RESUME~1.TXT", false, &shortName));
  ASSERT_TRUE(mft->Open("/Docs/Résumé.txt", false, &longName));
  EXPECT_EQ(shortName.runs, longName.runs);
  EXPECT_FALSE(mft->Open("/Docs/absent.txt", false, &longName));
  EXPECT_FALSE(mft->Open("/Docs", false, &longName));  // a folder needs backup semantics
  EXPECT_FALSE(mft->Open("/$MFT", false, &longName));  // metafiles stay hidden
  EXPECT_GT(index->RecordReads(), 100);
  // Only the missing name's and the metafile's opens read records, to find
  // that there is no such item.
  EXPECT_EQ(mft->RecordReads(), 2);
}

// Folders found by path are remembered by the path as given; a path that
// climbs, stays or doubles its separators, or names a folder in other case,
// must still lead where the index walk leads, asked first or again.
TEST_F(NtfsReadOrder, PathsWithDotsDoubledSeparatorsAndOtherCaseLeadWhereTheIndexWalkLeads) {
  const std::unique_ptr<TNtfsVolume> mft = MountTestImage(TNtfsReadOrder::kMftOrder);
  const std::unique_ptr<TNtfsVolume> index = MountTestImage(TNtfsReadOrder::kIndexWalk);
  ASSERT_NE(mft, nullptr);
  ASSERT_NE(index, nullptr);
  const std::vector<std::string> paths = {
      "/Docs",
      "/Docs/inner.txt",
      "/docs/..",
      "/Docs/../frag.bin",
      "/Docs/./..",
      "//Docs//",
      "/DOCS/Résumé.txt",
      "/Docs/../Docs/Résumé.txt",
      "/Big/..",
      "/Docs/absent",
      "/Docs/absent/../..",
      "/frag.bin/..",
      "/frag.bin/x",
      "/..",
      "/Docs/.",
      "/Docs/./Résumé.txt",
  };
  // Twice over, so the second round meets every path remembered.
  for (int round = 0; round < 2; ++round) {
    for (const std::string& path : paths) {
      TNtfsItem fromMft;
      TNtfsItem fromIndex;
      const bool openedMft = mft->Open(path, true, &fromMft);
      ASSERT_EQ(openedMft, index->Open(path, true, &fromIndex)) << path << ", round " << round;
      if (openedMft) {
        EXPECT_EQ(fromMft.folder, fromIndex.folder) << path;
        EXPECT_EQ(fromMft.runs, fromIndex.runs) << path;
      }
      std::vector<TNtfsEntry> mftEntries;
      std::vector<TNtfsEntry> indexEntries;
      const bool listedMft = mft->ListFolder(path, "*", &mftEntries);
      ASSERT_EQ(listedMft, index->ListFolder(path, "*", &indexEntries)) << path;
      ASSERT_EQ(mftEntries.size(), indexEntries.size()) << path;
      for (size_t i = 0; i < mftEntries.size(); ++i) {
        EXPECT_EQ(mftEntries[i].name, indexEntries[i].name) << path;
      }
    }
  }
}

TEST_F(NtfsReadOrder, ASmallIndexHoldingAnotherNameDecidesItsFolder) {
  const std::string image = scratch_ / "renamed.img";
  ASSERT_TRUE(CopyFile(SharedNtfsTestImage().path, image));
  // The folder's only entry, in the index root inside its own record, names
  // jnner.txt; the file's record still names itself inner.txt.
  const int64_t record = FindMftRecord(image, "/Docs/Ünïcode 文件夹").offset;
  ASSERT_GE(record, 0);
  std::string bytes = ReadFile(image).substr(static_cast<size_t>(record), 1024);
  const std::string name("i\0n\0n\0e\0r\0.\0t\0x\0t\0", 18);
  const size_t at = bytes.find(name);
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(bytes.find(name, at + 1), std::string::npos);
  ASSERT_NE(at % 512, 510u);  // not where the fix-ups keep their check bytes
  const int fd = open(image.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(pwrite(fd, "j", 1, record + static_cast<off_t>(at)), 1);
  close(fd);

  const TDriveRun mft = ExpectSameBothWays(image);
  EXPECT_NE(mft.tree.find("\\jnner.txt "), std::string::npos);
  EXPECT_EQ(Disagreements(mft.debug),
            "MFT and index disagree in D:\\Docs\\Ünïcode 文件夹\\: inner.txt jnner.txt\n");
}

TEST_F(NtfsReadOrder, AnIndexEntryNamingAnotherRecordLeadsWhereTheIndexSays) {
  const std::string image = scratch_ / "redirected.img";
  ASSERT_TRUE(CopyFile(SharedNtfsTestImage().path, image));
  // The only entry of the folder's index root, inner.txt, names the record
  // of /Docs/small.txt; inner.txt's own record still names the folder its
  // parent. Both ways follow the index, as Windows does: inner.txt is
  // listed with small.txt's size and (resident) runs.
  const TBuildStatus patched =
      PointIndexEntryAt(image, "/Docs/Ünïcode 文件夹", "inner.txt", "/Docs/small.txt");
  ASSERT_TRUE(patched.ok) << patched.message;
  const TDriveRun mft = ExpectSameBothWays(image);
  EXPECT_NE(mft.tree.find("D:\\Docs\\Ünïcode 文件夹\\inner.txt 12\n"), std::string::npos);
  EXPECT_EQ(Disagreements(mft.debug), "");
}

TEST(NtfsReadOrderChoice, TheEnvironmentChoosesTheIndexWalkOnlyByItsName) {
  const std::vector<std::pair<std::optional<std::string>, TNtfsReadOrder>> cases = {
      {std::nullopt, TNtfsReadOrder::kMftOrder},
      {std::string("index"), TNtfsReadOrder::kIndexWalk},
      {std::string("mft"), TNtfsReadOrder::kMftOrder},
      {std::string(""), TNtfsReadOrder::kMftOrder},
  };
  for (const auto& [value, order] : cases) {
    TEnvironmentOverride override("DISKOPT_NTFS_READ", value);
    EXPECT_EQ(NtfsReadOrderFromEnvironment(), order) << value.value_or("(unset)");
  }
}

}  // namespace
