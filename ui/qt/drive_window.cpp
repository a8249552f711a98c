#include "ui/qt/drive_window.h"

#include <qdrawutil.h>

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QWindow>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>

#include "drive/drive_name.h"
#include "drive/drive_optimizer.h"
#include "drive/user_paths.h"
#include "platform/linux/named_folder.h"
#include "ui/drive_cluster_map.h"
#include "ui/drive_window_layout.h"
#include "ui/failure_notice.h"
#include "ui/qt/drawing_resources.h"
#include "ui/qt/fragment_view.h"
#include "ui/qt/headless.h"
#include "ui/qt/headless_progress.h"
#include "ui/qt/snapshot_file.h"
#include "ui/qt/summary_panel.h"
#include "ui/side_panel_layout.h"
#include "ui/window_placement.h"

namespace {

// The open drive windows by drive: written on the GUI thread when a window
// opens and when it closes or is deleted, read by the workers that post their
// notice. Guarded by lock. Never destroyed, so a worker still posting at exit
// never finds it gone.
struct TOpenWindows {
  std::mutex lock;
  std::map<const TDriveOptimizer*, TDriveWindow*> byDrive;
};

TOpenWindows& OpenWindows() {
  static auto* open = new TOpenWindows;
  return *open;
}

void Place(QWidget* child, const TRect& place) {
  child->setGeometry(place.x, place.y, place.width, place.height);
}

// On any thread: queues call(window) to the drive's open window; a drive
// whose window has been closed loses it. Held under the lock, the window
// cannot be deleted before the call is queued; if it is deleted before the
// call runs, Qt drops the call with it. Calls queued from one thread run in
// the order they were queued.
template <typename TCall>
void QueueToWindow(TDriveOptimizer& optimizer, TCall call) {
  TOpenWindows& open = OpenWindows();
  std::lock_guard<std::mutex> guard(open.lock);
  const auto found = open.byDrive.find(&optimizer);
  if (found == open.byDrive.end()) return;
  TDriveWindow* window = found->second;
  QMetaObject::invokeMethod(
      window, [window, call] { call(window); }, Qt::QueuedConnection);
}

// The window's title: "Disk Optimizer: drive D" for a drive of the system,
// "Disk Optimizer: /srv/disk.img" for one named by path, "Disk Optimizer:
// drive D (/srv/disk.img)" for a letter that stands for a path.
QString DriveWindowTitle(const TDriveOptimizer& optimizer) {
  return QString::fromStdString("Disk Optimizer: " + AnalysedName(optimizer));
}

}  // namespace

TDriveWindow* TDriveWindow::Open(TDriveOptimizer& optimizer) {
  TDriveWindow* window = Begin(optimizer);
  window->Complete();
  return window;
}

TDriveWindow* TDriveWindow::Begin(TDriveOptimizer& optimizer) {
  return new TDriveWindow(optimizer);
}

void TDriveWindow::Complete() {
  statusBar = new QStatusBar(this);
  pauseButton = new QPushButton(QStringLiteral("Pause"), this);
  stopButton = new QPushButton(QStringLiteral("Stop"), this);
  stageLabel = new QLabel(this);
  defragmentButton = new QPushButton(QStringLiteral("Defragment..."), this);
  defragmentAction = new QAction(QStringLiteral("Defragment..."), this);
  optimizeButton = new QPushButton(QStringLiteral("Optimize layout..."), this);
  optimizeAction = new QAction(QStringLiteral("Optimize layout..."), this);
  statusBar->setSizeGripEnabled(false);
  // The map's zoom and view, at the right of the status line while there is
  // a map; the described text keeps the rest of the line.
  viewState = new QLabel(statusBar);
  viewState->setTextFormat(Qt::PlainText);
  // The selected item before them: its path, size and fragments.
  selectionState = new QLabel(statusBar);
  selectionState->setTextFormat(Qt::PlainText);
  // The analysis's progress, while it runs; the path stays in the line.
  progressBar = new QProgressBar(statusBar);
  // A busy bar draws no text: the items scanned are said beside it.
  progressCount = new QLabel(statusBar);
  progressCount->setTextFormat(Qt::PlainText);
  progressCount->hide();
  statusBar->addPermanentWidget(progressCount);
  statusBar->addPermanentWidget(progressBar);
  statusBar->addPermanentWidget(selectionState);
  statusBar->addPermanentWidget(viewState);
  viewState->hide();
  selectionState->hide();
  const QFont& guiFont = QtDrawingResources().guiFont;
  pauseButton->setFont(guiFont);
  stopButton->setFont(guiFont);
  stageLabel->setFont(guiFont);
  defragmentButton->setFont(guiFont);
  optimizeButton->setFont(guiFont);
  // Over the right end of the label's row, which the stage texts leave empty.
  defragmentButton->raise();
  optimizeButton->raise();
  connect(pauseButton, &QPushButton::clicked, this, &TDriveWindow::PauseClicked);
  connect(stopButton, &QPushButton::clicked, this, &TDriveWindow::StopClicked);
  connect(defragmentButton, &QPushButton::clicked, this, &TDriveWindow::Defragment);
  connect(defragmentAction, &QAction::triggered, this, &TDriveWindow::Defragment);
  connect(optimizeButton, &QPushButton::clicked, this, &TDriveWindow::Optimize);
  connect(optimizeAction, &QAction::triggered, this, &TDriveWindow::Optimize);
  UpdateDefragmentAction();
  // Clicks on the buttons leave the keyboard focus with the map; Tab still
  // reaches them.
  pauseButton->setFocusPolicy(Qt::TabFocus);
  stopButton->setFocusPolicy(Qt::TabFocus);
  defragmentButton->setFocusPolicy(Qt::TabFocus);
  optimizeButton->setFocusPolicy(Qt::TabFocus);
  // Stage texts hold paths, which must never be taken for markup.
  stageLabel->setTextFormat(Qt::PlainText);
  optimizer.statusBar = statusBar;
  optimizer.pauseButton = pauseButton;
  optimizer.stopButton = stopButton;
  optimizer.stageLabel = stageLabel;

  // Alone, the described place; beside other drives' windows, a tile of it.
  const QSize screen = QGuiApplication::primaryScreen()->size();
  const TRect described = InitialDriveWindowRect(screen.width(), screen.height());
  const TRect place =
      DriveWindowPlace(TRect{0, 0, screen.width(), screen.height()}, optimizer.windowCount,
                       optimizer.windowIndex, described.width, described.height);
  // A top-level widget's position is its frame's, its size its client area's.
  move(place.x, place.y);
  resize(place.width, place.height);
  show();
  // Once shown the frame is known: the frame, not the client area, takes the
  // size. A window system that reports its frame only later keeps the client
  // area at the frame's size.
  const QMargins frame = windowHandle()->frameMargins();
  if (!frame.isNull()) {
    resize(place.width - frame.left() - frame.right(), place.height - frame.top() - frame.bottom());
  }
  workClock.start();
  UpdateProgressBar();
  refreshTimer.start();
}

TDriveWindow::TDriveWindow(TDriveOptimizer& drive)
    : optimizer(drive),
      statusBar(nullptr),
      viewState(nullptr),
      selectionState(nullptr),
      progressBar(nullptr),
      progressCount(nullptr),
      pauseButton(nullptr),
      stopButton(nullptr),
      stageLabel(nullptr),
      defragmentButton(nullptr),
      defragmentAction(nullptr),
      optimizeButton(nullptr),
      optimizeAction(nullptr),
      summaryPanel(nullptr),
      failureNotice(nullptr),
      moves(drive),
      userPaths(UserPathsOf(drive)),
      controls(drive, moves),
      snapshotDirectory(SnapshotDirectory()),
      progress(nullptr) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(DriveWindowTitle(optimizer));
  optimizer.mainWindow = this;

  // Offscreen nobody can ever close the window, so it closes itself once its
  // worker has finished; the process's final wait then ends with the last
  // drive instead of never.
  closesWhenDone = IsHeadless() || !snapshotDirectory.isEmpty();
  refreshTimer.setInterval(kRefreshMilliseconds);
  connect(&refreshTimer, &QTimer::timeout, this, &TDriveWindow::RefreshTexts);
  if (IsHeadless()) {
    progress = new THeadlessProgress(this, optimizer, DriveName(optimizer));
    // Each stage text the worker publishes reaches the progress as a queued
    // call, with the time and the item count taken when the stage began.
    optimizer.statusText.Listen(
        [](void* context, const char* text) {
          TDriveOptimizer& drive = *static_cast<TDriveOptimizer*>(context);
          const THeadlessProgress::TClock::time_point at = THeadlessProgress::TClock::now();
          const int64_t count = drive.itemsCounted.load(std::memory_order_relaxed);
          QueueToWindow(drive, [at, count, stage = std::string(text)](TDriveWindow* window) {
            if (window->progress != nullptr) window->progress->StageStarted(at, stage, count);
          });
        },
        &optimizer);
  }

  TOpenWindows& open = OpenWindows();
  std::lock_guard<std::mutex> guard(open.lock);
  open.byDrive[&optimizer] = this;
}

TDriveWindow::~TDriveWindow() {
  // Before anything of the window goes: a worker posting now either has
  // queued its notice already, which Qt drops with the window, or finds no
  // window.
  Unregister();
  if (progress != nullptr) optimizer.statusText.Listen(nullptr, nullptr);
  // The children, the fragment view among them, go with the window; no
  // handle may name them afterwards. The cluster map stays with the drive.
  optimizer.fragmentView = nullptr;
  optimizer.mainWindow = nullptr;
  optimizer.statusBar = nullptr;
  optimizer.pauseButton = nullptr;
  optimizer.stopButton = nullptr;
  optimizer.stageLabel = nullptr;
}

void TDriveWindow::PostFragmentsReady(TDriveOptimizer& optimizer) {
  QueueToWindow(optimizer, [](TDriveWindow* window) {
    if (window->IsOpen()) window->ShowClusterMap();
  });
}

void TDriveWindow::PostWorkerFinished(TDriveOptimizer& optimizer) {
  // Queued after the notice by the same worker, so it runs after the map has
  // been made.
  QueueToWindow(optimizer, [](TDriveWindow* window) {
    if (window->IsOpen()) window->WorkFinished();
  });
}

int TDriveWindow::CaptionHeight() const {
  if (IsHeadless()) return kHeadlessCaptionHeight;
  return style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
}

void TDriveWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutChildren();
}

void TDriveWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // A sunken one-pixel edge over the whole client area, filled with the
  // button colour.
  const QBrush fill = palette().brush(QPalette::Button);
  qDrawShadePanel(&painter, rect(), palette(), true, 1, &fill);
}

void TDriveWindow::closeEvent(QCloseEvent* event) {
  // The worker unwinds soon, so the process need not wait long for it.
  optimizer.RequestStop();
  Unregister();
  refreshTimer.stop();
  event->accept();  // the window deletes itself (Qt::WA_DeleteOnClose)
}

void TDriveWindow::LayoutChildren() {
  const int clientWidth = width();
  const int clientHeight = height();
  const int barHeight = statusBar->sizeHint().height();
  statusBar->setGeometry(0, clientHeight - barHeight, clientWidth, barHeight);
  const TDriveWindowLayout layout = LayoutDriveWindow(clientWidth, clientHeight, CaptionHeight());
  Place(pauseButton, layout.pauseButton);
  Place(stopButton, layout.stopButton);
  Place(stageLabel, layout.stageLabel);
  Place(defragmentButton, layout.defragmentButton);
  Place(optimizeButton, layout.optimizeButton);
  // The summary panel, while shown, takes the right of the map's place.
  const bool panelShown = summaryPanel != nullptr && !summaryPanel->isHidden();
  const TMapAreaSplit split = SplitMapArea(layout.fragmentView);
  if (optimizer.fragmentView != nullptr) {
    Place(optimizer.fragmentView, panelShown ? split.map : layout.fragmentView);
  }
  if (summaryPanel != nullptr) Place(summaryPanel, split.panel);
  if (failureNotice != nullptr) Place(failureNotice, layout.fragmentView);
}

void TDriveWindow::RefreshTexts() {
  // Copies, so the worker may publish new texts while these are shown.
  stageLabel->setText(QString::fromStdString(optimizer.statusText.Get()));
  // The files moved since the last tick, where they lie now.
  if (moves.Moving() && moves.ApplyMovedFiles() && optimizer.fragmentView != nullptr)
    optimizer.fragmentView->MapChanged();
  const double secondsMoving = moves.Moving() ? movesClock.elapsed() / 1000.0 : 0;
  statusBar->showMessage(QString::fromStdString(moves.StatusLine(
      UserDetail(userPaths, optimizer.driveLetter, optimizer.detailText.Get()), secondsMoving)));
  // The map's plan and zones once the worker is done.
  if (optimizer.fragmentView != nullptr) optimizer.fragmentView->PollWorkFinished();
  UpdateDefragmentAction();
  UpdateWorkButtons();
  UpdateProgressBar();
}

void TDriveWindow::UpdateProgressBar() {
  // Moves show their own progress in the status line.
  if (!controls.Enabled() || moves.Moving()) {
    progressBar->hide();
    progressCount->hide();
    return;
  }
  // The worker's counters (drive_optimizer.h says who writes them): the
  // total with acquire, then the base it was published after.
  TItemFigures figures;
  figures.toRead = optimizer.itemsToRead.load(std::memory_order_acquire);
  figures.readFrom = optimizer.readFrom.load(std::memory_order_relaxed);
  figures.counted = optimizer.itemsCounted.load(std::memory_order_relaxed);
  const TProgressBarState bar = workProgress.Now(figures, workClock.elapsed() / 1000.0);
  // Qt's bar takes int: a total past that is shown in parts of it.
  const int64_t divisor = bar.maximum / 1000000 + 1;
  progressBar->setRange(0, static_cast<int>(bar.maximum / divisor));
  progressBar->setValue(static_cast<int>(bar.value / divisor));
  progressBar->setFormat(QString::fromStdString(bar.text));
  progressBar->setTextVisible(!bar.busy);
  progressBar->show();
  progressCount->setText(QString::fromStdString(bar.text));
  progressCount->setVisible(bar.busy);
}

void TDriveWindow::UpdateWorkButtons() {
  pauseButton->setText(QString::fromLatin1(controls.PauseLabel()));
  pauseButton->setEnabled(controls.Enabled());
  stopButton->setEnabled(controls.Enabled());
}

void TDriveWindow::UpdateDefragmentAction() {
  const bool offered = moves.CanDefragment();
  defragmentButton->setEnabled(offered);
  defragmentAction->setEnabled(offered);
  optimizeButton->setEnabled(moves.CanOptimize());
  optimizeAction->setEnabled(moves.CanOptimize());
}

void TDriveWindow::Defragment() { AskAndMove(TMovesKind::kDefragment, kDefragmentCaption); }

void TDriveWindow::Optimize() { AskAndMove(TMovesKind::kOptimize, kOptimizeCaption); }

void TDriveWindow::AskAndMove(TMovesKind kind, const char* caption) {
  if (!moves.CanDefragment()) return;
  if (!moves.Ask(kind)) {
    optimizer.windows.ShowMessage(kMovesNotStartedText, caption);
    return;
  }
  RefreshTexts();
}

void TDriveWindow::AnswerQuestion() {
  RefreshTexts();
  const char* const caption = CaptionFor(moves.Kind());
  const TDefragmentConfirmation confirmation = moves.Question();
  if (!confirmation.ask) {
    optimizer.windows.ShowMessage(confirmation.text.c_str(), caption);
    return;
  }
  const bool yes = optimizer.windows.AskYesNo(this, confirmation.text.c_str(), caption);
  // The question's own event loop may have seen the window closed.
  if (!yes || !moves.CanDefragment()) return;
  if (!moves.Start()) {
    optimizer.windows.ShowMessage(kMovesNotStartedText, caption);
    return;
  }
  movesClock.start();
  controls.MovesStarted();
  UpdateDefragmentAction();
  RefreshTexts();
}

void TDriveWindow::PauseClicked() {
  controls.PauseClicked();
  RefreshTexts();
}

void TDriveWindow::StopClicked() {
  controls.StopClicked();
  UpdateWorkButtons();
}

void TDriveWindow::ShowClusterMap() {
  if (!BuildDriveClusterMap(optimizer)) return;
  // At fixed numbers until the next resize lays it out with the rest. The
  // window owns the view and deletes it with itself.
  auto* view = new TFragmentView(this, InitialFragmentViewRect(width(), height()), optimizer);
  view->OfferWindowActions({defragmentAction, optimizeAction});
  view->SetMovesSummary(moves.Summary());
  view->ShowViewStateIn(viewState);
  view->OnSummary([this] { return ToggleSummaryPanel(); });
  view->ShowSelectionIn(selectionState);
  // The map's keys work without a click first.
  view->setFocus();
  optimizer.fragmentView = view;
  update();
}

bool TDriveWindow::IsOpen() const {
  TOpenWindows& open = OpenWindows();
  std::lock_guard<std::mutex> guard(open.lock);
  const auto found = open.byDrive.find(&optimizer);
  return found != open.byDrive.end() && found->second == this;
}

void TDriveWindow::Unregister() {
  TOpenWindows& open = OpenWindows();
  std::lock_guard<std::mutex> guard(open.lock);
  const auto found = open.byDrive.find(&optimizer);
  if (found != open.byDrive.end() && found->second == this) open.byDrive.erase(found);
}

void TDriveWindow::WorkFinished() {
  const TWindowMoves::TEnd end = moves.WorkerEnded();
  if (end == TWindowMoves::TEnd::kQuestionReady) {
    AnswerQuestion();
    return;
  }
  if (end == TWindowMoves::TEnd::kMovesEnded) {
    // No worker runs now: the panel and the view go first (they read the
    // tree and the map), then the drive forgets its map and tree, and a new
    // worker analyses it anew.
    delete summaryPanel;
    summaryPanel = nullptr;
    delete optimizer.fragmentView;
    optimizer.fragmentView = nullptr;
    viewState->hide();
    selectionState->hide();
    workProgress = TWorkProgress();
    controls.WorkerEnded(moves.Reanalyse());
    RefreshTexts();
    return;
  }
  controls.WorkerEnded(false);
  ShowOutcome();
  // The worker's final texts at once ("Stopped" the moment the worker has
  // ended), so a picture holds them too; grabbing the window paints the
  // fragment view too, if there is one.
  RefreshTexts();
  if (!closesWhenDone) return;
  // Nobody sees a window offscreen: what failed goes to standard error.
  if (progress != nullptr) progress->Ended();
  if (!snapshotDirectory.isEmpty()) SaveSnapshot();
  close();
}

void TDriveWindow::ShowOutcome() {
  TFragmentView* view = optimizer.fragmentView;
  if (view != nullptr) {
    view->PollWorkFinished();
    // A stopped analysis has no summary.
    if (summaryPanel != nullptr || !view->Session().WorkFinished() || optimizer.root == nullptr)
      return;
    summaryPanel = new TSummaryPanel(this, optimizer, view, moves.Summary());
    summaryPanel->show();
    LayoutChildren();
    return;
  }
  const std::string reason = optimizer.FailureReason();
  if (reason.empty() || failureNotice != nullptr) return;
  const TFailureNotice notice = FailureNoticeOf(DriveName(optimizer), reason);
  failureNotice = new QLabel(QString::fromUtf8(FailureNoticeText(notice).c_str()), this);
  // Reasons hold paths, which must never be taken for markup.
  failureNotice->setTextFormat(Qt::PlainText);
  failureNotice->setWordWrap(true);
  failureNotice->setAlignment(Qt::AlignCenter);
  failureNotice->setMargin(24);
  failureNotice->setFont(QtDrawingResources().guiFont);
  // Sunken as the map is, on the colour of a page rather than of a button.
  failureNotice->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  failureNotice->setLineWidth(2);
  failureNotice->setBackgroundRole(QPalette::Base);
  failureNotice->setAutoFillBackground(true);
  failureNotice->show();
  LayoutChildren();
}

bool TDriveWindow::ToggleSummaryPanel() {
  if (summaryPanel == nullptr) return false;
  summaryPanel->setVisible(summaryPanel->isHidden());
  LayoutChildren();
  return true;
}

void TDriveWindow::SaveSnapshot() {
  const QString letter = QString::fromLatin1(&optimizer.driveLetter, 1);
  // Said on standard error as each happens, and the run ends with status 3.
  // The worker has ended (it posted its end after its last write), so this
  // thread may record the failure in its place.
  const auto fail = [this](const std::string& reason) {
    std::fprintf(stderr, "diskopt: %s: %s\n", DriveName(optimizer).c_str(), reason.c_str());
    optimizer.Fail(reason);
  };
  const std::string unmade = MakeNamedFolder(QFile::encodeName(snapshotDirectory).toStdString());
  if (!unmade.empty()) {
    fail("the snapshot folder could not be made: " + unmade);
    return;
  }
  const QDir directory(snapshotDirectory);
  const auto save = [&](const QString& name) {
    const QString path = directory.filePath(name);
    const std::string unsaved = SavePicture(grab(), path);
    if (!unsaved.empty())
      fail("the picture " + path.toStdString() + " could not be saved: " + unsaved);
  };
  save(QStringLiteral("drive-%1.png").arg(letter));
  // The whole volume on one screen, now and after the plan. The window
  // closes next, so the view is left as the last picture shows it.
  TFragmentView* view = optimizer.fragmentView;
  if (view == nullptr) return;
  // These two are pictures of the map alone, at its whole width.
  if (summaryPanel != nullptr) {
    summaryPanel->hide();
    LayoutChildren();
  }
  if (view->ShowWholeVolume(TMapMode::kNow))
    save(QStringLiteral("drive-%1-overview.png").arg(letter));
  if (view->ShowWholeVolume(TMapMode::kPlanned)) {
    save(QStringLiteral("drive-%1-planned.png").arg(letter));
  }
}
