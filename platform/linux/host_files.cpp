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
      device_(static_cast<uint64_t>(status.st_dev)),
      inode_(static_cast<uint64_t>(status.st_ino)) {}

bool THostFileHandle::Identity(TFileIdentity* identity) {
  *identity = TFileIdentity{device_, inode_};
  return true;
}

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

namespace {

// Whether an item of this type opens: a regular file, or a folder with
// backup semantics.
bool Opens(mode_t mode, bool backupSemantics) {
  return S_ISREG(mode) || (backupSemantics && S_ISDIR(mode));
}

// O_NONBLOCK and O_NOCTTY keep a pipe or terminal put in the item's place
// since it was looked at from blocking the open or becoming ours.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

// Opens what the listing found to be a regular file or a folder, or a link
// to one (followLink): a link put in the place of the first is not followed
// (O_NOFOLLOW fails with ELOOP), and whatever else is there by now is
// refused once it is seen.
THostFileHandle* OpenListedPlain(const THostPath& path, bool backupSemantics, bool followLink) {
  const int fd = OpenHostPath(path, kReadFlags | (followLink ? 0 : O_NOFOLLOW));
  if (fd < 0) return nullptr;
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !Opens(opened.st_mode, backupSemantics)) {
    close(fd);
    errno = EACCES;
    return nullptr;
  }
  return new THostFileHandle(fd, opened);
}

}  // namespace

THostFileHandle* OpenHostFile(const THostPath& path, bool backupSemantics, THostEntryKind listed) {
  if (listed != THostEntryKind::kOther) {
    return OpenListedPlain(path, backupSemantics, listed == THostEntryKind::kLinkToPlain);
  }
  // O_PATH names the item without opening it, so its type is known before a
  // device, pipe or terminal could be acted on by a real open.
  const int probe = OpenHostPath(path, O_PATH | O_CLOEXEC);
  if (probe < 0) return nullptr;
  struct stat named;
  const bool known = fstat(probe, &named) == 0;
  close(probe);
  if (!known) return nullptr;
  const bool folder = S_ISDIR(named.st_mode);
  if (!Opens(named.st_mode, backupSemantics)) {
    errno = EACCES;
    return nullptr;
  }
  // The path may have been replaced since: what was opened must be what was
  // named.
  const int fd = OpenHostPath(path, kReadFlags | (folder ? O_DIRECTORY : 0));
  if (fd < 0) return nullptr;
  struct stat opened;
  if (fstat(fd, &opened) != 0 || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
    close(fd);
    return nullptr;
  }
  return new THostFileHandle(fd, opened);
}
