#include "ui/qt/drawing_resources.h"

#include <QApplication>
#include <QPalette>

namespace {

// Never destroyed: a font outliving the QApplication must not be torn down
// after Qt's own font cache at exit.
TQtDrawingResources& Resources() {
  static auto* resources = new TQtDrawingResources;
  return *resources;
}

}  // namespace

void CreateQtDrawingResources() {
  TQtDrawingResources& resources = Resources();
  resources.guiFont = QApplication::font();
  resources.viewBackground = QApplication::palette().color(QPalette::Button);
  resources.fragmented = QColor(255, 0, 0);
  resources.lastFragment = QColor(63, 63, 255);
  resources.emptyCell = QColor(255, 255, 255);
}

const TQtDrawingResources& QtDrawingResources() { return Resources(); }
