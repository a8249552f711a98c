// The Linux drive table: which drive letters exist, what stands behind each
// (a host folder or an NTFS volume), and the translation of the Win32-style
// paths the stages compose into what the Linux services open.
#pragma once

#include <array>
#include <string>

enum class TDriveKind {
  kMissing,     // no such drive: opens and enumerations fail
  kHostFolder,  // a folder of a Linux file system, read with the host's own calls
  kNtfsVolume,  // a regular file or block device holding an NTFS volume
};

// Where a path leads once translated.
struct TLocation {
  TDriveKind kind;
  // True for the volume path \\.\L: itself.
  bool wholeVolume;
  // kHostFolder: the host path, '/'-separated (for a volume path, the drive's
  // folder). kNtfsVolume: the path inside the volume, '/'-separated and
  // starting with '/' (empty for a volume path). kMissing: empty.
  std::string path;
  // What the drive letter is mapped to (the folder, image file or block
  // device); empty for a POSIX or relative path, which names no drive. The
  // table's own text, not a copy (every open resolves a path): valid as
  // long as the table that resolved the path.
  const std::string& drivePath;
  // kHostFolder with a drive letter: path below the drive's folder,
  // '/'-separated without a leading '/' ("" for the folder itself), which
  // host opens resolve beneath the folder. Empty otherwise.
  std::string below;
};

// Built once before the services are shared, read-only afterwards, so any
// number of threads may resolve paths at once without a lock.
class TDriveTable {
 public:
  // Only C:, which is the process working directory.
  TDriveTable();

  // The table given by the DISKOPT_DRIVE_A .. DISKOPT_DRIVE_Z variables
  // (upper-case letters in the names), read now.
  static TDriveTable FromEnvironment();

  // Maps a letter (either case) to a host path and classifies the path now,
  // by what it is at this moment: a folder is a host folder, a regular file
  // or block device an NTFS volume, anything else (or nothing) a missing
  // drive. Mapping C: replaces the working directory.
  void Map(char letter, const std::string& path);

  // Maps a letter as Map does for a path the command line gave instead of a
  // letter; ArgumentPath then names the drive by it.
  void MapArgumentPath(char letter, const std::string& path);

  // Whether a letter (either case) has been mapped, by Map or
  // MapArgumentPath, whatever its path turned out to be; C: only when mapped
  // explicitly.
  bool Mapped(char letter) const;

  // The path given to MapArgumentPath for a letter (either case); empty for
  // a letter mapped otherwise or not at all.
  std::string ArgumentPath(char letter) const;

  // Drive kind of a letter (either case); kMissing for a non-letter.
  TDriveKind Kind(char letter) const;

  // Translates a path: L:\a\b through the table with '\' turned into '/',
  // \\.\L: to the drive's volume, and anything without a drive letter
  // (absolute POSIX or relative to the working directory) to the host path
  // with '\' counted as a separator too.
  TLocation Resolve(const char* path) const;

  // What a letter (either case) was mapped to, even when that names nothing
  // now; empty for a letter never mapped and for a non-letter.
  std::string MappedPath(char letter) const;

 private:
  struct TDrive {
    TDriveKind kind;
    std::string path;   // as mapped; "." for the default C:, empty for none
    bool mapped;        // by Map or MapArgumentPath
    bool fromArgument;  // by MapArgumentPath: the drive is named by path
  };
  void Assign(char letter, const std::string& path, bool fromArgument);

  std::array<TDrive, 26> drives_;  // indexed by upper-case letter - 'A'
};
