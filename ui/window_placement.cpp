#include "ui/window_placement.h"

#include <algorithm>
#include <cmath>

namespace {

// The margin of the described window from the screen's corner, pixels.
constexpr int kMargin = 40;

}  // namespace

TRect DriveWindowPlace(const TRect& screen, int count, int index, int width, int height) {
  const TRect whole{screen.x + kMargin, screen.y + kMargin, width, height};
  if (count <= 1) return whole;
  if (index < 0 || index >= count) index = 0;
  // As many columns as rows, or one more: tiles keep the screen's shape.
  const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
  const int rows = (count + columns - 1) / columns;
  const int tileWidth = width / columns;
  const int tileHeight = height / rows;
  if (tileWidth >= kSmallestTileWidth && tileHeight >= kSmallestTileHeight) {
    return TRect{whole.x + index % columns * tileWidth, whole.y + index / columns * tileHeight,
                 tileWidth, tileHeight};
  }
  // A cascade of windows of half the described size, but no smaller than a
  // tile may be and no larger than the described window.
  const int cascadeWidth = std::min(width, std::max(width / 2, kSmallestTileWidth));
  const int cascadeHeight = std::min(height, std::max(height / 2, kSmallestTileHeight));
  const int steps = std::min(width - cascadeWidth, height - cascadeHeight) / kCascadeStep;
  const int perCascade = std::max(1, steps + 1);
  const int cascades = (count + perCascade - 1) / perCascade;
  // Each further cascade starts this far right of the one before; at least
  // a pixel, so that no two windows share a place even off the screen.
  const int room = width - cascadeWidth - (perCascade - 1) * kCascadeStep;
  const int shift = cascades > 1 ? std::max(1, room / (cascades - 1)) : 0;
  const int step = index % perCascade;
  const int cascade = index / perCascade;
  return TRect{whole.x + step * kCascadeStep + cascade * shift, whole.y + step * kCascadeStep,
               cascadeWidth, cascadeHeight};
}
