#include "ui/drive_cluster_map.h"

#include "ui/cluster_map.h"

bool BuildDriveClusterMap(TDriveOptimizer& drive) {
  if (drive.root == nullptr) return false;
  auto* map = new TClusterMap;
  map->Init(drive.root, false);
  if (!map->Build(drive.services)) {
    delete map;
    return false;
  }
  drive.clusterMap = map;
  if (drive.releaseViews == nullptr) drive.releaseViews = ReleaseDriveClusterMap;
  return true;
}

void ReleaseDriveClusterMap(TDriveOptimizer& drive) {
  delete drive.clusterMap;
  drive.clusterMap = nullptr;
}
