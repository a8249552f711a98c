// The fragment view on Qt: a child of the drive window that paints the
// volume as a grid of 8 x 8 cells coloured by fragment, with a vertical
// scroll bar. A sunken two-pixel frame and an always present scroll bar
// stand for the Win32 view's client edge and WS_VSCROLL; the viewport is the
// client area. The layout of the cells, the scroll arithmetic and the colours
// come from ui/fragment_view_logic, as on Win32: the scroll bar's actions
// become the same scroll requests, and the scroll bar keeps its position as
// the Win32 one does.
//
// Ownership: the drive window owns the view through Qt's parent chain and
// deletes it with itself; the view does not own its cluster map.
#pragma once

#include <QAbstractScrollArea>

#include "ui/drive_window_layout.h"
#include "ui/fragment_view_logic.h"

class TFragmentView : public QAbstractScrollArea {
 public:
  // A visible view of map (which must outlive it) at place within parent's
  // client area.
  TFragmentView(QWidget* parent, const TRect& place, const TClusterMap& map);

  const TFragmentViewLogic& Logic() const { return logic; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  // The scroll bar's value is the view's business alone: nothing is
  // scrolled by moving pixels.
  void scrollContentsBy(int dx, int dy) override;
  // Clicks change nothing and go no further.
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  // Gives the scroll bar the range, page, position and state of settings.
  void ApplyScrollBar(const TScrollBarSettings& settings);
  // A scroll bar action (QAbstractSlider::SliderAction) as a scroll request.
  void OnScrollAction(int action);

  TFragmentViewLogic logic;
  // The range maximum in scroll units as last set, which GetScrollInfo would
  // give back on Win32; Qt's own maximum is the last thumb position instead.
  int scrollMaximum;
};
