// The drive the window tests of moves run on, in either shell: a scripted
// volume of 2,000 clusters of 4 KiB holding three files in two pieces each,
// and what those tests check of the window's tree once files have moved.
#pragma once

#include <vector>

#include "model/item.h"
#include "tests/support/scripted_volume.h"

// The drive's files, as listing paths.
extern const char* const kMovingDriveFiles[3];

// Scripts volume (drive D:) as that drive: \a.bin in 2 + 2 clusters at 100
// and 200, \b.bin in 3 + 3 at 300 and 400, \c.bin in 2 + 2 at 500 and 600;
// or, with fragmented false, \a.bin alone in one run of 4 at 100. The
// bitmap marks exactly the files' clusters.
void ScriptMovingDrive(TScriptedVolume& volume, bool fragmented = true);

// Times the volume (drive D:) was opened for moves.
int VolumesOpenedForMoves(TScriptedVolume& volume);

// Physically contiguous pieces of the item at listingPath below root; 0
// where there is no such item.
int PiecesAt(TItem* root, const char* listingPath);

// Whether freeExtents (a chain of free extents) are exactly the clusters
// bitmap (true = in use) marks free.
bool FreeExtentsAreTheVolumes(const TFragment* freeExtents, const std::vector<bool>& bitmap);
