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
// (outlining its fragments) and takes the keys, Escape, Ctrl + wheel (about
// the cell under the mouse, which keeps its cluster) and + / = / - to zoom,
// P for the picture after the plan, the arrows, Page Up / Down, Home and End
// to scroll as the scroll bar does, the zoom and the view in a part of the
// drive window's status bar, and a context menu
// (TrackPopupMenu) with the summary, legend, zoom, plan, export and picture,
// and, once the drive window offers it, its "Defragment..." item, which the
// view hands to the drive window as WM_COMMAND kDefragmentCommandId.
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
  // Composes the grid off screen and copies it with one BitBlt.
  void OnPaint();
  // Paints the grid into dc as the window shows it, width x height pixels:
  // the background, the cells and the selection's outlines.
  void DrawMap(HDC dc, int width, int height);
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
  // The drive window's "Defragment...", which the menu offers after the
  // map's commands, enabled while moves->CanDefragment(); not owned: the
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
  // Shows the zoom and the view ("1 cluster per cell, volume now") in part 1
  // of statusBar from now on, as they change; the drive window gives the bar
  // that part while the view has a window. Not owned; it outlives the view's
  // window.
  void ShowViewStateIn(HWND statusBar);
  // The zoom and the view into the status bar's part, if one was given.
  void ShowViewState();
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
  std::function<bool()> showSummary;          // see OnSummary; none until given

 private:
  // Scrolls as request says, from the scroll bar as the platform keeps it.
  void Scroll(TScrollRequest request);
  // After a zoom, a change of mode or of the selection.
  void Refresh();
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
