#include "tests/win32/window_test_support.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <vector>

#include "drive/drive_optimizer.h"
#include "ui/win32/win32_window_system.h"

void MakeDrawingResourcesOnce() {
  static const bool made = [] {
    TWin32WindowSystem().CreateDrawingResources();
    return true;
  }();
  (void)made;
}

bool RegisterFragmentViewClassOnce() {
  MakeDrawingResourcesOnce();
  static const bool registered = TWin32WindowSystem().RegisterFragmentViewClass();
  return registered;
}

void DispatchPending() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() >= end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    DispatchPending();
  }
  return true;
}

TRect PlaceOf(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return TRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

TRect MapAreaOf(HWND driveWindow) {
  RECT client;
  GetClientRect(driveWindow, &client);
  return LayoutDriveWindow(client.right, client.bottom, GetSystemMetrics(SM_CYCAPTION))
      .fragmentView;
}

std::array<int, 4> Corners(const TRect& rect) { return {rect.x, rect.y, rect.width, rect.height}; }

namespace {

BOOL CALLBACK CountChild(HWND, LPARAM counter) {
  ++*reinterpret_cast<int*>(counter);
  return TRUE;
}

}  // namespace

int ChildCount(HWND window) {
  int count = 0;
  EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(&count));
  return count;
}

std::set<COLORREF> ColoursIn(HWND window, const RECT& area) {
  UpdateWindow(window);
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  std::set<COLORREF> colours;
  if (width <= 0 || height <= 0) return colours;
  BITMAPINFO format = {};
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -height;  // top-down rows
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = GetDC(window);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP copy = CreateDIBSection(screen, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, copy);
  BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
  GdiFlush();
  const auto* pixels = static_cast<const DWORD*>(bits);
  for (int i = 0; i < width * height; ++i) {
    const DWORD bgr = pixels[i];
    colours.insert(RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF));
  }
  SelectObject(memory, previous);
  DeleteObject(copy);
  DeleteDC(memory);
  ReleaseDC(window, screen);
  return colours;
}

std::string StatusPartText(HWND statusBar, int part) {
  const auto length = LOWORD(SendMessageA(statusBar, SB_GETTEXTLENGTHA, part, 0));
  std::vector<char> text(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(statusBar, SB_GETTEXTA, part, reinterpret_cast<LPARAM>(text.data()));
  return text.data();
}

void AnalyseInDriveWindow(TDriveOptimizer& optimizer, TWin32WindowSystem& windows, int width,
                          int height) {
  windows.CreateDriveWindow(optimizer);
  HWND window = static_cast<HWND>(optimizer.mainWindow);
  ASSERT_NE(window, nullptr);
  if (width != 0 || height != 0)
    SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  optimizer.CreateMemoryTree();
  optimizer.MapFreeSpace();
  optimizer.FillMemoryTree();
  windows.PostFragmentsReady(optimizer);
  DispatchPending();
  ASSERT_NE(optimizer.fragmentView, nullptr);
  optimizer.OptimizeTree();
  optimizer.statusText.Set("Finished");
  windows.PostWorkerFinished(optimizer);
  DispatchPending();
}
