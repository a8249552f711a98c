// Making one file whole on a file system that places a file's data itself
// (Linux ext4, XFS and btrfs), where no target can be chosen: which file
// system it is, and what the attempt did, as plain values that the move
// engine turns into words.
#pragma once

#include <cstdint>

// The file systems whose own atomic operation rewrites a file in fewer
// pieces while it stays in use.
enum class TWholeFileSystem {
  kExt4,   // EXT4_IOC_MOVE_EXT with a preallocated donor file
  kXfs,    // XFS_IOC_START_COMMIT/XFS_IOC_COMMIT_RANGE with a copy in a temporary file
  kBtrfs,  // BTRFS_IOC_DEFRAG_RANGE
};

// What the user asked of a run of such moves.
struct TWholeFileOptions {
  // Also files whose extents other files or snapshots share: rewriting
  // them unshares the extents, so they then take space of their own.
  bool includeShared = false;
};

// The folder opened for such moves, as its opener found it.
struct TWholeFileFolder {
  TWholeFileSystem system = TWholeFileSystem::kExt4;
  // Not run by the superuser: only the caller's own files are moved.
  bool ownFilesOnly = false;
};

enum class TWholeFileOutcome {
  kFewerPieces,  // the file now lies in fewer pieces than before
  kLeft,         // the file lies as it was, for reason
  kFailed,       // a kernel call failed unexpectedly; the file's data is whole either way
};

// Why a file was left (or what failed).
enum class TWholeFileReason {
  kNone,
  kNotRegular,         // not a regular file (any more)
  kOtherFileSystem,    // below the folder, but on another file system mounted there
  kNotOwner,           // another user's, and the run is not the superuser's
  kImmutable,          // marked immutable (chattr +i)
  kAppendOnly,         // marked append-only (chattr +a)
  kSwapFile,           // a swap file, or in use by the kernel so that it may not be written
  kSharedExtents,      // extents shared with other files or snapshots, not asked for
  kHasHoles,           // holes a copy would fill (the copying file systems only)
  kAlreadyWhole,       // in one piece already by the time it was reached
  kNoFewerPieces,      // the space the file system offered is in as many pieces or more
  kChangedDuringCopy,  // written by another program while it was copied
  kNoSpace,            // no room for a second copy of it
  kNotSupported,       // the file system or kernel does not move this file
  kSystemError,        // a kernel call failed: the services' LastErrorText says which, and why
};

struct TWholeFileResult {
  TWholeFileOutcome outcome = TWholeFileOutcome::kLeft;
  TWholeFileReason reason = TWholeFileReason::kNone;
  // Physically contiguous pieces before, and after (or, left for
  // kNoFewerPieces, those the space offered had); 0 when not read.
  int64_t piecesBefore = 0;
  int64_t piecesAfter = 0;
};
