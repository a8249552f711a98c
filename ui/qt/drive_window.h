// The drive window on Qt: a top-level widget with two push buttons, a stage
// label, a status line, a 500 ms refresh and, once the drive's runs are
// known, the fragment view. Every drive window lives on the
// GUI thread, which plays each drive thread's part. Geometry, texts and the
// order of events are the Win32 window's: the children are placed by
// ui/drive_window_layout in the whole client area, the status line docked
// along its bottom edge.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include "drive/user_paths.h"
#include "ui/window_moves.h"
#include "ui/work_controls.h"
#include "ui/work_progress.h"

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QStatusBar;
class TDriveOptimizer;
class THeadlessProgress;
class TSummaryPanel;

// Offscreen there is no caption to measure: the classic Windows caption
// height at 96 dpi keeps headless pictures the same on every machine.
constexpr int kHeadlessCaptionHeight = 19;

class TDriveWindow : public QWidget {
 public:
  // On the GUI thread: creates the window and its children, stores their
  // handles in the drive optimizer, opens it at 40, 40 with the screen's size
  // less 80 each way (beside other drives' windows, at its own place there:
  // ui/window_placement.h) and starts the refresh. The window deletes itself
  // once closed; the drive optimizer must outlive it.
  static TDriveWindow* Open(TDriveOptimizer& optimizer);
  // Open in two steps, for the drive's thread: Begin makes the window and
  // registers it for the worker's notices, which the GUI thread's event loop
  // delivers only later; Complete then makes its children and opens it.
  // Between them the worker starts: the first child takes the longest of all
  // (the style and the fonts are loaded then).
  static TDriveWindow* Begin(TDriveOptimizer& optimizer);
  void Complete();

  // On any thread, usually the worker's: queues the notice that the drive's
  // runs are known to the drive's window. A drive whose window has been
  // closed loses the notice.
  static void PostFragmentsReady(TDriveOptimizer& optimizer);
  // On the worker, after its pipeline and any notice: queues the word that
  // the work is over. A window that closes itself when done (no display, or
  // a picture asked for) then shows the final texts, saves its picture and
  // closes, without waiting for the next refresh. A closed window loses it.
  static void PostWorkerFinished(TDriveOptimizer& optimizer);

  // The caption height T of the layout, pixels: the style's title-bar
  // height, or kHeadlessCaptionHeight on the offscreen platform.
  int CaptionHeight() const;

  // For a caller that watches the window and closes it itself (the tests of
  // the window's own work offscreen): the window no longer closes itself
  // when its work is done.
  void KeepOpenWhenDone() { closesWhenDone = false; }

  // The summary panel beside the map once the analysis has finished; none
  // before, after a stop, or without a map. Owned by the window.
  TSummaryPanel* SummaryPanel() const { return summaryPanel; }

  // Beyond the described window: the "Defragment..." button's and menu
  // item's action. Asks first (what will move, what will be left and why);
  // on Yes the moves run on a worker of the drive, Pause and Stop act on
  // them, the map follows the files, and when they end the drive is analysed
  // anew in this window. Changes nothing while not offered (CanDefragment).
  void Defragment();
  // The "Optimize layout..." button's and menu item's action: the same, for
  // moving every file the volume-aware plan moves to its place.
  void Optimize();

  ~TDriveWindow() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  explicit TDriveWindow(TDriveOptimizer& optimizer);

  // Places the status line and the children for the current client size.
  void LayoutChildren();
  // The 500 ms tick: shows the current texts.
  void RefreshTexts();
  // The handler of the worker's notice.
  void ShowClusterMap();
  // The handler of the worker's end: after moves, the analysis anew; after
  // the question was worked out, the question; after an analysis, ends an
  // unattended run.
  void WorkFinished();
  // The buttons' actions (ui/work_controls.h), and their texts and states.
  void PauseClicked();
  void StopClicked();
  void UpdateWorkButtons();
  // The progress bar from the worker's counters, shown while an analysis
  // runs.
  void UpdateProgressBar();
  // Offers the "Defragment..." and "Optimize layout..." actions when they
  // may be taken.
  void UpdateDefragmentAction();
  // Has the question for moves of kind worked out on a worker: the body of
  // Defragment and Optimize.
  void AskAndMove(TMovesKind kind, const char* caption);
  // Once it is: asks it, and on Yes starts the moves.
  void AnswerQuestion();
  // Beyond the described window, once the analysis has ended: the summary
  // panel beside the map, or where the drive could not be analysed (and has
  // no map) what failed and what to do, in the map's place.
  void ShowOutcome();
  // "Summary...": shows or hides the panel; false while there is none.
  bool ToggleSummaryPanel();
  // Whether the window is still the open window of its drive, the one that
  // takes the notice.
  bool IsOpen() const;
  // Leaves the table of open windows, so no further notice is queued to it.
  void Unregister();
  // Saves what the window shows as drive-<letter>.png in snapshotDirectory,
  // then with the whole volume on one screen as drive-<letter>-overview.png
  // and, where there is a plan, after it as drive-<letter>-planned.png.
  void SaveSnapshot();

  TDriveOptimizer& optimizer;  // not owned; outlives the window
  // Children, owned by the window through Qt's parent chain; made by
  // Complete, none before.
  QStatusBar* statusBar;      // shows detailText
  QLabel* viewState;          // in the status bar: the map's zoom and view; hidden without a map
  QLabel* selectionState;     // in the status bar: the map's selected item; hidden without one
  QProgressBar* progressBar;  // in the status bar: the analysis's items; hidden when done
  QLabel* progressCount;      // before it: the items scanned while the bar is busy, else hidden
  QPushButton* pauseButton;   // pauses and resumes the drive's work; "Resume" while paused
  QPushButton* stopButton;    // stops the drive's work
  QLabel* stageLabel;         // shows statusText
  // Beyond the described children: "Defragment..." and "Optimize layout...",
  // and their actions, which the fragment view's menu offers too. Owned
  // through the parent chain.
  QPushButton* defragmentButton;
  QAction* defragmentAction;
  QPushButton* optimizeButton;
  QAction* optimizeAction;
  // Beyond the described children (ShowOutcome): none until the analysis
  // has ended. Owned through the parent chain; the panel is deleted before
  // the drive forgets its tree.
  TSummaryPanel* summaryPanel;
  QLabel* failureNotice;
  TWindowMoves moves;          // the action's state; see window_moves.h
  const TUserPaths userPaths;  // how the status line names the drive's paths
  TWorkControls controls;      // what Pause and Stop do, over moves; see work_controls.h
  QElapsedTimer movesClock;    // since the moves began, for their rate
  TWorkProgress workProgress;  // the bar's rate; made anew for each analysis
  QElapsedTimer workClock;     // since the window opened, for the bar's rate
  QTimer refreshTimer;         // kRefreshMilliseconds, runs from Open until close
  // Nobody can close the window (offscreen), or a picture was asked for: the
  // window closes itself once its work is done.
  bool closesWhenDone;
  QString snapshotDirectory;  // where the picture goes; empty for none
  // Headless only: the drive's progress on standard error; a child of the
  // window, which deletes it. None with a display.
  THeadlessProgress* progress;
};
