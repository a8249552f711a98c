// The drawing resources every drive window and fragment view of the process
// share. Written once by CreateWin32DrawingResources on the main thread before
// any drive thread starts, and only read afterwards, so no lock guards them.
// Never released: they live until the process ends.
#pragma once

#include <windows.h>

#include "ui/map_colours.h"

extern HFONT guiFont;               // stock DEFAULT_GUI_FONT: the buttons' and label's font
extern HBRUSH viewBackgroundBrush;  // system COLOR_BTNFACE brush: the fragment view's background
extern HBRUSH fragmentedBrush;      // RGB(255, 0, 0): a run with a further run in its item's list
extern HBRUSH lastFragmentBrush;    // RGB(63, 63, 255): the last run of an item's list
extern HBRUSH emptyCellBrush;       // RGB(255, 255, 255): cells no run covers
// One brush per colour of the map (ui/map_colours.h), indexed by
// TCellColour; the three above are among them.
extern HBRUSH mapBrushes[kCellColourCount];

void CreateWin32DrawingResources();
