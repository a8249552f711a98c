#include "drive/cluster_bytes.h"

#include "drive/drive_optimizer.h"

uint32_t ClusterBytesOfDrive(TDriveOptimizer& drive) {
  char rootPath[4] = "A:\\";
  rootPath[0] = drive.driveLetter;
  TDiskGeometry geometry{};
  return drive.services.DiskFreeSpace(rootPath, &geometry)
             ? geometry.sectorsPerCluster * geometry.bytesPerSector
             : 0;
}
