#include "ui/cell_hover.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "planning/volume_summary.h"
#include "ui/cluster_map.h"
#include "ui/free_space_index.h"
#include "ui/planned_map.h"

namespace {

// Appends what printf makes of format; lines here are short.
template <typename... TArguments>
void AppendFormatted(std::string* text, const char* format, TArguments... arguments) {
  char line[200];
  const int length = std::snprintf(line, sizeof line, format, arguments...);
  if (length > 0) text->append(line, std::min(static_cast<size_t>(length), sizeof line - 1));
}

// The item's path as the user knows it.
void AppendPath(const TUserPaths& paths, const TItem* item, std::string* text) {
  *text += UserPath(paths, ListingPath(item), item->IsFolder());
}

// "path\n<size> bytes, fragment k of n, clusters a-b, zone z" for the item
// of fragment.
void AppendItem(const TUserPaths& paths, const TFragment* fragment, bool zonesKnown,
                std::string* text) {
  const TItem* item = fragment->owner;
  AppendPath(paths, item, text);
  int64_t position = 0;
  int64_t count = 0;
  for (const TFragment* run = item->fragments; run != nullptr; run = run->next) {
    ++count;
    if (run == fragment) position = count;
  }
  AppendFormatted(text,
                  "\n%" PRId64 " bytes, fragment %" PRId64 " of %" PRId64 ", clusters %" PRId64
                  "-%" PRId64,
                  item->size, position, count, fragment->lcn, fragment->lcn + fragment->length - 1);
  if (zonesKnown) AppendFormatted(text, ", zone %d", item->Zone());
}

// "Cluster n\n" or "Clusters a-b\n".
void AppendClusters(int64_t first, int64_t end, std::string* text) {
  if (end - first == 1) {
    AppendFormatted(text, "Cluster %" PRId64 "\n", first);
  } else {
    AppendFormatted(text, "Clusters %" PRId64 "-%" PRId64 "\n", first, end - 1);
  }
}

}  // namespace

std::string HoverText(const TClusterMap& map, const TFreeSpaceIndex& freeSpace,
                      const TUserPaths& paths, int64_t first, int64_t end, bool zonesKnown) {
  std::string text;
  AppendClusters(first, end, &text);
  const TFragment* fragment = map.MostTellingFragment(first, end);
  if (fragment != nullptr) {
    AppendItem(paths, fragment, zonesKnown, &text);
    return text;
  }
  const int64_t free = freeSpace.FreeClustersIn(first, end);
  if (free == end - first) {
    text += "free";
  } else if (free == 0) {
    text += "in use by the file system (not listed)";
  } else {
    AppendFormatted(&text, "%" PRId64 " free, the rest in use by the file system (not listed)",
                    free);
  }
  return text;
}

std::string PlannedHoverText(const TPlannedMap& planned, const TUserPaths& paths, int64_t first,
                             int64_t end) {
  std::string text;
  AppendClusters(first, end, &text);
  const TPlannedMap::TPlace place = planned.PlaceOf(first, end);
  text += "after the plan: ";
  if (place.item != nullptr) {
    AppendPath(paths, place.item, &text);
    AppendFormatted(&text, ", zone %d", place.item->Zone());
  } else if (place.colour == TCellColour::kUnmovable) {
    text += "stays (file-system data, or an item already in place)";
  } else {
    text += "free";
  }
  return text;
}
