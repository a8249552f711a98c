#include "platform/linux/host_replacement_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Tells apart the new files of one process; other processes differ by
// their process ID. A name taken anyway (left by a crash, or planted) is
// skipped: O_EXCL refuses it.
std::atomic<unsigned> newFileCounter{0};

constexpr int kNewNameAttempts = 100;

// What is at name in the folder that a file may not replace: empty when
// there is nothing yet, a regular file or a link (the link itself is
// replaced). A folder, device, pipe or socket at a log's name is a mistake
// to report, not to replace; so is a name that cannot be looked at.
std::string Unreplaceable(int folderFd, const std::string& name) {
  struct stat status;
  if (fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? std::string() : std::strerror(errno);
  }
  if (S_ISREG(status.st_mode) || S_ISLNK(status.st_mode)) return std::string();
  const char* kind = S_ISDIR(status.st_mode)    ? "a folder"
                     : S_ISFIFO(status.st_mode) ? "a named pipe (FIFO)"
                     : S_ISSOCK(status.st_mode) ? "a socket"
                                                : "a device";
  return std::string(kind) + " is there, which is never replaced by a file";
}

}  // namespace

THostReplacementFile::THostReplacementFile(FILE* stream, int folderFd, std::string newName,
                                           std::string name)
    : TReplacementFile(stream),
      folderFd_(folderFd),
      newName_(std::move(newName)),
      name_(std::move(name)) {}

THostReplacementFile::~THostReplacementFile() {
  Discard();
  close(folderFd_);
}

std::unique_ptr<THostReplacementFile> THostReplacementFile::Create(const THostPath& path,
                                                                   std::string* reason) {
  THostPath folder;
  std::string name;
  SplitHostPath(path, &folder, &name);
  if (name.empty() || name == "." || name == "..") {
    *reason = "the name is a folder's, not a file's";
    return nullptr;
  }
  const int folderFd = OpenHostPath(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) {
    const int error = errno;
    *reason = error == ENOENT ? "its folder does not exist" : std::strerror(error);
    return nullptr;
  }
  const std::string taken = Unreplaceable(folderFd, name);
  if (!taken.empty()) {
    close(folderFd);
    *reason = taken;
    return nullptr;
  }
  for (int attempt = 0; attempt < kNewNameAttempts; ++attempt) {
    const std::string newName = "." + name + "." + std::to_string(getpid()) + "-" +
                                std::to_string(newFileCounter.fetch_add(1)) + ".new";
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    const int fd = openat(folderFd, newName.c_str(), flags, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *reason = std::strerror(errno);
      break;
    }
    FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
      *reason = std::strerror(errno);
      close(fd);
      unlinkat(folderFd, newName.c_str(), 0);
      break;
    }
    return std::unique_ptr<THostReplacementFile>(
        new THostReplacementFile(stream, folderFd, newName, name));
  }
  if (reason->empty()) *reason = "no new file could be named beside it";
  close(folderFd);
  return nullptr;
}

bool THostReplacementFile::Rename() {
  // Something put at the name meanwhile is not replaced either.
  const std::string taken = Unreplaceable(folderFd_, name_);
  if (!taken.empty()) {
    SetFailure(taken);
    return false;
  }
  if (renameat(folderFd_, newName_.c_str(), folderFd_, name_.c_str()) == 0) return true;
  SetErrno(errno);
  return false;
}

void THostReplacementFile::RemoveNew() { unlinkat(folderFd_, newName_.c_str(), 0); }
