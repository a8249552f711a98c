#include "platform/linux/drive_table.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// ASCII only: drive letters are never localised.
int LetterIndex(char letter) {
  if (letter >= 'A' && letter <= 'Z') return letter - 'A';
  if (letter >= 'a' && letter <= 'z') return letter - 'a';
  return -1;
}

TDriveKind Classify(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return TDriveKind::kMissing;
  if (S_ISDIR(status.st_mode)) return TDriveKind::kHostFolder;
  if (S_ISREG(status.st_mode) || S_ISBLK(status.st_mode)) return TDriveKind::kNtfsVolume;
  return TDriveKind::kMissing;
}

// The drive path of a location that names no drive.
const std::string& NoDrive() {
  static const std::string none;
  return none;
}

std::string WithSlashes(const char* text) {
  std::string result(text);
  // Separators are few in a path: each is found with memchr, which looks at
  // many bytes at once, rather than testing every byte.
  char* const end = &result[0] + result.size();
  for (char* at = &result[0];
       (at = static_cast<char*>(std::memchr(at, '\\', static_cast<size_t>(end - at)))) != nullptr;
       ++at) {
    *at = '/';
  }
  return result;
}

// The drive's root joined with the rest of a drive-letter path from
// restStart (at most its length) on, past its leading separators: it counts
// from the root whether or not it starts with one (there is no current
// folder per drive). "root" and "root/" give the same joins.
std::string JoinUnderRoot(const std::string& root, const std::string& rest, size_t restStart) {
  size_t rootLength = root.size();
  while (rootLength > 1 && root[rootLength - 1] == '/') --rootLength;
  if (rootLength == 1 && root[0] == '/') rootLength = 0;
  std::string result;
  result.reserve(rootLength + 1 + rest.size() - restStart);
  result.append(root, 0, rootLength);
  result += '/';
  result.append(rest, restStart, std::string::npos);
  return result;
}

}  // namespace

TDriveTable::TDriveTable() {
  drives_.fill(TDrive{TDriveKind::kMissing, std::string(), false, false});
  // "." rather than the directory's name now: the working directory at each
  // use, the same one a relative path is resolved against.
  drives_['C' - 'A'] = TDrive{TDriveKind::kHostFolder, ".", false, false};
}

TDriveTable TDriveTable::FromEnvironment() {
  TDriveTable table;
  char name[] = "DISKOPT_DRIVE_A";
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    name[sizeof(name) - 2] = letter;
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0') table.Map(letter, value);
  }
  return table;
}

void TDriveTable::Map(char letter, const std::string& path) { Assign(letter, path, false); }

void TDriveTable::MapArgumentPath(char letter, const std::string& path) {
  Assign(letter, path, true);
}

void TDriveTable::Assign(char letter, const std::string& path, bool fromArgument) {
  const int index = LetterIndex(letter);
  if (index < 0) return;
  drives_[index] = TDrive{Classify(path), path, true, fromArgument};
}

bool TDriveTable::Mapped(char letter) const {
  const int index = LetterIndex(letter);
  return index >= 0 && drives_[index].mapped;
}

std::string TDriveTable::ArgumentPath(char letter) const {
  const int index = LetterIndex(letter);
  if (index < 0 || !drives_[index].fromArgument) return std::string();
  return drives_[index].path;
}

std::string TDriveTable::MappedPath(char letter) const {
  const int index = LetterIndex(letter);
  return index < 0 ? std::string() : drives_[index].path;
}

TDriveKind TDriveTable::Kind(char letter) const {
  const int index = LetterIndex(letter);
  return index < 0 ? TDriveKind::kMissing : drives_[index].kind;
}

TLocation TDriveTable::Resolve(const char* path) const {
  static const char kVolumePrefix[] = "\\\\.\\";
  const size_t prefixLength = sizeof(kVolumePrefix) - 1;
  if (std::strncmp(path, kVolumePrefix, prefixLength) == 0) {
    // \\.\L: and nothing else: other device names do not exist here.
    const char* device = path + prefixLength;
    const int index = LetterIndex(device[0]);
    if (index < 0 || device[1] != ':' || device[2] != '\0' ||
        drives_[index].kind == TDriveKind::kMissing) {
      return TLocation{TDriveKind::kMissing, true, std::string(), NoDrive(), std::string()};
    }
    const TDrive& drive = drives_[index];
    const bool host = drive.kind == TDriveKind::kHostFolder;
    return TLocation{drive.kind, true, host ? drive.path : std::string(), drive.path,
                     std::string()};
  }

  const int index = path[0] != '\0' && path[1] == ':' ? LetterIndex(path[0]) : -1;
  if (index < 0) {
    return TLocation{TDriveKind::kHostFolder, false, WithSlashes(path), NoDrive(), std::string()};
  }
  const TDrive& drive = drives_[index];
  std::string rest = WithSlashes(path + 2);
  const size_t restStart = std::min(rest.find_first_not_of('/'), rest.size());
  switch (drive.kind) {
    case TDriveKind::kHostFolder: {
      std::string joined = JoinUnderRoot(drive.path, rest, restStart);
      rest.erase(0, restStart);
      return TLocation{drive.kind, false, std::move(joined), drive.path, std::move(rest)};
    }
    case TDriveKind::kNtfsVolume:
      // "/" and what follows the separators the rest starts with, in place.
      rest.replace(0, restStart, 1, '/');
      return TLocation{drive.kind, false, std::move(rest), drive.path, std::string()};
    case TDriveKind::kMissing:
      break;
  }
  return TLocation{TDriveKind::kMissing, false, std::string(), NoDrive(), std::string()};
}
