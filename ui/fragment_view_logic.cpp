#include "ui/fragment_view_logic.h"

#include <limits>
#include <new>
#include <utility>

#include "ui/cluster_map.h"
#include "ui/free_space_index.h"
#include "ui/planned_map.h"

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
      cellCapacity(0),
      clustersPerCell(1),
      mode(TMapMode::kNow),
      plannedMap(nullptr) {}

void TFragmentViewLogic::OnSize(int clientWidth, int clientHeight) {
  columns = clientWidth / cellSize;
  rows = clientHeight / cellSize;
  if (columns < 10) columns = 10;
  if (rows <= 0) rows = 1;
  dirty = true;
}

TScrollBarSettings TFragmentViewLogic::UpdateScrollBar() {
  // columns is at least 10 here: OnSize has just set it.
  topLine = firstCluster / LineClusters();
  pageLines = rows;
  lineCount = clusterMap->totalClusters / LineClusters();
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
  firstCluster = LineClusters() * scale * position;
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
    colours.reset(new (std::nothrow) TCellColour[wanted]());
    if (colours == nullptr) cells.reset();
    cellCapacity = cells != nullptr ? wanted : 0;
  }
  // Signed 64-bit: the first cell may lie at or past the end of the volume.
  const int64_t total = clusterMap->totalClusters;
  const int64_t remaining = total - firstCluster;
  // A last cell may show fewer clusters than the others.
  const int64_t cellsLeft =
      remaining <= 0 ? 0 : remaining / clustersPerCell + (remaining % clustersPerCell != 0);
  cellCount = cellsLeft < wanted ? static_cast<int>(cellsLeft) : wanted;
  // Without cells (their allocation failed) the view shows its background.
  if (cells == nullptr) cellCount = 0;
  selectedCells.clear();
  if (cellCount == 0) return;
  if (mode == TMapMode::kPlanned) {
    for (int i = 0; i < cellCount; ++i) {
      colours[i] = plannedMap->ColourOf(CellFirstCluster(i), CellEndCluster(i));
    }
    return;
  }
  if (clustersPerCell > 1) {
    clusterMap->MostTellingFragments(firstCluster, clustersPerCell, total, cellCount, cells.get());
  } else {
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
  const bool unlisted = ShowsUnlisted();
  for (int i = 0; i < cellCount; ++i) {
    colours[i] = CellColourOf(cells[i]);
    // Two look-ups in the free extents for a cell no fragment lies in.
    if (unlisted && cells[i] == nullptr) {
      const int64_t first = CellFirstCluster(i);
      const int64_t end = CellEndCluster(i);
      if (freeSpace->FreeClustersIn(first, end) < end - first) colours[i] = TCellColour::kUnlisted;
    }
  }
  MarkSelection();
}

TRect TFragmentViewLogic::CellRect(int index) const {
  const int line = index / columns;
  const int column = index % columns;
  return TRect{column * cellSize, line * cellSize, cellSize, cellSize};
}

TCellColour TFragmentViewLogic::PaintedColour(int index) const {
  if (mode == TMapMode::kNow && !selectedCells.empty() && selectedCells[index]) {
    return TCellColour::kSelected;
  }
  return colours[index];
}

bool TFragmentViewLogic::ShowsUnlisted() const {
  return mode == TMapMode::kNow && clustersPerCell > 1 && freeSpace != nullptr;
}

int TFragmentViewLogic::CellAt(int x, int y) const {
  if (x < 0 || y < 0 || columns <= 0) return -1;
  const int column = x / cellSize;
  if (column >= columns) return -1;
  const int64_t index = static_cast<int64_t>(y / cellSize) * columns + column;
  return index < cellCount ? static_cast<int>(index) : -1;
}

int64_t TFragmentViewLogic::CellEndCluster(int index) const {
  const int64_t end = CellFirstCluster(index) + clustersPerCell;
  return end < clusterMap->totalClusters ? end : clusterMap->totalClusters;
}

bool TFragmentViewLogic::ZoomIn() { return SetClustersPerCell(clustersPerCell / 2); }

bool TFragmentViewLogic::ZoomOut() { return SetClustersPerCell(clustersPerCell * 2); }

bool TFragmentViewLogic::SetClustersPerCell(int64_t clusters) {
  const int64_t largest = WholeVolumeClustersPerCell();
  if (clusters > largest) clusters = largest;
  if (clusters < 1) clusters = 1;
  if (clusters == clustersPerCell) return false;
  clustersPerCell = clusters;
  // Where the whole volume fits it is shown from its start; elsewhere the
  // line that holds the first cluster stays in view.
  firstCluster = clusters == largest ? 0 : firstCluster / LineClusters() * LineClusters();
  dirty = true;
  return true;
}

bool TFragmentViewLogic::SetClustersPerCellAt(int64_t clusters, int x, int y) {
  const int cell = CellAt(x, y);
  if (cell < 0) return SetClustersPerCell(clusters);
  const int64_t anchor = CellFirstCluster(cell);
  if (!SetClustersPerCell(clusters)) return false;
  if (clustersPerCell == WholeVolumeClustersPerCell()) return true;
  // The cell of the new size that holds the anchor, at the same index.
  const int64_t first = anchor - anchor % clustersPerCell - cell * clustersPerCell;
  firstCluster = first > 0 ? first : 0;
  return true;
}

bool TFragmentViewLogic::ZoomAt(bool in, int x, int y) {
  return SetClustersPerCellAt(in ? clustersPerCell / 2 : clustersPerCell * 2, x, y);
}

int64_t TFragmentViewLogic::WholeVolumeClustersPerCell() const {
  const int64_t cellsShown = static_cast<int64_t>(columns) * rows;
  if (cellsShown <= 0) return 1;
  int64_t clusters = 1;
  // Stops short of overflow on a volume no cell count could ever show.
  while (clusters * cellsShown < clusterMap->totalClusters && clusters < (int64_t{1} << 40)) {
    clusters *= 2;
  }
  return clusters;
}

void TFragmentViewLogic::ShowWholeVolume() {
  SetClustersPerCell(WholeVolumeClustersPerCell());
  firstCluster = 0;
  dirty = true;
}

bool TFragmentViewLogic::SetMode(TMapMode wanted) {
  if (wanted == mode || (wanted == TMapMode::kPlanned && plannedMap == nullptr)) return false;
  mode = wanted;
  dirty = true;
  return true;
}

const TItem* TFragmentViewLogic::SelectAt(int index) {
  const TFragment* fragment =
      index >= 0 && index < cellCount && mode == TMapMode::kNow ? cells[index] : nullptr;
  SelectItems(fragment != nullptr ? std::vector<const TItem*>{fragment->owner}
                                  : std::vector<const TItem*>());
  return Selected();
}

void TFragmentViewLogic::SelectItems(std::vector<const TItem*> items) {
  selection = std::move(items);
  selectedCells.clear();
  MarkSelection();
}

void TFragmentViewLogic::ClearSelection() {
  selection.clear();
  selectedCells.clear();
}

bool TFragmentViewLogic::ShowItem(const TItem* item) {
  const TFragment* fragment = item != nullptr ? item->fragments : nullptr;
  while (fragment != nullptr && (fragment->lcn < 0 || fragment->length <= 0)) {
    fragment = fragment->next;
  }
  if (fragment == nullptr) return false;
  const int64_t shownEnd = firstCluster + static_cast<int64_t>(rows) * LineClusters();
  if (fragment->lcn >= firstCluster && fragment->lcn < shownEnd) return false;
  firstCluster = fragment->lcn / LineClusters() * LineClusters();
  dirty = true;
  return true;
}

void TFragmentViewLogic::MarkSelection() {
  if (selection.empty() || cellCount == 0) return;
  selectedCells.assign(static_cast<size_t>(cellCount), false);
  const int64_t shownEnd = CellEndCluster(cellCount - 1);
  // The items' own runs: as many as they have, not a walk of the volume.
  for (const TItem* item : selection) {
    for (const TFragment* fragment = item->fragments; fragment != nullptr;
         fragment = fragment->next) {
      if (fragment->lcn < 0) continue;  // no clusters on the volume
      const int64_t from = fragment->lcn > firstCluster ? fragment->lcn : firstCluster;
      const int64_t end = RunEnd(fragment) < shownEnd ? RunEnd(fragment) : shownEnd;
      if (from >= end) continue;
      const int64_t firstCell = (from - firstCluster) / clustersPerCell;
      const int64_t lastCell = (end - 1 - firstCluster) / clustersPerCell;
      for (int64_t cell = firstCell; cell <= lastCell; ++cell) {
        selectedCells[static_cast<size_t>(cell)] = true;
      }
    }
  }
}

unsigned TFragmentViewLogic::OutlineOf(int index) const {
  if (mode != TMapMode::kNow || selectedCells.empty() || !selectedCells[index]) return 0;
  const auto isSelected = [&](int64_t other) {
    return other >= 0 && other < cellCount && selectedCells[static_cast<size_t>(other)];
  };
  const int column = index % columns;
  unsigned sides = 0;
  if (!isSelected(index - columns)) sides |= kOutlineTop;
  if (!isSelected(index + columns)) sides |= kOutlineBottom;
  if (column == 0 || !isSelected(index - 1)) sides |= kOutlineLeft;
  if (column == columns - 1 || !isSelected(index + 1)) sides |= kOutlineRight;
  return sides;
}
