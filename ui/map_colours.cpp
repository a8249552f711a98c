#include "ui/map_colours.h"

namespace {

struct TColourEntry {
  TRgb rgb;
  const char* name;
  const char* meaning;
  const char* label;  // the meaning in a few words, for the legend strip
};

// Indexed by TCellColour. The zone colours stay apart from each other and
// from the unmovable grey for readers who tell red from green poorly.
const TColourEntry kColours[kCellColourCount] = {
    {{255, 255, 255}, "white", "free, or in use by the file system (not listed)", "free"},
    {{255, 0, 0},
     "red",
     "a fragment followed by another fragment of its file",
     "fragment, more follow"},
    {{63, 63, 255},
     "blue",
     "the last (or only) fragment of a file or folder",
     "last or only fragment"},
    {{96, 96, 96},
     "grey",
     "stays where it is: file-system data, items already in place",
     "stays where it is"},
    {{230, 159, 0}, "orange", "zone 1: folders", "folders"},
    {{86, 180, 233}, "sky blue", "zone 2", "zone 2"},
    {{0, 158, 115}, "green", "zone 3: program files", "program files"},
    {{240, 228, 66}, "yellow", "zone 4", "zone 4"},
    {{0, 114, 178}, "dark blue", "zone 5: small files", "small files"},
    {{213, 94, 0}, "vermilion", "zone 6", "zone 6"},
    {{204, 121, 167}, "pink", "zone 7: large files", "large files"},
    {{128, 80, 32}, "brown", "zone 8: archives and media", "archives and media"},
    // Light enough to tell from the plan's grey and from red and blue, and
    // darker than the view's background.
    {{176, 176, 176},
     "light grey",
     "in use by the file system (not listed)",
     "in use by the file system (not listed)"},
    // A highlighter's yellow: it stands out from red, blue and grey for
    // readers who tell red from green poorly too. The plan's zone 4 yellow
    // never shows beside it: only the volume as it is now has a selection.
    {{255, 216, 0}, "bright yellow", "the fragments of the selected item", "selected"},
};

}  // namespace

TCellColour ZoneColour(int zone) {
  if (zone <= 1 || zone > 8) return TCellColour::kZone1;
  return static_cast<TCellColour>(static_cast<int>(TCellColour::kZone1) + zone - 1);
}

TRgb RgbOf(TCellColour colour) { return kColours[static_cast<int>(colour)].rgb; }

const char* ColourName(TCellColour colour) { return kColours[static_cast<int>(colour)].name; }

const char* ColourMeaning(TCellColour colour) { return kColours[static_cast<int>(colour)].meaning; }

const char* ColourLabel(TCellColour colour) { return kColours[static_cast<int>(colour)].label; }
