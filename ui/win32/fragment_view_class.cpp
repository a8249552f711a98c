#include "ui/win32/fragment_view_class.h"

#include <windows.h>

namespace {

// The class's window procedure. Binding each new window of the class to its
// fragment view's own message handling (on WM_CREATE) belongs here; a window
// that has no view takes default processing for every message.
LRESULT CALLBACK FragmentViewClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool RegisterWin32FragmentViewClass() {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  // Redrawn whole on every resize: the cells are laid out across the width.
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
  windowClass.lpfnWndProc = FragmentViewClassProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  // No icon, cursor, background brush or menu: the view paints every pixel.
  windowClass.lpszClassName = kFragmentViewClassName;
  return RegisterClassExA(&windowClass) != 0;
}
