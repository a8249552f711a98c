// The words the Linux services give for a failed call (LastErrorText): the
// system's own error text with the path it concerns, and the likely cure
// where one is known.
#pragma once

#include <string>

// The few file systems users meet whose names a cure or a refusal needs, by
// statfs's f_type (the magic numbers of the kernel's magic.h): "ext4" (also
// ext2 and ext3, which share its number), "XFS", "btrfs", "tmpfs", ...; none
// for others. Static text.
const char* FileSystemNameOf(unsigned long magic);

// "<path>: <strerror(error)>".
std::string SystemErrorText(const std::string& path, int error);

// A drive letter that names nothing: mappedPath is what DISKOPT_DRIVE_<L>
// gave (empty when the letter is not mapped at all).
std::string MissingDriveText(char letter, const std::string& mappedPath);

// A path the command line named as a drive that names nothing usable; error
// is stat's errno for it, 0 when it is there but of another kind. The
// user set no variable for it, so none is named.
std::string MissingArgumentText(const std::string& path, int error);

// An image or block device that would not mount as NTFS; error is the
// library's errno.
std::string NtfsMountFailureText(const std::string& image, int error);

// The free space of the file system holding folder could not be read with
// GETFSMAP; error is the ioctl's errno (or 0 when it gave no records).
std::string HostFreeSpaceFailureText(const std::string& folder, int error);
