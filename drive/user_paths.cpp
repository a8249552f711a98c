#include "drive/user_paths.h"

#include <cctype>

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

std::string UserDetail(const TUserPaths& paths, char driveLetter, const std::string& detail) {
  const bool onDrive = detail.size() >= 3 && detail[1] == ':' && detail[2] == '\\' &&
                       std::toupper(static_cast<unsigned char>(detail[0])) ==
                           std::toupper(static_cast<unsigned char>(driveLetter));
  if (!onDrive) return detail;
  std::string listing = detail.substr(2);
  const bool folder = listing.back() == '\\';
  if (folder) listing.pop_back();
  return UserPath(paths, listing, folder);
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
