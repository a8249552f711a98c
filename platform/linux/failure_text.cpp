#include "platform/linux/failure_text.h"

#include <sys/vfs.h>

#include <cerrno>
#include <cstring>

namespace {

// The file system holding folder, by name; none when it cannot be told.
const char* FileSystemName(const std::string& folder) {
  struct statfs figures;
  if (statfs(folder.c_str(), &figures) != 0) return nullptr;
  return FileSystemNameOf(static_cast<unsigned long>(figures.f_type));
}

}  // namespace

const char* FileSystemNameOf(unsigned long magic) {
  switch (magic) {
    case 0x9123683EUL:
      return "btrfs";
    case 0x01021994UL:
      return "tmpfs";
    case 0x65735546UL:
      return "a FUSE file system";
    case 0x6969UL:
      return "NFS";
    case 0xEF53UL:
      return "ext4";
    case 0x58465342UL:
      return "XFS";
    case 0x794C7630UL:
      return "overlayfs";
    case 0xF2F52010UL:
      return "F2FS";
    case 0x4D44UL:
      return "FAT";
    case 0x2011BAB0UL:
      return "exFAT";
    case 0x7366746EUL:
      return "NTFS (ntfs3)";
    default:
      return nullptr;
  }
}

std::string SystemErrorText(const std::string& path, int error) {
  return path + ": " + std::strerror(error);
}

std::string MissingDriveText(char letter, const std::string& mappedPath) {
  const std::string variable = std::string("DISKOPT_DRIVE_") + letter;
  if (mappedPath.empty()) {
    return std::string("drive ") + letter + ": is not mapped: set " + variable +
           " to an NTFS image, a block device or a folder";
  }
  return variable + "=" + mappedPath +
         " names no NTFS image, block device or folder (it does not exist or is of another "
         "kind)";
}

std::string MissingArgumentText(const std::string& path, int error) {
  if (error != 0) return SystemErrorText(path, error);
  return path + ": not an NTFS image, a block device or a folder";
}

std::string NtfsMountFailureText(const std::string& image, int error) {
  // libntfs-3g says EINVAL (or EIO) of anything that is not a sound NTFS
  // boot sector and volume: an ext4 image, a zero-filled file, a damaged one.
  if (error == EINVAL || error == EIO || error == 0) return image + ": not an NTFS volume";
  if (error == EFBIG) {
    return image + ": its boot sector claims more than 4294967295 clusters, more than NTFS holds";
  }
  return SystemErrorText(image, error);
}

std::string HostFreeSpaceFailureText(const std::string& folder, int error) {
  if (error == EPERM || error == EACCES) {
    return folder +
           ": reading the free space of a folder's file system needs root (CAP_SYS_ADMIN): run "
           "diskopt as root";
  }
  const char* name = FileSystemName(folder);
  const std::string system = name != nullptr ? name : "this file system";
  if (error == EOPNOTSUPP || error == ENOTTY || error == EINVAL || error == 0) {
    return folder + ": " + system +
           " has no GETFSMAP: folders on ext4, XFS and btrfs are supported";
  }
  return SystemErrorText(folder, error);
}
