#include "platform/linux/drive_table.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/linux/linux_services_test_support.h"

namespace {

constexpr TDriveKind kHost = TDriveKind::kHostFolder;
constexpr TDriveKind kNtfs = TDriveKind::kNtfsVolume;
constexpr TDriveKind kMissing = TDriveKind::kMissing;

struct TResolveCase {
  const char* path;
  TDriveKind kind;
  bool wholeVolume;
  const char* expectedPath;  // "$" stands for the folder mapped as D:
};

class DriveTableResolve : public testing::TestWithParam<TResolveCase> {};

TEST_P(DriveTableResolve, TranslatesPath) {
  TScratchFolder scratch;
  WriteFile(scratch / "volume.img", "");
  TDriveTable table;
  table.Map('D', scratch.Path());
  table.Map('e', scratch / "volume.img");
  const TResolveCase& c = GetParam();
  std::string expected = c.expectedPath;
  if (!expected.empty() && expected[0] == '$') expected.replace(0, 1, scratch.Path());
  const TLocation where = table.Resolve(c.path);
  EXPECT_EQ(where.kind, c.kind);
  EXPECT_EQ(where.wholeVolume, c.wholeVolume);
  EXPECT_EQ(where.path, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DriveTableResolve,
    testing::Values(
        TResolveCase{"C:\\dirlist_free.log", kHost, false, "./dirlist_free.log"},
        TResolveCase{"c:\\DirList_Optimized.log", kHost, false, "./DirList_Optimized.log"},
        TResolveCase{"d:\\a\\b\\", kHost, false, "$/a/b/"}, TResolveCase{"D:", kHost, false, "$/"},
        TResolveCase{"D:Data*.*", kHost, false, "$/Data*.*"},
        TResolveCase{"E:\\x\\y.txt", kNtfs, false, "/x/y.txt"},
        TResolveCase{"F:\\x", kMissing, false, ""}, TResolveCase{"\\\\.\\d:", kHost, true, "$"},
        TResolveCase{"\\\\.\\E:", kNtfs, true, ""}, TResolveCase{"\\\\.\\F:", kMissing, true, ""},
        TResolveCase{"\\\\.\\D:\\", kMissing, true, ""},
        TResolveCase{"/srv\\data\\x*.*", kHost, false, "/srv/data/x*.*"},
        TResolveCase{"rel\\x", kHost, false, "rel/x"}));

TEST(DriveTable, JoinsWithoutDoubleSeparators) {
  TScratchFolder scratch;
  TDriveTable table;
  table.Map('R', "/");
  table.Map('T', scratch.Path() + "//");
  EXPECT_EQ(table.Resolve("R:\\etc").path, "/etc");
  EXPECT_EQ(table.Resolve("T:\\\\a").path, scratch.Path() + "/a");
}

TEST(DriveTable, HostPathsKeepWhatLiesBelowTheDriveFolder) {
  // Host opens resolve `below` beneath the drive's folder, so it must hold
  // the path's own "..", never one resolved away against the folder.
  TScratchFolder scratch;
  TDriveTable table;
  table.Map('D', scratch.Path());
  struct TCase {
    const char* path;
    const char* below;
    const char* drivePath;  // "$" stands for the folder mapped as D:
  };
  const TCase cases[] = {
      {"D:\\", "", "$"},
      {"D:\\\\\\a\\b\\", "a/b/", "$"},
      {"D:\\..\\x.log", "../x.log", "$"},
      {"D:sub\\*.*", "sub/*.*", "$"},
      {"/srv\\data", "", ""},
      {"\\\\.\\D:", "", "$"},
  };
  for (const TCase& c : cases) {
    const TLocation where = table.Resolve(c.path);
    EXPECT_EQ(where.below, c.below) << c.path;
    EXPECT_EQ(where.drivePath, c.drivePath[0] == '$' ? scratch.Path() : "") << c.path;
  }
}

TEST(DriveTable, ClassifiesWhatTheLetterIsMappedTo) {
  TScratchFolder scratch;
  WriteFile(scratch / "image", "");
  ASSERT_EQ(mkfifo((scratch / "pipe").c_str(), 0600), 0);
  struct stat loop;
  const bool haveBlockDevice = stat("/dev/loop0", &loop) == 0 && S_ISBLK(loop.st_mode);
  TDriveTable table;
  table.Map('g', scratch.Path());
  table.Map('H', scratch / "image");
  table.Map('I', scratch / "absent");
  table.Map('J', scratch / "pipe");
  table.Map('K', "/dev/loop0");
  EXPECT_EQ(table.Kind('G'), kHost);
  EXPECT_EQ(table.Kind('h'), kNtfs);
  EXPECT_EQ(table.Kind('I'), kMissing);
  EXPECT_EQ(table.Kind('J'), kMissing);
  EXPECT_EQ(table.Kind('K'), haveBlockDevice ? kNtfs : kMissing);
  table.Map('C', scratch / "absent");  // C: no longer the working directory
  EXPECT_EQ(table.Resolve("C:\\x.log").kind, kMissing);
}

TEST(DriveTable, ReadsNonEmptyUpperCaseVariables) {
  TScratchFolder scratch;
  TEnvironmentOverride q("DISKOPT_DRIVE_Q", scratch.Path());
  TEnvironmentOverride c("DISKOPT_DRIVE_C", std::string());
  TEnvironmentOverride lower("DISKOPT_DRIVE_n", scratch.Path());
  const TDriveTable table = TDriveTable::FromEnvironment();
  EXPECT_EQ(table.Resolve("q:\\a").path, scratch.Path() + "/a");
  EXPECT_EQ(table.Resolve("C:\\a").path, "./a");
  EXPECT_EQ(table.Kind('N'), kMissing);
}

}  // namespace
