#include "platform/linux/host_whole_file_ops.h"

#include <fcntl.h>
#include <linux/btrfs.h>
#include <linux/types.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xfs/xfs.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/linux/failure_text.h"
#include "platform/linux/host_fiemap.h"
#include "platform/linux/whole_file_rules.h"

namespace {

// ext4's move of extents between two files, as the kernel's ext4 interface
// defines it (Debian 12's headers lack it): blocks [orig_start, +len) of the
// file the call is made on exchange with the donor's from donor_start;
// moved_len says how many did.
struct TExt4MoveExtent {
  __u32 reserved;  // 0
  __u32 donor_fd;
  __u64 orig_start;  // blocks
  __u64 donor_start;
  __u64 len;
  __u64 moved_len;
};
constexpr unsigned long kExt4MoveExtents = _IOWR('f', 15, TExt4MoveExtent);

// XFS's committed exchange of file ranges (Linux 6.13 and later), as the
// kernel's xfs_fs.h defines it: START_COMMIT, on the file, samples what
// tells whether it changes; COMMIT_RANGE exchanges file1's range with the
// file's only if it has not changed since.
struct TXfsCommitRange {
  __s32 file1_fd;
  __u32 pad;  // 0
  __u64 file1_offset;
  __u64 file2_offset;
  __u64 length;
  __u64 flags;
  __u64 file2_freshness[6];  // the kernel's, opaque
};
constexpr unsigned long kXfsStartCommit = _IOR('X', 130, TXfsCommitRange);
constexpr unsigned long kXfsCommitRange = _IOW('X', 131, TXfsCommitRange);
// Exchange to the ends of both files, and the sizes with them.
constexpr __u64 kXfsExchangeToEof = 1ULL << 0;

// Bytes copied per read and write of the XFS copy.
constexpr size_t kCopyBytes = 1 << 20;

// btrfs's largest extent: the threshold below which its defragmentation
// rewrites an extent, so every extent is considered.
constexpr __u32 kBtrfsLargestExtent = 128U << 20;

// The result of a call that failed with error: a reason the user can act
// on, or a system error with the call's name in *failure.
TWholeFileResult FailedCall(const char* call, int error, int64_t piecesBefore,
                            std::string* failure) {
  TWholeFileResult result;
  result.piecesBefore = piecesBefore;
  result.reason = ReasonOfError(error);
  result.outcome = result.reason == TWholeFileReason::kSystemError ? TWholeFileOutcome::kFailed
                                                                   : TWholeFileOutcome::kLeft;
  *failure = SystemErrorText(call, error);
  return result;
}

// Pieces of the file open as fd as FIEMAP tells now (its data placed
// first); -1 when it cannot be read.
int64_t PiecesNow(int fd) {
  std::vector<TFiemapExtent> extents;
  if (!ReadFiemap(fd, &extents)) return -1;
  return PiecesOfExtents(extents);
}

// A temporary file in folder on its file system, preallocated for
// sizeBytes: its descriptor, or -1 with the result in *result when it
// cannot be made or its space is in no fewer pieces than piecesBefore.
int PreallocatedTemporary(int folder, uint64_t sizeBytes, int64_t piecesBefore,
                          TWholeFileResult* result, std::string* failure) {
  const int temporary = openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (temporary < 0) {
    *result = FailedCall("open(O_TMPFILE)", errno, piecesBefore, failure);
    return -1;
  }
  if (fallocate(temporary, 0, 0, static_cast<off_t>(sizeBytes)) != 0) {
    *result = FailedCall("fallocate", errno, piecesBefore, failure);
    close(temporary);
    return -1;
  }
  const int64_t offered = PiecesNow(temporary);
  if (offered < 0) {
    *result = FailedCall("FS_IOC_FIEMAP", errno, piecesBefore, failure);
    close(temporary);
    return -1;
  }
  if (offered >= piecesBefore) {
    *result = TWholeFileResult{TWholeFileOutcome::kLeft, TWholeFileReason::kNoFewerPieces,
                               piecesBefore, offered};
    close(temporary);
    return -1;
  }
  return temporary;
}

// Copies sizeBytes from the start of from to to; 0, or the errno of the
// read or write that failed (EIO for one that ended early).
int CopyBytes(int from, int to, uint64_t sizeBytes) {
  std::vector<char> buffer(kCopyBytes);
  for (uint64_t at = 0; at < sizeBytes;) {
    const ssize_t got = pread(from, buffer.data(), buffer.size(), static_cast<off_t>(at));
    if (got <= 0) return got == 0 ? EIO : errno;
    for (ssize_t put = 0; put < got;) {
      const ssize_t wrote = pwrite(to, buffer.data() + put, static_cast<size_t>(got - put),
                                   static_cast<off_t>(at) + put);
      if (wrote <= 0) return wrote == 0 ? EIO : errno;
      put += wrote;
    }
    at += static_cast<uint64_t>(got);
  }
  return 0;
}

// Exchanges blocks [0, blocks) of fd with donor's by EXT4_IOC_MOVE_EXT, in
// as many calls as the kernel needs (it may move fewer than asked); 0, or
// the errno of the call that failed.
int MoveExt4Blocks(int fd, int donor, uint64_t blocks) {
  uint64_t moved = 0;
  while (moved < blocks) {
    TExt4MoveExtent request{0, static_cast<__u32>(donor), moved, moved, blocks - moved, 0};
    if (ioctl(fd, kExt4MoveExtents, &request) != 0) return errno;
    // A call that moves nothing would be made forever.
    if (request.moved_len == 0) return EIO;
    moved += request.moved_len;
  }
  return 0;
}

// The result once the operation is done: pieces read again.
TWholeFileResult Checked(int fd, int64_t piecesBefore, std::string* failure) {
  const int64_t after = PiecesNow(fd);
  if (after < 0) return FailedCall("FS_IOC_FIEMAP", errno, piecesBefore, failure);
  if (after < piecesBefore)
    return TWholeFileResult{TWholeFileOutcome::kFewerPieces, TWholeFileReason::kNone, piecesBefore,
                            after};
  return TWholeFileResult{TWholeFileOutcome::kLeft, TWholeFileReason::kNoFewerPieces, piecesBefore,
                          after};
}

}  // namespace

TWholeFileResult SwapExt4Blocks(int fd, int folder, uint64_t sizeBytes, uint64_t blockBytes,
                                int64_t piecesBefore, std::string* failure) {
  TWholeFileResult result;
  const int donor = PreallocatedTemporary(folder, sizeBytes, piecesBefore, &result, failure);
  if (donor < 0) return result;
  const uint64_t blocks = (sizeBytes + blockBytes - 1) / blockBytes;
  const int error = MoveExt4Blocks(fd, donor, blocks);
  if (error != 0) {
    // Blocks moved before the failure hold the file's data as well as the
    // old ones did: the file is whole, in some other set of pieces.
    result = FailedCall("EXT4_IOC_MOVE_EXT", error, piecesBefore, failure);
  } else {
    result = Checked(fd, piecesBefore, failure);
    // The old blocks are the donor's now: moved back, they hold the file's
    // data as it is now, in the layout it had.
    if (result.outcome == TWholeFileOutcome::kLeft) MoveExt4Blocks(fd, donor, blocks);
  }
  close(donor);
  return result;
}

TWholeFileResult CommitXfsCopy(int fd, int folder, uint64_t sizeBytes, int64_t piecesBefore,
                               std::string* failure) {
  // What tells whether the file changes during the copy, sampled before
  // it: for the committed exchange, and for the older exchange of extents
  // (its change times, by bulkstat, which only the superuser may ask).
  TXfsCommitRange commit;
  std::memset(&commit, 0, sizeof commit);
  const bool canCommit = ioctl(fd, kXfsStartCommit, &commit) == 0;
  struct stat status;
  if (fstat(fd, &status) != 0) return FailedCall("fstat", errno, piecesBefore, failure);
  xfs_swapext_t swap;
  std::memset(&swap, 0, sizeof swap);
  __u64 inode = status.st_ino;
  __s32 stated = 0;
  struct xfs_fsop_bulkreq bulkstat {
    &inode, 1, &swap.sx_stat, &stated
  };
  const bool canSwap = ioctl(fd, XFS_IOC_FSBULKSTAT_SINGLE, &bulkstat) == 0;
  const int bulkstatError = errno;
  if (!canCommit && !canSwap) {
    TWholeFileResult result =
        FailedCall("XFS_IOC_FSBULKSTAT_SINGLE", bulkstatError, piecesBefore, failure);
    // Not the superuser, on a kernel without the committed exchange.
    if (bulkstatError == EPERM)
      result = {TWholeFileOutcome::kLeft, TWholeFileReason::kNotSupported, piecesBefore, 0};
    return result;
  }
  TWholeFileResult result;
  const int copy = PreallocatedTemporary(folder, sizeBytes, piecesBefore, &result, failure);
  if (copy < 0) return result;
  const int copyError = CopyBytes(fd, copy, sizeBytes);
  if (copyError != 0) {
    close(copy);
    return FailedCall("copying", copyError, piecesBefore, failure);
  }
  int error = EOPNOTSUPP;
  const char* call = "XFS_IOC_COMMIT_RANGE";
  if (canCommit) {
    commit.file1_fd = copy;
    commit.length = sizeBytes;
    commit.flags = kXfsExchangeToEof;
    error = ioctl(fd, kXfsCommitRange, &commit) == 0 ? 0 : errno;
  }
  // Without the file system's exchange feature the commit is not
  // supported even where its start is.
  if (canSwap && (error == EOPNOTSUPP || error == ENOTTY)) {
    swap.sx_version = XFS_SX_VERSION;
    swap.sx_fdtarget = fd;
    swap.sx_fdtmp = copy;
    swap.sx_offset = 0;
    swap.sx_length = static_cast<xfs_off_t>(sizeBytes);
    call = "XFS_IOC_SWAPEXT";
    error = ioctl(fd, XFS_IOC_SWAPEXT, &swap) == 0 ? 0 : errno;
  }
  close(copy);
  if (error == EBUSY) {
    return TWholeFileResult{TWholeFileOutcome::kLeft, TWholeFileReason::kChangedDuringCopy,
                            piecesBefore, 0};
  }
  if (error != 0) return FailedCall(call, error, piecesBefore, failure);
  return Checked(fd, piecesBefore, failure);
}

TWholeFileResult DefragmentBtrfsRange(int fd, int64_t piecesBefore, std::string* failure) {
  btrfs_ioctl_defrag_range_args range;
  std::memset(&range, 0, sizeof range);
  range.start = 0;
  range.len = static_cast<__u64>(-1);
  range.flags = BTRFS_DEFRAG_RANGE_START_IO;
  range.extent_thresh = kBtrfsLargestExtent;
  if (ioctl(fd, BTRFS_IOC_DEFRAG_RANGE, &range) != 0) {
    return FailedCall("BTRFS_IOC_DEFRAG_RANGE", errno, piecesBefore, failure);
  }
  // START_IO starts the writing; FIEMAP's own sync waits for it.
  return Checked(fd, piecesBefore, failure);
}
