#include "ui/win32/drive_window.h"

#include <windows.h>
// commctrl.h uses the types windows.h declares.
#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "drive/drive_name.h"
#include "drive/drive_optimizer.h"
#include "drive/user_paths.h"
#include "ui/defragment_confirmation.h"
#include "ui/drive_cluster_map.h"
#include "ui/drive_window_layout.h"
#include "ui/drive_window_messages.h"
#include "ui/failure_notice.h"
#include "ui/side_panel_layout.h"
#include "ui/win32/drawing_resources.h"
#include "ui/win32/failure_notice_window.h"
#include "ui/win32/fragment_view.h"
#include "ui/win32/summary_panel.h"
#include "ui/window_moves.h"
#include "ui/window_placement.h"
#include "ui/work_controls.h"
#include "ui/work_progress.h"

static_assert(kWmSize == WM_SIZE && kWmPaint == WM_PAINT && kWmClose == WM_CLOSE &&
                  kWmTimer == WM_TIMER && kWmFragmentsReady == WM_USER + 11 &&
                  kWmCommand == WM_COMMAND && kWmNcDestroy == WM_NCDESTROY &&
                  kWmWorkerFinished == WM_USER + 12 && kWmActivate == WM_ACTIVATE &&
                  kWmSetFocus == WM_SETFOCUS && kWmDrawItem == WM_DRAWITEM,
              "the shared dispatch uses the platform's message numbers");

namespace {

constexpr UINT_PTR kRefreshTimerId = 1;
constexpr int kStatusBarId = 1;
// Room for the four buttons, the label, the fragment view and what may
// take the map's place or share it (the failure notice, the summary panel).
constexpr int kDeferredPlacements = 9;
// The window property that holds the window's own state.
constexpr const char* kStateProperty = "diskopt.driveWindow";
// The widest the status bar's part for the map's zoom and view may be,
// pixels ("1048576 clusters per cell, volume after the plan" in the GUI
// font); never more than half the bar.
constexpr int kViewStatePartWidth = 280;
// The status bar's parts, left to right: the described text; beyond it, the
// analysis's progress (its words, then the bar) while an analysis runs, and
// the selected item and the map's zoom and view while there is a map. A part
// with nothing to show has no width.
enum TStatusPart {
  kDetailPart,
  kProgressTextPart,
  kProgressBarPart,
  kSelectionPart,
  kViewStatePart,
  kStatusPartCount
};
constexpr int kProgressBarWidth = 150;  // pixels
// The widest words of the progress, measured once for their part's width.
constexpr const char* kWidestProgressText = "read 8,888,888 of 8,888,888 items, about 88 min left";
constexpr int kPartPadding = 12;           // pixels a part's words need beside them
constexpr UINT kMarqueeMilliseconds = 40;  // the busy bar's step

HWND AsWindow(TWindowHandle handle) { return static_cast<HWND>(handle); }

// What a drive window keeps beside its drive optimizer, beyond the described
// window: its "Defragment..." button, the moves the window drives and what
// "Pause" and "Stop" do. Made with the window, held in its property
// kStateProperty and deleted on WM_NCDESTROY; only the drive thread touches
// it. The workers never read it: the moves' worker has a copy of what it
// moves (TWindowMoves), and Pause and Stop reach a worker only through the
// drive's gates (drive/work_gate.h), which the drive thread sets and the
// worker waits on between items. The worker's end comes back as
// kWmWorkerFinished, posted after its last write, so the drive thread reads
// its results only once it has ended.
struct TDriveWindowState {
  explicit TDriveWindowState(TDriveOptimizer& drive) : moves(drive), controls(drive, moves) {}
  // Children of the window; none when they could not be made.
  HWND defragmentButton = nullptr;
  HWND optimizeButton = nullptr;
  TWindowMoves moves;
  TWorkControls controls;    // "Pause" and "Stop", over moves; see ui/work_controls.h
  ULONGLONG movesStart = 0;  // GetTickCount64 when the moves began, milliseconds
  // Where the drive could not be analysed, why and what to do, in the map's
  // place (ShowOutcome); a child of the window, none before.
  HWND failureNotice = nullptr;
  // Beside the map once the analysis has finished (ShowOutcome); none
  // before, after a stop, or without a map. Released before the drive forgets
  // its tree and before the map's window.
  std::unique_ptr<TSummaryPanel> summaryPanel;
  // The analysis's progress in the status bar's part kProgressBarPart: a
  // common-controls progress bar, a child of the bar; none when it could
  // not be made. Shown while an analysis runs (progressShown).
  HWND progressBar = nullptr;
  bool progressShown = false;
  int progressTextWidth = 0;   // pixels of kWidestProgressText in the bar's font
  TWorkProgress workProgress;  // the bar's rate; made anew for each analysis
  ULONGLONG workStart = 0;     // GetTickCount64 when the window opened, milliseconds
};

// The drive optimizer a drive window serves, kept in its user-data slot from
// its creation on; not owned.
TDriveOptimizer& OptimizerOf(HWND window) {
  return *reinterpret_cast<TDriveOptimizer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// The window's state, set before its procedure; none once it is destroyed.
TDriveWindowState* StateOf(HWND window) {
  return static_cast<TDriveWindowState*>(GetPropA(window, kStateProperty));
}

// A button or label with control identifier 0 (unless given), placed by the
// first layout.
HWND CreateChild(const char* className, const char* text, HWND parent, DWORD extraStyle = 0,
                 unsigned identifier = 0) {
  HWND child = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | extraStyle, 0, 0, 0, 0,
                               parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(identifier)),
                               GetModuleHandleA(nullptr), nullptr);
  // No redraw now: the window's first layout repaints every child.
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont), 0);
  return child;
}

// The drive's map, if it has one with a window; none otherwise.
TFragmentView* MapOf(TDriveOptimizer& optimizer) {
  TFragmentView* view = optimizer.fragmentView;
  return view != nullptr && view->window != nullptr ? view : nullptr;
}

// Gives the map the keyboard focus, so its keys work with no click first;
// false when there is no map.
bool FocusMap(TDriveOptimizer& optimizer) {
  TFragmentView* view = MapOf(optimizer);
  if (view == nullptr) return false;
  SetFocus(view->window);
  return true;
}

// Pixels text takes in the font of window (a control).
int TextWidthIn(HWND window, const std::string& text) {
  HDC dc = GetDC(window);
  if (dc == nullptr) return 0;
  HGDIOBJ font =
      SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(window, WM_GETFONT, 0, 0)));
  SIZE size = {0, 0};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, font);
  ReleaseDC(window, dc);
  return size.cx;
}

// The status bar's parts (TStatusPart) for its width, each with the room
// its words need (less where the bar is narrow) and the described text with
// the rest; then the progress bar in its part.
void SetStatusParts(TDriveOptimizer& optimizer, const TDriveWindowState& state) {
  HWND bar = AsWindow(optimizer.statusBar);
  RECT client;
  GetClientRect(bar, &client);
  const int width = client.right;
  TFragmentView* view = MapOf(optimizer);
  int widths[kStatusPartCount] = {};
  if (state.progressShown) {
    widths[kProgressTextPart] = state.progressTextWidth + kPartPadding;
    widths[kProgressBarPart] = state.progressBar != nullptr ? kProgressBarWidth : 0;
  }
  if (view != nullptr) {
    widths[kViewStatePart] = std::min(kViewStatePartWidth, width / 2);
    if (!view->SelectionText().empty())
      widths[kSelectionPart] =
          std::min(TextWidthIn(bar, view->SelectionText()) + kPartPadding, width / 3);
  }
  // The described text keeps a third of the bar at least: beyond that the
  // others give up room in proportion.
  int wanted = 0;
  for (int part = 1; part < kStatusPartCount; ++part) wanted += widths[part];
  const int room = width * 2 / 3;
  if (wanted > room) {
    for (int part = 1; part < kStatusPartCount; ++part) widths[part] = widths[part] * room / wanted;
  }
  int rightEdges[kStatusPartCount];
  int edge = width;
  for (int part = 1; part < kStatusPartCount; ++part) edge -= widths[part];
  rightEdges[0] = std::max(edge, 0);
  for (int part = 1; part < kStatusPartCount; ++part)
    rightEdges[part] = rightEdges[part - 1] + widths[part];
  rightEdges[kStatusPartCount - 1] = -1;
  SendMessageA(bar, SB_SETPARTS, kStatusPartCount, reinterpret_cast<LPARAM>(rightEdges));
  if (state.progressBar != nullptr) {
    RECT place;
    SendMessageA(bar, SB_GETRECT, kProgressBarPart, reinterpret_cast<LPARAM>(&place));
    InflateRect(&place, -1, -1);
    MoveWindow(state.progressBar, place.left, place.top, place.right - place.left,
               place.bottom - place.top, TRUE);
  }
  if (view != nullptr) view->ShowViewState();
}

// The analysis's progress from the worker's counters, shown while an
// analysis runs: busy with the items scanned until the retrieval knows its
// total, then the items read of it with the time left; the words beside the
// bar, which draws none. Moves show their own progress in the status line.
void UpdateProgressBar(TDriveOptimizer& optimizer, TDriveWindowState& state) {
  const bool shown = state.controls.Enabled() && !state.moves.Moving();
  HWND bar = AsWindow(optimizer.statusBar);
  if (shown != state.progressShown) {
    state.progressShown = shown;
    if (state.progressBar != nullptr) ShowWindow(state.progressBar, shown ? SW_SHOWNA : SW_HIDE);
    SendMessageA(bar, SB_SETTEXTA, kProgressTextPart, reinterpret_cast<LPARAM>(""));
    SetStatusParts(optimizer, state);
  }
  if (!shown) return;
  // The worker's counters (drive_optimizer.h says who writes them): the
  // total with acquire, then the base it was published after.
  TItemFigures figures;
  figures.toRead = optimizer.itemsToRead.load(std::memory_order_acquire);
  figures.readFrom = optimizer.readFrom.load(std::memory_order_relaxed);
  figures.counted = optimizer.itemsCounted.load(std::memory_order_relaxed);
  const double seconds = static_cast<double>(GetTickCount64() - state.workStart) / 1000.0;
  const TProgressBarState progress = state.workProgress.Now(figures, seconds);
  SendMessageA(bar, SB_SETTEXTA, kProgressTextPart,
               reinterpret_cast<LPARAM>(progress.text.c_str()));
  HWND control = state.progressBar;
  if (control == nullptr) return;
  const LONG_PTR style = GetWindowLongPtrA(control, GWL_STYLE);
  if (progress.busy != ((style & PBS_MARQUEE) != 0)) {
    SetWindowLongPtrA(control, GWL_STYLE,
                      progress.busy ? style | PBS_MARQUEE : style & ~PBS_MARQUEE);
    SendMessageA(control, PBM_SETMARQUEE, progress.busy ? TRUE : FALSE, kMarqueeMilliseconds);
  }
  if (progress.busy) return;
  // The range is an int: a total past a million is shown in parts of it.
  const int64_t divisor = progress.maximum / 1000000 + 1;
  SendMessageA(control, PBM_SETRANGE32, 0, static_cast<LPARAM>(progress.maximum / divisor));
  SendMessageA(control, PBM_SETPOS, static_cast<WPARAM>(progress.value / divisor), 0);
}

HDWP DeferPlacement(HDWP batch, HWND child, const TRect& place, UINT flags) {
  return DeferWindowPos(batch, child, nullptr, place.x, place.y, place.width, place.height, flags);
}

LRESULT LayOutChildren(TDriveOptimizer& optimizer, const TDriveWindowState& state) {
  // The status bar docks itself along the bottom edge when told of a resize.
  SendMessageA(AsWindow(optimizer.statusBar), WM_SIZE, 0, 0);
  SetStatusParts(optimizer, state);
  RECT client;
  GetClientRect(AsWindow(optimizer.mainWindow), &client);
  const TDriveWindowLayout layout =
      LayoutDriveWindow(client.right, client.bottom, GetSystemMetrics(SM_CYCAPTION));
  // One batch, so the children move together and repaint once.
  HDWP batch = BeginDeferWindowPos(kDeferredPlacements);
  batch = DeferPlacement(batch, AsWindow(optimizer.pauseButton), layout.pauseButton, SWP_NOZORDER);
  batch = DeferPlacement(batch, AsWindow(optimizer.stopButton), layout.stopButton, SWP_NOZORDER);
  batch = DeferPlacement(batch, AsWindow(optimizer.stageLabel), layout.stageLabel, SWP_NOZORDER);
  // Over the right end of the label's row, which the stage texts leave empty:
  // above the label, which leaves it unpainted (WS_CLIPSIBLINGS).
  if (state.defragmentButton != nullptr) {
    batch = DeferWindowPos(batch, state.defragmentButton, HWND_TOP, layout.defragmentButton.x,
                           layout.defragmentButton.y, layout.defragmentButton.width,
                           layout.defragmentButton.height, 0);
  }
  if (state.optimizeButton != nullptr) {
    batch = DeferWindowPos(batch, state.optimizeButton, HWND_TOP, layout.optimizeButton.x,
                           layout.optimizeButton.y, layout.optimizeButton.width,
                           layout.optimizeButton.height, 0);
  }
  // The summary panel, while shown, takes the right of the map's place.
  HWND panel = state.summaryPanel != nullptr ? state.summaryPanel->window : nullptr;
  const bool panelShown = panel != nullptr && IsWindowVisible(panel);
  const TMapAreaSplit split = SplitMapArea(layout.fragmentView);
  const TFragmentView* view = optimizer.fragmentView;
  if (view != nullptr && view->window != nullptr) {
    batch = DeferPlacement(batch, view->window, panelShown ? split.map : layout.fragmentView,
                           SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (panel != nullptr) batch = DeferPlacement(batch, panel, split.panel, SWP_NOZORDER);
  if (state.failureNotice != nullptr)
    batch = DeferPlacement(batch, state.failureNotice, layout.fragmentView, SWP_NOZORDER);
  // A failed step has already freed the batch and given none.
  if (batch != nullptr) EndDeferWindowPos(batch);
  return 0;
}

LRESULT PaintDriveWindow(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  // Also fills the interior with the button-face colour.
  DrawEdge(dc, &client, BDR_SUNKENOUTER, BF_RECT | BF_MIDDLE);
  EndPaint(window, &paint);
  return 0;
}

// Offers "Defragment..." and "Optimize layout..." when they may be taken;
// the map's menu asks the moves itself.
void UpdateDefragmentAction(const TDriveWindowState& state) {
  if (state.defragmentButton != nullptr)
    EnableWindow(state.defragmentButton, state.moves.CanDefragment());
  if (state.optimizeButton != nullptr)
    EnableWindow(state.optimizeButton, state.moves.CanOptimize());
}

// "Pause" reads "Resume" while the work is paused; both buttons are enabled
// while it runs. The text is set only when it changes, so the button does
// not flicker on every tick.
void UpdateWorkButtons(TDriveOptimizer& optimizer, const TDriveWindowState& state) {
  HWND pause = AsWindow(optimizer.pauseButton);
  const char* label = state.controls.PauseLabel();
  char shown[16] = {};
  GetWindowTextA(pause, shown, sizeof shown);
  if (std::strcmp(shown, label) != 0) SetWindowTextA(pause, label);
  EnableWindow(pause, state.controls.Enabled());
  EnableWindow(AsWindow(optimizer.stopButton), state.controls.Enabled());
}

LRESULT RefreshTexts(TDriveOptimizer& optimizer, TDriveWindowState& state) {
  TWindowMoves& moves = state.moves;
  // The files moved since the last tick, where they lie now.
  if (moves.Moving() && moves.ApplyMovedFiles() && optimizer.fragmentView != nullptr)
    optimizer.fragmentView->MapChanged();
  const double secondsMoving =
      moves.Moving() ? static_cast<double>(GetTickCount64() - state.movesStart) / 1000.0 : 0;
  // Copies taken under the texts' own lock: the worker may publish new texts
  // while these are being shown. While moves run, and once the drive is
  // analysed anew after them, the status bar tells of the moves.
  const std::string status = optimizer.statusText.Get();
  const std::string detail = moves.StatusLine(optimizer.detailText.Get(), secondsMoving);
  SendMessageA(AsWindow(optimizer.stageLabel), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(status.c_str()));
  SendMessageA(AsWindow(optimizer.statusBar), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(detail.c_str()));
  // The map's plan and zones once the worker is done.
  if (optimizer.fragmentView != nullptr) optimizer.fragmentView->PollWorkFinished();
  UpdateDefragmentAction(state);
  UpdateWorkButtons(optimizer, state);
  UpdateProgressBar(optimizer, state);
  return 0;
}

// "Summary...": shows or hides the panel beside the map; false while there
// is none.
bool ToggleSummaryPanel(HWND window) {
  TDriveWindowState* state = StateOf(window);
  if (state == nullptr || state->summaryPanel == nullptr) return false;
  HWND panel = state->summaryPanel->window;
  ShowWindow(panel, IsWindowVisible(panel) ? SW_HIDE : SW_SHOW);
  LayOutChildren(OptimizerOf(window), *state);
  return true;
}

// The map's selection changed: its part of the status bar takes the room
// its words need.
void SelectionChanged(HWND window) {
  TDriveWindowState* state = StateOf(window);
  if (state != nullptr) SetStatusParts(OptimizerOf(window), *state);
}

// The worker's notice: every item's runs are known.
// The view outlives its window, which goes with the drive window; the drive
// optimizer, which lives until the process's end, releases it, then the map
// it reads.
void ReleaseViews(TDriveOptimizer& optimizer) {
  ReleaseFragmentView(optimizer.fragmentView);
  optimizer.fragmentView = nullptr;
  ReleaseDriveClusterMap(optimizer);
}

LRESULT ShowClusterMap(TDriveOptimizer& optimizer, TDriveWindowState& state) {
  TWindowMoves& moves = state.moves;
  optimizer.releaseViews = ReleaseViews;
  if (!BuildDriveClusterMap(optimizer)) return 0;
  HWND window = AsWindow(optimizer.mainWindow);
  RECT client;
  GetClientRect(window, &client);
  // At fixed numbers until the next resize lays it out with the rest.
  const TRect place = InitialFragmentViewRect(client.right, client.bottom);
  optimizer.fragmentView = CreateFragmentView(window, place.x, place.y, place.width, place.height,
                                              optimizer.clusterMap, &optimizer);
  if (optimizer.fragmentView == nullptr) return 0;
  optimizer.fragmentView->OfferDefragment(&moves);
  optimizer.fragmentView->SetMovesSummary(moves.Summary());
  optimizer.fragmentView->ShowViewStateIn(AsWindow(optimizer.statusBar), kSelectionPart,
                                          kViewStatePart);
  optimizer.fragmentView->OnSummary([window] { return ToggleSummaryPanel(window); });
  optimizer.fragmentView->OnSelectionChanged([window] { SelectionChanged(window); });
  optimizer.fragmentView->ShowLegend();
  SetStatusParts(optimizer, state);
  // The map's keys reach it from the start, with no click; a window that is
  // not active is not made so (it would come to the front): the map takes
  // the keys when the window next becomes active.
  if (GetActiveWindow() == window) FocusMap(optimizer);
  InvalidateRect(window, nullptr, FALSE);
  return 0;
}

// "Defragment..." and "Optimize layout...": the question (what will move,
// what will be left and why) is worked out on a worker of the drive, while
// the window goes on answering. Nothing while not offered.
LRESULT AskAndMove(TDriveOptimizer& optimizer, TDriveWindowState& state, TMovesKind kind,
                   const char* caption) {
  if (!state.moves.CanDefragment()) return 0;
  if (!state.moves.Ask(kind)) {
    optimizer.windows.ShowMessage(kMovesNotStartedText, caption);
    return 0;
  }
  return RefreshTexts(optimizer, state);
}

// Once the question is worked out: asks it under its caption; on Yes the
// moves run on a worker of the drive.
LRESULT AnswerQuestion(HWND window, TDriveOptimizer& optimizer, TDriveWindowState& state) {
  RefreshTexts(optimizer, state);
  const char* const caption = CaptionFor(state.moves.Kind());
  const TDefragmentConfirmation confirmation = state.moves.Question();
  if (!confirmation.ask) {
    optimizer.windows.ShowMessage(confirmation.text.c_str(), caption);
    return 0;
  }
  const bool yes = optimizer.windows.AskYesNo(window, confirmation.text.c_str(), caption);
  // The question's own message loop may have seen the window closed, and its
  // state released with it: the property is then gone, and nothing is done.
  if (!yes || StateOf(window) != &state || !state.moves.CanDefragment()) return 0;
  if (!state.moves.Start()) {
    optimizer.windows.ShowMessage(kMovesNotStartedText, caption);
    return 0;
  }
  state.movesStart = GetTickCount64();
  state.controls.MovesStarted();
  return RefreshTexts(optimizer, state);
}

// The buttons' clicks; a clicked button hands the keyboard focus back to
// the map, whose keys then go on working.
LRESULT Command(HWND window, WPARAM wParam, LPARAM lParam, TDriveOptimizer& optimizer,
                TDriveWindowState& state) {
  switch (DriveWindowCommandFor(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam),
                                optimizer.pauseButton, optimizer.stopButton)) {
    case TDriveWindowCommand::kDefragment:
      AskAndMove(optimizer, state, TMovesKind::kDefragment, kDefragmentCaption);
      break;
    case TDriveWindowCommand::kOptimize:
      AskAndMove(optimizer, state, TMovesKind::kOptimize, kOptimizeCaption);
      break;
    case TDriveWindowCommand::kPause:
      // Holds the worker at its next item, or lets it go on.
      state.controls.PauseClicked();
      RefreshTexts(optimizer, state);
      break;
    case TDriveWindowCommand::kStop:
      // Ends the work at its next item (moves after their step); the
      // worker's end says "Stopped" and disables the buttons.
      state.controls.StopClicked();
      UpdateWorkButtons(optimizer, state);
      break;
    case TDriveWindowCommand::kNone:
      return 0;
  }
  // The question's own message loop may have seen the window closed.
  if (StateOf(window) == &state) FocusMap(optimizer);
  return 0;
}

// Once an analysis has ended: the summary panel beside the map, or where
// the drive could not be analysed and has no map, what failed and what to
// do, in the map's place.
void ShowOutcome(TDriveOptimizer& optimizer, TDriveWindowState& state) {
  TFragmentView* view = MapOf(optimizer);
  if (view != nullptr) {
    view->PollWorkFinished();
    // A stopped analysis has no summary.
    if (state.summaryPanel != nullptr || view->session == nullptr ||
        !view->session->WorkFinished() || optimizer.root == nullptr) {
      return;
    }
    state.summaryPanel =
        CreateSummaryPanel(AsWindow(optimizer.mainWindow), optimizer, view, state.moves.Summary());
    LayOutChildren(optimizer, state);
    return;
  }
  if (state.failureNotice != nullptr) return;
  const std::string reason = optimizer.FailureReason();
  if (reason.empty()) return;
  const TFailureNotice notice = FailureNoticeOf(DriveName(optimizer), reason);
  state.failureNotice =
      CreateFailureNoticeWindow(AsWindow(optimizer.mainWindow), FailureNoticeText(notice));
  LayOutChildren(optimizer, state);
}

// A worker has ended: after moves, the drive is analysed anew in this
// window; after the question was worked out, it is asked; after an
// analysis, the texts and the offer follow at once.
LRESULT WorkerFinished(HWND window, TDriveOptimizer& optimizer, TDriveWindowState& state) {
  const TWindowMoves::TEnd end = state.moves.WorkerEnded();
  if (end == TWindowMoves::TEnd::kQuestionReady) return AnswerQuestion(window, optimizer, state);
  if (end == TWindowMoves::TEnd::kMovesEnded) {
    // No worker runs now: the view's window goes first (it reads the map),
    // then the drive forgets the view, the map and the tree (releaseViews),
    // and a new worker analyses the drive anew; its notice makes a new view.
    state.summaryPanel.reset();
    if (optimizer.fragmentView != nullptr && optimizer.fragmentView->window != nullptr)
      DestroyWindow(optimizer.fragmentView->window);
    SetStatusParts(optimizer, state);
    // The analysis anew has a bar of its own.
    state.workProgress = TWorkProgress();
    state.controls.WorkerEnded(state.moves.Reanalyse());
  } else {
    state.controls.WorkerEnded(false);
    ShowOutcome(optimizer, state);
  }
  // The worker's final texts at once: "Stopped" the moment it has ended.
  return RefreshTexts(optimizer, state);
}

// The window is gone: the view, which outlives it, no longer offers its
// moves, which go with the state.
void ReleaseState(HWND window, TDriveOptimizer& optimizer) {
  TDriveWindowState* state = StateOf(window);
  RemovePropA(window, kStateProperty);
  if (optimizer.fragmentView != nullptr) optimizer.fragmentView->OfferDefragment(nullptr);
  delete state;
}

LRESULT CALLBACK DriveWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TDriveOptimizer& optimizer = OptimizerOf(window);
  // Set before this procedure, released on WM_NCDESTROY, the last message.
  TDriveWindowState& state = *StateOf(window);
  switch (DriveWindowActionFor(message)) {
    case TDriveWindowAction::kLayout:
      return LayOutChildren(optimizer, state);
    case TDriveWindowAction::kPaint:
      return PaintDriveWindow(window);
    case TDriveWindowAction::kClose:
      // The worker unwinds soon, so the process need not wait long for it;
      // moves end after the step under way.
      optimizer.RequestStop();
      PostQuitMessage(0);
      return DefWindowProcA(window, message, wParam, lParam);  // destroys the window
    case TDriveWindowAction::kRefreshTexts:
      return RefreshTexts(optimizer, state);
    case TDriveWindowAction::kShowClusterMap:
      return ShowClusterMap(optimizer, state);
    case TDriveWindowAction::kCommand:
      return Command(window, wParam, lParam, optimizer, state);
    case TDriveWindowAction::kWorkerFinished:
      return WorkerFinished(window, optimizer, state);
    case TDriveWindowAction::kReleaseState:
      ReleaseState(window, optimizer);
      break;
    case TDriveWindowAction::kActivate:
      // Becoming active (not minimized), the window gives the map the keys
      // instead of taking them itself.
      if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0 && FocusMap(optimizer)) return 0;
      break;
    case TDriveWindowAction::kFocusMap:
      if (FocusMap(optimizer)) return 0;
      break;
    case TDriveWindowAction::kDrawItem: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item.hwndItem != state.failureNotice) break;
      DrawFailureNotice(item);
      return TRUE;
    }
    case TDriveWindowAction::kDefault:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Alone, a drive's window takes the described place (40, 40, the screen
// less 80 each way); beside other drives' windows, a tile of that place
// within the work area (the screen less the taskbar), so none lies on
// another (ui/window_placement.h).
TRect DriveWindowFrame(const TDriveOptimizer& optimizer) {
  TRect area{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  RECT work;
  if (optimizer.windowCount > 1 && SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
    area =
        TRect{static_cast<int>(work.left), static_cast<int>(work.top),
              static_cast<int>(work.right - work.left), static_cast<int>(work.bottom - work.top)};
  const TRect described = InitialDriveWindowRect(area.width, area.height);
  return DriveWindowPlace(area, optimizer.windowCount, optimizer.windowIndex, described.width,
                          described.height);
}

}  // namespace

void CreateWin32DriveWindow(TDriveOptimizer& optimizer) {
  // "Disk Optimizer: drive D" for a drive of the system; where the services
  // say the letter stands for a path, that path too.
  const std::string title = "Disk Optimizer: " + AnalysedName(optimizer);

  HWND window = CreateWindowExA(0, "STATIC", title.c_str(),
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0,
                                nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) {
    optimizer.RequestStop();
    PostQuitMessage(0);
    return;
  }
  auto* state = new TDriveWindowState(optimizer);
  if (!SetPropA(window, kStateProperty, state)) {
    delete state;
    DestroyWindow(window);
    optimizer.RequestStop();
    PostQuitMessage(0);
    return;
  }
  optimizer.mainWindow = window;
  // The optimizer and the state first: the new procedure finds them there
  // from its first message.
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&optimizer));
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DriveWindowProc));

  optimizer.statusBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE, "", window, kStatusBarId);
  optimizer.pauseButton = CreateChild("BUTTON", "Pause", window);
  optimizer.stopButton = CreateChild("BUTTON", "Stop", window);
  // Beyond the described style: the "Defragment..." button lies over the
  // label's right end, and the label must not paint over it.
  optimizer.stageLabel = CreateChild("STATIC", "", window, WS_CLIPSIBLINGS);
  // Offered once the analysis has finished (the refresh enables it).
  state->defragmentButton =
      CreateChild("BUTTON", kDefragmentLabel, window, WS_DISABLED, kDefragmentCommandId);
  state->optimizeButton =
      CreateChild("BUTTON", kOptimizeLabel, window, WS_DISABLED, kOptimizeCommandId);
  // The analysis's progress, in the status bar (shown by the refresh).
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  state->progressBar =
      CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 0, 0, 0, AsWindow(optimizer.statusBar),
                      nullptr, GetModuleHandleA(nullptr), nullptr);
  state->progressTextWidth = TextWidthIn(AsWindow(optimizer.statusBar), kWidestProgressText);
  state->workStart = GetTickCount64();

  // The resize this causes lays the children out.
  const TRect place = DriveWindowFrame(optimizer);
  MoveWindow(window, place.x, place.y, place.width, place.height, TRUE);
  UpdateProgressBar(optimizer, *state);
  SetTimer(window, kRefreshTimerId, kRefreshMilliseconds, nullptr);
}
