// The legend of the map as the view stands: one entry per colour it can
// paint now, in the order a reader meets them. The legend strip under the
// map and the legend's message box are both written from it.
//
// Where a strip's entries go is shared too (LegendPlaces): each shell
// measures its words in its own font and draws them where this says.
//
// Threads: on the window's thread, with the view's logic it reads.
#pragma once

#include <string>
#include <vector>

#include "ui/map_colours.h"

class TFragmentViewLogic;

struct TLegendEntry {
  TCellColour colour;
  const char* label;    // a few words for the strip ("free"); static text
  const char* meaning;  // the whole meaning, for the message box; static text
};

// The volume as it is now: red, blue and white, white "free, or in use by
// the file system (not listed)" at one cluster a cell and "free" where
// kUnlisted may show (ShowsUnlisted), then that colour, then the selection's
// while an item is selected. After the plan: the zones the plan places
// items in, by zone, then the grey of what stays and the white of what is
// free.
std::vector<TLegendEntry> LegendEntries(const TFragmentViewLogic& logic);

// Whether two legends show the same entries in the same order.
bool SameLegend(const std::vector<TLegendEntry>& a, const std::vector<TLegendEntry>& b);

// The entries as lines for a message box, "red (255, 0, 0): a fragment
// followed by another fragment of its file", "\n" after each, with the rule
// that decides a cell of several clusters.
std::string LegendMessage(const TFragmentViewLogic& logic);

// The strip's geometry, pixels: a swatch each way, the gap between a swatch
// and its words, the space between one entry and the next, and the margin
// around the whole strip.
constexpr int kLegendSwatchSize = 12;
constexpr int kLegendGap = 4;
constexpr int kLegendSpacing = 14;
constexpr int kLegendMargin = 3;

// Where an entry of the strip starts: its left edge and its line (0 first).
struct TLegendPlace {
  int x;
  int line;
};

// The width of an entry whose words are wordsWidth pixels wide: its swatch,
// the gap, the words.
int LegendEntryWidth(int wordsWidth);
// The places of entries entryWidths wide (LegendEntryWidth), in order, in a
// strip stripWidth wide: left to right, an entry that does not fit starting
// the next line unless it is the first of its line (one too wide for any
// line is cut at the strip's edge).
std::vector<TLegendPlace> LegendPlaces(const std::vector<int>& entryWidths, int stripWidth);
// The height of a line of the strip whose words are textHeight pixels high.
int LegendLineHeight(int textHeight);
// The strip's height for places (LegendPlaces) in lines lineHeight high
// (LegendLineHeight): whole lines and the margin; 0 without entries.
int LegendHeight(const std::vector<TLegendPlace>& places, int lineHeight);
