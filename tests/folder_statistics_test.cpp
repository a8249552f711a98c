#include "app/folder_statistics.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/host_services.h"
#include "tests/support/scripted_volume.h"

namespace {

TFolderCounters Count(TSystemServices& services, const std::string& path) {
  TFolderCounters counters = {0, 0, 0, 0};
  CountFolder(path.c_str(), &counters, services);
  return counters;
}

void ExpectCounts(const TFolderCounters& c, int files, int folders, int fileBytes,
                  int folderBytes) {
  EXPECT_EQ(c.fileCount, files);
  EXPECT_EQ(c.folderCount, folders);
  EXPECT_EQ(c.fileNameBytes, fileBytes);
  EXPECT_EQ(c.folderNameBytes, folderBytes);
}

TEST(FolderStatistics, CountsFilesAndFoldersOfARealTree) {
  auto services = MakeHostServices();
  THostFolder root;
  root.MakeFile("a.txt");          // 5
  root.MakeFile("bb", 100);        // 2
  root.MakeFolder("sub");          // 3
  root.MakeFile("sub/c.dat");      // 5
  root.MakeFolder("sub/.hidden");  // 7
  root.MakeFile("sub/.hidden/d");  // 1
  root.MakeFolder("empty");        // 5
  ExpectCounts(Count(*services, root.Path()), 4, 3, 13, 15);
}

TEST(FolderStatistics, EmptyAndMissingFoldersCountNothing) {
  auto services = MakeHostServices();
  THostFolder root;
  ExpectCounts(Count(*services, root.Path()), 0, 0, 0, 0);
  ExpectCounts(Count(*services, root.Path() + "missing" + root.Path().back()), 0, 0, 0, 0);
}

TEST(FolderStatistics, PathWithoutSeparatorMatchesNamesInItsParent) {
  auto services = MakeHostServices();
  THostFolder root;
  root.MakeFolder("Data");
  root.MakeFile("Data/inside.txt");
  root.MakeFile("Database.db");  // 11
  root.MakeFile("other.txt");
  std::string path = root.Path() + "Data";
  // Data itself is counted and then searched under the joined name DataData,
  // which does not exist; Database.db matches the pattern too.
  ExpectCounts(Count(*services, path), 1, 1, 11, 4);
}

TEST(FolderStatistics, LinkBackUpTheTreeIsCountedButNotEntered) {
  auto services = MakeHostServices();
  THostFolder root;
  root.MakeFolder("a");
  root.MakeFile("a/f");
  if (!root.MakeFolderLink("a/loop", root.Path())) GTEST_SKIP() << "no folder links here";
  ExpectCounts(Count(*services, root.Path()), 1, 2, 1, 5);
}

TEST(FolderStatistics, FolderThatCannotBeListedAddsOnlyItself) {
  TScriptedVolume volume('D');
  volume.AddFolder("D:\\locked").listFails = true;
  volume.AddFolder("D:\\open");
  volume.AddFile("D:\\open\\x", 0, {});
  ExpectCounts(Count(volume, "D:\\"), 1, 2, 1, 10);
}

TEST(FolderStatistics, DotEntriesAreNeverCountedButThreeDotsAre) {
  TScriptedVolume volume('D');
  volume.AddFolder("D:\\...");
  volume.AddFile("D:\\...\\f", 0, {});
  // The scripted volume lists "." and ".." in every folder but the root.
  ExpectCounts(Count(volume, "D:\\"), 1, 1, 1, 3);
}

TEST(FolderStatistics, DeepPathsAreSkippedWithoutOverrun) {
  TScriptedVolume volume('D');
  std::string path = "D:";
  for (int level = 0; level < 30; ++level) {
    path += "\\folder" + std::to_string(level);  // about 8 characters a level
    volume.AddFolder(path);
  }
  // Levels whose path with "\*.*" would pass 259 characters are left out:
  // level 28 lists at 258 characters, level 29 would need 267.
  EXPECT_EQ(Count(volume, "D:\\").folderCount, 29);
}

struct TReportCase {
  TFolderCounters counters;
  const char* expected;
};

TEST(FolderStatistics, ReportShowsCountsAndWholeKilos) {
  const TReportCase cases[] = {
      {{0, 0, 0, 0},
       "Files: 0 (0 K)\nFolders: 0 (0 K)\n\nFile names: 0 (0 K)\nFolder names: 0 (0 K)"},
      {{1023, 1024, 2047, 2048},
       "Files: 1023 (0 K)\nFolders: 1024 (1 K)\n\nFile names: 2047 (1 K)\nFolder names: 2048 (2 "
       "K)"},
      {{2147483647, 1, 2, 3},
       "Files: 2147483647 (2097151 K)\nFolders: 1 (0 K)\n\nFile names: 2 (0 K)\nFolder names: 3 "
       "(0 K)"},
  };
  for (const TReportCase& c : cases) {
    char text[500];
    FormatFolderReport(c.counters, text);
    EXPECT_STREQ(text, c.expected);
  }
}

}  // namespace
