#include "tests/win32/window_test_support.h"

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
