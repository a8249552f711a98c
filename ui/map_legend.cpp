#include "ui/map_legend.h"

#include <algorithm>
#include <cstdio>

#include "ui/fragment_view_logic.h"
#include "ui/planned_map.h"

namespace {

TLegendEntry EntryOf(TCellColour colour) {
  return TLegendEntry{colour, ColourLabel(colour), ColourMeaning(colour)};
}

}  // namespace

std::vector<TLegendEntry> LegendEntries(const TFragmentViewLogic& logic) {
  std::vector<TLegendEntry> entries;
  if (logic.Mode() == TMapMode::kPlanned && logic.PlannedMap() != nullptr) {
    for (int zone = 1; zone <= 8; ++zone) {
      const TCellColour colour = ZoneColour(zone);
      if (logic.PlannedMap()->Holds(colour)) entries.push_back(EntryOf(colour));
    }
    entries.push_back(EntryOf(TCellColour::kUnmovable));
    entries.push_back({TCellColour::kEmpty, "free after the plan", "free after the plan"});
    return entries;
  }
  entries.push_back(EntryOf(TCellColour::kFragmented));
  entries.push_back(EntryOf(TCellColour::kLastFragment));
  if (logic.ShowsUnlisted()) {
    entries.push_back({TCellColour::kEmpty, "free", "free"});
    entries.push_back(EntryOf(TCellColour::kUnlisted));
  } else {
    // One cluster a cell keeps the described white for both.
    const char* both = ColourMeaning(TCellColour::kEmpty);
    entries.push_back({TCellColour::kEmpty, both, both});
  }
  if (logic.Selected() != nullptr) entries.push_back(EntryOf(TCellColour::kSelected));
  return entries;
}

bool SameLegend(const std::vector<TLegendEntry>& a, const std::vector<TLegendEntry>& b) {
  // The labels are static texts: the same entry has the same pointer.
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const TLegendEntry& x, const TLegendEntry& y) {
                      return x.colour == y.colour && x.label == y.label;
                    });
}

std::string LegendMessage(const TFragmentViewLogic& logic) {
  std::string text;
  for (const TLegendEntry& entry : LegendEntries(logic)) {
    const TRgb rgb = RgbOf(entry.colour);
    char line[200];
    std::snprintf(line, sizeof line, "%s (%d, %d, %d): %s\n", ColourName(entry.colour), rgb.red,
                  rgb.green, rgb.blue, entry.meaning);
    text += line;
  }
  if (logic.Mode() == TMapMode::kPlanned) {
    text += "A cell of several clusters takes grey over a zone over white.\n";
  } else if (logic.ShowsUnlisted()) {
    text += "A cell of several clusters takes red over blue over light grey over white.\n";
  } else {
    text += "A cell of several clusters takes red over blue over white.\n";
  }
  return text;
}

int LegendEntryWidth(int wordsWidth) { return kLegendSwatchSize + kLegendGap + wordsWidth; }

std::vector<TLegendPlace> LegendPlaces(const std::vector<int>& entryWidths, int stripWidth) {
  std::vector<TLegendPlace> places;
  int x = kLegendMargin;
  int line = 0;
  for (const int width : entryWidths) {
    if (x > kLegendMargin && x + width > stripWidth - kLegendMargin) {
      x = kLegendMargin;
      ++line;
    }
    places.push_back(TLegendPlace{x, line});
    x += width + kLegendSpacing;
  }
  return places;
}

int LegendLineHeight(int textHeight) {
  return std::max(kLegendSwatchSize, textHeight) + kLegendMargin;
}

int LegendHeight(const std::vector<TLegendPlace>& places, int lineHeight) {
  if (places.empty()) return 0;
  return (places.back().line + 1) * lineHeight + kLegendMargin;
}
