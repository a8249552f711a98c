// The volume after the volume-aware plan, as the map draws it: sorted,
// disjoint stretches of clusters, each with the colour of what lies there
// after the plan (the zone of the item moved there, or the grey of what
// stays), free clusters in none. Made from the plan's runs and unmovable
// extents, so its memory grows with runs, never with the volume's size.
//
// Threads: made and read on the window's thread once the worker has
// finished (the plan and the items' zones and marks no longer change).
#pragma once

#include <cstdint>
#include <vector>

#include "model/volume_report.h"
#include "ui/map_colours.h"

class TPlannedMap {
 public:
  TPlannedMap() = default;
  // The plan's targets of the items that move, coloured by their zone, and
  // its unmovable extents (which hold the items that stay) in grey; cut to
  // the volume's totalClusters clusters.
  TPlannedMap(const TVolumePlan& plan, int64_t totalClusters);

  // The colour that matters most among clusters [first, end) (first < end):
  // grey over a zone (the first in the stretch) over white. Two look-ups,
  // no walk.
  TCellColour ColourOf(int64_t first, int64_t end) const { return PlaceOf(first, end).colour; }

  // The colour ColourOf gives, with the item moved to the stretch that
  // colour comes from; none for grey and white.
  struct TPlace {
    TCellColour colour;
    const TItem* item;  // not owned
  };
  TPlace PlaceOf(int64_t first, int64_t end) const;

  size_t StretchCount() const { return stretches.size(); }
  // Whether any stretch has colour, for the legend.
  bool Holds(TCellColour colour) const { return held[static_cast<int>(colour)]; }

 private:
  struct TStretch {
    int64_t lcn;
    int64_t length;
    TCellColour colour;
    const TItem* item;  // the item moved there; none for what stays
  };
  std::vector<TStretch> stretches;  // ascending lcn, disjoint
  // For each position, how many grey stretches come before it; one entry
  // more than stretches.
  std::vector<int64_t> unmovableBefore = {0};
  bool held[kCellColourCount] = {};  // by colour: whether any stretch has it
};
