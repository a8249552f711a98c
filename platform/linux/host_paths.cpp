#include "platform/linux/host_paths.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace {

// glibc has no wrapper for openat2.
int OpenAt2(int folderFd, const char* path, int flags, mode_t mode, uint64_t resolve) {
  struct open_how how = {};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
  how.resolve = resolve;
  return static_cast<int>(syscall(SYS_openat2, folderFd, path, &how, sizeof(how)));
}

}  // namespace

int OpenHostPath(const THostPath& path, int flags, mode_t mode) {
  const char* below = path.below.empty() ? "." : path.below.c_str();
  if (path.root.empty()) return OpenAt2(AT_FDCWD, below, flags, mode, RESOLVE_NO_MAGICLINKS);
  // The root itself is the user's choice and may be reached through links.
  const int rootFd = open(path.root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (rootFd < 0) return -1;
  const int fd = OpenAt2(rootFd, below, flags, mode, RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
  const int error = errno;
  close(rootFd);
  errno = error;
  return fd;
}

void SplitHostPath(const THostPath& path, THostPath* folder, std::string* name) {
  const size_t slash = path.below.rfind('/');
  folder->root = path.root;
  if (slash == std::string::npos) {
    folder->below = path.root.empty() ? "." : "";
    *name = path.below;
    return;
  }
  folder->below = slash == 0 ? std::string("/") : path.below.substr(0, slash);
  *name = path.below.substr(slash + 1);
}
