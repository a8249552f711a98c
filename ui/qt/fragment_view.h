// The fragment view on Qt: a child of the drive window that paints the
// volume as a grid of 8 x 8 cells coloured by fragment, with a vertical
// scroll bar. A sunken two-pixel frame and an always present scroll bar
// stand for the Win32 view's client edge and WS_VSCROLL; the viewport is the
// client area. The layout of the cells, the scroll arithmetic and the colours
// come from ui/fragment_view_logic, as on Win32: the scroll bar's actions
// become the same scroll requests, and the scroll bar keeps its position as
// the Win32 one does.
//
// Beside the described view (ui/map_session): a tooltip on every cell, a
// click that selects the item there and paints its fragments in the
// selection's colour (its path, size and fragments in the status bar),
// Escape to clear, a legend strip under the cells (ui/qt/legend_strip), Ctrl + wheel (about the
// cell under the mouse) and + / = / - to zoom, P for the picture after the plan, the arrows, Page
// Up / Down, Home and End to scroll, the zoom and the view in a label of the status bar, and a
// context menu with the summary, legend, zoom, plan, export and picture, and the drive window's
// "Defragment...". The view takes the keyboard focus; the menu's keys work anywhere in the drive
// window.
//
// Ownership: the drive window owns the view through Qt's parent chain and
// deletes it with itself; the view owns neither its cluster map nor the
// drive.
#pragma once

#include <QAbstractScrollArea>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/drive_window_layout.h"
#include "ui/fragment_view_logic.h"
#include "ui/map_session.h"

class QAction;
class QLabel;
class TDriveOptimizer;
class TLegendStrip;

class TFragmentView : public QAbstractScrollArea {
 public:
  // A visible view of drive's cluster map (which must be built and outlive
  // it) at place within parent's client area.
  TFragmentView(QWidget* parent, const TRect& place, TDriveOptimizer& drive);

  const TFragmentViewLogic& Logic() const { return logic; }
  const TMapSession& Session() const { return session; }

  // Carries out a command of the menu or the keys.
  void Command(TMapCommand command);
  // Shows the zoom and the view in label from now on, as they change (not
  // owned; it outlives the view).
  void ShowViewStateIn(QLabel* label);
  // Shows the selected item in label from now on, as it changes (not
  // owned; it outlives the view); hidden while nothing is selected.
  void ShowSelectionIn(QLabel* label);
  // The selection changed: the status bar, the legend and the cells follow.
  void SelectionChanged();
  const TLegendStrip& Legend() const { return *legend; }
  // The drive window's own actions ("Defragment...", "Optimize layout..."),
  // which the context menu offers after the map's commands; not owned, they
  // outlive the view.
  void OfferWindowActions(QList<QAction*> actions) { windowActions = std::move(actions); }
  // The drive window's summary (its side panel): "Summary..." calls show,
  // and shows the summary box only where show returns false (no panel yet).
  void OnSummary(std::function<bool()> show) { showSummary = std::move(show); }
  // Selects items (the tree's; none clears) and outlines them on the volume
  // as it is now, scrolled to the first where it is not in view.
  void SelectItems(std::vector<const TItem*> items);
  // Saves the map (the cells shown, without the scroll bar or the window's
  // buttons) as a PNG file at path, ".png" appended when its name does not
  // end so. Empty when saved, otherwise why not.
  std::string SaveMapPicture(const QString& path);
  // What the window's last run of moves did, for the summary box.
  void SetMovesSummary(std::string text) { session.SetMovesSummary(std::move(text)); }
  // The runs the map shows changed (files moved): the cells are found again
  // and painted.
  void MapChanged();
  // The worker may have finished: the plan and the zones become known.
  void PollWorkFinished() { session.PollWorkFinished(); }
  // The tooltip for a point of the viewport; empty where no cell is.
  QString ToolTipAt(const QPoint& point) const;
  // Shows the whole volume on one screen in mode; false, changing nothing,
  // when the mode cannot be shown (no plan). For the pictures an unattended
  // run saves before its window closes.
  bool ShowWholeVolume(TMapMode mode);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  // The scroll bar's value is the view's business alone: nothing is
  // scrolled by moving pixels.
  void scrollContentsBy(int dx, int dy) override;
  // A left click selects; other clicks change nothing and go no further.
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  // The map's keys: the scroll keys, then the commands' characters.
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // Gives the scroll bar the range, page, position and state of settings.
  void ApplyScrollBar(const TScrollBarSettings& settings);
  // A scroll bar action (QAbstractSlider::SliderAction) as a scroll request.
  void OnScrollAction(int action);
  // Scrolls as request says, from the scroll bar as it stands.
  void Scroll(TScrollRequest request);
  // The zoom and the view into viewState, the selection into
  // selectionState, if there are they.
  void ShowViewState();
  // The legend's entries for the view as it stands, and the bottom margin
  // that holds them.
  void UpdateLegend();
  // Puts the legend under the cells.
  void PlaceLegend();
  // After a zoom or a change of mode: the scroll bar, then a repaint.
  void Refresh();
  void ExportJson();
  void SavePictureAs();

  TDriveOptimizer& drive;  // not owned; outlives the view
  TFragmentViewLogic logic;
  TMapSession session;
  // The range maximum in scroll units as last set, which GetScrollInfo would
  // give back on Win32; Qt's own maximum is the last thumb position instead.
  int scrollMaximum;
  QList<QAction*> windowActions;      // see OfferWindowActions; none until offered
  QLabel* viewState = nullptr;        // see ShowViewStateIn; none until given
  std::function<bool()> showSummary;  // see OnSummary; none until given
  QLabel* selectionState = nullptr;   // see ShowSelectionIn; none until given
  TLegendStrip* legend;               // owned through the parent chain
};
