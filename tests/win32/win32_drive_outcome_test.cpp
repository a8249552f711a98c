// The Win32 drive window once its analysis has ended, in real windows
// (wine64 under Xvfb here) over a scripted volume: a drive that could not
// be analysed says why and what to do in the map's place; the title names
// what a letter stands for where the services say it stands for a path.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/scripted_volume.h"
#include "tests/win32/window_test_support.h"
#include "ui/drive_window_layout.h"
#include "ui/win32/fragment_view.h"
#include "ui/win32/win32_window_system.h"

namespace {

std::string TextOf(HWND window) {
  char text[2048] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

struct TChildSearch {
  const char* part;
  HWND found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM search) {
  auto& wanted = *reinterpret_cast<TChildSearch*>(search);
  if (TextOf(child).find(wanted.part) == std::string::npos) return TRUE;
  wanted.found = child;
  return FALSE;
}

// The child of window whose text holds part, or none.
HWND ChildHolding(HWND window, const char* part) {
  TChildSearch search = {part, nullptr};
  EnumChildWindows(window, MatchChild, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A drive's window over a scripted volume, on the test's thread; the
// worker's part is played by the test.
class Win32DriveOutcome : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(RegisterFragmentViewClassOnce()); }
  void TearDown() override {
    if (IsWindow(window)) DestroyWindow(window);
    DispatchPending();
  }
  void OpenDrive() {
    windows.CreateDriveWindow(optimizer);
    window = static_cast<HWND>(optimizer.mainWindow);
    ASSERT_NE(window, nullptr);
    DispatchPending();
  }
  // The worker's end as it reaches the window, statusText its last stage.
  void Finish(const char* stage) {
    optimizer.statusText.Set(stage);
    windows.PostWorkerFinished(optimizer);
    DispatchPending();
  }

  TScriptedVolume volume{'D'};
  TWin32WindowSystem windows;
  TDriveOptimizer optimizer{'D', volume, windows, kDriveStages};
  HWND window = nullptr;
};

TEST_F(Win32DriveOutcome, AFailedDriveShowsTheReasonAndWhatToDoWhereTheMapWouldBe) {
  OpenDrive();
  optimizer.Fail("the volume could not be opened: D: access is denied (run as administrator)");
  Finish("Finished");
  HWND notice = ChildHolding(window, "could not be analysed");
  ASSERT_NE(notice, nullptr);
  const std::string text = TextOf(notice);
  EXPECT_EQ(text.rfind("D: could not be analysed\n\n", 0), 0u) << text;
  EXPECT_NE(text.find("The volume could not be opened: D: access is denied (run as "
                      "administrator)."),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("What to do: Do as the reason says"), std::string::npos) << text;
  EXPECT_TRUE(IsWindowVisible(notice));
  EXPECT_EQ(optimizer.fragmentView, nullptr);
  // In the map's place, following the window's size.
  MoveWindow(window, 10, 10, 640, 480, TRUE);
  DispatchPending();
  EXPECT_EQ(Corners(PlaceOf(notice)), Corners(MapAreaOf(window)));
  // Drawn on the colour of a page, not left as the window's grey.
  UpdateWindow(window);
  HDC dc = GetDC(notice);
  EXPECT_EQ(GetPixel(dc, 3, 3), GetSysColor(COLOR_WINDOW));
  ReleaseDC(notice, dc);
  // A second end (another worker of the drive) adds no second notice.
  Finish("Finished");
  // Four buttons, the label, the status bar with its progress bar, the notice.
  EXPECT_EQ(ChildCount(window), 8);
}

TEST_F(Win32DriveOutcome, AStoppedDriveShowsNoNotice) {
  OpenDrive();
  optimizer.RequestStop();
  Finish("Stopped");
  EXPECT_EQ(ChildHolding(window, "could not be analysed"), nullptr);
  EXPECT_EQ(ChildCount(window), 7);
}

// Not part of the unit run: run by hand to photograph the window (see
// tests/win32/window_screenshot.sh). Prints "drawn", then keeps the window
// open until it is closed.
TEST_F(Win32DriveOutcome, DISABLED_ShowsAFailedDriveUntilClosed) {
  OpenDrive();
  optimizer.Fail("the volume could not be opened: D: access is denied (run as administrator)");
  optimizer.detailText.Set(
      "D: the volume could not be opened: D: access is denied (run as administrator)");
  Finish("Finished");
  SendMessageA(window, WM_TIMER, 1, 0);
  UpdateWindow(window);
  std::printf("drawn\n");
  std::fflush(stdout);
  windows.RunMessageLoop(optimizer);
}

// The scripted volume standing for an image file, as the Linux services
// say of a letter mapped to one.
class TImageVolume : public TScriptedVolume {
 public:
  TImageVolume() : TScriptedVolume('D') {}
  TDriveOrigin DriveOrigin(char) const override {
    TDriveOrigin origin;
    origin.kind = TDriveOrigin::TKind::kNtfsVolume;
    origin.path = "/srv/disk.img";
    return origin;
  }
};

TEST_F(Win32DriveOutcome, TheTitleNamesWhatALetterStandsFor) {
  TImageVolume image;
  TDriveOptimizer imageDrive('D', image, windows, kDriveStages);
  windows.CreateDriveWindow(imageDrive);
  HWND imageWindow = static_cast<HWND>(imageDrive.mainWindow);
  ASSERT_NE(imageWindow, nullptr);
  EXPECT_EQ(TextOf(imageWindow), "Disk Optimizer: drive D (/srv/disk.img)");
  DestroyWindow(imageWindow);
  DispatchPending();
  // A drive of the system keeps the described title.
  OpenDrive();
  EXPECT_EQ(TextOf(window), "Disk Optimizer: drive D");
}

}  // namespace
