#include "ui/win32/drawing_resources.h"

HFONT guiFont = nullptr;
HBRUSH viewBackgroundBrush = nullptr;
HBRUSH fragmentedBrush = nullptr;
HBRUSH lastFragmentBrush = nullptr;
HBRUSH emptyCellBrush = nullptr;
HBRUSH mapBrushes[kCellColourCount] = {};

void CreateWin32DrawingResources() {
  guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  viewBackgroundBrush = GetSysColorBrush(COLOR_BTNFACE);
  for (int i = 0; i < kCellColourCount; ++i) {
    const TRgb rgb = RgbOf(static_cast<TCellColour>(i));
    mapBrushes[i] = CreateSolidBrush(RGB(rgb.red, rgb.green, rgb.blue));
  }
  fragmentedBrush = mapBrushes[static_cast<int>(TCellColour::kFragmented)];
  lastFragmentBrush = mapBrushes[static_cast<int>(TCellColour::kLastFragment)];
  emptyCellBrush = mapBrushes[static_cast<int>(TCellColour::kEmpty)];
}
