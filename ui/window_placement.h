// Where each drive window of a run goes on the screen, free of any window
// system: one drive's window takes the described place (40, 40, the screen
// less 80 each way); several share that place as tiles, side by side in
// rows, while each tile keeps at least kSmallestTile; more than fit so are
// cascaded, each window moved down and right of the one before, starting a
// new cascade to the right when one reaches the bottom. No two windows ever
// take exactly the same place, and tiles never overlap.
#pragma once

#include "ui/drive_window_layout.h"

// The smallest tile, pixels: the buttons, the stage row, the status line
// and a map of some 30 x 20 cells.
constexpr int kSmallestTileWidth = 320;
constexpr int kSmallestTileHeight = 240;
// How far each cascaded window lies below and right of the one before,
// pixels: enough to show its caption.
constexpr int kCascadeStep = 28;

// The frame of window index (from 0) of count drive windows, on a screen
// whose rectangle is screen, where one window alone would take width x
// height at 40, 40 from the screen's corner (the described size). An index
// out of 0 ... count - 1 is taken as 0.
TRect DriveWindowPlace(const TRect& screen, int count, int index, int width, int height);
