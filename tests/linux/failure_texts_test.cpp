// What a Linux user is told when a drive cannot be analysed: the services
// word each failure with the path it concerns and the likely cure, and the
// drive's status bar shows it behind the stage that failed.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/support/fake_window_system.h"

namespace {

// A file system mounted over a scratch folder for the life of a test; root
// only, so the test is skipped where mounts are refused.
class TScratchMount {
 public:
  TScratchMount(const std::string& where, const char* type, unsigned long flags)
      : where_(where), mounted_(mount(type, where.c_str(), type, flags, "size=4m") == 0) {}
  ~TScratchMount() {
    if (mounted_) umount2(where_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }

 private:
  std::string where_;
  bool mounted_;
};

// The reason a drive ends with when letter D is mapped as map says, its
// export going to exportFolder (none when empty).
std::string ReasonFor(const std::function<void(TDriveTable&)>& map,
                      const std::string& exportFolder = std::string()) {
  TDriveTable drives;
  map(drives);
  TLinuxServices services(drives);
  TFakeWindowSystem windows;
  TDriveOptimizer drive('D', services, windows, kDriveStages);
  drive.exportFolder = exportFolder;
  drive.RunPipeline();
  EXPECT_EQ(drive.statusText.Get(), "Finished");
  EXPECT_EQ(drive.detailText.Get(), drive.FailureReason());
  return drive.FailureReason();
}

TEST(LinuxFailureTexts, EachMappingThatCannotBeAnalysedSaysWhyAndHowToCureIt) {
  TScratchFolder scratch;
  const std::string zeros = scratch / "zeros.img";
  WriteFile(zeros, std::string(1 << 20, '\0'));
  const std::string ext4 = scratch / "ext4.img";
  WriteFile(ext4, std::string(4 << 20, '\0'));
  ASSERT_EQ(std::system(("mke2fs -q -F -t ext4 " + ext4 + " >/dev/null 2>&1").c_str()), 0);

  const struct {
    const char* name;
    std::function<void(TDriveTable&)> map;
    std::string reason;
  } cases[] = {
      {"unmapped", [](TDriveTable&) {},
       "the volume could not be opened: drive D: is not mapped: set DISKOPT_DRIVE_D to an NTFS "
       "image, a block device or a folder"},
      {"missing", [&](TDriveTable& d) { d.Map('D', scratch / "nothing.img"); },
       "the volume could not be opened: DISKOPT_DRIVE_D=" + (scratch / "nothing.img") +
           " names no NTFS image, block device or folder (it does not exist or is of another "
           "kind)"},
      // Named on the command line: no variable was set, so none is named.
      {"argument", [&](TDriveTable& d) { d.MapArgumentPath('D', scratch / "nothing.img"); },
       "the volume could not be opened: " + (scratch / "nothing.img") +
           ": No such file or directory"},
      {"zeros", [&](TDriveTable& d) { d.Map('D', zeros); },
       "the volume could not be opened: " + zeros + ": not an NTFS volume"},
      {"ext4", [&](TDriveTable& d) { d.Map('D', ext4); },
       "the volume could not be opened: " + ext4 + ": not an NTFS volume"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReasonFor(c.map), c.reason) << c.name;
}

TEST(LinuxFailureTexts, AFolderWithoutGetfsmapNamesItsFileSystem) {
  TScratchFolder scratch;
  TScratchMount tmpfs(scratch.Path(), "tmpfs", 0);
  if (!tmpfs.Mounted()) GTEST_SKIP() << "mounting needs root";
  WriteFile(scratch / "a.txt", "abc");
  EXPECT_EQ(ReasonFor([&](TDriveTable& d) { d.Map('D', scratch.Path()); }),
            "the volume could not be opened: " + scratch.Path() +
                ": tmpfs has no GETFSMAP: folders on ext4, XFS and btrfs are supported");
}

// Output that cannot be written is named with the system's own reason, and
// none of the run's files replaces an old one.
TEST(LinuxFailureTexts, OutputThatCannotBeWrittenSaysTheSystemsReason) {
  TScratchFolder logs;
  TScratchFolder readOnlyLogs;
  TScratchMount readOnly(readOnlyLogs.Path(), "tmpfs", MS_RDONLY);
  if (!readOnly.Mounted()) GTEST_SKIP() << "mounting needs root";
  // A folder on this machine's own file system, whose free space root can read.
  TScratchFolder folder;
  WriteFile(folder / "a.txt", "abc");
  const std::string missing = logs / "no-such-folder";
  const std::string kept = "; no other file of this run was put in place either";
  const struct {
    const char* name;
    std::string logFolder;
    std::string fifo;        // a log name a named pipe is made at
    std::string jsonFolder;  // the export's; empty for none
    std::string reason;
  } cases[] = {
      {"read-only", readOnlyLogs.Path(), "", "",
       "the log C:\\dirlist_free.log could not be written: " + (readOnlyLogs / "dirlist_free.log") +
           ": Read-only file system"},
      {"fifo", logs.Path(), "DirList_rules.log", "",
       "the log C:\\DirList_rules.log could not be written: " + (logs / "DirList_rules.log") +
           ": a named pipe (FIFO) is there, which is never replaced by a file" + kept},
      {"export folder", logs.Path(), "", missing,
       "the export " + missing + "/drive-D.json could not be written: " + missing +
           "/drive-D.json: its folder does not exist" + kept},
  };
  for (const auto& c : cases) {
    if (!c.fifo.empty()) {
      ASSERT_EQ(mkfifo((c.logFolder + "/" + c.fifo).c_str(), 0644), 0);
    }
    if (c.logFolder == logs.Path()) WriteFile(logs / "dirlist_free.log", "old");
    const std::string reason = ReasonFor(
        [&](TDriveTable& d) {
          d.Map('C', c.logFolder);
          d.Map('D', folder.Path());
        },
        c.jsonFolder);
    EXPECT_EQ(reason.substr(0, c.reason.size()), c.reason) << c.name;
    if (c.logFolder == logs.Path()) {
      EXPECT_EQ(ReadFile(logs / "dirlist_free.log"), "old") << c.name;
    }
    if (!c.fifo.empty()) unlink((c.logFolder + "/" + c.fifo).c_str());
  }
  EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
