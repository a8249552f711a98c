// The Win32 drive window's progress bar, in real windows (wine64 under Xvfb
// here) over a scripted volume whose scan and retrieval go on only as far as
// the test lets them: while the scan runs, a busy bar with the items
// scanned beside it; then the items read of the total, with the time left,
// in a bar with its range; the current path staying in the status line;
// gone once the work is done.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "drive/drive_optimizer.h"
#include "planning/drive_stages.h"
#include "tests/support/host_services.h"
#include "tests/support/metered_volume.h"
#include "tests/win32/window_test_support.h"
#include "ui/win32/win32_window_system.h"

namespace {

// The status bar's parts: the described text, then the progress's words.
constexpr int kDetailPart = 0;
constexpr int kProgressTextPart = 1;

BOOL CALLBACK FindProgressBar(HWND child, LPARAM found) {
  char className[64] = {};
  GetClassNameA(child, className, sizeof className);
  if (std::string(className) != PROGRESS_CLASSA) return TRUE;
  *reinterpret_cast<HWND*>(found) = child;
  return FALSE;
}

class Win32ProgressBar : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(RegisterFragmentViewClassOnce());
    volume.logDirectory = logs.Path();
    PopulateMeteredVolume(volume);
    windows.CreateDriveWindow(optimizer);
    window = static_cast<HWND>(optimizer.mainWindow);
    ASSERT_NE(window, nullptr);
    statusBar = static_cast<HWND>(optimizer.statusBar);
    EnumChildWindows(statusBar, FindProgressBar, reinterpret_cast<LPARAM>(&bar));
    ASSERT_NE(bar, nullptr);
    optimizer.StartWorker([](TDriveOptimizer& drive) { drive.RunPipeline(); });
  }
  void TearDown() override {
    volume.AllowAll();
    if (IsWindow(window)) SendMessageA(window, WM_CLOSE, 0, 0);
    WaitForWorkers();
    DispatchPending();
  }

  std::string Words() const { return StatusPartText(statusBar, kProgressTextPart); }
  bool Busy() const { return (GetWindowLongPtrA(bar, GWL_STYLE) & PBS_MARQUEE) != 0; }
  // Whether the progress's words say text within the next refreshes.
  bool Says(const std::string& text) {
    return PumpUntil([&] { return Words() == text; }, 3000);
  }
  int Maximum() const { return static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)); }
  int Position() const { return static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)); }

  THostFolder logs;
  TMeteredVolume volume;
  TWin32WindowSystem windows;
  TDriveOptimizer optimizer{'D', volume, windows, kDriveStages};
  HWND window = nullptr;
  HWND statusBar = nullptr;
  HWND bar = nullptr;
};

TEST_F(Win32ProgressBar, BusyWithTheScanThenTheItemsReadOfTheTotalThenGone) {
  // The root's listing and the first folder's: the scan holds at the
  // second folder's listing, with f0, its 30 files and f1 found.
  volume.Allow(2, 0);
  ASSERT_TRUE(volume.WaitUntilHeld(10000));
  ASSERT_TRUE(Says("32 items scanned")) << Words();
  EXPECT_TRUE(IsWindowVisible(bar));
  EXPECT_TRUE(Busy());
  // The bar lies in its own part, right of the words, inside the status bar.
  RECT part;
  SendMessageA(statusBar, SB_GETRECT, kProgressTextPart + 1, reinterpret_cast<LPARAM>(&part));
  const TRect place = PlaceOf(bar);
  EXPECT_GE(place.x, part.left);
  EXPECT_LE(place.x + place.width, part.right);
  EXPECT_GT(place.width, 50);
  // The path being listed stays in the status line.
  EXPECT_EQ(StatusPartText(statusBar, kDetailPart).substr(0, 3), "D:\\");
  volume.Allow(1, 0);
  ASSERT_TRUE(Says("63 items scanned")) << Words();

  // The rest of the scan, then ten items of the retrieval: 125 to read.
  volume.Allow(2, 10);
  ASSERT_TRUE(PumpUntil([&] { return Maximum() == 125 && Position() >= 10; }, 10000)) << Words();
  EXPECT_FALSE(Busy());
  EXPECT_EQ(Words().substr(0, 5), "read ") << Words();
  EXPECT_NE(Words().find(" of 125 items"), std::string::npos) << Words();
  const int firstPosition = Position();
  // Forty more: the bar moves on, and with a rate there is an estimate.
  volume.Allow(0, 40);
  ASSERT_TRUE(PumpUntil(
      [&] {
        return Position() >= firstPosition + 40 && Words().find(" left") != std::string::npos;
      },
      5000))
      << Words();
  EXPECT_NE(Words().find(" of 125 items, about "), std::string::npos) << Words();

  volume.AllowAll();
  ASSERT_TRUE(PumpUntil(
      [&] { return optimizer.statusText.Get() == "Finished" && !IsWindowVisible(bar); }, 10000));
  EXPECT_EQ(Words(), "");
}

// Not part of the unit run: run by hand to photograph the window (see
// tests/win32/window_screenshot.sh) while its scan is held; prints "drawn",
// then keeps the window open until it is closed.
TEST_F(Win32ProgressBar, DISABLED_ShowsTheScanUntilClosed) {
  volume.Allow(3, 0);
  ASSERT_TRUE(volume.WaitUntilHeld(10000));
  ASSERT_TRUE(Says("63 items scanned")) << Words();
  std::printf("drawn\n");
  std::fflush(stdout);
  windows.RunMessageLoop(optimizer);
}

}  // namespace
