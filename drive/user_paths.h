// Paths as the user knows them, for what the window shows: an item of a
// Windows drive as D:\docs\a.txt, an item of a Linux folder drive by its real
// path (/usr/share/doc/a.txt), an item of an NTFS image by its path inside
// the image after the image's name (disk.img:\docs\a.txt); and what a drive
// stands for, for titles and the summary. The logs keep their own listing
// paths (\docs\a.txt): other programs read them.
#pragma once

#include <string>

class TDriveOptimizer;
struct TDriveOrigin;

struct TUserPaths {
  std::string prefix;     // put before the listing path: "D:", "/usr/share", "disk.img:"
  char separator = '\\';  // what the listing path's '\' become
};

// How the drive's paths are shown; asks the drive's services once.
TUserPaths UserPathsOf(const TDriveOptimizer& drive);
TUserPaths UserPathsOf(char driveLetter, const TDriveOrigin& origin);

// The path of an item at listingPath ("" for the root, "\a\b" below it);
// a folder's, and the root's, end with the separator.
std::string UserPath(const TUserPaths& paths, const std::string& listingPath, bool folder);

// A status text the worker published, as the user knows it: a path of the
// drive ("E:\lib\a.so", "E:\lib\" for a folder) as UserPath names it
// ("/usr/lib/a.so"); any other text as it is.
std::string UserDetail(const TUserPaths& paths, char driveLetter, const std::string& detail);

// What was analysed, in words for titles: "drive D" for a drive of the
// system, the path the command line gave for one named by path
// ("/srv/disk.img"), and "drive D (/srv/disk.img)" for a letter that stands
// for a path on Linux.
std::string AnalysedName(const TDriveOptimizer& drive);

// The summary's line that says what stands behind the drive ("/srv/disk.img,
// an NTFS volume"); empty for a drive of the system, which its letter names.
std::string AnalysedLine(const TDriveOrigin& origin);
