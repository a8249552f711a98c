// What the summary panel and the failed drive's notice show, without a
// window: sizes in binary units with the exact bytes behind them, the
// summary's figures, the most fragmented files and their orders, the items
// a search finds, the advice for a failure, and the names pictures are
// saved under.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "tests/support/tree_builder.h"
#include "ui/failure_notice.h"
#include "ui/fragmented_files_table.h"
#include "ui/path_search.h"
#include "ui/picture_file_name.h"
#include "ui/readable_size.h"
#include "ui/summary_figures.h"

namespace {

TEST(SummaryFigures, SizesAreInBinaryUnitsWithOneDecimal) {
  const struct {
    int64_t bytes;
    const char* text;
  } cases[] = {
      {0, "0 bytes"},
      {1, "1 byte"},
      {1023, "1023 bytes"},
      {1024, "1.0 KiB"},
      {1536, "1.5 KiB"},
      {4096, "4.0 KiB"},
      // Just below a MiB would round to "1024.0 KiB": the next unit says it.
      {1048575, "1.0 MiB"},
      {20 * 1048576 + 314573, "20.3 MiB"},
      {int64_t{3} << 30, "3.0 GiB"},
      {(int64_t{3} << 40) / 2, "1.5 TiB"},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadableSize(c.bytes), c.text) << c.bytes;
  EXPECT_EQ(ExactBytesText(1572864), "1,572,864 bytes");
  EXPECT_EQ(ExactBytesText(1), "1 byte");
}

// The figure labelled label among rows; fails the test when there is none.
const TSummaryFigure& FigureOf(const std::vector<TSummaryFigure>& rows, const std::string& label) {
  for (const TSummaryFigure& row : rows) {
    if (row.label == label) return row;
  }
  ADD_FAILURE() << "no figure " << label;
  static const TSummaryFigure none;
  return none;
}

TEST(SummaryFigures, ShowTheClusterSizeAndSizesWithTheirExactBytes) {
  TVolumeSummary summary;
  summary.items = 1201;
  summary.files = 1000;
  summary.folders = 201;
  summary.fragmentedFiles = 25;
  summary.fragments = 1100;
  summary.totalClusters = 262144;  // 1 GiB of 4 KiB clusters
  summary.freeClusters = 65536;
  summary.freeExtents = 3;
  summary.largestFreeExtent = 49152;
  summary.plan.itemsToMove = 7;
  summary.plan.clustersToMove = 256;
  const std::vector<TSummaryFigure> rows = SummaryFigures(summary, 4096);
  EXPECT_EQ(FigureOf(rows, "Cluster size").value, "4.0 KiB");
  EXPECT_EQ(FigureOf(rows, "Cluster size").detail, "4,096 bytes");
  EXPECT_EQ(FigureOf(rows, "Volume size").value, "1.0 GiB");
  EXPECT_EQ(FigureOf(rows, "Volume size").detail, "1,073,741,824 bytes in 262,144 clusters");
  EXPECT_EQ(FigureOf(rows, "Free space").value, "256.0 MiB in 3 extents");
  EXPECT_EQ(FigureOf(rows, "Largest free extent").value, "192.0 MiB");
  EXPECT_EQ(FigureOf(rows, "Largest free extent").detail,
            "201,326,592 bytes in 49,152 clusters; 25.0% of the free space lies outside it");
  EXPECT_EQ(FigureOf(rows, "Items").value, "1,201");
  EXPECT_EQ(FigureOf(rows, "Fragmented files").value, "25 (2.5%)");
  EXPECT_EQ(FigureOf(rows, "Volume plan moves").value, "7 items, 1.0 MiB");
  // What did not happen has no row, as in the summary text.
  for (const TSummaryFigure& row : rows) {
    EXPECT_NE(row.label, "Damage");
    EXPECT_NE(row.label, "Held by no file");
    EXPECT_NE(row.label, "Not placed");
  }
  // Without the cluster size, sizes are told in clusters.
  const std::vector<TSummaryFigure> unknown = SummaryFigures(summary, 0);
  EXPECT_EQ(FigureOf(unknown, "Volume size").value, "262,144 clusters");
  for (const TSummaryFigure& row : unknown) EXPECT_NE(row.label, "Cluster size");
}

// A tree of files in 1 to 4 pieces (two of them in 3), a folder in pieces
// (never listed: it is no file) and a file whose runs touch (one piece).
class FragmentedFilesTest : public testing::Test {
 protected:
  FragmentedFilesTest() {
    docs = AddItem(root, "docs", 0, true, {{900, 1}, {950, 1}});
    b = AddItem(docs, "b.txt", 5000, false, {{10, 1}, {20, 1}, {30, 1}});
    whole = AddItem(docs, "whole.bin", 9000, false, {{40, 2}, {42, 2}});
    a = AddItem(root, "A.log", 700, false, {{50, 1}, {60, 1}, {70, 1}, {80, 1}});
    c = AddItem(root, "c.dat", 80000, false, {{100, 1}, {110, 1}});
    d = AddItem(root, "d.avi", 100, false, {{200, 1}, {210, 1}, {220, 1}});
  }
  ~FragmentedFilesTest() override { ReleaseItem(root); }

  static std::vector<std::string> Paths(const std::vector<TFragmentedFileRow>& rows) {
    std::vector<std::string> paths;
    for (const TFragmentedFileRow& row : rows) paths.push_back(row.path);
    return paths;
  }

  // Paths as the logs name them: no prefix, the volume's separator.
  const TUserPaths listing{};
  TItem* root = AddItem(nullptr, "D:\\", 0, true);
  TItem* docs;
  TItem* b;
  TItem* whole;
  TItem* a;
  TItem* c;
  TItem* d;
};

TEST_F(FragmentedFilesTest, MostPiecesFirstTiesInListingOrderAndHeldToTheLimit) {
  const std::vector<TFragmentedFileRow> rows =
      MostFragmentedFiles(root, listing, kFragmentedFilesListed);
  ASSERT_EQ(Paths(rows),
            (std::vector<std::string>{"\\A.log", "\\docs\\b.txt", "\\d.avi", "\\c.dat"}));
  EXPECT_EQ(rows[0].item, a);
  EXPECT_EQ(rows[0].bytes, 700);
  EXPECT_EQ(rows[0].fragments, 4);
  EXPECT_EQ(rows[1].item, b);
  EXPECT_EQ(Paths(MostFragmentedFiles(root, listing, 2)),
            (std::vector<std::string>{"\\A.log", "\\docs\\b.txt"}));
  EXPECT_TRUE(MostFragmentedFiles(nullptr, listing, 10).empty());
}

TEST_F(FragmentedFilesTest, EveryColumnSortsBothWaysAndTiesKeepTheFirstOrder) {
  const struct {
    TFragmentedFilesColumn column;
    bool ascending;
    std::vector<std::string> paths;
  } cases[] = {
      // Paths without regard to case: "\A.log" before "\c.dat".
      {TFragmentedFilesColumn::kPath, true, {"\\A.log", "\\c.dat", "\\d.avi", "\\docs\\b.txt"}},
      {TFragmentedFilesColumn::kPath, false, {"\\docs\\b.txt", "\\d.avi", "\\c.dat", "\\A.log"}},
      {TFragmentedFilesColumn::kSize, true, {"\\d.avi", "\\A.log", "\\docs\\b.txt", "\\c.dat"}},
      {TFragmentedFilesColumn::kSize, false, {"\\c.dat", "\\docs\\b.txt", "\\A.log", "\\d.avi"}},
      // b.txt and d.avi tie at 3 pieces: the listing's order either way.
      {TFragmentedFilesColumn::kFragments,
       true,
       {"\\c.dat", "\\docs\\b.txt", "\\d.avi", "\\A.log"}},
      {TFragmentedFilesColumn::kFragments,
       false,
       {"\\A.log", "\\docs\\b.txt", "\\d.avi", "\\c.dat"}},
  };
  std::vector<TFragmentedFileRow> rows = MostFragmentedFiles(root, listing, kFragmentedFilesListed);
  // Each sort starts from the one before: none may depend on the rows' order.
  for (int round = 0; round < 2; ++round) {
    for (const auto& c : cases) {
      SortFragmentedFiles(&rows, c.column, c.ascending);
      EXPECT_EQ(Paths(rows), c.paths) << static_cast<int>(c.column) << " " << c.ascending;
    }
  }
}

TEST_F(FragmentedFilesTest, SearchFindsEveryItemWhosePathHoldsTheTextInAnyCase) {
  const struct {
    const char* text;
    std::vector<const TItem*> items;
  } cases[] = {
      {".TXT", {b}},        {"\\docs", {docs, b, whole}},
      {"docs\\w", {whole}}, {"a", {a, d, c}},  // pre-order: docs's files, then A.log, c.dat, d.avi
      {"nothing", {}},      {"", {}},
  };
  for (const auto& c : cases) {
    std::vector<const TItem*> expected = c.items;
    std::vector<const TItem*> found = ItemsWhosePathHolds(root, listing, c.text);
    std::sort(expected.begin(), expected.end());
    std::vector<const TItem*> sorted = found;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, expected) << c.text;
  }
  // In the listing's order; the root, whose path is empty, never matches.
  EXPECT_EQ(ItemsWhosePathHolds(root, listing, "\\"),
            (std::vector<const TItem*>{docs, b, whole, a, c, d}));
  EXPECT_TRUE(ItemsWhosePathHolds(nullptr, listing, "a").empty());
}

// The table and the search name items as the window does: a Linux folder
// drive by the real path with its own separator, an image by its name.
TEST_F(FragmentedFilesTest, TableAndSearchUseThePathsTheUserKnows) {
  const TUserPaths folder{"/usr/share", '/'};
  EXPECT_EQ(Paths(MostFragmentedFiles(root, folder, 2)),
            (std::vector<std::string>{"/usr/share/A.log", "/usr/share/docs/b.txt"}));
  EXPECT_EQ(ItemsWhosePathHolds(root, folder, "share/docs/"),
            (std::vector<const TItem*>{b, whole}));
  EXPECT_TRUE(ItemsWhosePathHolds(root, folder, "\\docs").empty());
  const TUserPaths image{"disk.img:", '\\'};
  EXPECT_EQ(Paths(MostFragmentedFiles(root, image, 1)),
            (std::vector<std::string>{"disk.img:\\A.log"}));
  EXPECT_EQ(ItemsWhosePathHolds(root, image, "IMG:\\a"), (std::vector<const TItem*>{a}));
}

TEST(FailureNotice, SaysWhatFailedWhyAndWhatToDo) {
  const struct {
    const char* drive;
    const char* reason;
    const char* headline;
    const char* advice;  // a part of the advice
  } cases[] = {
      {"D",
       "the volume could not be opened: drive D: is not mapped: set DISKOPT_DRIVE_D to an NTFS "
       "image, a block device or a folder",
       "D: could not be analysed", "Do as the reason says"},
      {"/srv/disk.img", "the volume could not be opened: /srv/disk.img: not an NTFS volume",
       "/srv/disk.img could not be analysed", "ntfsfix"},
      {"/srv/gone.img", "the volume could not be opened: /srv/gone.img: Permission denied",
       "/srv/gone.img could not be analysed", "can be read"},
      {"/srv", "its free space could not be read: /srv: btrfs has no GETFSMAP",
       "/srv could not be analysed", "free-space map"},
      {"E", "the root folder could not be opened: refused", "E: could not be analysed",
       "root folder"},
      {"E", "there was not enough memory to go on with the analysis", "E: could not be analysed",
       "Close other programs"},
      {"E", "the log C:\\dirlist_free.log could not be written: No space left on device",
       "E: could not be analysed", "Make room"},
      {"E", "the analysis could not go on", "E: could not be analysed", "Analyse the drive again"},
  };
  for (const auto& c : cases) {
    const TFailureNotice notice = FailureNoticeOf(c.drive, c.reason);
    EXPECT_EQ(notice.headline, c.headline) << c.reason;
    // The reason whole, as a sentence.
    std::string sentence = c.reason;
    sentence[0] = static_cast<char>(std::toupper(sentence[0]));
    EXPECT_EQ(notice.reason, sentence + ".");
    EXPECT_NE(notice.advice.find(c.advice), std::string::npos) << c.reason << ": " << notice.advice;
    EXPECT_EQ(FailureNoticeText(notice),
              notice.headline + "\n\n" + notice.reason + "\n\nWhat to do: " + notice.advice);
  }
}

TEST(PictureFileName, OffersTheDriveAndTheDateAndAddsTheExtensionLeftOut) {
  EXPECT_EQ(DefaultPictureName("D", 2026, 12, 9, ".png"), "drive-D-2026-12-09.png");
  EXPECT_EQ(DefaultPictureName("/srv/disk image.img", 2026, 1, 31, ".png"),
            "disk image.img-2026-01-31.png");
  EXPECT_EQ(DefaultPictureName("/srv/", 2027, 3, 4, ".bmp"), "srv-2027-03-04.bmp");
  EXPECT_EQ(DefaultPictureName("/", 2027, 3, 4, ".png"), "root-2027-03-04.png");
  const struct {
    const char* path;
    const char* saved;
  } cases[] = {
      {"/tmp/map", "/tmp/map.png"},
      {"/tmp/map.png", "/tmp/map.png"},
      {"/tmp/map.PNG", "/tmp/map.PNG"},
      {"/tmp/map.jpg", "/tmp/map.jpg.png"},
      {"/tmp/.png", "/tmp/.png.png"},
      {"/tmp/x.png/map", "/tmp/x.png/map.png"},
      {"map", "map.png"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithPictureExtension(c.path, ".png"), c.saved) << c.path;
}

}  // namespace
