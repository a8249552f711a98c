// Host paths as the Linux services open them: below the folder a drive
// letter is mapped to, which no open may leave whatever the path says (a
// "..", a symbolic link out of the folder, a name the stages composed from a
// hostile listing), or a path of its own when no drive letter is named.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

#include <string>
#include <string_view>

struct THostPath {
  // The folder a drive letter is mapped to, as an O_PATH descriptor kept
  // open by its owner (the services) for as long as the path is used; or
  // AT_FDCWD for a path of its own (absolute, or relative to the working
  // directory). -1 (a folder that could not be opened) fails every open.
  int root;
  // Linux names separated by '/': below root ("" is root itself), or the
  // whole path for a path of its own.
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
// and "c", "c" gives "" and "c" below a root (or "." for a path of its
// own), "/c" gives "/" and "c". The name is empty when path ends with '/'.
void SplitHostPath(const THostPath& path, THostPath* folder, std::string* name);

// The same split without copies: the views are into path.below (or into
// static text) and live as long as it does.
void SplitHostPathViews(const THostPath& path, std::string_view* folder, std::string_view* name);

// path made absolute for showing to the user, by its text alone: joined to
// the working directory when relative, with "." names and repeated or
// trailing '/' dropped ("/" stays). ".." is kept, since symbolic links make
// it mean something only the file system can say.
std::string AbsolutePathText(const std::string& path);
