// The cluster map of a drive, made on the worker's notice by either window
// layer: the drive window calls BuildDriveClusterMap and, when it gives a
// map, makes its fragment view over it.
#pragma once

#include "drive/drive_optimizer.h"

// Builds drive.clusterMap over the current runs of the drive's tree, and
// sets drive.releaseViews to ReleaseDriveClusterMap where none is set yet.
// False, with no map, when the drive has no root (the root folder could not
// be opened) or when the volume cannot be queried or the map's memory cannot
// be had; the window then goes on showing its texts.
bool BuildDriveClusterMap(TDriveOptimizer& drive);

// Deletes drive.clusterMap; the releaseViews of a drive whose window deletes
// its own fragment view.
void ReleaseDriveClusterMap(TDriveOptimizer& drive);
