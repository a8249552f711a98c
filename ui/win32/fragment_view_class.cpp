#include "ui/win32/fragment_view_class.h"

#include <windows.h>

#include "ui/win32/fragment_view.h"

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
