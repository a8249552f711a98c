#include "ui/side_panel_layout.h"

#include <algorithm>

TMapAreaSplit SplitMapArea(const TRect& area) {
  const int panel = std::max(0, std::min(kSidePanelWidth, (area.width - kSidePanelGap) / 2));
  const int map = std::max(0, area.width - kSidePanelGap - panel);
  return TMapAreaSplit{TRect{area.x, area.y, map, area.height},
                       TRect{area.x + map + kSidePanelGap, area.y, panel, area.height}};
}
