// What a drive letter stands for on Linux, as the window and summary name
// it: a mapped folder or NTFS image by its absolute path, whatever relative
// or untidy text mapped it; a letter mapped to nothing as the system's own.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/linux/drive_table.h"
#include "platform/linux/host_paths.h"
#include "platform/linux/linux_services.h"
#include "tests/linux/linux_services_test_support.h"

namespace {

std::string WorkingFolder() {
  char folder[4096];
  return getcwd(folder, sizeof folder) != nullptr ? folder : "";
}

TEST(DriveOrigin, PathsAreMadeAbsoluteByTheirTextAlone) {
  const std::string here = WorkingFolder();
  const struct {
    std::string given;
    std::string absolute;
  } cases[] = {
      {"/srv/disk.img", "/srv/disk.img"},
      {"/srv//images/./disk.img", "/srv/images/disk.img"},
      {"/usr/share/", "/usr/share"},
      {"/", "/"},
      {"//", "/"},
      {"disk.img", here + "/disk.img"},
      {"./images/disk.img", here + "/images/disk.img"},
      {".", here},
      {"", here},
      {"/srv/a/../b", "/srv/a/../b"},
  };
  for (const auto& c : cases) EXPECT_EQ(AbsolutePathText(c.given), c.absolute) << c.given;
}

TEST(DriveOrigin, EachLetterSaysWhatItStandsFor) {
  TScratchFolder scratch;
  std::ofstream(scratch / "disk.img") << "not yet a volume";
  TDriveTable drives;
  drives.Map('D', scratch.Path() + "/");
  drives.Map('E', scratch / "disk.img");
  drives.Map('F', scratch / "missing");
  const TLinuxServices services(drives);

  const TDriveOrigin folder = services.DriveOrigin('D');
  EXPECT_EQ(folder.kind, TDriveOrigin::TKind::kFolder);
  EXPECT_EQ(folder.path, scratch.Path());
  const TDriveOrigin image = services.DriveOrigin('e');
  EXPECT_EQ(image.kind, TDriveOrigin::TKind::kNtfsVolume);
  EXPECT_EQ(image.path, scratch / "disk.img");
  EXPECT_EQ(services.DriveOrigin('F').kind, TDriveOrigin::TKind::kSystemDrive);
  EXPECT_EQ(services.DriveOrigin('G').kind, TDriveOrigin::TKind::kSystemDrive);
}

}  // namespace
