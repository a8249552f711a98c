// Logs and window pictures are written to a new file and renamed over their
// name when complete: a symbolic or hard link planted at the name is never
// written through, and a write that fails (a full file system) leaves the
// previous file whole and no new file behind.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QImage>
#include <QPixmap>
#include <filesystem>
#include <set>
#include <string>

#include "platform/linux/linux_services.h"
#include "platform/log_file.h"
#include "tests/linux/linux_services_test_support.h"
#include "tests/linux/qt_test_environment.h"
#include "ui/qt/snapshot_file.h"

namespace {

std::set<std::string> FolderNames(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

bool IsLonePlainFile(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1;
}

// The fixed log names, each with a symbolic link and a hard link planted
// at it by someone else.
TEST(ReplacedFiles, LogsReplaceLinksPlantedAtTheirNamesWithoutWritingThrough) {
  TScratchFolder scratch;
  TDriveTable drives;
  drives.Map('C', scratch.Path());
  TLinuxServices services(drives);
  for (const char* name : {"dirlist_free.log", "DirList_rules.log", "DirList_Optimized.log"}) {
    for (const bool hard : {false, true}) {
      const std::string target = scratch / (std::string(name) + ".target");
      WriteFile(target, "someone else's data");
      const std::string logPath = scratch / name;
      std::filesystem::remove(logPath);
      ASSERT_EQ(
          hard ? link(target.c_str(), logPath.c_str()) : symlink(target.c_str(), logPath.c_str()),
          0);
      {
        TOutputSet output;
        TLogFile log(services, (std::string("C:\\") + name).c_str(), output);
        ASSERT_TRUE(log.IsOpen()) << name;
        log.Print("%s\n", "the new log");
        EXPECT_TRUE(log.Close()) << name;
        EXPECT_EQ(output.Commit(), "") << name;
      }
      EXPECT_EQ(ReadFile(target), "someone else's data") << name << (hard ? " hard" : " symbolic");
      EXPECT_TRUE(IsLonePlainFile(logPath)) << name;
      EXPECT_EQ(ReadFile(logPath), "the new log\r\n") << name;
    }
  }
}

// A tmpfs of 64 KiB, mounted in a child's own mount namespace, which ends
// with the child: the log's second version does not fit.
TEST(ReplacedFiles, LogThatDoesNotFitLeavesThePreviousLogWhole) {
  enum { kKept, kDamaged, kCannotMount };
  TScratchFolder scratch;
  const std::string small = scratch / "small";
  ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
      _exit(kCannotMount);
    }
    TDriveTable drives;
    drives.Map('C', small);
    TLinuxServices services(drives);
    const std::string previous = "the previous log\r\nwhole to its last line\r\n";
    WriteFile(small + "/DirList_rules.log", previous);
    bool closed = true;
    std::string failure;
    {
      TOutputSet output;
      TLogFile log(services, "C:\\DirList_rules.log", output);
      // 200 KiB of lines: more than the file system holds.
      for (int line = 0; line < 5000; ++line) log.Print("%040d\n", line);
      closed = log.Close();
      failure = output.Commit();
    }
    const bool kept = !closed &&
                      failure ==
                          "the log C:\\DirList_rules.log could not be written: No space left on "
                          "device" &&
                      ReadFile(small + "/DirList_rules.log") == previous &&
                      FolderNames(small) == std::set<std::string>{"DirList_rules.log"};
    _exit(kept ? kKept : kDamaged);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == kCannotMount) GTEST_SKIP() << "cannot mount a tmpfs here";
  EXPECT_EQ(WEXITSTATUS(status), kKept);
}

TEST(ReplacedFiles, PicturesReplaceLinksPlantedAtTheirNamesWithoutWritingThrough) {
  EnsureQtApplication();
  TScratchFolder scratch;
  QPixmap picture(16, 8);
  picture.fill(Qt::red);
  for (const bool hard : {false, true}) {
    const std::string target = scratch / "target.png";
    WriteFile(target, "someone else's picture");
    const std::string path = scratch / "drive-F.png";
    std::filesystem::remove(path);
    ASSERT_EQ(hard ? link(target.c_str(), path.c_str()) : symlink(target.c_str(), path.c_str()), 0);
    EXPECT_EQ(SavePicture(picture, QString::fromStdString(path)), "");
    EXPECT_EQ(ReadFile(target), "someone else's picture");
    EXPECT_TRUE(IsLonePlainFile(path));
    EXPECT_EQ(QImage(QString::fromStdString(path)).size(), QSize(16, 8));
  }
  // A folder that does not exist takes no picture, says so and leaves nothing.
  EXPECT_EQ(SavePicture(picture, QString::fromStdString(scratch / "missing/drive-F.png")),
            scratch / "missing/drive-F.png" + ": its folder does not exist");
  EXPECT_EQ(FolderNames(scratch.Path()), (std::set<std::string>{"drive-F.png", "target.png"}));
}

}  // namespace
