// The legend under the map on Qt: a swatch and a few words for every colour
// the view can paint as it stands (ui/map_legend), laid out in as many lines
// as the width needs. It sits in the fragment view's bottom margin, under
// the cells, so the drive window's layout is untouched.
//
// Ownership: a child of the fragment view, which deletes it.
#pragma once

#include <QWidget>
#include <vector>

#include "ui/map_legend.h"

class TLegendStrip : public QWidget {
 public:
  explicit TLegendStrip(QWidget* parent);

  // The entries to show; repaints when they changed. Whether they changed.
  bool SetEntries(std::vector<TLegendEntry> shown);
  const std::vector<TLegendEntry>& Entries() const { return entries; }
  // Pixels the entries take at width (LegendHeight).
  int HeightFor(int width) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  // The left edge and line of each entry at width, in order.
  std::vector<TLegendPlace> Places(int width) const;
  int LineHeight() const;

  std::vector<TLegendEntry> entries;
};
