#include "platform/linux/host_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/linux/host_fiemap.h"

THostFileHandle::THostFileHandle(int fd, const struct stat& status)
    : fd_(fd),
      sizeBytes_(S_ISDIR(status.st_mode) ? 0 : static_cast<uint64_t>(status.st_size)),
      device_(static_cast<uint64_t>(status.st_dev)) {}

THostFileHandle::~THostFileHandle() { close(fd_); }

TNtStatus THostFileHandle::FsControl(uint32_t code, const void* input, uint32_t inputLength,
                                     void* output, uint32_t outputLength, TIoStatusBlock* io) {
  switch (code) {
    case kFsctlGetRetrievalPointers:
      if (!runsRead_) {
        runsAnswered_ = HostStreamRuns(fd_, sizeBytes_, device_, &runs_);
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
  *low = static_cast<uint32_t>(sizeBytes_);
  *high = static_cast<uint32_t>(sizeBytes_ >> 32);
  return true;
}

THostFileHandle* OpenHostFile(const THostPath& path, bool backupSemantics) {
  // O_PATH names the item without opening it, so its type is known before a
  // device, pipe or terminal could be acted on by a real open.
  const int probe = OpenHostPath(path, O_PATH | O_CLOEXEC);
  if (probe < 0) return nullptr;
  struct stat named;
  const bool known = fstat(probe, &named) == 0;
  close(probe);
  if (!known) return nullptr;
  const bool folder = S_ISDIR(named.st_mode);
  if (folder ? !backupSemantics : !S_ISREG(named.st_mode)) return nullptr;
  // The path may have been replaced since: O_DIRECTORY, O_NONBLOCK and
  // O_NOCTTY keep a swapped-in pipe or terminal from blocking or becoming
  // ours, and what was opened must be what was named.
  const int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (folder ? O_DIRECTORY : 0);
  const int fd = OpenHostPath(path, flags);
  if (fd < 0) return nullptr;
  struct stat opened;
  if (fstat(fd, &opened) != 0 || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
    close(fd);
    return nullptr;
  }
  return new THostFileHandle(fd, opened);
}
