// The fragment view on Win32: a child window of the drive window that paints
// the volume as a grid of 8 x 8 pixel cells, one cluster each, coloured by
// the fragment that covers it, with a vertical scroll bar. The grid, the
// scroll arithmetic and the colours are ui/fragment_view_logic's; this binds
// them to the window class "TFragmentView", its scroll bar and GDI.
//
// How each window's messages reach its own view: the class procedure,
// FragmentViewClassProc, takes the view from the creation data on WM_CREATE,
// stores it in the window's user-data slot (GWLP_USERDATA, pointer-sized on
// 32- and 64-bit Windows alike) and puts the view's messageEntry into the
// window's procedure slot. messageEntry is one procedure shared by every view
// that finds its view in that slot, so each window reaches exactly its own
// object without executable per-object code (a thunk needs memory that is
// both written and run, and machine code for each architecture).
//
// Beside the described view (ui/map_session): a tooltip control that
// follows the cell under the mouse, a left click that selects the item there
// (its fragments painted in the selection's yellow, its path, size and
// fragments in a part of the drive window's status bar) and takes the keys,
// a legend strip under the cells once the drive window asks for it
// (ShowLegend: a swatch and a few words for every colour the view paints as
// it stands, ui/map_legend), Escape, Ctrl + wheel (about
// the cell under the mouse, which keeps its cluster) and + / = / - to zoom,
// P for the picture after the plan, the arrows, Page Up / Down, Home and End
// to scroll as the scroll bar does, the zoom and the view in a part of the
// drive window's status bar, and a context menu
// (TrackPopupMenu) with the summary, legend, zoom, plan, export and picture,
// and, once the drive window offers them, its "Defragment..." and "Optimize
// layout..." items, which the view hands to the drive window as WM_COMMAND
// kDefragmentCommandId and kOptimizeCommandId.
//
// Ownership: the view owns neither its cluster map nor its drive optimizer.
// The view object outlives its window (WM_DESTROY only forgets the handle);
// whoever keeps the view (the drive optimizer, see the drive window) deletes
// it with ReleaseFragmentView.
//
// Threads: a view and its window live on the drive thread that made them.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/fragment_view_logic.h"
#include "ui/fragment_view_messages.h"
#include "ui/map_legend.h"
#include "ui/map_session.h"

class TClusterMap;
class TDriveOptimizer;
class TWindowMoves;

class TFragmentView {
 public:
  // A view over map for optimizer, with no window yet: first cell cluster 0,
  // 10 x 10 cells, dirty, messageEntry bound.
  TFragmentView(const TClusterMap* map, TDriveOptimizer* optimizer);
  // Unbinds a window that is still there, so that its later messages get
  // default processing instead of reaching a deleted object.
  ~TFragmentView();
  TFragmentView(const TFragmentView&) = delete;
  TFragmentView& operator=(const TFragmentView&) = delete;

  // The view's own dispatch (FragmentViewActionFor), reached through
  // messageEntry from WM_CREATE on.
  LRESULT HandleMessage(HWND target, UINT message, WPARAM wParam, LPARAM lParam);

  // The client size gives the columns and rows; repaint, then the scroll bar.
  void OnSize();
  // Enables or disables the scroll bar, then sets its range, page and
  // position for the current layout, scroll units.
  void UpdateScrollBar();
  // A scroll request (SB_*) against the scroll bar as the platform keeps it.
  void OnVScroll(int request);
  // A key pressed (its virtual-key code): the scroll keys scroll as the
  // scroll bar's arrows, track and ends do; any other is left to WM_CHAR.
  void OnKey(int virtualKey);
  // Composes the grid and the legend off screen and copies them with one
  // BitBlt.
  void OnPaint();
  // Paints the grid into dc as the window shows it, width x height pixels
  // (the cell area, CellArea): the background and the cells, the selected
  // items' in the selection's colour.
  void DrawMap(HDC dc, int width, int height);
  // The part of the client area the cells take: all of it, less the legend
  // strip's height at the bottom while the strip is shown. Pixels.
  TRect CellArea() const;
  // The tooltip's text for the cell at x, y of the client area.
  void OnHover(int x, int y);
  void OnSelect(int x, int y);
  // The map's menu at screen point x, y (-1, -1: from the keyboard).
  void OnContextMenu(int x, int y);
  void OnCharacter(int character);
  // A wheel turn (WM_MOUSEWHEEL's parameters: the point is on the screen);
  // with Ctrl a zoom about the cell under the point; false when it is not
  // the view's (no Ctrl).
  bool OnWheel(WPARAM wParam, LPARAM lParam);
  // Carries out a command of the menu or the keys.
  void Command(TMapCommand command);
  // The worker may have finished: the plan and the zones become known.
  void PollWorkFinished();
  // The drive window's "Defragment..." and "Optimize layout...", which the
  // menu offers after the map's commands, enabled while
  // moves->CanDefragment(); not owned: the
  // drive window withdraws it (none) when it goes, before the view.
  void OfferDefragment(const TWindowMoves* moves) { windowMoves = moves; }
  // The drive window's summary (its side panel): "Summary..." calls show,
  // and shows the summary box only where show returns false (no panel).
  void OnSummary(std::function<bool()> show) { showSummary = std::move(show); }
  // Selects items (the tree's; none clears) and outlines them on the volume
  // as it is now, scrolled to the first where it is not in view.
  void SelectItems(std::vector<const TItem*> items);
  // What the window's last run of moves did, for the summary box.
  void SetMovesSummary(std::string text);
  // Shows the zoom and the view ("1 cluster per cell, volume now") in part
  // viewStatePart of statusBar from now on, and the selected item (its path,
  // size and fragments) in part selectionPart, as they change; the drive
  // window gives the bar those parts while the view has a window. Not owned;
  // it outlives the view's window.
  void ShowViewStateIn(HWND statusBar, int selectionPart, int viewStatePart);
  // The zoom, the view and the selection into the status bar's parts, if
  // given; calls the selection's listener when its text changed.
  void ShowViewState();
  // Called after the selection's text changed (SelectionText), so the
  // drive window can give its part the room it needs.
  void OnSelectionChanged(std::function<void()> changed) { selectionChanged = std::move(changed); }
  // The selected item as the status bar says it; empty without a selection.
  const std::string& SelectionText() const { return selectionText; }
  // Shows the legend strip under the cells from now on; the cells take the
  // rest of the client area.
  void ShowLegend();
  // The strip's entries as last drawn; empty while it is not shown.
  const std::vector<TLegendEntry>& LegendShown() const { return legendEntries; }
  // The strip's top edge in the client area, pixels; the client height
  // while it is not shown.
  int LegendTop() const;
  // Saves the map (the cells shown, without the scroll bar or the window's
  // buttons) as a BMP file at path, ".bmp" appended when its name does not
  // end so. Empty when saved, otherwise why not.
  std::string SaveMapPicture(const std::string& path);
  // The runs the map shows changed (files moved): the cells are found again
  // and painted.
  void MapChanged();
  // The tooltip's current text; empty before the mouse has found a cell.
  const std::string& ToolTipText() const { return tipText; }

  HWND window;  // the view's window; none before WM_CREATE and after WM_DESTROY
  // The window procedure bound to this object from WM_CREATE on; it finds the
  // object through the window's user-data slot.
  WNDPROC messageEntry;
  const TClusterMap* clusterMap;    // the map drawn; not owned, outlives the window
  TDriveOptimizer* driveOptimizer;  // the drive the view belongs to; not owned, not drawn
  TFragmentViewLogic logic;         // grid, scroll state and cells
  // The map's answers beyond the described view; none for a view made
  // without a drive optimizer.
  std::unique_ptr<TMapSession> session;
  HWND tooltip;         // the tooltip control; owned by the view's window
  std::string tipText;  // what the tooltip shows; its storage outlives every show
  const TWindowMoves* windowMoves = nullptr;  // see OfferDefragment; none until offered
  HWND viewStateBar = nullptr;                // see ShowViewStateIn; none until given
  int selectionPart = 0;                      // parts of viewStateBar; see ShowViewStateIn
  int viewStatePart = 0;
  std::function<bool()> showSummary;       // see OnSummary; none until given
  std::function<void()> selectionChanged;  // see OnSelectionChanged; none until given

 private:
  // Scrolls as request says, from the scroll bar as the platform keeps it.
  void Scroll(TScrollRequest request);
  // After a zoom, a change of mode or of the selection.
  void Refresh();
  // The legend's entries for the view as it stands and their height at the
  // client's width; when the height changed, the cells are laid out anew in
  // what is left. Nothing while the strip is not shown.
  void UpdateLegend();
  // Paints the strip into dc at top, width pixels wide.
  void DrawLegend(HDC dc, int top, int width);
  // Where the strip's entries go at width (LegendPlaces), measured in the
  // font selected into dc.
  std::vector<TLegendPlace> LegendPlacesIn(HDC dc, int width) const;
  // The strip's line height in the font selected into dc.
  static int LegendLineHeightIn(HDC dc);
  // The strip's height at the client's width in the GUI font, pixels.
  int MeasureLegend() const;

  bool legendOn = false;                    // see ShowLegend
  std::vector<TLegendEntry> legendEntries;  // what the strip shows; empty while off
  int legendHeight = 0;                     // the strip's height, pixels; 0 while off
  std::string selectionText;                // see SelectionText
  void ExportJson();
  void SavePicture();
  void Say(const std::string& text, const char* caption);
};

// Makes a view and its window at x, y (pixels, in parent's client area) with
// width and height, as a visible child of parent over clusterMap. The view
// exists before the window, since creating the window already delivers
// WM_CREATE and WM_SIZE to it. None, with the view deleted, when no window
// could be made. The caller keeps the view and releases it with
// ReleaseFragmentView.
TFragmentView* CreateFragmentView(HWND parent, int x, int y, int width, int height,
                                  const TClusterMap* clusterMap, TDriveOptimizer* driveOptimizer);

// Deletes a view made by CreateFragmentView; none is ignored.
void ReleaseFragmentView(TFragmentView* view);

// The class procedure: binds a window to the view of its creation data on
// WM_CREATE; every other message, and a window made without a view, gets
// default processing.
LRESULT CALLBACK FragmentViewClassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
