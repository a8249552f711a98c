#include "ui/qt/fragment_view.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>

#include "drive/drive_name.h"
#include "drive/drive_optimizer.h"
#include "ui/picture_file_name.h"
#include "ui/qt/drawing_resources.h"
#include "ui/qt/legend_strip.h"
#include "ui/qt/snapshot_file.h"

namespace {

// The Win32 edge of WS_EX_CLIENTEDGE, pixels.
constexpr int kClientEdgeWidth = 2;

// The last position a Win32 scroll bar accepts for its range and page:
// nMax - max(nPage - 1, 0), at least nMin. Qt's maximum is exactly that.
int LastThumbPosition(const TScrollBarSettings& settings) {
  const int page = static_cast<int>(std::max(settings.page, 1u));
  return std::max(settings.minimum, settings.maximum - (page - 1));
}

// The key as one that scrolls the map, or kOther.
TMapScrollKey ScrollKeyOf(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Up:
      return TMapScrollKey::kUp;
    case Qt::Key_Down:
      return TMapScrollKey::kDown;
    case Qt::Key_PageUp:
      return TMapScrollKey::kPageUp;
    case Qt::Key_PageDown:
      return TMapScrollKey::kPageDown;
    case Qt::Key_Home:
      return TMapScrollKey::kHome;
    case Qt::Key_End:
      return TMapScrollKey::kEnd;
    default:
      return TMapScrollKey::kOther;
  }
}

// The key's character for the map's commands: Escape as 27, the rest as
// typed.
int CharacterOf(const QKeyEvent& event) {
  if (event.key() == Qt::Key_Escape) return 27;
  const QString text = event.text();
  return text.size() == 1 ? text.at(0).unicode() : 0;
}

}  // namespace

TFragmentView::TFragmentView(QWidget* parent, const TRect& place, TDriveOptimizer& optimizer)
    : QAbstractScrollArea(parent),
      drive(optimizer),
      logic(optimizer.clusterMap),
      session(optimizer),
      scrollMaximum(0),
      legend(new TLegendStrip(this)) {
  logic.SetFreeSpace(&session.FreeSpace());
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(kClientEdgeWidth);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // The map takes the keyboard focus (its window gives it the focus when it
  // appears; a click or Tab gives it back): its keys scroll and zoom without
  // a click first. The menu's keys reach it anywhere in the drive window, as
  // shortcuts.
  setFocusPolicy(Qt::StrongFocus);
  // Every pixel is painted by paintEvent: nothing to erase first.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  verticalScrollBar()->setSingleStep(1);
  connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
          [this](int action) { OnScrollAction(action); });
  for (const TMapMenuItem& item : kMapMenu) {
    const QString label = QString::fromLatin1(item.label);
    auto* action = new QAction(label.section(QLatin1Char('\t'), 0, 0), this);
    const QString key = label.section(QLatin1Char('\t'), 1, 1);
    if (!key.isEmpty()) {
      action->setShortcut(QKeySequence(key));
      action->setShortcutContext(Qt::WindowShortcut);
    }
    const TMapCommand command = item.command;
    connect(action, &QAction::triggered, this, [this, command] { Command(command); });
    addAction(action);
  }
  auto* clear = new QAction(this);
  clear->setShortcut(QKeySequence(Qt::Key_Escape));
  clear->setShortcutContext(Qt::WindowShortcut);
  connect(clear, &QAction::triggered, this, [this] { Command(TMapCommand::kClearSelection); });
  addAction(clear);
  session.PollWorkFinished();
  UpdateLegend();
  setGeometry(place.x, place.y, place.width, place.height);
  show();
}

void TFragmentView::Command(TMapCommand command) {
  switch (command) {
    case TMapCommand::kSummary:
      if (showSummary && showSummary()) return;
      drive.windows.ShowMessage(session.SummaryText().c_str(), TMapSession::kSummaryCaption);
      return;
    case TMapCommand::kLegend:
      drive.windows.ShowMessage(TMapSession::LegendText(logic).c_str(),
                                TMapSession::kLegendCaption);
      return;
    case TMapCommand::kExportJson:
      ExportJson();
      return;
    case TMapCommand::kSavePicture:
      SavePictureAs();
      return;
    default:
      break;
  }
  session.PollWorkFinished();
  if (session.Apply(command, logic)) Refresh();
}

void TFragmentView::ShowViewStateIn(QLabel* label) {
  viewState = label;
  viewState->show();
  ShowViewState();
}

void TFragmentView::ShowSelectionIn(QLabel* label) {
  selectionState = label;
  ShowViewState();
}

void TFragmentView::SelectionChanged() {
  viewport()->update();
  UpdateLegend();
  ShowViewState();
}

void TFragmentView::ShowViewState() {
  if (viewState != nullptr)
    viewState->setText(QString::fromStdString(TMapSession::ViewStateText(logic)));
  if (selectionState == nullptr) return;
  const std::string selection = session.SelectionText(logic);
  selectionState->setText(QString::fromStdString(selection));
  selectionState->setVisible(!selection.empty());
}

void TFragmentView::UpdateLegend() {
  if (!legend->SetEntries(LegendEntries(logic))) return;
  PlaceLegend();
}

void TFragmentView::PlaceLegend() {
  // The margin's change resizes the viewport, and the view lays its cells
  // out again for the height left (resizeEvent).
  const int height = legend->HeightFor(viewport()->width());
  if (height != viewportMargins().bottom()) setViewportMargins(0, 0, 0, height);
  const QRect cells = viewport()->geometry();
  legend->setGeometry(cells.left(), cells.bottom() + 1, cells.width(), height);
}

void TFragmentView::MapChanged() {
  logic.MapChanged();
  viewport()->update();
}

void TFragmentView::SelectItems(std::vector<const TItem*> items) {
  // Outlines are drawn on the volume as it is now.
  session.SetMode(logic, TMapMode::kNow);
  const TItem* first = items.empty() ? nullptr : items.front();
  logic.SelectItems(std::move(items));
  logic.ShowItem(first);
  Refresh();
}

QString TFragmentView::ToolTipAt(const QPoint& point) const {
  return QString::fromUtf8(session.HoverAt(logic, point.x(), point.y()).c_str());
}

bool TFragmentView::ShowWholeVolume(TMapMode mode) {
  session.PollWorkFinished();
  if (mode != logic.Mode() && !session.SetMode(logic, mode)) return false;
  // The cells for the current size first: the zoom counts them.
  if (logic.Dirty()) logic.ComputeCells(viewport()->width(), viewport()->height());
  logic.ShowWholeVolume();
  Refresh();
  return true;
}

void TFragmentView::resizeEvent(QResizeEvent*) {
  PlaceLegend();
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
      cellPainter.fillRect(cell.x, cell.y, cell.width, cell.height,
                           QColorOf(RgbOf(logic.PaintedColour(i))));
    }
  }
  QPainter painter(viewport());
  painter.drawImage(0, 0, picture);
}

bool TFragmentView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = ToolTipAt(help->pos());
    if (text.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      QToolTip::showText(help->globalPos(), text, viewport());
    }
    return true;
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void TFragmentView::scrollContentsBy(int, int) {}

void TFragmentView::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  const QPoint point = event->position().toPoint();
  logic.SelectAt(logic.CellAt(point.x(), point.y()));
  SelectionChanged();
}

void TFragmentView::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }

void TFragmentView::mouseDoubleClickEvent(QMouseEvent* event) { event->accept(); }

void TFragmentView::wheelEvent(QWheelEvent* event) {
  if ((event->modifiers() & Qt::ControlModifier) == 0) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  event->accept();
  const int steps = event->angleDelta().y();
  if (steps == 0) return;
  // About the cell under the mouse, counted in the cells of the current size.
  if (logic.Dirty()) logic.ComputeCells(viewport()->width(), viewport()->height());
  const QPoint point = event->position().toPoint();
  if (logic.ZoomAt(steps > 0, point.x(), point.y())) Refresh();
}

void TFragmentView::keyPressEvent(QKeyEvent* event) {
  const TScrollRequest scroll = ScrollRequestForKey(ScrollKeyOf(*event));
  if (scroll != TScrollRequest::kStay) {
    event->accept();
    Scroll(scroll);
    return;
  }
  const TMapCommand command = MapCommandForKey(CharacterOf(*event));
  if (command == static_cast<TMapCommand>(0)) {
    event->ignore();
    return;
  }
  event->accept();
  Command(command);
}

void TFragmentView::contextMenuEvent(QContextMenuEvent* event) {
  session.PollWorkFinished();
  QMenu menu(this);
  const QList<QAction*> commands = actions();
  for (QAction* action : commands) {
    if (action->text().isEmpty()) continue;  // Escape's, which has no entry
    menu.addAction(action);
  }
  if (!windowActions.isEmpty()) {
    menu.addSeparator();
    menu.addActions(windowActions);
  }
  menu.exec(event->globalPos());
}

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
  Scroll(request);
}

void TFragmentView::Scroll(TScrollRequest request) {
  // While a scroll bar action is being announced the value is still the old
  // position and the slider position is where Qt would move; the position
  // set here replaces Qt's own step, and is held to the range as Win32 holds
  // nPos. A key's request finds both at the current position; the bar's
  // signals are held, or the position set outside an action would come back
  // as a drag of the thumb to the held position.
  QScrollBar* bar = verticalScrollBar();
  const TScrollBarState state = {bar->value(), scrollMaximum, bar->sliderPosition()};
  const int position = logic.OnVScroll(request, state);
  const QSignalBlocker quiet(bar);
  bar->setSliderPosition(position);
  viewport()->update();
}

void TFragmentView::Refresh() {
  ApplyScrollBar(logic.UpdateScrollBar());
  viewport()->update();
  UpdateLegend();
  ShowViewState();
}

void TFragmentView::ExportJson() {
  const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Export JSON"));
  if (folder.isEmpty()) return;
  const std::string failure = session.ExportJson(QFile::encodeName(folder).toStdString());
  if (!failure.empty()) drive.windows.ShowMessage(failure.c_str(), "Export JSON");
}

std::string TFragmentView::SaveMapPicture(const QString& path) {
  const QString named = QFile::decodeName(
      WithPictureExtension(QFile::encodeName(path).toStdString(), ".png").c_str());
  const std::string unsaved = SavePicture(viewport()->grab(), named);
  if (unsaved.empty()) return unsaved;
  return QFile::encodeName(named).toStdString() + " could not be saved: " + unsaved;
}

void TFragmentView::SavePictureAs() {
  const QDate today = QDate::currentDate();
  const std::string offered =
      DefaultPictureName(DriveName(drive), today.year(), today.month(), today.day(), ".png");
  const QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("Save picture"),
                                   QDir::current().filePath(QFile::decodeName(offered.c_str())),
                                   QStringLiteral("PNG pictures (*.png)"));
  if (path.isEmpty()) return;
  const std::string unsaved = SaveMapPicture(path);
  if (!unsaved.empty()) drive.windows.ShowMessage(unsaved.c_str(), "Save picture");
}
