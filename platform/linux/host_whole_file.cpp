#include "platform/linux/host_whole_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/linux/failure_text.h"
#include "platform/linux/host_fiemap.h"
#include "platform/linux/host_whole_file_ops.h"

namespace {

// The identities of the swap files the kernel uses now.
TFileIdentities SwapFileIdentities() {
  std::ifstream file("/proc/swaps");
  std::stringstream text;
  text << file.rdbuf();
  TFileIdentities identities;
  for (const std::string& path : SwapFilePaths(text.str())) {
    struct stat status;
    if (stat(path.c_str(), &status) == 0) identities.emplace(status.st_dev, status.st_ino);
  }
  return identities;
}

// A call on the file failed: error's words about what into *failure.
TWholeFileResult Failed(const std::string& what, int error, std::string* failure) {
  *failure = SystemErrorText(what, error);
  return TWholeFileResult{TWholeFileOutcome::kFailed, TWholeFileReason::kSystemError, 0, 0};
}

TWholeFileResult Left(TWholeFileReason reason, int64_t piecesBefore = 0) {
  return TWholeFileResult{TWholeFileOutcome::kLeft, reason, piecesBefore, 0};
}

// Closes a descriptor when it goes out of scope.
class TDescriptor {
 public:
  explicit TDescriptor(int fd) : fd_(fd) {}
  ~TDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  int Get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

THostWholeFileFolder::THostWholeFileFolder(int root, dev_t device, TWholeFileFolder folder,
                                           TWholeFileOptions options, TFileIdentities swapFiles)
    : root_(root),
      device_(device),
      folder_(folder),
      options_(options),
      user_(geteuid()),
      swapFiles_(std::move(swapFiles)) {}

THostWholeFileFolder* THostWholeFileFolder::Open(int root, const std::string& folderPath,
                                                 const TWholeFileOptions& options,
                                                 TWholeFileFolder* folder, std::string* refusal) {
  struct statfs figures;
  struct stat status;
  if (root < 0 || fstatfs(root, &figures) != 0 || fstat(root, &status) != 0) {
    *refusal = SystemErrorText(folderPath, root < 0 ? EBADF : errno);
    return nullptr;
  }
  const unsigned long magic = static_cast<unsigned long>(figures.f_type);
  if (!WholeFileSystemOf(magic, &folder->system)) {
    const char* name = FileSystemNameOf(magic);
    std::ostringstream text;
    if (name != nullptr) {
      text << name;
    } else {
      text << "a file system of type 0x" << std::hex << magic;
    }
    *refusal =
        folderPath + " is on " + text.str() + ": files are made whole on ext4, XFS and btrfs only";
    return nullptr;
  }
  folder->ownFilesOnly = geteuid() != 0;
  return new THostWholeFileFolder(root, status.st_dev, *folder, options, SwapFileIdentities());
}

TWholeFileResult THostWholeFileFolder::MakeWhole(const THostPath& path,
                                                 std::string* failure) const {
  // Looked at through a descriptor that cannot write, since opening an
  // immutable or append-only file for writing fails without saying why.
  const TDescriptor look(OpenHostPath(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (look.Get() < 0) return Failed(path.below, errno, failure);
  struct stat status;
  if (fstat(look.Get(), &status) != 0) return Failed(path.below, errno, failure);
  if (!S_ISREG(status.st_mode)) return Left(TWholeFileReason::kNotRegular);
  if (status.st_dev != device_) return Left(TWholeFileReason::kOtherFileSystem);
  if (folder_.ownFilesOnly && status.st_uid != user_) return Left(TWholeFileReason::kNotOwner);
  if (swapFiles_.count({status.st_dev, status.st_ino}) != 0)
    return Left(TWholeFileReason::kSwapFile);
  int attributes = 0;
  if (ioctl(look.Get(), FS_IOC_GETFLAGS, &attributes) == 0) {
    const TWholeFileReason reason = ReasonOfAttributes(attributes);
    if (reason != TWholeFileReason::kNone) return Left(reason);
  }
  const TDescriptor file(OpenHostPath(path, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.Get() < 0) {
    const int error = errno;
    // A swap file the kernel took since the open, or a leased file.
    if (error == ETXTBSY || error == EWOULDBLOCK) return Left(TWholeFileReason::kSwapFile);
    return Failed(path.below, error, failure);
  }
  struct stat opened;
  if (fstat(file.Get(), &opened) != 0 || opened.st_dev != status.st_dev ||
      opened.st_ino != status.st_ino) {
    return Left(TWholeFileReason::kNotRegular);  // replaced between the two opens
  }
  std::vector<TFiemapExtent> extents;
  if (!ReadFiemap(file.Get(), &extents)) return Failed("FS_IOC_FIEMAP", errno, failure);
  const int64_t pieces = PiecesOfExtents(extents);
  if (pieces <= 1) return Left(TWholeFileReason::kAlreadyWhole, pieces);
  if (!options_.includeShared && HasSharedExtents(extents))
    return Left(TWholeFileReason::kSharedExtents, pieces);
  struct statvfs volume;
  if (fstatvfs(file.Get(), &volume) != 0 || volume.f_frsize == 0)
    return Failed(path.below, errno, failure);
  const uint64_t size = static_cast<uint64_t>(opened.st_size);
  switch (folder_.system) {
    case TWholeFileSystem::kExt4:
      return SwapExt4Blocks(file.Get(), root_, size, volume.f_frsize, pieces, failure);
    case TWholeFileSystem::kXfs:
      if (HasHoles(extents, size, volume.f_frsize))
        return Left(TWholeFileReason::kHasHoles, pieces);
      return CommitXfsCopy(file.Get(), root_, size, pieces, failure);
    case TWholeFileSystem::kBtrfs:
      return DefragmentBtrfsRange(file.Get(), pieces, failure);
  }
  return Left(TWholeFileReason::kNotSupported, pieces);
}
