// The Win32 window system against the real platform (wine64 under Xvfb
// here): drawing resources, the fragment view class, the drive window's
// creation, layout, paint, refresh, notice and close, its message loop, and
// drive threads that live until their windows are closed.
#include "ui/win32/win32_window_system.h"

#include <gtest/gtest.h>
#include <windows.h>
// commctrl.h uses the types windows.h declares.
#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "platform/win32/win32_services.h"
#include "tests/win32/window_test_support.h"
#include "ui/drive_window_layout.h"
#include "ui/drive_window_messages.h"
#include "ui/win32/drawing_resources.h"
#include "ui/win32/fragment_view_class.h"

namespace {

std::string TextOf(HWND window) {
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

HWND AsWindow(TWindowHandle handle) { return static_cast<HWND>(handle); }

void ExpectPlace(HWND child, const TRect& expected) {
  const TRect place = PlaceOf(child);
  EXPECT_EQ(place.x, expected.x);
  EXPECT_EQ(place.y, expected.y);
  EXPECT_EQ(place.width, expected.width);
  EXPECT_EQ(place.height, expected.height);
}

bool QuitPending() {
  MSG message;
  return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
}

COLORREF BrushColour(HBRUSH brush) {
  LOGBRUSH description = {};
  GetObjectA(brush, sizeof description, &description);
  EXPECT_EQ(description.lbStyle, static_cast<UINT>(BS_SOLID));
  return description.lbColor;
}

TEST(Win32DrawingResources, BrushesHaveTheViewColours) {
  MakeDrawingResourcesOnce();
  EXPECT_NE(guiFont, nullptr);
  EXPECT_EQ(viewBackgroundBrush, GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(BrushColour(fragmentedBrush), 0x000000FFu);
  EXPECT_EQ(BrushColour(lastFragmentBrush), 0x00FF3F3Fu);
  EXPECT_EQ(BrushColour(emptyCellBrush), 0x00FFFFFFu);
}

TEST(Win32FragmentViewClass, IsRegisteredAndMakesWindows) {
  ASSERT_TRUE(RegisterFragmentViewClassOnce());
  WNDCLASSEXA registered = {};
  registered.cbSize = sizeof registered;
  ASSERT_TRUE(GetClassInfoExA(GetModuleHandleA(nullptr), "TFragmentView", &registered));
  EXPECT_EQ(registered.style, static_cast<UINT>(CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS));
  EXPECT_EQ(registered.hbrBackground, nullptr);
  EXPECT_EQ(registered.hCursor, nullptr);

  HWND view = CreateWindowExA(0, kFragmentViewClassName, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  EXPECT_NE(view, nullptr);
  DestroyWindow(view);
}

class Win32DriveWindow : public testing::Test {
 protected:
  void SetUp() override {
    MakeDrawingResourcesOnce();
    windows.CreateDriveWindow(optimizer);
    window = AsWindow(optimizer.mainWindow);
    ASSERT_NE(window, nullptr);
    DispatchPending();
  }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    DispatchPending();
  }

  TWin32Services services;
  TWin32WindowSystem windows;
  TDriveOptimizer optimizer{'Q', services, windows, kDriveStages};
  HWND window = nullptr;
};

TEST_F(Win32DriveWindow, OpensWithItsTitleAtItsInitialPlace) {
  EXPECT_EQ(TextOf(window), "Disk Optimizer: drive Q");
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(GetParent(window), nullptr);
  EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&optimizer));

  RECT r;
  GetWindowRect(window, &r);
  const TRect expected =
      InitialDriveWindowRect(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  EXPECT_EQ(r.left, expected.x);
  EXPECT_EQ(r.top, expected.y);
  EXPECT_EQ(r.right - r.left, expected.width);
  EXPECT_EQ(r.bottom - r.top, expected.height);
}

TEST_F(Win32DriveWindow, HasButtonsLabelAndStatusBar) {
  HWND pause = AsWindow(optimizer.pauseButton);
  HWND stop = AsWindow(optimizer.stopButton);
  HWND label = AsWindow(optimizer.stageLabel);
  HWND statusBar = AsWindow(optimizer.statusBar);
  // Beyond the described four: "Defragment..." and "Optimize layout...", not
  // offered before an analysis, and the progress bar in the status bar.
  HWND defragment = GetDlgItem(window, kDefragmentCommandId);
  EXPECT_EQ(ChildCount(window), 7);
  EXPECT_EQ(ClassOf(defragment), "Button");
  EXPECT_EQ(TextOf(defragment), "Defragment...");
  EXPECT_FALSE(IsWindowEnabled(defragment));
  EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(defragment, WM_GETFONT, 0, 0)), guiFont);

  EXPECT_EQ(ClassOf(pause), "Button");
  EXPECT_EQ(TextOf(pause), "Pause");
  EXPECT_EQ(ClassOf(stop), "Button");
  EXPECT_EQ(TextOf(stop), "Stop");
  EXPECT_EQ(ClassOf(label), "Static");
  EXPECT_EQ(TextOf(label), "");
  EXPECT_EQ(ClassOf(statusBar), STATUSCLASSNAMEA);
  EXPECT_EQ(TextOf(statusBar), "");
  EXPECT_EQ(GetDlgCtrlID(statusBar), 1);

  for (HWND child : {pause, stop, label}) {
    EXPECT_EQ(GetParent(child), window);
    EXPECT_EQ(GetDlgCtrlID(child), 0);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(child, WM_GETFONT, 0, 0)), guiFont);
  }
}

TEST_F(Win32DriveWindow, LaysOutItsChildrenOnEveryResize) {
  for (int width : {944, 501}) {
    MoveWindow(window, 10, 10, width, 400, TRUE);
    RECT client;
    GetClientRect(window, &client);
    const TDriveWindowLayout layout =
        LayoutDriveWindow(client.right, client.bottom, GetSystemMetrics(SM_CYCAPTION));
    ExpectPlace(AsWindow(optimizer.pauseButton), layout.pauseButton);
    ExpectPlace(AsWindow(optimizer.stopButton), layout.stopButton);
    ExpectPlace(AsWindow(optimizer.stageLabel), layout.stageLabel);
    HWND defragment = GetDlgItem(window, kDefragmentCommandId);
    ExpectPlace(defragment, layout.defragmentButton);
    // Over the label's row, and the child found there: the label leaves it be.
    const POINT middle = {layout.defragmentButton.x + layout.defragmentButton.width / 2,
                          layout.defragmentButton.y + layout.defragmentButton.height / 2};
    EXPECT_EQ(ChildWindowFromPointEx(window, middle, CWP_ALL), defragment) << width;
    // The status bar docks along the whole bottom edge.
    const TRect bar = PlaceOf(AsWindow(optimizer.statusBar));
    EXPECT_EQ(bar.x, 0) << width;
    EXPECT_EQ(bar.width, client.right) << width;
    EXPECT_EQ(bar.y + bar.height, client.bottom) << width;
  }
}

TEST_F(Win32DriveWindow, PaintsASunkenFrameFilledWithButtonFace) {
  InvalidateRect(window, nullptr, TRUE);
  UpdateWindow(window);
  RECT client;
  GetClientRect(window, &client);
  HDC dc = GetDC(window);
  // Between the label row and the status bar only the window's own paint shows.
  EXPECT_EQ(GetPixel(dc, client.right / 2, client.bottom / 2), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(GetPixel(dc, 0, client.bottom / 2), GetSysColor(COLOR_BTNSHADOW));
  ReleaseDC(window, dc);
}

TEST_F(Win32DriveWindow, RefreshTimerShowsTheWorkersTexts) {
  optimizer.statusText.Set("Mapping free space");
  optimizer.detailText.Set("Q:\\Data\\");
  EXPECT_EQ(TextOf(AsWindow(optimizer.stageLabel)), "") << "nothing before the first tick";

  const DWORD start = GetTickCount();
  while (TextOf(AsWindow(optimizer.stageLabel)).empty() && GetTickCount() - start < 3000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    DispatchPending();
  }
  EXPECT_EQ(TextOf(AsWindow(optimizer.stageLabel)), "Mapping free space");
  EXPECT_EQ(TextOf(AsWindow(optimizer.statusBar)), "Q:\\Data\\");
}

TEST_F(Win32DriveWindow, NoticeWithoutRootMakesNoView) {
  windows.PostFragmentsReady(optimizer);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, window, kWmFragmentsReady, kWmFragmentsReady, PM_REMOVE));
  EXPECT_EQ(message.wParam, 0u);
  EXPECT_EQ(message.lParam, 0);
  EXPECT_EQ(DispatchMessageA(&message), 0);
  EXPECT_EQ(optimizer.clusterMap, nullptr);
  EXPECT_EQ(optimizer.fragmentView, nullptr);
  EXPECT_EQ(ChildCount(window), 7);
}

TEST_F(Win32DriveWindow, ClosingStopsTheWorkerAndEndsTheLoop) {
  SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(optimizer.StopRequested());
  ASSERT_TRUE(QuitPending());
  windows.RunMessageLoop(optimizer);  // returns on the quit message
  EXPECT_FALSE(QuitPending());

  // A notice after the close is lost, and harmlessly so.
  windows.PostFragmentsReady(optimizer);
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, kWmFragmentsReady, kWmFragmentsReady, PM_NOREMOVE));
}

TEST_F(Win32DriveWindow, LoopStopsWithoutDispatchingOnceQuitRequested) {
  optimizer.statusText.Set("Finished");
  PostMessageA(window, WM_TIMER, 1, 0);
  PostQuitMessage(0);
  optimizer.quitRequested = true;
  windows.RunMessageLoop(optimizer);
  EXPECT_EQ(TextOf(AsWindow(optimizer.stageLabel)), "") << "the tick was not dispatched";
  EXPECT_TRUE(QuitPending()) << "the loop stopped at the first message";
}

// Several drives' windows: each has a place of its own within the work
// area, and none overlaps another; two side by side, five cascaded where
// tiles would be too small, each at least partly apart from every other.
TEST(Win32DriveWindows, SeveralGetPlacesOfTheirOwnInTheWorkArea) {
  MakeDrawingResourcesOnce();
  TWin32Services services;
  TWin32WindowSystem windows;
  RECT work;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0));
  for (const int count : {2, 5}) {
    SCOPED_TRACE(count);
    std::vector<std::unique_ptr<TDriveOptimizer>> drives;
    std::vector<RECT> frames;
    for (int index = 0; index < count; ++index) {
      drives.push_back(std::make_unique<TDriveOptimizer>('D', services, windows, kDriveStages));
      drives.back()->windowCount = count;
      drives.back()->windowIndex = index;
      windows.CreateDriveWindow(*drives.back());
      RECT frame;
      GetWindowRect(AsWindow(drives.back()->mainWindow), &frame);
      frames.push_back(frame);
      EXPECT_GE(frame.left, work.left);
      EXPECT_GE(frame.top, work.top);
      EXPECT_LE(frame.right, work.right);
      EXPECT_LE(frame.bottom, work.bottom);
    }
    for (int i = 0; i < count; ++i) {
      for (int j = i + 1; j < count; ++j) {
        EXPECT_FALSE(EqualRect(&frames[i], &frames[j])) << i << " " << j;
        // Side by side, tiles do not overlap at all.
        RECT both;
        if (count == 2) {
          EXPECT_FALSE(IntersectRect(&both, &frames[i], &frames[j]));
        }
      }
    }
    for (const auto& drive : drives) DestroyWindow(AsWindow(drive->mainWindow));
    DispatchPending();
  }
}

// Drive threads of drives that do not exist: their workers find nothing and
// finish, their windows stay until closed.
TEST(Win32DriveThreads, LiveUntilTheirWindowsAreClosed) {
  MakeDrawingResourcesOnce();
  TWin32Services services;
  TWin32WindowSystem windows;
  TDriveOptimizer first('#', services, windows, kDriveStages);
  TDriveOptimizer second('%', services, windows, kDriveStages);
  THandle threads[2] = {windows.StartDriveThread(&first), windows.StartDriveThread(&second)};
  ASSERT_NE(threads[0], InvalidHandle());
  ASSERT_NE(threads[1], InvalidHandle());

  for (const char* title : {"Disk Optimizer: drive #", "Disk Optimizer: drive %"}) {
    HWND found = nullptr;
    for (int tries = 0; found == nullptr && tries < 200; ++tries) {
      found = FindWindowA(nullptr, title);
      if (found == nullptr) Sleep(50);
    }
    ASSERT_NE(found, nullptr) << title;
    EXPECT_EQ(WaitForSingleObject(threads[0], 0), static_cast<DWORD>(WAIT_TIMEOUT));
    PostMessageA(found, WM_CLOSE, 0, 0);
  }
  windows.WaitForDriveThreads(threads, 2);
  for (THandle thread : threads) {
    DWORD exitCode = 1;
    GetExitCodeThread(thread, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    windows.CloseDriveThread(thread);
  }
  EXPECT_EQ(FindWindowA(nullptr, "Disk Optimizer: drive #"), nullptr);
  EXPECT_EQ(FindWindowA(nullptr, "Disk Optimizer: drive %"), nullptr);
  WaitForWorkers();  // the optimizers go only after their workers
}

}  // namespace
