#include "ui/qt/legend_strip.h"

#include <QPainter>
#include <algorithm>
#include <utility>

#include "ui/qt/drawing_resources.h"

namespace {

constexpr int kSwatchSize = 12;  // pixels, each way
constexpr int kGap = 4;          // pixels between a swatch and its words
constexpr int kSpacing = 14;     // pixels between one entry and the next
constexpr int kMargin = 3;       // pixels around the whole strip

}  // namespace

TLegendStrip::TLegendStrip(QWidget* parent) : QWidget(parent) {
  setFont(QtDrawingResources().guiFont);
  setAutoFillBackground(false);
}

bool TLegendStrip::SetEntries(std::vector<TLegendEntry> shown) {
  // The labels are static texts: the same entry has the same pointer.
  const bool same = std::equal(entries.begin(), entries.end(), shown.begin(), shown.end(),
                               [](const TLegendEntry& a, const TLegendEntry& b) {
                                 return a.colour == b.colour && a.label == b.label;
                               });
  if (same) return false;
  entries = std::move(shown);
  update();
  return true;
}

int TLegendStrip::LineHeight() const {
  return std::max(kSwatchSize, fontMetrics().height()) + kMargin;
}

int TLegendStrip::EntryWidth(const TLegendEntry& entry) const {
  return kSwatchSize + kGap + fontMetrics().horizontalAdvance(QString::fromUtf8(entry.label));
}

std::vector<TLegendStrip::TPlace> TLegendStrip::Places(int width) const {
  std::vector<TPlace> places;
  int x = kMargin;
  int line = 0;
  for (const TLegendEntry& entry : entries) {
    const int entryWidth = EntryWidth(entry);
    // An entry that does not fit starts the next line, unless it is the
    // first of its line (too wide for any line: it is cut at the edge).
    if (x > kMargin && x + entryWidth > width - kMargin) {
      x = kMargin;
      ++line;
    }
    places.push_back(TPlace{x, line});
    x += entryWidth + kSpacing;
  }
  return places;
}

int TLegendStrip::HeightFor(int width) const {
  if (entries.empty()) return 0;
  const int lines = Places(width).back().line + 1;
  return lines * LineHeight() + kMargin;
}

void TLegendStrip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QtDrawingResources().viewBackground);
  const std::vector<TPlace> places = Places(width());
  const int lineHeight = LineHeight();
  for (size_t i = 0; i < entries.size(); ++i) {
    const int top = kMargin + places[i].line * lineHeight;
    const int swatchTop = top + (lineHeight - kMargin - kSwatchSize) / 2;
    const QRect swatch(places[i].x, swatchTop, kSwatchSize, kSwatchSize);
    // A dark edge keeps white and light swatches apart from the background.
    painter.fillRect(swatch, palette().color(QPalette::Dark));
    painter.fillRect(swatch.adjusted(1, 1, -1, -1), QColorOf(RgbOf(entries[i].colour)));
    const QRect words(places[i].x + kSwatchSize + kGap, top,
                      width() - places[i].x - kSwatchSize - kGap, lineHeight - kMargin);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(words, Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(entries[i].label));
  }
}
