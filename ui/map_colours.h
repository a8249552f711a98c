// The colours of the volume map and what each means: the described three of
// the volume as it is now, with two beside them (space the file system uses
// without listing it, once a cell shows several clusters; the selected
// item), and those of the volume after the volume-aware plan (one per zone,
// one for clusters that stay where they are). Both shells paint from this
// table and the legend is written from it.
#pragma once

#include <cstdint>

enum class TCellColour {
  kEmpty,         // no fragment: white
  kFragmented,    // a fragment followed by another in its item's list: red
  kLastFragment,  // the last (or only) fragment of its item's list: blue
  kUnmovable,     // after the plan: clusters that stay (metadata, items in place)
  kZone1,         // after the plan: zones 1 ... 8 follow in order
  kZone2,
  kZone3,
  kZone4,
  kZone5,
  kZone6,
  kZone7,
  kZone8,
  kUnlisted,  // cells of several clusters, none listed, not all free: in use by the file system
  kSelected,  // the cells of the selected item's fragments
};

constexpr int kCellColourCount = 14;

struct TRgb {
  uint8_t red;
  uint8_t green;
  uint8_t blue;

  bool operator==(const TRgb& other) const {
    return red == other.red && green == other.green && blue == other.blue;
  }
};

// The colour of an item's zone after the plan; zone 0 (not classified) has
// zone 1's place and colour.
TCellColour ZoneColour(int zone);

TRgb RgbOf(TCellColour colour);
// The colour's name ("red"), what it shows ("the last (or only) fragment
// of a file or folder") and that in a few words for a legend ("last or only
// fragment"); static texts.
const char* ColourName(TCellColour colour);
const char* ColourMeaning(TCellColour colour);
const char* ColourLabel(TCellColour colour);

// Which picture of the volume the map shows.
enum class TMapMode {
  kNow,      // the runs as they are: red, blue, white
  kPlanned,  // the volume-aware plan's targets by zone
};
