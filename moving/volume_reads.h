// What the move engine reads of the volume as it stands now, through the
// handles opened for moves: the free space, and a stream's runs.
#pragma once

#include <cstdint>
#include <vector>

#include "model/volume_report.h"
#include "moving/move_layout.h"
#include "platform/system_services.h"

// The free extents (normalized) of the volume behind a volume handle, read
// from its cluster bitmap, and its clusters. False when the bitmap cannot be
// read (LastErrorText says why).
bool ReadFreeExtents(TSystemServices& services, THandle volume,
                     std::vector<TClusterExtent>* extents, int64_t* totalClusters);

// The runs of the stream behind a file handle, merged as the file system
// reports them; none for a stream without clusters. False when they cannot
// be read (LastErrorText says why).
bool ReadStreamRuns(TSystemServices& services, THandle file, std::vector<TFileRun>* runs);
