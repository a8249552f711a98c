#include "ui/win32/drawing_resources.h"

HFONT guiFont = nullptr;
HBRUSH viewBackgroundBrush = nullptr;
HBRUSH fragmentedBrush = nullptr;
HBRUSH lastFragmentBrush = nullptr;
HBRUSH emptyCellBrush = nullptr;

void CreateWin32DrawingResources() {
  guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  viewBackgroundBrush = GetSysColorBrush(COLOR_BTNFACE);
  fragmentedBrush = CreateSolidBrush(RGB(255, 0, 0));
  lastFragmentBrush = CreateSolidBrush(RGB(63, 63, 255));
  emptyCellBrush = CreateSolidBrush(RGB(255, 255, 255));
}
