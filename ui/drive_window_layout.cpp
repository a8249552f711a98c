#include "ui/drive_window_layout.h"

#include <algorithm>

TRect InitialDriveWindowRect(int screenWidth, int screenHeight) {
  return TRect{40, 40, screenWidth - 80, screenHeight - 80};
}

TDriveWindowLayout LayoutDriveWindow(int w, int h, int t) {
  const int rowHeight = t + 4;
  const int half = w / 2;
  TDriveWindowLayout layout;
  layout.pauseButton = TRect{4, 4, half - 6, rowHeight};
  layout.stopButton = TRect{half + 2, 4, half - 6, rowHeight};
  layout.stageLabel = TRect{4, t + 12, w - 8, rowHeight};
  layout.fragmentView = TRect{4, 2 * t + 20, w - 8, h - 3 * t - 28};
  const int buttonWidth = std::min(5 * rowHeight, half - 6);
  layout.defragmentButton = TRect{layout.stopButton.x + layout.stopButton.width - buttonWidth,
                                  t + 12, buttonWidth, rowHeight};
  const int optimizeWidth = std::min(6 * rowHeight, half - 6);
  layout.optimizeButton = TRect{std::max(4, layout.defragmentButton.x - 4 - optimizeWidth), t + 12,
                                optimizeWidth, rowHeight};
  return layout;
}

TRect InitialFragmentViewRect(int w, int h) { return TRect{4, 58, w - 8, h - 88}; }
