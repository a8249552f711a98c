#include "ui/fragment_view_logic.h"

#include <limits>
#include <new>

#include "ui/cluster_map.h"

namespace {

// The cluster after a fragment's run; a corrupt length saturates instead of
// overflowing.
int64_t RunEnd(const TFragment* fragment) {
  const int64_t largest = std::numeric_limits<int64_t>::max();
  if (fragment->length > largest - fragment->lcn) return largest;
  return fragment->lcn + fragment->length;
}

}  // namespace

TCellColour CellColourOf(const TFragment* fragment) {
  if (fragment == nullptr) return TCellColour::kEmpty;
  return fragment->next != nullptr ? TCellColour::kFragmented : TCellColour::kLastFragment;
}

TFragmentViewLogic::TFragmentViewLogic(const TClusterMap* map)
    : clusterMap(map),
      topLine(0),
      lineCount(0),
      pageLines(0),
      scale(1),
      dirty(true),
      cellSize(kCellSize),
      columns(10),
      rows(10),
      cellCount(0),
      firstCluster(0),
      cellCapacity(0) {}

void TFragmentViewLogic::OnSize(int clientWidth, int clientHeight) {
  columns = clientWidth / cellSize;
  rows = clientHeight / cellSize;
  if (columns < 10) columns = 10;
  if (rows <= 0) rows = 1;
  dirty = true;
}

TScrollBarSettings TFragmentViewLogic::UpdateScrollBar() {
  // columns is at least 10 here: OnSize has just set it.
  topLine = firstCluster / columns;
  pageLines = rows;
  lineCount = clusterMap->totalClusters / columns;
  // Decided on the full line counts, before any halving.
  const bool enabled = !(lineCount < pageLines);
  scale = 1;
  while (lineCount > kMaximumScrollUnits) {
    lineCount /= 2;
    topLine /= 2;
    pageLines /= 2;
    scale *= 2;
  }
  if (pageLines <= 0) pageLines = 1;
  return TScrollBarSettings{enabled, 0, static_cast<int>(lineCount),
                            static_cast<unsigned>(pageLines), static_cast<int>(topLine)};
}

int TFragmentViewLogic::OnVScroll(TScrollRequest request, const TScrollBarState& scrollBar) {
  const int64_t current = scrollBar.position;
  const int64_t maximum = scrollBar.maximum;
  int64_t position = current;
  switch (request) {
    case TScrollRequest::kLineUp:
      position = current - 1;
      break;
    case TScrollRequest::kLineDown:
      position = current + 1;
      break;
    // A page is the visible lines counted as units, not the scroll page.
    case TScrollRequest::kPageUp:
      position = current - rows;
      break;
    case TScrollRequest::kPageDown:
      position = current + rows;
      break;
    case TScrollRequest::kThumbTrack:
      position = scrollBar.trackPosition;
      break;
    case TScrollRequest::kTop:
      position = 0;
      break;
    case TScrollRequest::kBottom:
      position = maximum;
      break;
    case TScrollRequest::kStay:
      break;
  }
  if (position > maximum) position = maximum;
  if (position < 0) position = 0;
  firstCluster = columns * scale * position;
  dirty = true;
  return static_cast<int>(position);
}

void TFragmentViewLogic::ComputeCells(int clientWidth, int clientHeight) {
  dirty = false;
  columns = clientWidth / cellSize;
  rows = clientHeight / cellSize;
  const int wanted = columns * rows;
  // Kept while it fits and wastes no more than 16 times what is needed.
  if (cellCapacity < wanted || cellCapacity > 16 * wanted) {
    cells.reset(new (std::nothrow) const TFragment*[wanted]());
    cellCapacity = cells != nullptr ? wanted : 0;
  }
  // Signed 64-bit: the first cell may lie at or past the end of the volume.
  const int64_t remaining = clusterMap->totalClusters - firstCluster;
  cellCount = remaining <= 0 ? 0 : remaining < wanted ? static_cast<int>(remaining) : wanted;
  // Without cells (their allocation failed) the view shows its background.
  if (cells == nullptr) cellCount = 0;
  if (cellCount == 0) return;
  int i = 0;
  while (i < cellCount) {
    const int64_t cluster = firstCluster + i;
    const TFragment* fragment = clusterMap->FindFragment(cluster);
    if (fragment == nullptr || RunEnd(fragment) <= cluster) {
      cells[i++] = nullptr;
      continue;
    }
    // One look-up fills every cell the fragment's run covers.
    const int64_t end = RunEnd(fragment);
    while (i < cellCount && firstCluster + i < end) cells[i++] = fragment;
  }
}

TRect TFragmentViewLogic::CellRect(int index) const {
  const int line = index / columns;
  const int column = index % columns;
  return TRect{column * cellSize, line * cellSize, cellSize, cellSize};
}
