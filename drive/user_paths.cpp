#include "drive/user_paths.h"

#include "drive/drive_name.h"
#include "drive/drive_optimizer.h"

TUserPaths UserPathsOf(char driveLetter, const TDriveOrigin& origin) {
  switch (origin.kind) {
    case TDriveOrigin::TKind::kFolder:
      // The file system's root folder gives "" and then "/" for the root.
      return TUserPaths{origin.path == "/" ? std::string() : origin.path, '/'};
    case TDriveOrigin::TKind::kNtfsVolume:
      return TUserPaths{origin.path.substr(origin.path.rfind('/') + 1) + ":", '\\'};
    case TDriveOrigin::TKind::kSystemDrive:
      break;
  }
  return TUserPaths{std::string(1, driveLetter) + ":", '\\'};
}

TUserPaths UserPathsOf(const TDriveOptimizer& drive) {
  return UserPathsOf(drive.driveLetter, drive.services.DriveOrigin(drive.driveLetter));
}

std::string UserPath(const TUserPaths& paths, const std::string& listingPath, bool folder) {
  std::string text = paths.prefix;
  text.reserve(text.size() + listingPath.size() + 1);
  for (const char c : listingPath) text += c == '\\' ? paths.separator : c;
  if (listingPath.empty() || folder) text += paths.separator;
  return text;
}

std::string AnalysedName(const TDriveOptimizer& drive) {
  const std::string argument = drive.services.ArgumentPath(drive.driveLetter);
  if (!argument.empty()) return argument;
  std::string name = "drive " + DriveName(drive);
  const TDriveOrigin origin = drive.services.DriveOrigin(drive.driveLetter);
  if (origin.kind != TDriveOrigin::TKind::kSystemDrive) name += " (" + origin.path + ")";
  return name;
}

std::string AnalysedLine(const TDriveOrigin& origin) {
  switch (origin.kind) {
    case TDriveOrigin::TKind::kFolder:
      return origin.path + ", a folder";
    case TDriveOrigin::TKind::kNtfsVolume:
      return origin.path + ", an NTFS volume";
    case TDriveOrigin::TKind::kSystemDrive:
      break;
  }
  return std::string();
}
