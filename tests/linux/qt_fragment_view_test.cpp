// The Qt fragment view in its drive window over a scripted volume: made on
// the worker's notice where the drive window puts it, laid out with the
// window from the next resize on, painted in the cell colours, scrolled by
// its scroll bar as a Win32 one scrolls, and held in the headless picture.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <set>
#include <thread>
#include <utility>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/linux/qt_test_environment.h"
#include "tests/support/scripted_volume.h"
#include "ui/cluster_map.h"
#include "ui/drive_window_layout.h"
#include "ui/map_colours.h"
#include "ui/qt/drawing_resources.h"
#include "ui/qt/drive_window.h"
#include "ui/qt/fragment_view.h"
#include "ui/qt/legend_strip.h"
#include "ui/qt/qt_window_system.h"

namespace {

const QColor kRed(255, 0, 0);
const QColor kBlue(63, 63, 255);
const QColor kWhite(255, 255, 255);

// A volume of 200,000 clusters: one file in one run at 100, one in three
// runs at 200, 300 and 400, one with a sparse stretch before its run at 500,
// and one at 8 for the first line of every grid.
void Populate(TScriptedVolume& volume) {
  volume.bitmap.assign(200000, false);
  // Every cluster of every run in use, as on a sound volume.
  for (const auto& run : {std::make_pair(8, 8), std::make_pair(100, 10), std::make_pair(200, 3),
                          std::make_pair(300, 2), std::make_pair(400, 4), std::make_pair(500, 2)}) {
    for (int cluster = run.first; cluster < run.first + run.second; ++cluster) {
      volume.bitmap[cluster] = true;
    }
  }
  volume.AddFile("D:\\one.txt", 40960, {{10, 100}});
  volume.AddFile("D:\\three.avi", 36864, {{3, 200}, {5, 300}, {9, 400}});
  volume.AddFile("D:\\sparse.dat", 24576, {{4, -1}, {6, 500}});
  volume.AddFile("D:\\first.bin", 32768, {{8, 8}});
}

// A drive optimizer over the volume with its tree read, and its window; the
// window goes first, as it reads the drive optimizer until it is deleted.
struct TDriveWithWindow {
  TDriveWithWindow(TScriptedVolume& volume, TWindowSystem& windows)
      : optimizer('D', volume, windows, kDriveStages) {
    optimizer.CreateMemoryTree();
    optimizer.FillMemoryTree();
    window = TDriveWindow::Open(optimizer);
  }
  ~TDriveWithWindow() { delete window; }

  TFragmentView* View() const { return optimizer.fragmentView; }

  TDriveOptimizer optimizer;
  QPointer<TDriveWindow> window;
};

// The colour painted at the middle of a cell of the view's grid.
QColor CellPixel(const QImage& viewport, int column, int line) {
  return QColor(viewport.pixel(column * 8 + 4, line * 8 + 4));
}

// The colour of the cell that shows cluster, as the view now paints it.
QColor ClusterPixel(const TFragmentView& view, int64_t cluster) {
  const TFragmentViewLogic& logic = view.Logic();
  const int64_t index = cluster - logic.FirstCluster();
  const QImage picture = view.viewport()->grab().toImage();
  return CellPixel(picture, static_cast<int>(index % logic.Columns()),
                   static_cast<int>(index / logic.Columns()));
}

class QtFragmentViewTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsureQtApplication();
    CreateQtDrawingResources();
    unsetenv("DISKOPT_SNAPSHOT");
    Populate(volume);
  }
  void TearDown() override { unsetenv("DISKOPT_SNAPSHOT"); }

  // Posts the worker's notice and gives the window the time to handle it.
  void Notify(TDriveWithWindow& drive) {
    windows.PostFragmentsReady(drive.optimizer);
    ProcessEventsUntil([&] { return drive.View() != nullptr; }, 200);
  }

  TScriptedVolume volume{'D'};
  TQtWindowSystem windows;
};

TEST_F(QtFragmentViewTest, NoticeBuildsTheMapAndShowsTheViewAtItsFirstPlace) {
  TDriveWithWindow drive(volume, windows);
  ASSERT_EQ(drive.View(), nullptr);
  Notify(drive);
  ASSERT_NE(drive.optimizer.clusterMap, nullptr);
  EXPECT_EQ(drive.optimizer.clusterMap->totalClusters, 200000);
  ASSERT_NE(drive.View(), nullptr);
  EXPECT_TRUE(drive.View()->isVisible());
  EXPECT_EQ(drive.View()->parentWidget(), drive.window);
  const QSize client = drive.window->size();
  const TRect first = InitialFragmentViewRect(client.width(), client.height());
  EXPECT_EQ(drive.View()->geometry(), QRect(first.x, first.y, first.width, first.height));
  EXPECT_EQ(volume.debugOutput, "Total sectors: 1600000\n");
}

// The drive thread begins the window, starts the worker and only then has
// the window completed: a worker quick enough to post its notices first
// finds them handled after the children exist (a notice handled before
// would reach a status line and a stage label that are not there).
TEST_F(QtFragmentViewTest, NoticesPostedBeforeTheWindowIsCompletedFindItsChildren) {
  TDriveOptimizer optimizer('D', volume, windows, kDriveStages);
  optimizer.CreateMemoryTree();
  optimizer.FillMemoryTree();
  optimizer.MapFreeSpace();
  windows.CreateDriveWindow(optimizer);
  const QPointer<QWidget> window = static_cast<QWidget*>(optimizer.mainWindow);
  ASSERT_FALSE(window.isNull());
  EXPECT_EQ(optimizer.stageLabel, nullptr);
  std::thread worker([&] {
    windows.PostFragmentsReady(optimizer);
    optimizer.statusText.Set("Finished");
    windows.PostWorkerFinished(optimizer);
  });
  worker.join();
  windows.RunMessageLoop(optimizer);
  EXPECT_NE(optimizer.stageLabel, nullptr);
  // Offscreen the window closes itself once the work is over.
  ASSERT_TRUE(ProcessEventsUntil([&] { return window.isNull(); }, 2000));
  EXPECT_NE(optimizer.clusterMap, nullptr);
}

TEST_F(QtFragmentViewTest, FromTheNextResizeOnTheViewFollowsTheLayout) {
  TDriveWithWindow drive(volume, windows);
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  drive.window->resize(640, 480);
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.window->size() == QSize(640, 480); }, 2000));
  // Offscreen the caption height is 19.
  const TRect place = LayoutDriveWindow(640, 480, kHeadlessCaptionHeight).fragmentView;
  EXPECT_EQ(drive.View()->geometry(), QRect(4, 58, 632, 395));
  EXPECT_EQ(drive.View()->geometry(), QRect(place.x, place.y, place.width, place.height));
}

TEST_F(QtFragmentViewTest, CellsShowTheRunsInTheirColoursOverTheBackground) {
  TDriveWithWindow drive(volume, windows);
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  const TFragmentView& view = *drive.View();
  EXPECT_EQ(ClusterPixel(view, 0), kWhite);
  EXPECT_EQ(ClusterPixel(view, 99), kWhite);
  EXPECT_EQ(ClusterPixel(view, 100), kBlue);
  EXPECT_EQ(ClusterPixel(view, 109), kBlue);
  EXPECT_EQ(ClusterPixel(view, 110), kWhite);
  EXPECT_EQ(ClusterPixel(view, 200), kRed);
  EXPECT_EQ(ClusterPixel(view, 301), kRed);
  EXPECT_EQ(ClusterPixel(view, 400), kBlue);
  EXPECT_EQ(ClusterPixel(view, 403), kBlue);
  // A run with no clusters shows nowhere; the run after it is the last.
  EXPECT_EQ(ClusterPixel(view, 500), kBlue);
  EXPECT_EQ(ClusterPixel(view, 502), kWhite);

  // Right of the last column the margin narrower than a cell is background.
  const QImage picture = view.viewport()->grab().toImage();
  const int gridWidth = view.Logic().Columns() * 8;
  ASSERT_LT(gridWidth, picture.width());
  EXPECT_EQ(QColor(picture.pixel(gridWidth, 4)), QtDrawingResources().viewBackground);
}

TEST_F(QtFragmentViewTest, ScrollBarStepsAndHoldsItsPositionAsOnWin32) {
  TDriveWithWindow drive(volume, windows);
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  TFragmentView& view = *drive.View();
  QScrollBar* bar = view.verticalScrollBar();
  const int columns = view.Logic().Columns();
  const int rows = view.Logic().Rows();
  const int maximum = 200000 / columns;
  ASSERT_EQ(view.Logic().Scale(), 1);
  EXPECT_TRUE(bar->isEnabled());
  EXPECT_EQ(bar->pageStep(), rows);
  // The last position a Win32 bar of this range and page accepts.
  EXPECT_EQ(bar->maximum(), maximum - rows + 1);

  bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(bar->value(), 1);
  EXPECT_EQ(view.Logic().FirstCluster(), columns);
  // The cells are recomputed by the paint that the scroll asks for.
  EXPECT_TRUE(view.Logic().Dirty());
  ASSERT_TRUE(ProcessEventsUntil([&] { return !view.Logic().Dirty(); }, 2000));
  EXPECT_EQ(ClusterPixel(view, 100), kBlue);
  EXPECT_EQ(CellPixel(view.viewport()->grab().toImage(), 100 - columns, 0), kBlue);

  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(bar->value(), 1 + rows);
  EXPECT_EQ(view.Logic().FirstCluster(), int64_t{columns} * (1 + rows));

  // The bottom shows the end of the volume, the rest of its line and the
  // lines below as background, while the bar keeps its last position; the
  // next line up starts from there.
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(view.Logic().FirstCluster(), int64_t{columns} * maximum);
  EXPECT_EQ(bar->value(), maximum - rows + 1);
  const QImage bottom = view.viewport()->grab().toImage();
  const int cellsLeft = 200000 - columns * maximum;
  EXPECT_EQ(view.Logic().CellCount(), cellsLeft);
  const QColor background = QtDrawingResources().viewBackground;
  EXPECT_EQ(CellPixel(bottom, cellsLeft, 0), background);
  EXPECT_EQ(CellPixel(bottom, 0, rows - 1), background);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(bar->value(), maximum - rows);
  EXPECT_EQ(view.Logic().FirstCluster(), int64_t{columns} * (maximum - rows));

  bar->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(view.Logic().FirstCluster(), 0);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(view.Logic().FirstCluster(), 0);

  bar->setSliderPosition(1000);
  EXPECT_EQ(bar->value(), 1000);
  EXPECT_EQ(view.Logic().FirstCluster(), int64_t{columns} * 1000);
}

TEST_F(QtFragmentViewTest, VolumeThatCannotBeQueriedGetsNoMapAndNoView) {
  volume.geometryFails = true;
  TDriveWithWindow drive(volume, windows);
  Notify(drive);
  EXPECT_EQ(drive.optimizer.clusterMap, nullptr);
  EXPECT_EQ(drive.View(), nullptr);
  EXPECT_EQ(drive.window->findChildren<TFragmentView*>().size(), 0);
}

TEST_F(QtFragmentViewTest, DriveWithoutATreeGetsNoMap) {
  volume.Node("D:\\").openFails = true;
  TDriveWithWindow drive(volume, windows);
  ASSERT_EQ(drive.optimizer.root, nullptr);
  Notify(drive);
  EXPECT_EQ(drive.optimizer.clusterMap, nullptr);
  EXPECT_EQ(drive.View(), nullptr);
  EXPECT_EQ(volume.debugOutput, "");
}

TEST_F(QtFragmentViewTest, ClosingTheWindowTakesTheViewAndLeavesTheMap) {
  TDriveWithWindow drive(volume, windows);
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  QPointer<TFragmentView> view = drive.View();
  drive.window->close();
  ASSERT_TRUE(ProcessEventsUntil([&] { return drive.window.isNull(); }, 2000));
  EXPECT_TRUE(view.isNull());
  EXPECT_EQ(drive.optimizer.fragmentView, nullptr);
  EXPECT_NE(drive.optimizer.clusterMap, nullptr);
}

// The whole run on the worker thread, unattended: the picture is taken once
// the worker has finished and the map is drawn.
TEST_F(QtFragmentViewTest, HeadlessPictureHoldsTheMap) {
  QTemporaryDir scratch;
  ASSERT_TRUE(scratch.isValid());
  setenv("DISKOPT_SNAPSHOT", scratch.path().toLocal8Bit().constData(), 1);
  TDriveOptimizer drive('D', volume, windows, kDriveStages);
  THandle token = windows.StartDriveThread(&drive);
  QSize client = static_cast<TDriveWindow*>(drive.mainWindow)->size();
  bool timedOut = false;
  // Ends with the test: a timer left behind would close the windows of the
  // tests that run 15 s later and write to this test's gone stack.
  QObject timerContext;
  QTimer::singleShot(15000, &timerContext, [&] {
    timedOut = true;
    QApplication::closeAllWindows();
  });
  windows.WaitForDriveThreads(&token, 1);
  windows.CloseDriveThread(token);
  WaitForWorkers();
  ASSERT_FALSE(timedOut);

  const QImage picture(scratch.filePath(QStringLiteral("drive-D.png")));
  ASSERT_FALSE(picture.isNull());
  ASSERT_EQ(picture.size(), client);
  // The grid starts inside the view's two-pixel edge; clusters 0 to 15 lie
  // in its first line whatever its width.
  const TRect view = InitialFragmentViewRect(client.width(), client.height());
  const auto cell = [&](int cluster) {
    return QColor(picture.pixel(view.x + 2 + cluster * 8 + 4, view.y + 2 + 4));
  };
  EXPECT_EQ(cell(0), kWhite);
  EXPECT_EQ(cell(7), kWhite);
  EXPECT_EQ(cell(8), kBlue);
  EXPECT_EQ(cell(15), kBlue);

  // The whole volume on one screen: cells of many clusters, so the runs of
  // 8 ... 502 share the first line, three.avi's red among them; the rest of
  // the volume is free and white down to the last line.
  const QImage overview(scratch.filePath(QStringLiteral("drive-D-overview.png")));
  ASSERT_EQ(overview.size(), client);
  EXPECT_EQ(cell(0), kWhite);  // the first picture is left as it was
  const auto overviewCell = [&](int index) {
    return QColor(overview.pixel(view.x + 2 + index * 8 + 4, view.y + 2 + 4));
  };
  bool redInFirstLine = false;
  for (int index = 0; index < 8; ++index) redInFirstLine |= overviewCell(index) == kRed;
  EXPECT_TRUE(redInFirstLine);
  // After the plan: three.avi in zone 8's colour, the other files in theirs.
  const QImage planned(scratch.filePath(QStringLiteral("drive-D-planned.png")));
  ASSERT_EQ(planned.size(), client);
  const QColor zone8 = QColorOf(RgbOf(TCellColour::kZone8));
  bool zone8Shown = false;
  bool redShown = false;
  for (int index = 0; index < 8; ++index) {
    const QColor colour(planned.pixel(view.x + 2 + index * 8 + 4, view.y + 2 + 4));
    zone8Shown |= colour == zone8;
    redShown |= colour == kRed;
  }
  EXPECT_TRUE(zone8Shown);
  EXPECT_FALSE(redShown);
}

// The colour of the cell that shows cluster at the view's current zoom.
QColor ZoomedClusterPixel(const TFragmentView& view, int64_t cluster) {
  const TFragmentViewLogic& logic = view.Logic();
  const int64_t index = (cluster - logic.FirstCluster()) / logic.ClustersPerCell();
  const QImage picture = view.viewport()->grab().toImage();
  return CellPixel(picture, static_cast<int>(index % logic.Columns()),
                   static_cast<int>(index / logic.Columns()));
}

// The middle of the cell that shows cluster, at one cluster a cell.
QPoint CellPoint(const TFragmentView& view, int64_t cluster, int dx = 4, int dy = 4) {
  const TFragmentViewLogic& logic = view.Logic();
  const int64_t index = cluster - logic.FirstCluster();
  return QPoint(static_cast<int>(index % logic.Columns()) * 8 + dx,
                static_cast<int>(index / logic.Columns()) * 8 + dy);
}

TEST_F(QtFragmentViewTest, TooltipNamesTheClusterAndItsItem) {
  TDriveWithWindow drive(volume, windows);
  drive.optimizer.MapFreeSpace();
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  TFragmentView& view = *drive.View();
  view.viewport()->grab();  // a paint lays the cells out
  const std::pair<int64_t, const char*> cases[] = {
      {100, "Cluster 100\nD:\\one.txt\n40960 bytes, fragment 1 of 1, clusters 100-109"},
      {301, "Cluster 301\nD:\\three.avi\n36864 bytes, fragment 2 of 3, clusters 300-301"},
      {501, "Cluster 501\nD:\\sparse.dat\n24576 bytes, fragment 2 of 2, clusters 500-501"},
      {50, "Cluster 50\nfree"},
      {110, "Cluster 110\nfree"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(view.ToolTipAt(CellPoint(view, c.first)).toStdString(), c.second) << c.first;
  }
  // The tooltip event shows that text.
  QHelpEvent help(QEvent::ToolTip, CellPoint(view, 301),
                  view.viewport()->mapToGlobal(CellPoint(view, 301)));
  QApplication::sendEvent(view.viewport(), &help);
  EXPECT_EQ(QToolTip::text().toStdString(), cases[1].second);
  QToolTip::hideText();
  // Right of the grid there is no cell and no tooltip.
  EXPECT_TRUE(view.ToolTipAt(QPoint(view.Logic().Columns() * 8 + 1, 4)).isEmpty());
}

// The label of the status bar that shows the selected item.
QLabel* SelectionLabel(TDriveWindow& window) {
  for (QLabel* label : window.findChildren<QLabel*>()) {
    if (label->text().contains(QStringLiteral("fragment"))) return label;
  }
  return nullptr;
}

// A click selects the item there: its fragments' cells, and no others, are
// painted whole in the selection's colour, and the status bar names it
// with its size and fragments; Escape clears both.
TEST_F(QtFragmentViewTest, ClickHighlightsEveryFragmentAndNamesTheItem) {
  TDriveWithWindow drive(volume, windows);
  drive.optimizer.MapFreeSpace();
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  TFragmentView& view = *drive.View();
  view.viewport()->grab();
  const QColor selected = QColorOf(RgbOf(TCellColour::kSelected));
  QMouseEvent click(QEvent::MouseButtonPress, QPointF(CellPoint(view, 401)),
                    QPointF(view.viewport()->mapToGlobal(CellPoint(view, 401))), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view.viewport(), &click);
  ASSERT_NE(view.Logic().Selected(), nullptr);
  EXPECT_STREQ(view.Logic().Selected()->name, "three.avi");
  // three.avi lies at 200 ... 202, 300 ... 301 and 400 ... 403: exactly
  // those cells, every pixel of them, take the selection's colour.
  const QImage picture = view.viewport()->grab().toImage();
  const TFragmentViewLogic& logic = view.Logic();
  for (int i = 0; i < logic.CellCount(); ++i) {
    const int64_t cluster = logic.CellFirstCluster(i);
    const bool three = (cluster >= 200 && cluster <= 202) || (cluster >= 300 && cluster <= 301) ||
                       (cluster >= 400 && cluster <= 403);
    const TRect cell = logic.CellRect(i);
    for (const QPoint corner : {QPoint(0, 0), QPoint(7, 0), QPoint(0, 7), QPoint(7, 7)}) {
      const QColor colour(picture.pixel(cell.x + corner.x(), cell.y + corner.y()));
      ASSERT_EQ(colour == selected, three) << "cluster " << cluster;
    }
  }
  EXPECT_EQ(ClusterPixel(view, 100), kBlue);
  QLabel* label = SelectionLabel(*drive.window);
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("D:\\three.avi, 36.0 KiB, 3 fragments"));
  EXPECT_TRUE(label->isVisibleTo(drive.window));

  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(&view, &escape);
  EXPECT_EQ(view.Logic().Selected(), nullptr);
  EXPECT_EQ(ClusterPixel(view, 200), kRed);
  EXPECT_EQ(ClusterPixel(view, 403), kBlue);
  EXPECT_FALSE(label->isVisibleTo(drive.window));
}

// Every colour of picture, opaque.
std::set<QRgb> ImageColours(const QImage& picture) {
  std::set<QRgb> colours;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) colours.insert(picture.pixel(x, y) | 0xFF000000u);
  }
  return colours;
}

// The colours in a picture of the view's cells, without the background of
// its margins.
std::set<QRgb> PaintedColours(const TFragmentView& view) {
  std::set<QRgb> colours = ImageColours(view.viewport()->grab().toImage());
  colours.erase(QtDrawingResources().viewBackground.rgb() | 0xFF000000u);
  return colours;
}

// The legend strip under the map lists every colour the view paints (and
// those it may paint as it stands: light grey once cells hold several
// clusters, a zone whose cells grey outweighs), as the view is now, zoomed
// out, with a selection and after the plan; each entry's swatch is painted
// in the strip in its colour.
TEST_F(QtFragmentViewTest, LegendStripListsEveryColourTheViewPaints) {
  TDriveWithWindow drive(volume, windows);
  drive.optimizer.MapFreeSpace();
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  TFragmentView& view = *drive.View();
  view.viewport()->grab();
  const TLegendStrip& legend = view.Legend();
  ASSERT_TRUE(legend.isVisibleTo(drive.window));
  // Under the cells, inside the view.
  EXPECT_GE(legend.geometry().top(), view.viewport()->geometry().bottom());
  EXPECT_LE(legend.geometry().bottom(), view.rect().bottom());
  const auto check = [&](const char* state) {
    std::set<QRgb> listed;
    for (const TLegendEntry& entry : legend.Entries()) {
      listed.insert(QColorOf(RgbOf(entry.colour)).rgb() | 0xFF000000u);
    }
    const std::set<QRgb> painted = PaintedColours(view);
    EXPECT_TRUE(std::includes(listed.begin(), listed.end(), painted.begin(), painted.end()))
        << state;
    const std::set<QRgb> swatches =
        ImageColours(const_cast<TLegendStrip&>(legend).grab().toImage());
    for (const QRgb colour : listed) EXPECT_EQ(swatches.count(colour), 1u) << state;
  };
  check("now");
  EXPECT_EQ(legend.Entries().size(), 3u);
  // The whole volume: its free cells white, the rest of no item light grey.
  view.ShowWholeVolume(TMapMode::kNow);
  view.viewport()->grab();
  check("whole volume");
  EXPECT_EQ(legend.Entries().size(), 4u);
  view.Command(TMapCommand::kZoomIn);
  view.viewport()->grab();
  const QPoint first = CellPoint(view, view.Logic().FirstCluster());
  QMouseEvent click(QEvent::MouseButtonPress, QPointF(first),
                    QPointF(view.viewport()->mapToGlobal(first)), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(view.viewport(), &click);
  ASSERT_NE(view.Logic().Selected(), nullptr);
  check("selection");
  EXPECT_EQ(legend.Entries().size(), 5u);

  drive.optimizer.OptimizeTree();
  drive.optimizer.statusText.Set("Finished");
  ASSERT_TRUE(view.ShowWholeVolume(TMapMode::kPlanned));
  view.viewport()->grab();
  check("planned");
  bool zone8 = false;
  for (const TLegendEntry& entry : legend.Entries()) zone8 |= entry.colour == TCellColour::kZone8;
  EXPECT_TRUE(zone8);
}

TEST_F(QtFragmentViewTest, CtrlWheelAndKeysZoomByPowersOfTwo) {
  TDriveWithWindow drive(volume, windows);
  // Free space known, as the worker's notice always finds it: free cells
  // of several clusters stay white.
  drive.optimizer.MapFreeSpace();
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  TFragmentView& view = *drive.View();
  view.viewport()->grab();
  const int range = view.verticalScrollBar()->maximum();
  const QPoint middle(4, 4);
  const auto wheel = [&](int delta, Qt::KeyboardModifiers modifiers) {
    QWheelEvent event(QPointF(middle), QPointF(view.viewport()->mapToGlobal(middle)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view.viewport(), &event);
  };
  wheel(-120, Qt::ControlModifier);
  EXPECT_EQ(view.Logic().ClustersPerCell(), 2);
  wheel(-120, Qt::ControlModifier);
  EXPECT_EQ(view.Logic().ClustersPerCell(), 4);
  // The scroll range follows: lines of four times the clusters, and the
  // thumb's last place that range less a page.
  const TFragmentViewLogic& logic = view.Logic();
  EXPECT_EQ(logic.LineCount(), 200000 / (logic.Columns() * 4));
  EXPECT_EQ(view.verticalScrollBar()->maximum(), logic.LineCount() - logic.PageLines() + 1);
  EXPECT_LT(view.verticalScrollBar()->maximum(), range / 4);
  // Cells of four clusters: 8 ... 11 blue, 200 ... 203 red (three.avi's
  // first run), 400 ... 403 blue, 404 ... 407 white.
  EXPECT_EQ(ZoomedClusterPixel(view, 8), kBlue);
  EXPECT_EQ(ZoomedClusterPixel(view, 200), kRed);
  EXPECT_EQ(ZoomedClusterPixel(view, 400), kBlue);
  EXPECT_EQ(ZoomedClusterPixel(view, 404), kWhite);
  // A wheel without Ctrl scrolls and leaves the zoom.
  wheel(-120, Qt::NoModifier);
  EXPECT_EQ(view.Logic().ClustersPerCell(), 4);
  // The keys: + in, - out.
  QKeyEvent plus(QEvent::KeyPress, Qt::Key_Plus, Qt::NoModifier, QStringLiteral("+"));
  QApplication::sendEvent(&view, &plus);
  EXPECT_EQ(view.Logic().ClustersPerCell(), 2);
  QKeyEvent minus(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier, QStringLiteral("-"));
  QApplication::sendEvent(&view, &minus);
  QApplication::sendEvent(&view, &minus);
  EXPECT_EQ(view.Logic().ClustersPerCell(), 8);
  // Out to the whole volume and no further, then back to one cluster a cell.
  for (int i = 0; i < 40; ++i) view.Command(TMapCommand::kZoomOut);
  const int64_t whole = view.Logic().ClustersPerCell();
  view.viewport()->grab();
  EXPECT_LE(view.Logic().CellCount(), view.Logic().Columns() * view.Logic().Rows());
  EXPECT_EQ(view.Logic().CellEndCluster(view.Logic().CellCount() - 1), 200000);
  EXPECT_EQ(view.Logic().FirstCluster(), 0);
  EXPECT_GT(whole, 8);
  for (int i = 0; i < 40; ++i) view.Command(TMapCommand::kZoomIn);
  EXPECT_EQ(view.Logic().ClustersPerCell(), 1);
  EXPECT_EQ(ClusterPixel(view, 200), kRed);
}

// The map has the keyboard focus from when it appears: keys sent to its
// window, with no click first, scroll and zoom it.
TEST_F(QtFragmentViewTest, KeysScrollAndZoomWithoutAClick) {
  TDriveWithWindow drive(volume, windows);
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  TFragmentView& view = *drive.View();
  view.viewport()->grab();
  EXPECT_EQ(drive.window->focusWidget(), &view);
  drive.window->activateWindow();
  if (ProcessEventsUntil([&] { return QApplication::activeWindow() == drive.window; }, 1000)) {
    EXPECT_EQ(QApplication::focusWidget(), &view);
  }
  const auto press = [&](int key, const QString& text = QString()) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(drive.window->windowHandle(), &event);
    view.viewport()->grab();
  };
  const int64_t line = view.Logic().Columns();
  const int64_t page = view.Logic().Rows() * line;
  press(Qt::Key_Down);
  EXPECT_EQ(view.Logic().FirstCluster(), line);
  press(Qt::Key_PageDown);
  EXPECT_EQ(view.Logic().FirstCluster(), line + page);
  press(Qt::Key_Up);
  EXPECT_EQ(view.Logic().FirstCluster(), page);
  press(Qt::Key_PageUp);
  EXPECT_EQ(view.Logic().FirstCluster(), 0);
  press(Qt::Key_End);
  EXPECT_EQ(view.Logic().FirstCluster(), 200000 / line * line);
  EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
  press(Qt::Key_Home);
  EXPECT_EQ(view.Logic().FirstCluster(), 0);
  EXPECT_EQ(view.verticalScrollBar()->value(), 0);
  press(Qt::Key_Minus, QStringLiteral("-"));
  EXPECT_EQ(view.Logic().ClustersPerCell(), 2);
  press(Qt::Key_Equal, QStringLiteral("="));
  EXPECT_EQ(view.Logic().ClustersPerCell(), 1);
  // The buttons take no focus from the map when pressed.
  auto* pause = static_cast<QWidget*>(drive.optimizer.pauseButton);
  const QPointF centre(pause->width() / 2, pause->height() / 2);
  QMouseEvent pressed(QEvent::MouseButtonPress, centre, pause->mapToGlobal(centre), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(pause, &pressed);
  EXPECT_EQ(drive.window->focusWidget(), &view);
}

// Ctrl + wheel zooms about the mouse: the cluster under it stays under it,
// out and back in; the status bar says the zoom and the view.
TEST_F(QtFragmentViewTest, CtrlWheelKeepsTheClusterUnderTheMouse) {
  TDriveWithWindow drive(volume, windows);
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  TFragmentView& view = *drive.View();
  QLabel* state = nullptr;
  for (QLabel* label : drive.window->findChildren<QLabel*>()) {
    if (label->text().contains(QStringLiteral("per cell"))) state = label;
  }
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->text(), QStringLiteral("1 cluster per cell, volume now"));
  // Some pages down, so the volume's start leaves room on every side.
  for (int i = 0; i < 20; ++i)
    view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  view.viewport()->grab();
  const TFragmentViewLogic& logic = view.Logic();
  // A cluster that is a multiple of 8, in column 21, line 11 of the grid.
  int64_t cluster = logic.FirstCluster() + 11 * logic.Columns() + 21;
  cluster -= cluster % 8;
  const QPoint point = CellPoint(view, cluster);
  const auto wheel = [&](int delta) {
    QWheelEvent event(QPointF(point), QPointF(view.viewport()->mapToGlobal(point)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(view.viewport(), &event);
    view.viewport()->grab();
    const int cell = logic.CellAt(point.x(), point.y());
    EXPECT_GE(cell, 0);
    EXPECT_LE(logic.CellFirstCluster(cell), cluster) << logic.ClustersPerCell();
    EXPECT_GT(logic.CellEndCluster(cell), cluster) << logic.ClustersPerCell();
  };
  for (int i = 0; i < 3; ++i) wheel(-120);
  EXPECT_EQ(logic.ClustersPerCell(), 8);
  EXPECT_EQ(state->text(), QStringLiteral("8 clusters per cell, volume now"));
  for (int i = 0; i < 3; ++i) wheel(120);
  EXPECT_EQ(logic.ClustersPerCell(), 1);
  EXPECT_EQ(logic.CellFirstCluster(logic.CellAt(point.x(), point.y())), cluster);
  EXPECT_EQ(state->text(), QStringLiteral("1 cluster per cell, volume now"));
}

TEST_F(QtFragmentViewTest, OnceFinishedPShowsThePlanAndTheMenuSaysTheSummaryAndLegend) {
  TDriveWithWindow drive(volume, windows);
  drive.optimizer.MapFreeSpace();
  Notify(drive);
  ASSERT_NE(drive.View(), nullptr);
  TFragmentView& view = *drive.View();
  view.viewport()->grab();
  QKeyEvent p(QEvent::KeyPress, Qt::Key_P, Qt::NoModifier, QStringLiteral("p"));
  // While the worker plans there is no plan to show, and no summary yet.
  QApplication::sendEvent(&view, &p);
  EXPECT_EQ(view.Logic().Mode(), TMapMode::kNow);
  testing::internal::CaptureStdout();
  view.Command(TMapCommand::kSummary);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Summary: The summary is ready once the analysis has finished.\n");

  drive.optimizer.OptimizeTree();
  drive.optimizer.statusText.Set("Finished");
  QApplication::sendEvent(&view, &p);
  ASSERT_EQ(view.Logic().Mode(), TMapMode::kPlanned);
  // three.avi (zone 8) moves; no cell is red or blue after the plan.
  bool zone8Shown = false;
  const QImage picture = view.viewport()->grab().toImage();
  for (int i = 0; i < view.Logic().CellCount(); ++i) {
    const TRect cell = view.Logic().CellRect(i);
    const QColor colour(picture.pixel(cell.x + 4, cell.y + 4));
    ASSERT_NE(colour, kRed) << i;
    ASSERT_NE(colour, kBlue) << i;
    zone8Shown |= colour == QColorOf(RgbOf(TCellColour::kZone8));
  }
  EXPECT_TRUE(zone8Shown);
  testing::internal::CaptureStdout();
  view.Command(TMapCommand::kLegend);
  view.Command(TMapCommand::kSummary);
  const std::string said = testing::internal::GetCapturedStdout();
  EXPECT_EQ(said.rfind("Legend: ", 0), 0u) << said;
  EXPECT_NE(said.find("zone 8: archives and media"), std::string::npos) << said;
  EXPECT_NE(said.find("Summary: Drive D: summary"), std::string::npos) << said;
  // The tooltip tells what lies there after the plan; P again shows the
  // volume as it is, whose tooltip now gives the zone.
  EXPECT_NE(view.ToolTipAt(QPoint(4, 4)).toStdString().find("\nafter the plan: "),
            std::string::npos);
  QApplication::sendEvent(&view, &p);
  EXPECT_EQ(view.Logic().Mode(), TMapMode::kNow);
  EXPECT_NE(view.ToolTipAt(CellPoint(view, 200)).toStdString().find(", zone 8"), std::string::npos);
  EXPECT_EQ(ClusterPixel(view, 200), kRed);
}

}  // namespace
