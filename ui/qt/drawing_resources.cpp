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
  resources.fragmented = QColorOf(RgbOf(TCellColour::kFragmented));
  resources.lastFragment = QColorOf(RgbOf(TCellColour::kLastFragment));
  resources.emptyCell = QColorOf(RgbOf(TCellColour::kEmpty));
}

QColor QColorOf(const TRgb& rgb) { return QColor(rgb.red, rgb.green, rgb.blue); }

const TQtDrawingResources& QtDrawingResources() { return Resources(); }
