#include "ui/win32/drive_window.h"

#include <windows.h>
// commctrl.h uses the types windows.h declares.
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "drive/drive_optimizer.h"
#include "ui/drive_cluster_map.h"
#include "ui/drive_window_layout.h"
#include "ui/drive_window_messages.h"
#include "ui/win32/drawing_resources.h"
#include "ui/win32/fragment_view.h"

static_assert(kWmSize == WM_SIZE && kWmPaint == WM_PAINT && kWmClose == WM_CLOSE &&
                  kWmTimer == WM_TIMER && kWmFragmentsReady == WM_USER + 11,
              "the shared dispatch uses the platform's message numbers");

namespace {

constexpr UINT_PTR kRefreshTimerId = 1;
constexpr int kStatusBarId = 1;
constexpr int kDeferredPlacements = 5;  // room for the buttons, the label and the fragment view

HWND AsWindow(TWindowHandle handle) { return static_cast<HWND>(handle); }

// The drive optimizer a drive window serves, kept in its user-data slot from
// its creation on; not owned.
TDriveOptimizer& OptimizerOf(HWND window) {
  return *reinterpret_cast<TDriveOptimizer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// A button or label with control identifier 0, placed by the first layout.
HWND CreateChild(const char* className, const char* text, HWND parent) {
  HWND child = CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                               nullptr, GetModuleHandleA(nullptr), nullptr);
  // No redraw now: the window's first layout repaints every child.
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(guiFont), 0);
  return child;
}

HDWP DeferPlacement(HDWP batch, HWND child, const TRect& place, UINT flags) {
  return DeferWindowPos(batch, child, nullptr, place.x, place.y, place.width, place.height, flags);
}

LRESULT LayOutChildren(TDriveOptimizer& optimizer) {
  // The status bar docks itself along the bottom edge when told of a resize.
  SendMessageA(AsWindow(optimizer.statusBar), WM_SIZE, 0, 0);
  RECT client;
  GetClientRect(AsWindow(optimizer.mainWindow), &client);
  const TDriveWindowLayout layout =
      LayoutDriveWindow(client.right, client.bottom, GetSystemMetrics(SM_CYCAPTION));
  // One batch, so the children move together and repaint once.
  HDWP batch = BeginDeferWindowPos(kDeferredPlacements);
  batch = DeferPlacement(batch, AsWindow(optimizer.pauseButton), layout.pauseButton, SWP_NOZORDER);
  batch = DeferPlacement(batch, AsWindow(optimizer.stopButton), layout.stopButton, SWP_NOZORDER);
  batch = DeferPlacement(batch, AsWindow(optimizer.stageLabel), layout.stageLabel, SWP_NOZORDER);
  const TFragmentView* view = optimizer.fragmentView;
  if (view != nullptr && view->window != nullptr) {
    batch = DeferPlacement(batch, view->window, layout.fragmentView, SWP_NOZORDER | SWP_NOACTIVATE);
  }
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

LRESULT RefreshTexts(TDriveOptimizer& optimizer) {
  // Copies taken under the texts' own lock: the worker may publish new texts
  // while these are being shown.
  const std::string status = optimizer.statusText.Get();
  const std::string detail = optimizer.detailText.Get();
  SendMessageA(AsWindow(optimizer.stageLabel), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(status.c_str()));
  SendMessageA(AsWindow(optimizer.statusBar), WM_SETTEXT, 0,
               reinterpret_cast<LPARAM>(detail.c_str()));
  // The map's plan and zones once the worker is done.
  if (optimizer.fragmentView != nullptr) optimizer.fragmentView->PollWorkFinished();
  return 0;
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

LRESULT ShowClusterMap(TDriveOptimizer& optimizer) {
  optimizer.releaseViews = ReleaseViews;
  if (!BuildDriveClusterMap(optimizer)) return 0;
  HWND window = AsWindow(optimizer.mainWindow);
  RECT client;
  GetClientRect(window, &client);
  // At fixed numbers until the next resize lays it out with the rest.
  const TRect place = InitialFragmentViewRect(client.right, client.bottom);
  optimizer.fragmentView = CreateFragmentView(window, place.x, place.y, place.width, place.height,
                                              optimizer.clusterMap, &optimizer);
  // The map's keys (zoom, plan, Escape) reach it from the start.
  if (optimizer.fragmentView != nullptr) SetFocus(optimizer.fragmentView->window);
  InvalidateRect(window, nullptr, FALSE);
  return 0;
}

LRESULT CALLBACK DriveWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TDriveOptimizer& optimizer = OptimizerOf(window);
  switch (DriveWindowActionFor(message)) {
    case TDriveWindowAction::kLayout:
      return LayOutChildren(optimizer);
    case TDriveWindowAction::kPaint:
      return PaintDriveWindow(window);
    case TDriveWindowAction::kClose:
      // The worker unwinds soon, so the process need not wait long for it.
      optimizer.RequestStop();
      PostQuitMessage(0);
      return DefWindowProcA(window, message, wParam, lParam);  // destroys the window
    case TDriveWindowAction::kRefreshTexts:
      return RefreshTexts(optimizer);
    case TDriveWindowAction::kShowClusterMap:
      return ShowClusterMap(optimizer);
    case TDriveWindowAction::kDefault:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void CreateWin32DriveWindow(TDriveOptimizer& optimizer) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  char title[1000];
  std::snprintf(title, sizeof title, "Disk Optimizer: drive %c", optimizer.driveLetter);

  HWND window =
      CreateWindowExA(0, "STATIC", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                      0, 0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) {
    optimizer.RequestStop();
    PostQuitMessage(0);
    return;
  }
  optimizer.mainWindow = window;
  // The optimizer first: the new procedure finds it there from its first message.
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&optimizer));
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DriveWindowProc));

  optimizer.statusBar = CreateStatusWindowA(WS_CHILD | WS_VISIBLE, "", window, kStatusBarId);
  optimizer.pauseButton = CreateChild("BUTTON", "Pause", window);
  optimizer.stopButton = CreateChild("BUTTON", "Stop", window);
  optimizer.stageLabel = CreateChild("STATIC", "", window);

  // The resize this causes lays the children out.
  const TRect place = InitialDriveWindowRect(screenWidth, screenHeight);
  MoveWindow(window, place.x, place.y, place.width, place.height, TRUE);
  SetTimer(window, kRefreshTimerId, kRefreshMilliseconds, nullptr);
}
