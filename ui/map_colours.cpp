#include "ui/map_colours.h"

#include <algorithm>
#include <cstdio>

namespace {

struct TColourEntry {
  TRgb rgb;
  const char* name;
  const char* meaning;
};

// Indexed by TCellColour. The zone colours stay apart from each other and
// from the unmovable grey for readers who tell red from green poorly.
const TColourEntry kColours[kCellColourCount] = {
    {{255, 255, 255}, "white", "free, or in use by the file system (not listed)"},
    {{255, 0, 0}, "red", "a fragment followed by another fragment of its file"},
    {{63, 63, 255}, "blue", "the last (or only) fragment of a file or folder"},
    {{96, 96, 96}, "grey", "stays where it is: file-system data, items already in place"},
    {{230, 159, 0}, "orange", "zone 1: folders"},
    {{86, 180, 233}, "sky blue", "zone 2"},
    {{0, 158, 115}, "green", "zone 3: program files"},
    {{240, 228, 66}, "yellow", "zone 4"},
    {{0, 114, 178}, "dark blue", "zone 5: small files"},
    {{213, 94, 0}, "vermilion", "zone 6"},
    {{204, 121, 167}, "pink", "zone 7: large files"},
    {{128, 80, 32}, "brown", "zone 8: archives and media"},
};

void AppendLegendLine(TCellColour colour, const char* meaning, std::string* text) {
  const TColourEntry& entry = kColours[static_cast<int>(colour)];
  char line[200];
  const int length = std::snprintf(line, sizeof line, "%s (%d, %d, %d): %s\n", entry.name,
                                   entry.rgb.red, entry.rgb.green, entry.rgb.blue, meaning);
  if (length > 0) text->append(line, std::min(static_cast<size_t>(length), sizeof line - 1));
}

}  // namespace

TCellColour ZoneColour(int zone) {
  if (zone <= 1 || zone > 8) return TCellColour::kZone1;
  return static_cast<TCellColour>(static_cast<int>(TCellColour::kZone1) + zone - 1);
}

TRgb RgbOf(TCellColour colour) { return kColours[static_cast<int>(colour)].rgb; }

std::string LegendText(TMapMode mode) {
  std::string text;
  if (mode == TMapMode::kNow) {
    AppendLegendLine(TCellColour::kFragmented, kColours[1].meaning, &text);
    AppendLegendLine(TCellColour::kLastFragment, kColours[2].meaning, &text);
    AppendLegendLine(TCellColour::kEmpty, kColours[0].meaning, &text);
    text += "A cell of several clusters takes red over blue over white.\n";
    return text;
  }
  for (int zone = 1; zone <= 8; ++zone) {
    const TCellColour colour = ZoneColour(zone);
    AppendLegendLine(colour, kColours[static_cast<int>(colour)].meaning, &text);
  }
  AppendLegendLine(TCellColour::kUnmovable, kColours[3].meaning, &text);
  AppendLegendLine(TCellColour::kEmpty, "free after the plan", &text);
  text += "A cell of several clusters takes grey over a zone over white.\n";
  return text;
}
