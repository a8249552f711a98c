#include "ui/qt/fragment_view.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "ui/qt/drawing_resources.h"

namespace {

// The Win32 edge of WS_EX_CLIENTEDGE, pixels.
constexpr int kClientEdgeWidth = 2;

const QColor& ColourOf(TCellColour colour) {
  const TQtDrawingResources& resources = QtDrawingResources();
  switch (colour) {
    case TCellColour::kFragmented:
      return resources.fragmented;
    case TCellColour::kLastFragment:
      return resources.lastFragment;
    case TCellColour::kEmpty:
      break;
  }
  return resources.emptyCell;
}

// The last position a Win32 scroll bar accepts for its range and page:
// nMax - max(nPage - 1, 0), at least nMin. Qt's maximum is exactly that.
int LastThumbPosition(const TScrollBarSettings& settings) {
  const int page = static_cast<int>(std::max(settings.page, 1u));
  return std::max(settings.minimum, settings.maximum - (page - 1));
}

}  // namespace

TFragmentView::TFragmentView(QWidget* parent, const TRect& place, const TClusterMap& map)
    : QAbstractScrollArea(parent), logic(&map), scrollMaximum(0) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(kClientEdgeWidth);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The Win32 view never takes the focus: keys do not scroll it.
  setFocusPolicy(Qt::NoFocus);
  // Every pixel is painted by paintEvent: nothing to erase first.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  verticalScrollBar()->setSingleStep(1);
  connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
          [this](int action) { OnScrollAction(action); });
  setGeometry(place.x, place.y, place.width, place.height);
  show();
}

void TFragmentView::resizeEvent(QResizeEvent*) {
  // The viewport already has its new size.
  logic.OnSize(viewport()->width(), viewport()->height());
  viewport()->update();
  ApplyScrollBar(logic.UpdateScrollBar());
}

void TFragmentView::paintEvent(QPaintEvent*) {
  const QSize client = viewport()->size();
  if (logic.Dirty()) logic.ComputeCells(client.width(), client.height());
  // Composed off screen, background first, and copied in one piece.
  QImage picture(client, QImage::Format_RGB32);
  picture.fill(QtDrawingResources().viewBackground);
  if (logic.Cells() != nullptr) {
    QPainter cellPainter(&picture);
    for (int i = 0; i < logic.CellCount(); ++i) {
      const TRect cell = logic.CellRect(i);
      cellPainter.fillRect(cell.x, cell.y, cell.width, cell.height, ColourOf(logic.CellColour(i)));
    }
  }
  QPainter painter(viewport());
  painter.drawImage(0, 0, picture);
}

void TFragmentView::scrollContentsBy(int, int) {}

void TFragmentView::mousePressEvent(QMouseEvent* event) { event->accept(); }

void TFragmentView::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }

void TFragmentView::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void TFragmentView::ApplyScrollBar(const TScrollBarSettings& settings) {
  scrollMaximum = settings.maximum;
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(static_cast<int>(settings.page));
  bar->setRange(settings.minimum, LastThumbPosition(settings));
  // Held to the range, as SetScrollInfo holds nPos.
  bar->setValue(settings.position);
  bar->setEnabled(settings.enabled);
}

void TFragmentView::OnScrollAction(int action) {
  TScrollRequest request;
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      request = TScrollRequest::kLineUp;
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      request = TScrollRequest::kLineDown;
      break;
    case QAbstractSlider::SliderPageStepSub:
      request = TScrollRequest::kPageUp;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      request = TScrollRequest::kPageDown;
      break;
    // Dragging the thumb, and the wheel, which moves the thumb as a drag does.
    case QAbstractSlider::SliderMove:
      request = TScrollRequest::kThumbTrack;
      break;
    case QAbstractSlider::SliderToMinimum:
      request = TScrollRequest::kTop;
      break;
    case QAbstractSlider::SliderToMaximum:
      request = TScrollRequest::kBottom;
      break;
    default:
      return;
  }
  // While the action is being announced the value is still the old position
  // and the slider position is where Qt would move; the position set here
  // replaces Qt's own step, and is held to the range as Win32 holds nPos.
  QScrollBar* bar = verticalScrollBar();
  const TScrollBarState state = {bar->value(), scrollMaximum, bar->sliderPosition()};
  bar->setSliderPosition(logic.OnVScroll(request, state));
  viewport()->update();
}
