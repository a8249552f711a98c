// The drawing resources every drive window and fragment view of the process
// share. Written once by CreateQtDrawingResources on the GUI thread before any
// drive starts, and only read afterwards, on that same thread (every Qt window
// lives there), so no lock guards them. Never released.
#pragma once

#include <QColor>
#include <QFont>

#include "ui/map_colours.h"

struct TQtDrawingResources {
  QFont guiFont;          // the application's default font: the buttons' and label's font
  QColor viewBackground;  // the palette's button colour: the fragment view's background
  QColor fragmented;      // RGB(255, 0, 0): a run with a further run in its item's list
  QColor lastFragment;    // RGB(63, 63, 255): the last run of an item's list
  QColor emptyCell;       // RGB(255, 255, 255): cells no run covers
};

// A colour of the map's table as Qt takes it.
QColor QColorOf(const TRgb& rgb);

// Needs the QApplication. Later calls take the values afresh.
void CreateQtDrawingResources();
// Default-constructed values (the default font, invalid colours) until
// CreateQtDrawingResources has run.
const TQtDrawingResources& QtDrawingResources();
