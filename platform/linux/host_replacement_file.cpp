#include "platform/linux/host_replacement_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace {

// Tells apart the new files of one process; other processes differ by
// their process ID. A name taken anyway (left by a crash, or planted) is
// skipped: O_EXCL refuses it.
std::atomic<unsigned> newFileCounter{0};

constexpr int kNewNameAttempts = 100;

// Whether a file may be put at name in the folder: nothing there yet, or a
// regular file or a link (the link itself is replaced). A folder, device,
// pipe or socket at a log's name is a mistake to report, not to replace.
bool MayReplace(int folderFd, const std::string& name) {
  struct stat status;
  if (fstatat(folderFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode) || S_ISLNK(status.st_mode);
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

std::unique_ptr<THostReplacementFile> THostReplacementFile::Create(const THostPath& path) {
  THostPath folder;
  std::string name;
  SplitHostPath(path, &folder, &name);
  if (name.empty() || name == "." || name == "..") return nullptr;
  const int folderFd = OpenHostPath(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return nullptr;
  if (!MayReplace(folderFd, name)) {
    close(folderFd);
    return nullptr;
  }
  for (int attempt = 0; attempt < kNewNameAttempts; ++attempt) {
    const std::string newName = "." + name + "." + std::to_string(getpid()) + "-" +
                                std::to_string(newFileCounter.fetch_add(1)) + ".new";
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    const int fd = openat(folderFd, newName.c_str(), flags, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      break;
    }
    FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
      close(fd);
      unlinkat(folderFd, newName.c_str(), 0);
      break;
    }
    return std::unique_ptr<THostReplacementFile>(
        new THostReplacementFile(stream, folderFd, newName, name));
  }
  close(folderFd);
  return nullptr;
}

bool THostReplacementFile::PutInPlace() {
  return MayReplace(folderFd_, name_) &&
         renameat(folderFd_, newName_.c_str(), folderFd_, name_.c_str()) == 0;
}

void THostReplacementFile::RemoveNew() { unlinkat(folderFd_, newName_.c_str(), 0); }
