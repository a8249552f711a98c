// The Qt drive window once its analysis has ended: the summary panel beside
// the map (figures in binary units, the most fragmented files as a table
// that sorts by every column and selects and scrolls to a file when a row
// is clicked, a search that selects and outlines the items whose path
// matches), the failed drive that says why and what to do in the map's
// place, and "Save picture" that saves the map alone.
#include <gtest/gtest.h>

#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/linux/qt_test_environment.h"
#include "tests/support/scripted_volume.h"
#include "tests/support/summary_volume.h"
#include "ui/drive_window_layout.h"
#include "ui/qt/drawing_resources.h"
#include "ui/qt/drive_window.h"
#include "ui/qt/fragment_view.h"
#include "ui/qt/qt_window_system.h"
#include "ui/qt/summary_panel.h"

namespace {

// A drive optimizer over the volume and its window, kept open when its work
// is done; the window goes first, as it reads the drive optimizer until it
// is deleted.
struct TDriveWithWindow {
  TDriveWithWindow(TSystemServices& services, TWindowSystem& windows)
      : optimizer('D', services, windows, kDriveStages) {
    window = TDriveWindow::Open(optimizer);
    window->KeepOpenWhenDone();
  }
  ~TDriveWithWindow() { delete window; }

  TDriveOptimizer optimizer;
  QPointer<TDriveWindow> window;
};

// The names of the files' table's rows, top to bottom.
std::vector<std::string> PathsShown(const QTableWidget& table) {
  std::vector<std::string> paths;
  for (int row = 0; row < table.rowCount(); ++row) {
    paths.push_back(table.item(row, 0)->text().toStdString());
  }
  return paths;
}

// The label of window that holds text, or none.
QLabel* LabelHolding(QWidget& window, const QString& text) {
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text().contains(text)) return label;
  }
  return nullptr;
}

class QtSummaryPanelTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    CreateQtDrawingResources();
    unsetenv("DISKOPT_SNAPSHOT");
    PopulateSummaryVolume(volume);
  }

  // Plays the worker of an analysis that ends well: the tree, the free
  // space, the map's notice, the plan and the summary, "Finished" and the
  // worker's end. The panel appears.
  void Analyse(TDriveWithWindow& drive) {
    TDriveOptimizer& optimizer = drive.optimizer;
    optimizer.CreateMemoryTree();
    optimizer.MapFreeSpace();
    optimizer.FillMemoryTree();
    windows.PostFragmentsReady(optimizer);
    ASSERT_TRUE(ProcessEventsUntil([&] { return optimizer.fragmentView != nullptr; }, 2000));
    optimizer.OptimizeTree();
    optimizer.statusText.Set("Finished");
    windows.PostWorkerFinished(optimizer);
    ASSERT_TRUE(ProcessEventsUntil([&] { return drive.window->SummaryPanel() != nullptr; }, 2000));
    panel = drive.window->SummaryPanel();
    view = optimizer.fragmentView;
    // Laid out and painted, as a user first sees it.
    view->viewport()->grab();
  }

  TScriptedVolume volume{'D'};
  TQtWindowSystem windows;
  TSummaryPanel* panel = nullptr;
  TFragmentView* view = nullptr;
};

TEST_F(QtSummaryPanelTest, PanelBesideTheMapShowsTheFiguresInBinaryUnits) {
  TDriveWithWindow drive(volume, windows);
  Analyse(drive);
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(panel->isVisible());
  // Right of the map, in the map's rows.
  EXPECT_GT(panel->geometry().left(), view->geometry().right());
  EXPECT_EQ(panel->geometry().top(), view->geometry().top());
  EXPECT_EQ(panel->geometry().bottom(), view->geometry().bottom());
  QTableWidget& figures = *panel->Figures();
  std::vector<std::pair<std::string, std::string>> shown;
  for (int row = 0; row < figures.rowCount(); ++row) {
    shown.emplace_back(figures.item(row, 0)->text().toStdString(),
                       figures.item(row, 1)->text().toStdString());
  }
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0], std::make_pair(std::string("Cluster size"), std::string("4.0 KiB")));
  EXPECT_EQ(shown[1], std::make_pair(std::string("Volume size"), std::string("781.2 MiB")));
  EXPECT_EQ(figures.item(1, 1)->toolTip(), QStringLiteral("819,200,000 bytes in 200,000 clusters"));
  // "Summary..." hides the panel and the map takes its place back; again
  // shows it.
  const int narrow = view->width();
  view->Command(TMapCommand::kSummary);
  EXPECT_TRUE(panel->isHidden());
  EXPECT_GT(view->width(), narrow);
  view->Command(TMapCommand::kSummary);
  EXPECT_FALSE(panel->isHidden());
  EXPECT_EQ(view->width(), narrow);
}

TEST_F(QtSummaryPanelTest, AClickInTheFilesTableSelectsTheFileAndScrollsTheMapToIt) {
  TDriveWithWindow drive(volume, windows);
  Analyse(drive);
  ASSERT_NE(panel, nullptr);
  QTableWidget& files = *panel->Files();
  ASSERT_EQ(PathsShown(files),
            (std::vector<std::string>{"D:\\docs\\big.iso", "D:\\three.avi", "D:\\docs\\far.log"}));
  EXPECT_EQ(files.item(0, 1)->text(), QStringLiteral("32.0 KiB"));
  EXPECT_EQ(files.item(0, 1)->toolTip(), QStringLiteral("32,768 bytes"));
  EXPECT_EQ(files.item(0, 2)->text(), QStringLiteral("4"));
  ASSERT_EQ(view->Logic().FirstCluster(), 0);

  const QRect farRow = files.visualItemRect(files.item(2, 0));
  QTest::mouseClick(files.viewport(), Qt::LeftButton, Qt::NoModifier, farRow.center());
  ASSERT_NE(view->Logic().Selected(), nullptr);
  EXPECT_STREQ(view->Logic().Selected()->name, "far.log");
  // far.log's first cluster, 150,000, is now in the map's first line and
  // its cell is outlined.
  const TFragmentViewLogic& logic = view->Logic();
  const int64_t line = logic.Columns() * logic.ClustersPerCell();
  EXPECT_EQ(logic.FirstCluster(), 150000 / line * line);
  view->viewport()->grab();
  const int cell = static_cast<int>(150000 - logic.FirstCluster());
  EXPECT_NE(logic.OutlineOf(cell), 0u);
  EXPECT_EQ(view->verticalScrollBar()->value(), static_cast<int>(150000 / line / logic.Scale()));

  // Back up to three.avi, whose first piece is at 200.
  const QRect threeRow = files.visualItemRect(files.item(1, 0));
  QTest::mouseClick(files.viewport(), Qt::LeftButton, Qt::NoModifier, threeRow.center());
  ASSERT_NE(view->Logic().Selected(), nullptr);
  EXPECT_STREQ(view->Logic().Selected()->name, "three.avi");
  EXPECT_EQ(logic.FirstCluster(), 200 / line * line);
  // A file already in view is selected where the map stands.
  view->Command(TMapCommand::kZoomOut);
  const int64_t first = logic.FirstCluster();
  QTest::mouseClick(files.viewport(), Qt::LeftButton, Qt::NoModifier,
                    files.visualItemRect(files.item(0, 0)).center());
  EXPECT_STREQ(view->Logic().Selected()->name, "big.iso");
  EXPECT_EQ(logic.FirstCluster(), first);
}

TEST_F(QtSummaryPanelTest, ClickingEachHeaderOrdersTheRowsAndAgainReversesThem) {
  TDriveWithWindow drive(volume, windows);
  Analyse(drive);
  ASSERT_NE(panel, nullptr);
  QTableWidget& files = *panel->Files();
  QHeaderView& header = *files.horizontalHeader();
  const auto clickHeader = [&](int column) {
    const QPoint point(header.sectionViewportPosition(column) + header.sectionSize(column) / 2,
                       header.height() / 2);
    QTest::mouseClick(header.viewport(), Qt::LeftButton, Qt::NoModifier, point);
  };
  const std::vector<std::string> byPath = {"D:\\docs\\big.iso", "D:\\docs\\far.log",
                                           "D:\\three.avi"};
  const std::vector<std::string> bySize = {"D:\\docs\\far.log", "D:\\docs\\big.iso",
                                           "D:\\three.avi"};
  const std::vector<std::string> byFragments = {"D:\\docs\\far.log", "D:\\three.avi",
                                                "D:\\docs\\big.iso"};
  const auto reversed = [](std::vector<std::string> paths) {
    return std::vector<std::string>(paths.rbegin(), paths.rend());
  };
  // A path first ascends; sizes and fragment counts first descend.
  const struct {
    int column;
    std::vector<std::string> paths;
    Qt::SortOrder order;
  } clicks[] = {
      {0, byPath, Qt::AscendingOrder},
      {0, reversed(byPath), Qt::DescendingOrder},
      {1, reversed(bySize), Qt::DescendingOrder},
      {1, bySize, Qt::AscendingOrder},
      {2, reversed(byFragments), Qt::DescendingOrder},
      {2, byFragments, Qt::AscendingOrder},
  };
  for (const auto& click : clicks) {
    clickHeader(click.column);
    EXPECT_EQ(PathsShown(files), click.paths) << click.column;
    EXPECT_EQ(header.sortIndicatorSection(), click.column);
    EXPECT_EQ(header.sortIndicatorOrder(), click.order) << click.column;
  }
  // The sizes and counts move with their rows.
  EXPECT_EQ(files.item(0, 1)->text(), QStringLiteral("16.0 KiB"));
  EXPECT_EQ(files.item(0, 2)->text(), QStringLiteral("2"));
  // A click after sorting still selects the row's own file.
  QTest::mouseClick(files.viewport(), Qt::LeftButton, Qt::NoModifier,
                    files.visualItemRect(files.item(2, 0)).center());
  ASSERT_NE(view->Logic().Selected(), nullptr);
  EXPECT_STREQ(view->Logic().Selected()->name, "big.iso");
}

TEST_F(QtSummaryPanelTest, SearchSelectsAndOutlinesEveryItemWhosePathMatches) {
  TDriveWithWindow drive(volume, windows);
  Analyse(drive);
  ASSERT_NE(panel, nullptr);
  QLineEdit& search = *panel->SearchBox();
  search.setFocus();
  QTest::keyClicks(&search, QStringLiteral(".AVI"));
  QTest::keyClick(&search, Qt::Key_Return);
  const TFragmentViewLogic& logic = view->Logic();
  ASSERT_EQ(logic.Selection().size(), 1u);
  EXPECT_STREQ(logic.Selected()->name, "three.avi");
  EXPECT_EQ(panel->SearchResult()->text(), QStringLiteral("1 item matches, outlined on the map"));
  view->viewport()->grab();
  EXPECT_NE(logic.OutlineOf(200), 0u);
  EXPECT_NE(logic.OutlineOf(403), 0u);
  EXPECT_EQ(logic.OutlineOf(100), 0u);

  // Typing on: the search runs once the typing pauses, without Enter.
  search.clear();
  QTest::keyClicks(&search, QStringLiteral("\\docs\\"));
  ASSERT_TRUE(ProcessEventsUntil([&] { return logic.Selection().size() == 2; }, 2000));
  std::vector<std::string> names;
  for (const TItem* item : logic.Selection()) names.emplace_back(item->name);
  EXPECT_EQ(names, (std::vector<std::string>{"big.iso", "far.log"}));
  EXPECT_EQ(panel->SearchResult()->text(), QStringLiteral("2 items match, outlined on the map"));
  view->viewport()->grab();
  EXPECT_NE(logic.OutlineOf(1000), 0u);
  EXPECT_EQ(logic.OutlineOf(200), 0u);

  QTest::keyClicks(&search, QStringLiteral("nothing"));
  QTest::keyClick(&search, Qt::Key_Return);
  EXPECT_TRUE(logic.Selection().empty());
  EXPECT_EQ(panel->SearchResult()->text(), QStringLiteral("No item's path holds that."));
}

TEST_F(QtSummaryPanelTest, AFailedDriveShowsTheReasonAndWhatToDoWhereTheMapWouldBe) {
  TRefusingServices refusing;
  TDriveWithWindow drive(refusing, windows);
  TDriveOptimizer& optimizer = drive.optimizer;
  optimizer.Fail("the volume could not be opened: /srv/broken.img: not an NTFS volume");
  optimizer.statusText.Set("Finished");
  windows.PostWorkerFinished(optimizer);
  QLabel* notice = nullptr;
  ASSERT_TRUE(ProcessEventsUntil(
      [&] { return (notice = LabelHolding(*drive.window, "could not be analysed")) != nullptr; },
      2000));
  const QString text = notice->text();
  EXPECT_TRUE(text.startsWith(QStringLiteral("D: could not be analysed\n\n")))
      << text.toStdString();
  EXPECT_TRUE(text.contains(
      QStringLiteral("The volume could not be opened: /srv/broken.img: not an NTFS volume.")));
  EXPECT_TRUE(text.contains(QStringLiteral("What to do: ")));
  EXPECT_TRUE(notice->isVisible());
  // In the map's place, below the described rows, and following the window's size.
  drive.window->resize(640, 480);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.window->size() == QSize(640, 480); }, 2000));
  const TRect place = LayoutDriveWindow(640, 480, kHeadlessCaptionHeight).fragmentView;
  EXPECT_EQ(notice->geometry(), QRect(place.x, place.y, place.width, place.height));
  EXPECT_EQ(drive.window->SummaryPanel(), nullptr);
}

TEST_F(QtSummaryPanelTest, AStoppedDriveShowsNeitherNoticeNorPanel) {
  TRefusingServices refusing;
  TDriveWithWindow drive(refusing, windows);
  drive.optimizer.RequestStop();
  drive.optimizer.statusText.Set("Stopped");
  windows.PostWorkerFinished(drive.optimizer);
  ProcessEventsUntil([] { return false; }, 200);
  EXPECT_EQ(LabelHolding(*drive.window, "could not be analysed"), nullptr);
  EXPECT_EQ(drive.window->SummaryPanel(), nullptr);
}

TEST_F(QtSummaryPanelTest, SavePictureWritesThePngOfTheMapAloneWithTheExtensionAdded) {
  TDriveWithWindow drive(volume, windows);
  Analyse(drive);
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString asked = folder.filePath(QStringLiteral("volume map"));
  EXPECT_EQ(view->SaveMapPicture(asked), "");
  const QString saved = asked + QStringLiteral(".png");
  QImage picture;
  ASSERT_TRUE(picture.load(saved, "PNG")) << saved.toStdString();
  // The map's cells, not the window with its buttons and panel, nor the
  // scroll bar.
  EXPECT_EQ(picture.size(), view->viewport()->size());
  EXPECT_EQ(QColor(picture.pixel(100 % view->Logic().Columns() * 8 + 4,
                                 100 / view->Logic().Columns() * 8 + 4)),
            QColor(63, 63, 255));
  // A name that ends in .png keeps it.
  const QString named = folder.filePath(QStringLiteral("map.PNG"));
  EXPECT_EQ(view->SaveMapPicture(named), "");
  EXPECT_TRUE(QImage(named, "PNG").size() == view->viewport()->size());
  EXPECT_FALSE(QFile::exists(named + QStringLiteral(".png")));
}

}  // namespace
