#include "drive/drive_name.h"

#include "drive/drive_optimizer.h"

std::string DriveName(const TDriveOptimizer& drive) {
  std::string path = drive.services.ArgumentPath(drive.driveLetter);
  return path.empty() ? std::string(1, drive.driveLetter) : path;
}
