// The legend of the map as the view stands: one entry per colour it can
// paint now, in the order a reader meets them. The legend strip under the
// map and the legend's message box are both written from it.
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

// The entries as lines for a message box, "red (255, 0, 0): a fragment
// followed by another fragment of its file", "\n" after each, with the rule
// that decides a cell of several clusters.
std::string LegendMessage(const TFragmentViewLogic& logic);
