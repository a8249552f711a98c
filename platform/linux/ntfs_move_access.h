// Whether an NTFS image file or block device may be written by moves, and
// the descriptor they write it through: opened for reading and writing,
// refused while anything else could be using the volume (a kernel or FUSE
// mount of it, a loop device over it, another program holding it open for
// writing, another mount for moves), and locked so that no second one is
// made, in this process or another, until it is closed.
#pragma once

#include <string>

// The descriptor (O_RDWR, O_CLOEXEC; for a block device O_EXCL too, which
// the kernel refuses while it is mounted), holding an exclusive flock for
// as long as it stays open; the caller owns it. -1 when refused: *reason
// then says why in words, with the cure.
int OpenImageForMoves(const std::string& imagePath, std::string* reason);

// Pure helpers of the checks, tested on their own.

// The mount point and source of the mountinfo line (proc(5)) line, into
// *mountPoint and *source, with octal escapes such as \040 undone; false
// for a line that is not a mount.
bool MountInfoEntry(const std::string& line, std::string* mountPoint, std::string* source);

// Whether the flags line of a /proc/<pid>/fdinfo/<fd> text opens its file
// for writing.
bool FdInfoWrites(const std::string& fdInfo);
