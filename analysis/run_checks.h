// Checks of one item's runs as fragment retrieval read them, free of any
// I/O: runs that no volume could hold are taken off the item and said.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/item.h"

// The last VCN a stream may reach, in clusters: a byte offset past it would
// not fit in 63 bits even with 512-byte clusters, the smallest there are.
constexpr int64_t kMaxStreamClusters = int64_t{1} << 54;

// Takes off item's run list (and releases) each run that lies partly or
// wholly outside a volume of totalClusters clusters (when known: more than
// 0), has no positive
// length, or reaches past kMaxStreamClusters; the item keeps its other runs,
// its fragment count counts only those. Returns what was wrong, a sentence
// per run taken off; none for sound runs.
std::vector<std::string> DropImpossibleRuns(TItem* item, int64_t totalClusters);
