// Paths as the window shows them: an item of a drive of the system after its
// letter, an item of a Linux folder drive below the folder's real path with
// '/', an item of an NTFS image after the image's name; a folder's path and
// the root's end with the separator.
#include "drive/user_paths.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/system_services.h"

namespace {

TEST(UserPaths, NameEachItemAsTheUserKnowsItOnEachKindOfDrive) {
  using TKind = TDriveOrigin::TKind;
  const struct {
    TKind kind;
    const char* origin;
    const char* listingPath;
    bool folder;
    const char* shown;
  } cases[] = {
      {TKind::kSystemDrive, "", "\\docs\\a.txt", false, "D:\\docs\\a.txt"},
      {TKind::kSystemDrive, "", "\\docs", true, "D:\\docs\\"},
      {TKind::kSystemDrive, "", "", true, "D:\\"},
      {TKind::kFolder, "/usr/share", "\\doc\\bash\\README", false, "/usr/share/doc/bash/README"},
      {TKind::kFolder, "/usr/share", "\\doc", true, "/usr/share/doc/"},
      {TKind::kFolder, "/usr/share", "", true, "/usr/share/"},
      {TKind::kFolder, "/", "\\etc\\fstab", false, "/etc/fstab"},
      {TKind::kFolder, "/", "", true, "/"},
      {TKind::kNtfsVolume, "/srv/images/disk.img", "\\Windows\\notepad.exe", false,
       "disk.img:\\Windows\\notepad.exe"},
      {TKind::kNtfsVolume, "/srv/images/disk.img", "", true, "disk.img:\\"},
      {TKind::kNtfsVolume, "/dev/sdb1", "\\a b\\c.txt", false, "sdb1:\\a b\\c.txt"},
  };
  for (const auto& c : cases) {
    TDriveOrigin origin;
    origin.kind = c.kind;
    origin.path = c.origin;
    EXPECT_EQ(UserPath(UserPathsOf('D', origin), c.listingPath, c.folder), c.shown)
        << c.origin << " " << c.listingPath;
  }
}

// The status line shows the path the worker is at as the user knows it;
// texts that are no path of the drive pass as they are.
TEST(UserPaths, TheStatusLineNamesTheWorkersPathAsTheUserKnowsIt) {
  const TUserPaths folder = UserPathsOf('E', TDriveOrigin{TDriveOrigin::TKind::kFolder, "/usr"});
  const TUserPaths drive = UserPathsOf('E', TDriveOrigin{});
  const struct {
    const TUserPaths& paths;
    const char* detail;
    const char* shown;
  } cases[] = {
      {folder, "E:\\lib\\python3\\yaml.py", "/usr/lib/python3/yaml.py"},
      {folder, "e:\\share\\doc\\", "/usr/share/doc/"},
      {folder, "E:\\", "/usr/"},
      {folder, "D:\\lib\\a.so", "D:\\lib\\a.so"},  // another drive's
      {folder, "E:", "E:"},
      {folder, "Filling", "Filling"},
      {folder, "", ""},
      {drive, "E:\\docs\\a.txt", "E:\\docs\\a.txt"},
  };
  for (const auto& c : cases) EXPECT_EQ(UserDetail(c.paths, 'E', c.detail), c.shown) << c.detail;
}

TEST(UserPaths, TheSummaryNamesWhatStandsBehindALetterButNotTheSystemsOwnDrive) {
  TDriveOrigin origin;
  EXPECT_EQ(AnalysedLine(origin), "");
  origin = TDriveOrigin{TDriveOrigin::TKind::kFolder, "/usr/share"};
  EXPECT_EQ(AnalysedLine(origin), "/usr/share, a folder");
  origin = TDriveOrigin{TDriveOrigin::TKind::kNtfsVolume, "/srv/disk.img"};
  EXPECT_EQ(AnalysedLine(origin), "/srv/disk.img, an NTFS volume");
}

}  // namespace
