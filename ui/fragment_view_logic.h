// The fragment view free of any window system: its grid of 8 x 8 pixel cells,
// one cluster each, line after line; the vertical scroll arithmetic; the
// fragment drawn in each cell and its colour. The Win32 and Qt shells feed it
// client sizes and scroll requests, apply the scroll bar settings it gives
// back, and paint its cells.
//
// Beside that, what a user asks of the map: a zoom (clusters per cell, a
// power of two; 1, the default, is the described view exactly), the picture
// after the volume-aware plan, the cell under a point, and a selected item
// whose fragments are outlined.
//
// A line is `columns` cells of clustersPerCell consecutive clusters each;
// cell i shows clusters from firstCluster + i * clustersPerCell at column
// i % columns, line i / columns. One scroll unit is `scale` lines.
//
// Threads: lives on the thread of its window. It reads the cluster map and
// the fragments' lcn, length and next, which nobody changes once the drive's
// runs are known.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "model/item.h"
#include "ui/drive_window_layout.h"
#include "ui/map_colours.h"

class TClusterMap;
class TFreeSpaceIndex;
class TPlannedMap;

constexpr int kCellSize = 8;  // side of a cell, pixels
// The largest scroll range in units; bigger volumes get a larger scale.
constexpr int64_t kMaximumScrollUnits = 0x8000;

// A scroll request, as either shell reads it from its scroll bar.
enum class TScrollRequest {
  kLineUp,
  kLineDown,
  kPageUp,
  kPageDown,
  kThumbTrack,  // the thumb is being dragged: go to its track position
  kTop,
  kBottom,
  kStay,  // the thumb was released, scrolling ended, or anything else: stay
};

// What the shell's scroll bar is given, with whether it is enabled (on Win32
// SetScrollInfo for SB_VERT, fMask SIF_RANGE | SIF_PAGE | SIF_POS |
// SIF_DISABLENOSCROLL, after EnableScrollBar). All in scroll units.
struct TScrollBarSettings {
  bool enabled;   // ESB_ENABLE_BOTH when true, ESB_DISABLE_BOTH otherwise
  int minimum;    // nMin, always 0
  int maximum;    // nMax
  unsigned page;  // nPage, at least 1
  int position;   // nPos
};

// What OnVScroll reads back with GetScrollInfo (SIF_ALL), scroll units.
struct TScrollBarState {
  int position;       // nPos: as the platform keeps it
  int maximum;        // nMax
  int trackPosition;  // nTrackPos: where the thumb is being dragged
};

// How a cell of the volume as it is now is painted: white for none, red for
// a fragment followed by another in its item's list, blue for the last.
TCellColour CellColourOf(const TFragment* fragment);

// Sides of a selected cell on which the outline runs (a neighbour there is
// not selected, or there is none), as bits.
constexpr unsigned kOutlineTop = 1;
constexpr unsigned kOutlineRight = 2;
constexpr unsigned kOutlineBottom = 4;
constexpr unsigned kOutlineLeft = 8;

class TFragmentViewLogic {
 public:
  // A view over map (not owned; it outlives the view): first cell cluster 0,
  // 10 x 10 cells until the first OnSize, no cells, dirty.
  explicit TFragmentViewLogic(const TClusterMap* map);

  // A new client size in pixels: columns and rows for the scroll range, at
  // least 10 columns and 1 row; the cells need recomputing. The binding
  // then invalidates without erasing and applies UpdateScrollBar().
  void OnSize(int clientWidth, int clientHeight);
  // The scroll bar for the current columns, rows and first cluster, halving
  // the range, position and page until the range is at most 0x8000 units.
  // firstCluster stays: after a resize the same cluster is still first.
  TScrollBarSettings UpdateScrollBar();
  // A scroll request with the scroll bar as it stands; returns the new
  // position, which the binding stores (SetScrollInfo with the state read,
  // nPos replaced) before invalidating without erasing. Moves the first cell
  // to the start of that unit. The position is held to 0 ... the range
  // maximum (not maximum - page + 1), so the bottom shows the volume's end.
  int OnVScroll(TScrollRequest request, const TScrollBarState& scrollBar);
  // At the start of a paint when dirty: lays the cells out in the client
  // area (no minimum columns or rows here) and finds the fragment of every
  // cell that shows a cluster of the volume.
  void ComputeCells(int clientWidth, int clientHeight);

  // The pixels of cell index, right and bottom exclusive.
  TRect CellRect(int index) const;
  // The colour of what cell index shows in the current mode: at one
  // cluster a cell the described white, red and blue; a cell of several
  // clusters that no fragment lies in and that is not all free is
  // kUnlisted, once the free space is known (SetFreeSpace).
  TCellColour CellColour(int index) const { return colours[index]; }
  // The colour cell index is painted in: kSelected over the selected item's
  // cells in the volume as it is now, otherwise CellColour.
  TCellColour PaintedColour(int index) const;
  // The cell under pixel x, y of the client area; -1 where no cell is
  // painted (margins, past the volume's end, before the first paint).
  int CellAt(int x, int y) const;
  // The clusters [first, end) that cell index shows; end is held to the
  // volume's end.
  int64_t CellFirstCluster(int index) const { return firstCluster + index * clustersPerCell; }
  int64_t CellEndCluster(int index) const;

  // Zoom: clusters per cell, a power of two from 1 to WholeVolumeClustersPerCell.
  // The first cell moves back to the start of its line; the shell then
  // updates the scroll bar and repaints. False where nothing changed.
  bool ZoomIn();
  bool ZoomOut();
  bool SetClustersPerCell(int64_t clusters);
  // The same zoom about pixel x, y of the client area: the cell there shows
  // the cluster it showed before (the first cluster of the cell it had)
  // where the volume's start leaves room for that, so a zoom with the
  // mouse keeps what is under it in place. At the zoom that shows the whole
  // volume it is shown from its start; off the cells, as SetClustersPerCell.
  // The cells must be those of the current layout (not Dirty).
  bool SetClustersPerCellAt(int64_t clusters, int x, int y);
  // One step of the zoom (half or twice the clusters per cell) about pixel
  // x, y, as SetClustersPerCellAt: a turn of the wheel over the map.
  bool ZoomAt(bool in, int x, int y);
  // The fewest clusters per cell, a power of two, at which the whole volume
  // fits the cells of the current layout.
  int64_t WholeVolumeClustersPerCell() const;
  // The whole volume on one screen, from its first cluster.
  void ShowWholeVolume();
  int64_t ClustersPerCell() const { return clustersPerCell; }

  // The picture after the plan, once there is one (not owned; it outlives
  // the view). Until then the view stays with the volume as it is now.
  void SetPlannedMap(const TPlannedMap* map) { plannedMap = map; }
  bool HasPlannedMap() const { return plannedMap != nullptr; }
  const TPlannedMap* PlannedMap() const { return plannedMap; }
  // The drive's free extents (not owned; they outlive the view), which tell
  // cells of free clusters from cells of clusters the file system uses
  // without listing them. Until given, every cell without a fragment is
  // white.
  void SetFreeSpace(const TFreeSpaceIndex* index) {
    freeSpace = index;
    dirty = true;
  }
  // Whether a cell may show kUnlisted now: several clusters a cell in the
  // volume as it is now, with the free space known.
  bool ShowsUnlisted() const;
  // False where the mode cannot be shown (no plan yet) or is shown already.
  bool SetMode(TMapMode wanted);
  TMapMode Mode() const { return mode; }

  // Selects the item of the fragment drawn in cell index (none: clears);
  // its fragments' cells are outlined. Returns the item selected.
  const TItem* SelectAt(int index);
  // Selects items (not owned; the tree outlives the view), all outlined, in
  // place of any selection; none clears it.
  void SelectItems(std::vector<const TItem*> items);
  void ClearSelection();
  // The item selected first; none when nothing is selected.
  const TItem* Selected() const { return selection.empty() ? nullptr : selection.front(); }
  const std::vector<const TItem*>& Selection() const { return selection; }
  // Scrolls so that item's first cluster on the volume is in view: its line
  // becomes the first where it is not shown already. False, changing
  // nothing, for an item with no cluster on the volume or one in view; the
  // shell then updates the scroll bar and repaints.
  bool ShowItem(const TItem* item);
  // The sides of cell index to outline (kOutline* bits); 0 for a cell that
  // is not selected or that the current mode does not outline.
  unsigned OutlineOf(int index) const;

  // Shows cluster in cell 0 from the next paint on; the shell then updates
  // the scroll bar.
  void SetFirstCluster(int64_t cluster) {
    firstCluster = cluster;
    dirty = true;
  }

  // The map's runs changed (it was built again over moved files): the cells
  // are found again at the next paint.
  void MapChanged() { dirty = true; }

  const TClusterMap* ClusterMap() const { return clusterMap; }
  bool Dirty() const { return dirty; }
  int Columns() const { return columns; }
  int Rows() const { return rows; }
  int64_t Scale() const { return scale; }
  int64_t FirstCluster() const { return firstCluster; }
  int64_t TopLine() const { return topLine; }
  int64_t LineCount() const { return lineCount; }
  int64_t PageLines() const { return pageLines; }
  // The cells to paint and the fragment drawn in each (none: background);
  // none while the cells could not be had. CellCapacity entries, of which
  // those from CellCount on are left over from earlier layouts.
  int CellCount() const { return cellCount; }
  int CellCapacity() const { return cellCapacity; }
  const TFragment* const* Cells() const { return cells.get(); }

 private:
  const TClusterMap* clusterMap;  // the map drawn; not owned
  int64_t topLine;                // scroll position, units, as UpdateScrollBar last set it
  int64_t lineCount;              // scroll range, units
  int64_t pageLines;              // scroll page, units
  int64_t scale;                  // lines per scroll unit; a power of two, at least 1
  bool dirty;                     // the cells must be recomputed before the next paint
  int cellSize;                   // pixels; always kCellSize
  int columns;                    // cells per line
  int rows;                       // visible lines
  int cellCount;                  // cells to paint, from index 0
  int64_t firstCluster;           // cluster in cell 0
  int cellCapacity;               // entries of cells and of colours
  int64_t clustersPerCell;        // a power of two, at least 1
  TMapMode mode;
  const TPlannedMap* plannedMap;               // none until the plan is known; not owned
  const TFreeSpaceIndex* freeSpace = nullptr;  // see SetFreeSpace; not owned
  // Selected items, the first as Selected(); empty when nothing is
  // selected. Not owned.
  std::vector<const TItem*> selection;
  // For each cell the fragment drawn there, or none; entries from cellCount
  // on are left over from earlier layouts. Owned; none until ComputeCells.
  std::unique_ptr<const TFragment*[]> cells;
  // The colour of each cell (CellColour). Owned; allocated with cells.
  std::unique_ptr<TCellColour[]> colours;
  // For each of the cellCount cells, whether it shows a cluster of a
  // selected item; empty without a selection.
  std::vector<bool> selectedCells;

  // Marks the cells of the selected items' fragments among those painted.
  void MarkSelection();
  // The line of clusters the first cell starts, scroll arithmetic.
  int64_t LineClusters() const { return static_cast<int64_t>(columns) * clustersPerCell; }
};
