#include "platform/linux/host_paths.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <string>

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
  if (path.root == AT_FDCWD) return OpenAt2(AT_FDCWD, below, flags, mode, RESOLVE_NO_MAGICLINKS);
  return OpenAt2(path.root, below, flags, mode, RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
}

void SplitHostPath(const THostPath& path, THostPath* folder, std::string* name) {
  std::string_view folderView;
  std::string_view nameView;
  SplitHostPathViews(path, &folderView, &nameView);
  *name = std::string(nameView);
  *folder = THostPath{path.root, std::string(folderView)};
}

void SplitHostPathViews(const THostPath& path, std::string_view* folder, std::string_view* name) {
  const std::string_view below = path.below;
  const size_t slash = below.rfind('/');
  if (slash == std::string_view::npos) {
    *folder = path.root == AT_FDCWD ? "." : "";
    *name = below;
    return;
  }
  *folder = slash == 0 ? std::string_view("/") : below.substr(0, slash);
  *name = below.substr(slash + 1);
}

std::string AbsolutePathText(const std::string& path) {
  std::string joined = path;
  if (path.empty() || path[0] != '/') {
    char folder[4096];
    joined = (getcwd(folder, sizeof folder) != nullptr ? std::string(folder) : std::string()) +
             "/" + path;
  }
  std::string text;
  for (size_t at = 0; at < joined.size();) {
    size_t end = joined.find('/', at);
    if (end == std::string::npos) end = joined.size();
    const std::string_view name(joined.data() + at, end - at);
    if (!name.empty() && name != ".") text.append("/").append(name);
    at = end + 1;
  }
  return text.empty() ? "/" : text;
}
