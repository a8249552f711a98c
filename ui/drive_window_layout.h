// Geometry of the drive window, free of any window system: where the window
// opens, where its children go on every resize, and where the fragment view
// sits before the first resize after it is made. All values in pixels.
#pragma once

struct TRect {
  int x;
  int y;
  int width;
  int height;
};

// The window opens at 40, 40 with the screen's size less 80 each way.
TRect InitialDriveWindowRect(int screenWidth, int screenHeight);

struct TDriveWindowLayout {
  TRect pauseButton;
  TRect stopButton;
  TRect stageLabel;
  TRect fragmentView;  // used only while a fragment view exists
  // Beyond the described children: the "Defragment..." button, at the right
  // end of the stage label's row, its right edge under the "Stop" button's,
  // 5 R wide (at most the "Stop" button's width). The stage texts are short
  // and start at the left, so the label keeps its described place beneath.
  TRect defragmentButton;
  // The "Optimize layout..." button, left of it with a gap of 4, 6 R wide
  // (at most the "Stop" button's width), never left of the window's margin.
  TRect optimizeButton;
};

// The children of a client area W x H, with T the caption height
// (SM_CYCAPTION) and R = T + 4 the row height.
TDriveWindowLayout LayoutDriveWindow(int clientWidth, int clientHeight, int captionHeight);

// Where the fragment view is made on the notice, until the next resize
// applies LayoutDriveWindow: 4, 58, W - 8, H - 88 whatever the caption height.
TRect InitialFragmentViewRect(int clientWidth, int clientHeight);

constexpr int kRefreshMilliseconds = 500;  // the drive window's text refresh
