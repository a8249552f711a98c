#include "platform/linux/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/linux/host_fiemap.h"

THostFileHandle::THostFileHandle(int fd) : fd_(fd) {}

THostFileHandle::~THostFileHandle() { close(fd_); }

TNtStatus THostFileHandle::FsControl(uint32_t code, const void* input, uint32_t inputLength,
                                     void* output, uint32_t outputLength, TIoStatusBlock* io) {
  switch (code) {
    case kFsctlGetRetrievalPointers:
      if (!runsRead_) {
        runsAnswered_ = HostStreamRuns(fd_, &runs_);
        runsRead_ = true;
      }
      if (!runsAnswered_) return Complete(io, kStatusInvalidDeviceRequest);
      return RetrievalPointersReply(runs_, input, inputLength, output, outputLength, io);
    case kFsctlGetVolumeBitmap:
      return Complete(io, kStatusInvalidParameter);
    default:
      return Complete(io, kStatusInvalidDeviceRequest);
  }
}

bool THostFileHandle::FileSize(uint32_t* low, uint32_t* high) {
  struct stat status;
  if (fstat(fd_, &status) != 0) {
    *low = 0xFFFFFFFFu;
    *high = 0;
    return false;
  }
  const uint64_t size = S_ISDIR(status.st_mode) ? 0 : static_cast<uint64_t>(status.st_size);
  *low = static_cast<uint32_t>(size);
  *high = static_cast<uint32_t>(size >> 32);
  return true;
}

THostFileHandle* OpenHostFile(const std::string& path, bool backupSemantics) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) return nullptr;
  const bool folder = S_ISDIR(status.st_mode);
  if (folder ? !backupSemantics : !S_ISREG(status.st_mode)) return nullptr;
  // The path may have been replaced since the stat: O_DIRECTORY, O_NONBLOCK
  // and O_NOCTTY keep a swapped-in pipe or terminal from blocking or
  // becoming ours, and the type is checked again on what was opened.
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (folder ? O_DIRECTORY : 0);
  const int fd = open(path.c_str(), flags);
  if (fd < 0) return nullptr;
  if (fstat(fd, &status) != 0 || (folder ? !S_ISDIR(status.st_mode) : !S_ISREG(status.st_mode))) {
    close(fd);
    return nullptr;
  }
  return new THostFileHandle(fd);
}

FILE* OpenHostLog(const std::string& path) {
  // O_NONBLOCK: a pipe put at the name must not stall the writer; it is
  // refused below like any other non-regular file.
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  const int fd = open(path.c_str(), flags, 0644);
  if (fd < 0) return nullptr;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return nullptr;
  }
  // Writes to a regular file never block; clearing the flag keeps the
  // stream's behaviour ordinary all the same.
  const int statusFlags = fcntl(fd, F_GETFL);
  if (statusFlags < 0 || fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  FILE* log = fdopen(fd, "wb");
  if (log == nullptr) close(fd);
  return log;
}

FILE* CreateHostFileBeside(const std::string& finalPath, std::string* newPath) {
  // Names differ by process and by call; a name that exists (left by a run
  // that died, or put there by someone else) is passed over.
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name =
        finalPath + ".new-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
    const int fd = open(name.c_str(), flags, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
      close(fd);
      unlink(name.c_str());
      return nullptr;
    }
    *newPath = name;
    return file;
  }
  return nullptr;
}
