// A volume is opened for moves only when nothing else could be using it and
// Windows left it clean: each refusal says why and what cures it. A run of
// moves killed at any instant leaves every file's data whole, and the next
// open for moves is not refused for it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/linux_services.h"
#include "platform/linux/ntfs_library.h"
#include "platform/linux/ntfs_move_access.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/ntfs_bitmap_check.h"
#include "tests/linux/ntfs_move_test_support.h"
#include "tests/linux/ntfs_record_patch.h"
#include "tools/ntfs_image_builder.h"

namespace {

constexpr uint32_t kTypeVolumeInformation = 0x70;
constexpr size_t kVolumeFlags = 0x0A;  // u16, in the $VOLUME_INFORMATION value
constexpr uint16_t kVolumeIsDirty = 0x0001;

// Room for the clusters that each killed move leaves marked used.
TBuildStatus BuildSmallVolume(const std::string& image, const std::string& hiberfile = "") {
  TNtfsImageBuilder builder;
  TNtfsFormat format;
  format.imageBytes = 32u << 20;
  std::vector<TBuildStatus> steps = {builder.Format(image, format)};
  steps.push_back(
      builder.MakeFragmentedFile("/big.bin", TContent::Binary(1u << 20, 1), 4, 3, 1500));
  if (!hiberfile.empty())
    steps.push_back(builder.MakeFile("/hiberfil.sys", TContent::Bytes(hiberfile)));
  steps.push_back(builder.Finish());
  for (const TBuildStatus& step : steps) {
    if (!step) return step;
  }
  return TBuildStatus::Success();
}

// What OpenVolumeForMoves said when it refused drive D mapped to image;
// "opened" when it did not refuse.
std::string Refusal(const std::string& image) {
  TDriveTable drives;
  drives.Map('D', image);
  TLinuxServices services(drives);
  THandle volume = services.OpenVolumeForMoves('D');
  if (volume == InvalidHandle()) return services.LastErrorText();
  services.Close(volume);
  return "opened";
}

bool IsRoot() { return geteuid() == 0; }

// The state Windows leaves its journal ($LogFile) in, as its first restart
// page tells it: version 1.1 with a client still in use and no clean flag
// after a crash; version 2.0 after a fast-startup shutdown, which keeps the
// volume's metadata in Windows' memory.
struct TJournalState {
  const char* name;
  uint16_t majorVersion;
  uint16_t minorVersion;
  bool clientInUse;
  const char* refusal;  // what the refusal must say
};

// Offsets in a restart page and its restart area, in bytes.
constexpr size_t kRestartPageBytes = 4096;
constexpr size_t kRestartUsaOffset = 0x04;        // u16
constexpr size_t kRestartUsaCount = 0x06;         // u16
constexpr size_t kRestartSystemPageSize = 0x10;   // u32
constexpr size_t kRestartLogPageSize = 0x14;      // u32
constexpr size_t kRestartAreaOffset = 0x18;       // u16
constexpr size_t kRestartMinorVersion = 0x1A;     // u16
constexpr size_t kRestartMajorVersion = 0x1C;     // u16
constexpr size_t kArea = 0x30;                    // where this page's restart area lies
constexpr size_t kAreaLogClients = 0x08;          // u16
constexpr size_t kAreaFreeList = 0x0A;            // u16
constexpr size_t kAreaInUseList = 0x0C;           // u16
constexpr size_t kAreaSequenceBits = 0x10;        // u32
constexpr size_t kAreaLength = 0x14;              // u16
constexpr size_t kAreaClientArray = 0x16;         // u16
constexpr size_t kAreaFileSize = 0x18;            // s64
constexpr size_t kAreaRecordHeaderLength = 0x24;  // u16
constexpr size_t kAreaPageDataOffset = 0x26;      // u16
constexpr size_t kClientRecordBytes = 0xA0;
constexpr size_t kClientPrevious = 0x10;  // u16, in a client record
constexpr size_t kClientNext = 0x12;      // u16, in a client record
constexpr uint16_t kNoClient = 0xFFFF;

// Where a restart page was written in an image, and its bytes.
struct TWrittenPage {
  int64_t offset = -1;  // bytes from the image's start; -1 when nothing was written
  std::vector<uint8_t> bytes;
};

// The page of bytes at offset in the image; none when it cannot be read.
std::vector<uint8_t> ImageBytes(const std::string& image, int64_t offset, size_t count) {
  std::vector<uint8_t> bytes(count);
  const int descriptor = open(image.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return {};
  const bool read = pread(descriptor, bytes.data(), count, offset) == static_cast<ssize_t>(count);
  close(descriptor);
  return read ? bytes : std::vector<uint8_t>{};
}

// Writes the first restart page of the image's $LogFile as Windows leaves
// it in state.
TWrittenPage WriteJournalState(const std::string& image, const TJournalState& state) {
  int64_t offset = -1;
  int64_t journalBytes = 0;
  if (ntfs_volume* volume = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY)) {
    if (ntfs_inode* inode = ntfs_inode_open(volume, FILE_LogFile)) {
      if (ntfs_attr* data = ntfs_attr_open(inode, AT_DATA, AT_UNNAMED, 0)) {
        const LCN lcn = ntfs_attr_vcn_to_lcn(data, 0);
        if (lcn >= 0) offset = lcn << volume->cluster_size_bits;
        journalBytes = data->data_size;
        ntfs_attr_close(data);
      }
      ntfs_inode_close(inode);
    }
    ntfs_umount(volume, FALSE);
  }
  if (offset < 0 || journalBytes < static_cast<int64_t>(2 * kRestartPageBytes)) return {};
  std::vector<uint8_t> page(kRestartPageBytes, 0);
  std::memcpy(page.data(), "RSTR", 4);
  const uint16_t usaCount = 1 + kRestartPageBytes / 512;
  StoreLittleEndian<uint16_t>(page, kRestartUsaOffset, 0x1E);
  StoreLittleEndian<uint16_t>(page, kRestartUsaCount, usaCount);
  StoreLittleEndian<uint32_t>(page, kRestartSystemPageSize, kRestartPageBytes);
  StoreLittleEndian<uint32_t>(page, kRestartLogPageSize, kRestartPageBytes);
  StoreLittleEndian<uint16_t>(page, kRestartAreaOffset, kArea);
  StoreLittleEndian<uint16_t>(page, kRestartMinorVersion, state.minorVersion);
  StoreLittleEndian<uint16_t>(page, kRestartMajorVersion, state.majorVersion);
  // One client (the file system), in use after a crash, and no clean flag.
  StoreLittleEndian<uint16_t>(page, kArea + kAreaLogClients, 1);
  StoreLittleEndian<uint16_t>(page, kArea + kAreaFreeList, state.clientInUse ? kNoClient : 0);
  StoreLittleEndian<uint16_t>(page, kArea + kAreaInUseList, state.clientInUse ? 0 : kNoClient);
  int fileSizeBits = 0;
  for (uint64_t size = static_cast<uint64_t>(journalBytes); size != 0; size >>= 1) ++fileSizeBits;
  StoreLittleEndian<uint32_t>(page, kArea + kAreaSequenceBits, 67 - fileSizeBits);
  StoreLittleEndian<uint16_t>(page, kArea + kAreaLength, 0x30 + kClientRecordBytes);
  StoreLittleEndian<uint16_t>(page, kArea + kAreaClientArray, 0x30);
  StoreLittleEndian<uint64_t>(page, kArea + kAreaFileSize, static_cast<uint64_t>(journalBytes));
  StoreLittleEndian<uint16_t>(page, kArea + kAreaRecordHeaderLength, 0x30);
  StoreLittleEndian<uint16_t>(page, kArea + kAreaPageDataOffset, 0x40);
  StoreLittleEndian<uint16_t>(page, kArea + 0x30 + kClientPrevious, kNoClient);
  StoreLittleEndian<uint16_t>(page, kArea + 0x30 + kClientNext, kNoClient);
  // The update sequence: each sector's last word moves into the array and
  // the sequence number takes its place.
  const uint16_t sequence = 1;
  StoreLittleEndian<uint16_t>(page, 0x1E, sequence);
  for (size_t sector = 0; sector + 1 < usaCount; ++sector) {
    const size_t last = (sector + 1) * 512 - 2;
    StoreLittleEndian<uint16_t>(page, 0x1E + 2 * (sector + 1), LittleEndian<uint16_t>(page, last));
    StoreLittleEndian<uint16_t>(page, last, sequence);
  }
  const int descriptor = open(image.c_str(), O_RDWR | O_CLOEXEC);
  if (descriptor < 0) return {};
  const bool written =
      pwrite(descriptor, page.data(), page.size(), offset) == static_cast<ssize_t>(page.size());
  close(descriptor);
  if (!written) return {};
  return TWrittenPage{offset, page};
}

// Where the file at path of drive D mapped to image starts, as an analysis
// reads it.
int64_t FirstCluster(const std::string& image, const char* path) {
  TDriveTable drives;
  drives.Map('D', image);
  TLinuxServices services(drives);
  THandle file = services.OpenForRead(path, false);
  const std::vector<TStreamRun> runs = RunsThrough(services, file);
  services.Close(file);
  return runs.empty() ? -1 : runs.front().lcn;
}

class NtfsMoveRefusal : public testing::Test {
 protected:
  TScratchFolder scratch_;
  const std::string image_ = scratch_ / "volume.img";
};

TEST_F(NtfsMoveRefusal, ACleanVolumeOpensAndTheVolumeIsWrittenByOneOpenAtATime) {
  ASSERT_TRUE(BuildSmallVolume(image_).ok);
  TDriveTable drives;
  drives.Map('D', image_);
  TLinuxServices services(drives);
  THandle volume = services.OpenVolumeForMoves('D');
  ASSERT_NE(volume, InvalidHandle()) << services.LastErrorText();
  // A second open, here or in another diskopt, waits for the first to close.
  EXPECT_EQ(services.OpenVolumeForMoves('D'), InvalidHandle());
  EXPECT_NE(services.LastErrorText().find("already open for moving"), std::string::npos)
      << services.LastErrorText();
  services.Close(volume);
  THandle again = services.OpenVolumeForMoves('D');
  EXPECT_NE(again, InvalidHandle()) << services.LastErrorText();
  services.Close(again);
}

TEST_F(NtfsMoveRefusal, FoldersAndMissingDrivesAreRefused) {
  TDriveTable drives;
  drives.Map('E', scratch_.Path());
  TLinuxServices services(drives);
  EXPECT_EQ(services.OpenVolumeForMoves('E'), InvalidHandle());
  EXPECT_NE(services.LastErrorText().find("works on NTFS volumes only"), std::string::npos)
      << services.LastErrorText();
  EXPECT_EQ(services.OpenVolumeForMoves('Q'), InvalidHandle());
  EXPECT_NE(services.LastErrorText().find("drive Q: is not mapped"), std::string::npos)
      << services.LastErrorText();
}

TEST_F(NtfsMoveRefusal, VolumesWindowsLeftUncleanAreRefusedWithTheCure) {
  // Marked dirty in $Volume: chkdsk must see it first.
  ASSERT_TRUE(BuildSmallVolume(image_).ok);
  const TBuildStatus dirtied = PatchMftRecord(image_, "/$Volume", [](std::vector<uint8_t>& record) {
    size_t value = 0;
    if (FindAttribute(record, kTypeVolumeInformation, &value) < 0) return false;
    StoreLittleEndian<uint16_t>(
        record, value + kVolumeFlags,
        LittleEndian<uint16_t>(record, value + kVolumeFlags) | kVolumeIsDirty);
    return true;
  });
  ASSERT_TRUE(dirtied.ok) << dirtied.message;
  std::string said = Refusal(image_);
  EXPECT_NE(said.find("marked dirty"), std::string::npos) << said;
  EXPECT_NE(said.find("chkdsk /f"), std::string::npos) << said;

  // Hibernated: hiberfil.sys in the root begins "hibr".
  const std::string hibernated = scratch_ / "hibernated.img";
  ASSERT_TRUE(BuildSmallVolume(hibernated, "hibr" + std::string(8188, '\x01')).ok);
  said = Refusal(hibernated);
  EXPECT_NE(said.find("Windows is hibernated"), std::string::npos) << said;
  // A hiberfil.sys of zeros (after a full shutdown) is no hibernation.
  const std::string shutDown = scratch_ / "shut-down.img";
  ASSERT_TRUE(BuildSmallVolume(shutDown, std::string(8192, '\0')).ok);
  EXPECT_EQ(Refusal(shutDown), "opened");
}

// A journal Windows has not finished with is refused, never reset: its
// changes would be lost, or Windows would write back metadata it kept.
TEST_F(NtfsMoveRefusal, AJournalWindowsHasNotFinishedWithIsRefusedAndLeftAsItIs) {
  const TJournalState states[] = {
      {"crashed", 1, 1, true, "the volume's journal ($LogFile) holds changes not yet applied"},
      {"fast startup", 2, 0, false, "Windows was not shut down fully (fast startup"},
  };
  for (const TJournalState& state : states) {
    SCOPED_TRACE(state.name);
    const std::string image = scratch_ / (std::string(state.name) + ".img");
    ASSERT_TRUE(BuildSmallVolume(image).ok);
    const TWrittenPage page = WriteJournalState(image, state);
    ASSERT_GE(page.offset, 0);
    const std::string said = Refusal(image);
    EXPECT_NE(said.find(state.refusal), std::string::npos) << said;
    EXPECT_EQ(ImageBytes(image, page.offset, page.bytes.size()), page.bytes);
    // The analysis reads it as before.
    EXPECT_GE(FirstCluster(image, "D:\\big.bin"), 0);
  }
  // The same page marked clean by a full shutdown opens.
  const std::string clean = scratch_ / "clean.img";
  ASSERT_TRUE(BuildSmallVolume(clean).ok);
  ASSERT_GE(WriteJournalState(clean, {"clean", 1, 1, false, ""}).offset, 0);
  EXPECT_EQ(Refusal(clean), "opened");
}

TEST_F(NtfsMoveRefusal, AnImageOpenForWritingElsewhereIsRefused) {
  ASSERT_TRUE(BuildSmallVolume(image_).ok);
  const int writer = open(image_.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  const std::string said = Refusal(image_);
  close(writer);
  EXPECT_NE(said.find("open for writing by process " + std::to_string(getpid())), std::string::npos)
      << said;
  // Readers are no writers.
  const int reader = open(image_.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(Refusal(image_), "opened");
  close(reader);
}

TEST_F(NtfsMoveRefusal, AnImageOnAReadOnlyFileSystemIsRefused) {
  if (!IsRoot()) GTEST_SKIP() << "a read-only bind mount needs root";
  ASSERT_TRUE(BuildSmallVolume(image_).ok);
  const std::string view = scratch_ / "read-only";
  ASSERT_EQ(mkdir(view.c_str(), 0700), 0);
  if (mount(scratch_.Path().c_str(), view.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "no bind mount here: " << std::strerror(errno);
  }
  if (mount(nullptr, view.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    umount2(view.c_str(), MNT_DETACH);
    GTEST_SKIP() << "no read-only remount here: " << std::strerror(errno);
  }
  const std::string said = Refusal(view + "/volume.img");
  umount2(view.c_str(), MNT_DETACH);
  EXPECT_NE(said.find("read-only file system"), std::string::npos) << said;
}

TEST_F(NtfsMoveRefusal, AnImageAttachedToALoopDeviceIsRefused) {
  if (!IsRoot()) GTEST_SKIP() << "losetup needs root";
  ASSERT_TRUE(BuildSmallVolume(image_).ok);
  const TCommandResult attached = RunCommand("losetup -f --show " + image_ + " 2>/dev/null");
  if (attached.status != 0 || attached.output.empty()) {
    GTEST_SKIP() << "no loop device here";
  }
  std::string loop = attached.output;
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  const std::string said = Refusal(image_);
  RunCommand("losetup -d " + loop);
  EXPECT_NE(said.find("attached to the loop device " + loop), std::string::npos) << said;
  EXPECT_NE(said.find("losetup -d"), std::string::npos) << said;
}

// A block device moves as an image does; a volume is refused while it is
// mounted, as a block device or as an image.
TEST_F(NtfsMoveRefusal, ABlockDeviceMovesAndAMountedVolumeIsRefused) {
  if (!IsRoot()) GTEST_SKIP() << "losetup needs root";
  ASSERT_TRUE(BuildSmallVolume(image_).ok);
  const std::map<std::string, uint64_t> hashes = HashStreams(image_);
  const TCommandResult attached = RunCommand("losetup -f --show " + image_ + " 2>/dev/null");
  if (attached.status != 0 || attached.output.empty()) {
    GTEST_SKIP() << "no loop device here";
  }
  std::string loop = attached.output;
  while (!loop.empty() && loop.back() == '\n') loop.pop_back();
  {
    TDriveTable drives;
    drives.Map('D', loop);
    TLinuxServices services(drives);
    THandle volume = services.OpenVolumeForMoves('D');
    EXPECT_NE(volume, InvalidHandle()) << services.LastErrorText();
    THandle file = services.OpenFileForMoves(volume, "D:\\big.bin", false);
    EXPECT_NE(file, InvalidHandle()) << services.LastErrorText();
    const int64_t count = AllocatedClusters(RunsThrough(services, file));
    int64_t clusters = 0;
    const std::vector<uint8_t> bitmap = BitmapThrough(services, volume, &clusters);
    const int64_t target = FreeStretch(bitmap, clusters, count, 3000);
    EXPECT_EQ(MoveThrough(services, volume, file, 0, target, static_cast<uint32_t>(count)),
              kStatusSuccess)
        << services.LastErrorText();
    EXPECT_EQ(RunsThrough(services, file), (std::vector<TStreamRun>{{0, target, count}}));
    services.Close(file);
    services.Close(volume);
  }
  // Mounted by the kernel's NTFS driver, or else through FUSE, where either
  // is there.
  const std::string point = scratch_ / "mounted";
  ASSERT_EQ(mkdir(point.c_str(), 0700), 0);
  std::string said = "not mounted";
  if (RunCommand("mount -o ro " + loop + " " + point + " 2>/dev/null").status == 0 ||
      RunCommand("ntfs-3g -o ro " + loop + " " + point + " 2>/dev/null").status == 0) {
    said = Refusal(loop);
    RunCommand("umount " + point);
  }
  RunCommand("losetup -d " + loop);
  if (said != "not mounted") {
    EXPECT_NE(said.find("is mounted at " + point), std::string::npos) << said;
  }
  // The image itself mounted through FUSE, where it is there.
  if (RunCommand("ntfs-3g -o ro " + image_ + " " + point + " 2>/dev/null").status == 0) {
    said = Refusal(image_);
    RunCommand("umount " + point);
    EXPECT_NE(said.find("is mounted at " + point), std::string::npos) << said;
  }
  EXPECT_EQ(HashStreams(image_), hashes);
  const TBitmapCheck check = CheckClusterBitmap(image_);
  EXPECT_TRUE(check.Sound()) << check.Text();
}

TEST(NtfsMoveAccess, MountTableAndDescriptorFlagsAreRead) {
  std::string point;
  std::string source;
  ASSERT_TRUE(
      MountInfoEntry("36 35 98:0 /mnt1 /mnt/with\\040blank rw,noatime master:1 - ext3 /dev/root "
                     "rw,errors=continue",
                     &point, &source));
  EXPECT_EQ(point, "/mnt/with blank");
  EXPECT_EQ(source, "/dev/root");
  ASSERT_TRUE(
      MountInfoEntry("40 1 0:40 / /srv rw - fuseblk /srv/disk\\040one.img rw", &point, &source));
  EXPECT_EQ(source, "/srv/disk one.img");
  EXPECT_FALSE(MountInfoEntry("garbage", &point, &source));
  EXPECT_FALSE(FdInfoWrites("pos:\t0\nflags:\t0100000\nmnt_id:\t30\n"));
  EXPECT_TRUE(FdInfoWrites("pos:\t0\nflags:\t0100002\nmnt_id:\t30\n"));
  EXPECT_TRUE(FdInfoWrites("pos:\t0\nflags:\t02000001\n"));
}

// A process moving clusters back and forth is killed with SIGKILL at
// several moments: every file reads the same bytes, no cluster is held
// twice or held but free, and the next open for moves succeeds.
TEST_F(NtfsMoveRefusal, AKilledRunLeavesEveryFileWholeAndTheVolumeOpenable) {
  ASSERT_TRUE(BuildSmallVolume(image_).ok);
  const std::map<std::string, uint64_t> hashes = HashStreams(image_);
  const int64_t builtAt = FirstCluster(image_, "D:\\big.bin");
  bool moved = false;
  for (const int delayMs : {5, 20, 60, 150, 300}) {
    SCOPED_TRACE(delayMs);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TDriveTable drives;
      drives.Map('D', image_);
      TLinuxServices services(drives);
      THandle volume = services.OpenVolumeForMoves('D');
      THandle file = services.OpenFileForMoves(volume, "D:\\big.bin", false);
      if (volume == InvalidHandle() || file == InvalidHandle()) _exit(2);
      // Back and forth between two free stretches until killed.
      for (int round = 0;; ++round) {
        const std::vector<TStreamRun> runs = RunsThrough(services, file);
        int64_t clusters = 0;
        const std::vector<uint8_t> bitmap = BitmapThrough(services, volume, &clusters);
        const int64_t count = AllocatedClusters(runs);
        const int64_t target = FreeStretch(bitmap, clusters, count, round % 2 == 0 ? 2000 : 1000);
        if (target < 0) _exit(3);
        if (MoveThrough(services, volume, file, 0, target, static_cast<uint32_t>(count)) !=
            kStatusSuccess) {
          _exit(4);
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the mover ended on its own with " << WEXITSTATUS(status);
    EXPECT_EQ(HashStreams(image_), hashes);
    const TBitmapCheck check = CheckClusterBitmap(image_);
    EXPECT_TRUE(check.Sound()) << check.Text();
    EXPECT_EQ(Refusal(image_), "opened");
    moved = moved || FirstCluster(image_, "D:\\big.bin") != builtAt;
  }
  // The kills came while the mover was moving, not before it began.
  EXPECT_TRUE(moved);
}

}  // namespace
