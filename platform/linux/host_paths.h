// Host paths as the Linux services open them: below the folder a drive
// letter is mapped to, which no open may leave whatever the path says (a
// "..", a symbolic link out of the folder, a name the stages composed from a
// hostile listing), or a path of its own when no drive letter is named.
#pragma once

#include <sys/types.h>

#include <string>

struct THostPath {
  // The folder a drive letter is mapped to; empty for a path of its own
  // (absolute, or relative to the working directory).
  std::string root;
  // Linux names separated by '/': below root ("" is root itself), or the
  // whole path when root is empty.
  std::string below;
};

// open(2) flags and mode for path, resolved by openat2 below the root's
// descriptor with RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS (a path of its
// own with RESOLVE_NO_MAGICLINKS only). Symbolic links are followed while
// they stay below the root. Returns the descriptor, or -1 with errno set:
// where openat2 is missing (ENOSYS, kernels before 5.6) every open fails,
// since a plain open could leave the root.
int OpenHostPath(const THostPath& path, int flags, mode_t mode = 0);

// The folder holding path's last name and that name: "a/b/c" gives "a/b"
// and "c", "c" gives "" and "c" below a root (or "." without one), "/c"
// gives "/" and "c". The name is empty when path ends with '/'.
void SplitHostPath(const THostPath& path, THostPath* folder, std::string* name);
