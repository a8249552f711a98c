#include "ui/qt/legend_strip.h"

#include <QPainter>
#include <utility>

#include "ui/qt/drawing_resources.h"

TLegendStrip::TLegendStrip(QWidget* parent) : QWidget(parent) {
  setFont(QtDrawingResources().guiFont);
  setAutoFillBackground(false);
}

bool TLegendStrip::SetEntries(std::vector<TLegendEntry> shown) {
  if (SameLegend(entries, shown)) return false;
  entries = std::move(shown);
  update();
  return true;
}

int TLegendStrip::LineHeight() const { return LegendLineHeight(fontMetrics().height()); }

std::vector<TLegendPlace> TLegendStrip::Places(int width) const {
  std::vector<int> widths;
  for (const TLegendEntry& entry : entries) {
    widths.push_back(
        LegendEntryWidth(fontMetrics().horizontalAdvance(QString::fromUtf8(entry.label))));
  }
  return LegendPlaces(widths, width);
}

int TLegendStrip::HeightFor(int width) const { return LegendHeight(Places(width), LineHeight()); }

void TLegendStrip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QtDrawingResources().viewBackground);
  const std::vector<TLegendPlace> places = Places(width());
  const int lineHeight = LineHeight();
  for (size_t i = 0; i < entries.size(); ++i) {
    const int top = kLegendMargin + places[i].line * lineHeight;
    const int swatchTop = top + (lineHeight - kLegendMargin - kLegendSwatchSize) / 2;
    const QRect swatch(places[i].x, swatchTop, kLegendSwatchSize, kLegendSwatchSize);
    // A dark edge keeps white and light swatches apart from the background.
    painter.fillRect(swatch, palette().color(QPalette::Dark));
    painter.fillRect(swatch.adjusted(1, 1, -1, -1), QColorOf(RgbOf(entries[i].colour)));
    const int wordsLeft = places[i].x + kLegendSwatchSize + kLegendGap;
    const QRect words(wordsLeft, top, width() - wordsLeft, lineHeight - kLegendMargin);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(words, Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(entries[i].label));
  }
}
