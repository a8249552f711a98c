// Where the summary panel goes beside the map, free of any window system:
// the fragment view's place is shared, the map on the left keeping the
// view's height, the panel on the right. Pixels.
#pragma once

#include "ui/drive_window_layout.h"

constexpr int kSidePanelWidth = 380;  // the panel's width where the window has room
constexpr int kSidePanelGap = 4;      // between the map and the panel

struct TMapAreaSplit {
  TRect map;
  TRect panel;
};

// area (the fragment view's place) split: the panel kSidePanelWidth wide, or
// half the area where that is less, the gap, and the map in the rest.
TMapAreaSplit SplitMapArea(const TRect& area);
